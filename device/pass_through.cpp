#include "device/pass_through.h"

#include <cstring>

#include "device/aligned_buffer.h"
#include "device/scsi_host.h"

namespace qvb {
namespace {

// The request for one command: the caller's block (at most 16 bytes, checked by the callers).
ScsiRequest MakeRequest(const uint8_t* cdb, int cdb_length, ScsiDirection direction,
                        uint32_t transfer_length, uint32_t timeout) {
  ScsiRequest request;
  request.direction = direction;
  request.cdb_length = static_cast<uint8_t>(cdb_length);
  std::memcpy(request.cdb, cdb, static_cast<std::size_t>(cdb_length));
  request.transfer_length = transfer_length;
  request.timeout_seconds = timeout;
  return request;
}

// A length of 1 goes to the device as 2; every other length is sent unchanged.
uint32_t TransferLength(uint32_t length) {
  return length == 1 ? 2 : length;
}

}  // namespace

uint32_t PassThroughOutTimeout(const uint8_t* cdb, int cdb_length) {
  if (cdb_length > 2 && cdb[2] == 0x13) return kTimeoutOutLong;
  if (cdb_length == 12 && cdb[1] == 0x03 && cdb[11] == 0xFB) return kTimeoutOutLong;
  return kTimeoutOut;
}

int PassThroughIn(const char* path, const uint8_t* cdb, int cdb_length, uint8_t* buffer, int length,
                  int* transferred) {
  if (length < 0 || cdb_length < 1 || cdb_length > static_cast<int>(kMaxCdbLength)) return 0;
  ScsiOpen opened = ActiveScsiHost().Open(path, ShareMode::ReadWrite);
  if (!opened.device) return 0;

  const uint32_t transfer_length = TransferLength(static_cast<uint32_t>(length));
  ScsiRequest request =
      MakeRequest(cdb, cdb_length, ScsiDirection::FromDevice, transfer_length, kTimeoutIn);

  AlignedBuffer data;
  if (transfer_length != 0) {
    if (!data.Allocate(transfer_length)) return 0;
    request.data = data.data();
  }

  const ScsiResult result = opened.device->Send(request);

  // Copied whatever the outcome: what the device did not deliver reaches the caller as zeros.
  if (length > 0) std::memcpy(buffer, data.data(), static_cast<std::size_t>(length));
  if (transferred) *transferred = static_cast<int>(result.transferred);
  opened.device.reset();
  return result.ok() ? 1 : 0;
}

int PassThroughOut(const char* path, const uint8_t* cdb, int cdb_length, const uint8_t* data,
                   uint32_t length, int* transferred) {
  if (cdb_length < 1 || cdb_length > static_cast<int>(kMaxCdbLength)) return 0;
  ScsiOpen opened = ActiveScsiHost().Open(path, ShareMode::Exclusive);
  if (!opened.device) return 0;

  const uint32_t transfer_length = TransferLength(length);
  ScsiRequest request = MakeRequest(cdb, cdb_length, ScsiDirection::ToDevice, transfer_length,
                                    PassThroughOutTimeout(cdb, cdb_length));

  AlignedBuffer buffer;
  if (transfer_length != 0) {
    if (!buffer.Allocate(transfer_length)) return 0;
    if (data && length > 0) std::memcpy(buffer.data(), data, length);
    request.data = buffer.data();
  }

  const ScsiResult result = opened.device->Send(request);
  if (transferred) *transferred = static_cast<int>(result.transferred);
  opened.device.reset();
  return result.ok() ? 1 : 0;
}

}  // namespace qvb
