#include "device/bridge_commands.h"

#include <array>
#include <cstdio>
#include <cstdlib>

#include "device/pass_through.h"
#include "device/system_services.h"

namespace qvb {
namespace {

using Cdb12 = std::array<uint8_t, 12>;
using Cdb10 = std::array<uint8_t, 10>;

void Put24(uint8_t* at, uint32_t value) {
  at[0] = static_cast<uint8_t>(value >> 16);
  at[1] = static_cast<uint8_t>(value >> 8);
  at[2] = static_cast<uint8_t>(value);
}

void Put16(uint8_t* at, uint32_t value) {
  at[0] = static_cast<uint8_t>(value >> 8);
  at[1] = static_cast<uint8_t>(value);
}

int SendIn(const char* path, const Cdb12& cdb, uint8_t* buffer, int length,
           int* transferred = nullptr) {
  int moved = 0;
  const int ok =
      PassThroughIn(path, cdb.data(), static_cast<int>(cdb.size()), buffer, length, &moved);
  if (transferred) *transferred = moved;
  return ok;
}

// Stops the program with the standard assertion report; kept even in release builds, since
// the command block it guards would otherwise ask the device for more than the buffer holds.
[[noreturn]] void AssertionFailed(const char* expression, const char* file, int line) {
  std::fprintf(stderr, "Assertion failed: %s, file %s, line %d\n", expression, file, line);
  std::fflush(stderr);
  std::abort();
}

}  // namespace

int Inquiry(const char* path, uint8_t* buffer, int length) {
  Cdb12 cdb{};
  cdb[0] = kOpInquiry;
  cdb[4] = static_cast<uint8_t>(length);
  return SendIn(path, cdb, buffer, length);
}

int RequestSense(const char* path) {
  Cdb12 cdb{};
  cdb[0] = kOpRequestSense;
  cdb[4] = kRequestSenseLength;
  std::array<uint8_t, kRequestSenseLength> sense{};
  return SendIn(path, cdb, sense.data(), kRequestSenseLength);
}

int ReadBuffer(const char* path, int mode, uint8_t buffer_id, uint32_t offset, uint8_t* buffer,
               int length) {
  Cdb10 cdb{};
  cdb[0] = kOpReadBuffer;
  cdb[1] = static_cast<uint8_t>(mode);
  cdb[2] = buffer_id;
  Put24(&cdb[3], offset);
  Put24(&cdb[6], static_cast<uint32_t>(length));
  int moved = 0;
  const int ok =
      PassThroughIn(path, cdb.data(), static_cast<int>(cdb.size()), buffer, length, &moved);
  if (!ok) RequestSense(path);  // its outcome changes nothing
  return ok;
}

int WriteBuffer(const char* path, uint8_t buffer_id, int mode, const uint8_t* data, uint32_t offset,
                uint32_t length) {
  Cdb10 cdb{};
  cdb[0] = kOpWriteBuffer;
  cdb[1] = static_cast<uint8_t>(mode);
  cdb[2] = buffer_id;
  Put24(&cdb[3], offset);
  Put24(&cdb[6], length);
  int moved = 0;
  const int ok =
      PassThroughOut(path, cdb.data(), static_cast<int>(cdb.size()), data, length, &moved);
  if (!ok) RequestSense(path);
  return ok;
}

int ProbeBridge(const char* path, uint8_t* reply2) {
  Cdb12 cdb{};
  cdb[0] = kOpBridgeMemory;
  cdb[1] = 0x10;
  cdb[4] = 0x02;
  cdb[11] = kSelectorProbe;
  return SendIn(path, cdb, reply2, 2);
}

int ReadBridgeMemory(const char* path, uint8_t* buffer, uint16_t address, int length) {
  Cdb12 cdb{};
  cdb[0] = kOpBridgeMemory;
  cdb[1] = 0x10;
  Put16(&cdb[3], static_cast<uint32_t>(length));
  Put16(&cdb[6], address);
  cdb[11] = kSelectorMemory;
  return SendIn(path, cdb, buffer, length);
}

int BridgeControl(const char* path, uint32_t address, const uint8_t* data, uint32_t length,
                  uint8_t sub_code) {
  Cdb12 cdb{};
  cdb[0] = kOpBridgeMemory;
  cdb[1] = static_cast<uint8_t>(sub_code & 0x87);
  Put24(&cdb[2], length);
  Put24(&cdb[8], address);
  cdb[11] = kSelectorControl;
  int moved = 0;
  return PassThroughOut(path, cdb.data(), static_cast<int>(cdb.size()), data, length, &moved);
}

int ReadBridgeInfo(const char* path, uint8_t* buffer, int length, int* transferred) {
  Cdb12 cdb{};
  cdb[0] = kOpBridgeInfo;
  cdb[1] = kBridgeInfoSignature0;
  cdb[2] = kBridgeInfoSignature1;
  return SendIn(path, cdb, buffer, length, transferred);
}

int ReadBridgeInfoAlt(const char* path, uint8_t* buffer, int length, int* transferred) {
  Cdb12 cdb{};
  cdb[0] = kOpBridgeInfoAlt;
  cdb[1] = kBridgeInfoSignature0;
  cdb[2] = kBridgeInfoSignature1;
  return SendIn(path, cdb, buffer, length, transferred);
}

int ReadFlashStatus(const char* path, uint8_t* status) {
  Cdb12 cdb{};
  cdb[0] = kOpFlash;
  cdb[1] = 0x04;
  cdb[2] = kFlashStatus;
  return SendIn(path, cdb, status, 1);
}

int ReadFlashId(const char* path, uint8_t* reply4) {
  Cdb12 cdb{};
  cdb[0] = kOpFlash;
  cdb[1] = 0x04;
  cdb[2] = kFlashId;
  cdb[3] = 0x04;
  return SendIn(path, cdb, reply4, 4);
}

int ReadBridgeConfig(const char* path, uint8_t* reply4) {
  Cdb12 cdb{};
  cdb[0] = kOpFlash;
  cdb[1] = 0x04;
  cdb[2] = kBridgeConfig;
  cdb[3] = 0x04;
  return SendIn(path, cdb, reply4, 4);
}

int ReadBridgeName(const char* path, uint8_t* buffer, int length) {
  if (!(length >= 0x08)) AssertionFailed("length >= 0x08", "IDEAccess", __LINE__);
  Cdb12 cdb{};
  cdb[0] = kOpFlash;
  cdb[1] = 0x04;
  cdb[2] = kBridgeName;
  cdb[3] = 0x08;
  return SendIn(path, cdb, buffer, length);
}

int ReadVendorPage(const char* path, uint8_t argument_a, uint8_t argument_b, uint8_t* buffer,
                   int length) {
  Cdb12 cdb{};
  cdb[0] = kOpVendorPage;
  cdb[5] = argument_a;
  cdb[8] = argument_b;
  return SendIn(path, cdb, buffer, length);
}

int WaitFlashReady(const char* path) {
  int polls = 0;
  uint8_t status = 0;
  ReadFlashStatus(path, &status);  // a failed read leaves 0, which reads as ready
  while (status & 0x01) {
    System().Sleep(kFlashReadyPauseMs);
    ReadFlashStatus(path, &status);
    const bool exhausted = polls > kFlashReadyPollLimit;
    ++polls;
    if (exhausted) break;
  }
  return polls <= kFlashReadyPollLimit ? 1 : 0;
}

int TestBridgeFlag(const char* path) {
  std::array<uint8_t, 4> reply{};
  const int ok = ReadBridgeMemory(path, reply.data(), kBridgeFlagAddress, 4);
  return ok && reply[1] >= 180 ? 1 : 0;
}

}  // namespace qvb
