#include "device/win32/scsi_pass_through_win32.h"

#include <gtest/gtest.h>
#include <ntddscsi.h>

#include <cstddef>
#include <cstring>
#include <string>
#include <vector>

#include "device/bridge_commands.h"
#include "device/pass_through.h"
#include "tests/support/fake_system.h"

namespace qvb {
namespace {

using win32_host::kPassThroughRequestBlockSize;
using win32_host::ScsiPassThroughDirect;

// Records what the transport asks of the four system calls and answers from a script.
struct SystemCalls {
  struct Create {
    std::string path;
    DWORD access, share, disposition, flags;
    bool security, template_file;
  };
  struct Request {
    HANDLE handle;
    DWORD code, in_size, out_size;
    bool in_is_out, returned_given, overlapped;
    ScsiPassThroughDirect request;
    std::vector<uint8_t> data;   // the data buffer at the time of the call
    std::vector<uint8_t> bytes;  // the request's own bytes, padding and all
    std::vector<uint8_t> rest;   // the rest of the request block after the request
    uintptr_t address;
  };
  std::vector<std::string> order;
  std::vector<Create> creates;
  std::vector<Request> requests;
  std::vector<HANDLE> closed;

  bool open_ok = true;
  BOOL accept = TRUE;
  DWORD error = 0;
  UCHAR status = 0;
  std::vector<uint8_t> reply;
};

SystemCalls* g_calls = nullptr;
const HANDLE kHandle = reinterpret_cast<HANDLE>(0x1234);

HANDLE WINAPI FakeCreateFileA(LPCSTR path, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES sa,
                              DWORD disposition, DWORD flags, HANDLE template_file) {
  g_calls->order.push_back("open");
  g_calls->creates.push_back(
      {path, access, share, disposition, flags, sa != nullptr, template_file != nullptr});
  return g_calls->open_ok ? kHandle : INVALID_HANDLE_VALUE;
}

BOOL WINAPI FakeDeviceIoControl(HANDLE handle, DWORD code, LPVOID in, DWORD in_size, LPVOID out,
                                DWORD out_size, LPDWORD returned, LPOVERLAPPED overlapped) {
  g_calls->order.push_back("request");
  auto& r = *static_cast<ScsiPassThroughDirect*>(out);
  SystemCalls::Request seen{handle,
                            code,
                            in_size,
                            out_size,
                            in == out,
                            returned != nullptr,
                            overlapped != nullptr,
                            r,
                            {},
                            {},
                            {},
                            reinterpret_cast<uintptr_t>(out)};
  const auto* raw = static_cast<const uint8_t*>(out);
  seen.bytes.assign(raw, raw + sizeof r);
  seen.rest.assign(raw + sizeof r, raw + kPassThroughRequestBlockSize);
  auto* data = static_cast<uint8_t*>(r.DataBuffer);
  if (data) seen.data.assign(data, data + r.DataTransferLength);
  g_calls->requests.push_back(seen);
  if (r.DataIn && data) {
    const std::size_t n = std::min<std::size_t>(g_calls->reply.size(), r.DataTransferLength);
    if (n) std::memcpy(data, g_calls->reply.data(), n);
  }
  r.ScsiStatus = g_calls->status;
  if (returned) *returned = sizeof r;
  return g_calls->accept;
}

DWORD WINAPI FakeGetLastError() {
  g_calls->order.push_back("error");
  return g_calls->error;
}

BOOL WINAPI FakeCloseHandle(HANDLE handle) {
  g_calls->order.push_back("close");
  g_calls->closed.push_back(handle);
  return TRUE;
}

const win32_host::DeviceApi kFakeApi{FakeCreateFileA, FakeDeviceIoControl, FakeGetLastError,
                                     FakeCloseHandle};

class Win32PassThroughTest : public ::testing::Test {
 protected:
  Win32PassThroughTest() { g_calls = &calls; }
  ~Win32PassThroughTest() override { g_calls = nullptr; }

  SystemCalls calls;
  win32_host::PassThroughHost host{kFakeApi};
  ScopedSeams installed{HostSeams{.scsi = &host}};
  const char* path = "\\\\?\\usbstor#disk&ven_test#1&0#{53f56307-b6bf-11d0-94f2-00a0c91efb8b}";
};

// The system's request on the architecture the test runs on: 44 bytes in the shipped 32-bit
// program (also checked when it is compiled), 56 in the x86_64 test build.
struct RequestLayout {
  std::size_t size, data_buffer, sense_info_offset, cdb;
};
#if defined(_WIN64)
constexpr RequestLayout kSystemLayout{56, 24, 32, 36};
#else
constexpr RequestLayout kSystemLayout{44, 20, 24, 28};
#endif

TEST(Win32PassThroughLayout, RequestIsTheSystemStructure) {
  EXPECT_EQ(kSystemLayout.size, sizeof(ScsiPassThroughDirect));
  EXPECT_EQ(sizeof(SCSI_PASS_THROUGH_DIRECT), sizeof(ScsiPassThroughDirect));
  struct Field {
    const char* name;
    std::size_t ours, system;
  };
  const Field fields[] = {
#define QVB_FIELD(f) {#f, offsetof(ScsiPassThroughDirect, f), offsetof(SCSI_PASS_THROUGH_DIRECT, f)}
      QVB_FIELD(Length),
      QVB_FIELD(ScsiStatus),
      QVB_FIELD(PathId),
      QVB_FIELD(TargetId),
      QVB_FIELD(Lun),
      QVB_FIELD(CdbLength),
      QVB_FIELD(SenseInfoLength),
      QVB_FIELD(DataIn),
      QVB_FIELD(DataTransferLength),
      QVB_FIELD(TimeOutValue),
      QVB_FIELD(DataBuffer),
      QVB_FIELD(SenseInfoOffset),
      QVB_FIELD(Cdb),
#undef QVB_FIELD
  };
  for (const Field& f : fields) EXPECT_EQ(f.system, f.ours) << f.name;
  EXPECT_EQ(kSystemLayout.data_buffer, offsetof(ScsiPassThroughDirect, DataBuffer));
  EXPECT_EQ(kSystemLayout.sense_info_offset, offsetof(ScsiPassThroughDirect, SenseInfoOffset));
  EXPECT_EQ(kSystemLayout.cdb, offsetof(ScsiPassThroughDirect, Cdb));
  EXPECT_EQ(0x4D014u, static_cast<DWORD>(IOCTL_SCSI_PASS_THROUGH_DIRECT));
}

TEST_F(Win32PassThroughTest, OpenModesAndTheCallOrder) {
  uint8_t status = 0xEE;
  calls.reply = {0x00, 0x00};
  ASSERT_EQ(1, ReadFlashStatus(path, &status));
  const uint8_t piece[16] = {1, 2, 3};
  ASSERT_EQ(1, WriteBuffer(path, 0, kBufferModeMicrocodeDeferred, piece, 0, sizeof piece));

  ASSERT_EQ(2u, calls.creates.size());
  for (const auto& c : calls.creates) {
    EXPECT_EQ(path, c.path);
    EXPECT_EQ(static_cast<DWORD>(GENERIC_READ | GENERIC_WRITE), c.access);
    EXPECT_EQ(static_cast<DWORD>(OPEN_EXISTING), c.disposition);
    EXPECT_EQ(0u, c.flags);
    EXPECT_FALSE(c.security);
    EXPECT_FALSE(c.template_file);
  }
  EXPECT_EQ(static_cast<DWORD>(FILE_SHARE_READ | FILE_SHARE_WRITE), calls.creates[0].share);
  EXPECT_EQ(0u, calls.creates[1].share) << "data to the device: no sharing";

  const std::vector<std::string> once = {"open", "request", "error", "close"};
  std::vector<std::string> twice = once;
  twice.insert(twice.end(), once.begin(), once.end());
  EXPECT_EQ(twice, calls.order);
  EXPECT_EQ(std::vector<HANDLE>({kHandle, kHandle}), calls.closed);
  for (const auto& r : calls.requests) {
    EXPECT_EQ(kHandle, r.handle);
    EXPECT_EQ(0x4D014u, r.code);
    EXPECT_EQ(kSystemLayout.size, r.in_size);
    EXPECT_EQ(kSystemLayout.size, r.out_size);
    EXPECT_TRUE(r.in_is_out);
    EXPECT_TRUE(r.returned_given);
    EXPECT_FALSE(r.overlapped);
  }
}

TEST_F(Win32PassThroughTest, RequestFieldsForThreeCommands) {
  uint8_t status = 0xEE;
  calls.reply = {0x03, 0x77};
  ASSERT_EQ(1, ReadFlashStatus(path, &status));
  EXPECT_EQ(0x03, status);

  std::vector<uint8_t> piece(1024);
  for (std::size_t i = 0; i < piece.size(); ++i) piece[i] = static_cast<uint8_t>(i * 7);
  ASSERT_EQ(1, WriteBuffer(path, 0, kBufferModeMicrocodeDeferred, piece.data(), 0x400, 1024));
  const uint8_t control[4] = {0xA1, 0xB2, 0xC3, 0xD4};
  ASSERT_EQ(1, BridgeControl(path, 0x1234, control, sizeof control, 3));

  struct Expected {
    const char* what;
    uint8_t data_in, cdb_length;
    uint32_t transfer, timeout;
    std::vector<uint8_t> cdb;
  };
  const Expected expected[] = {
      {"flash status: 1 byte asked, 2 sent",
       1,
       12,
       2,
       10,
       {0xFF, 0x04, 0x12, 0, 0, 0, 0, 0, 0, 0, 0, 0}},
      {"write buffer",
       0,
       10,
       1024,
       50,
       {0x3B, 0x0E, 0x00, 0x00, 0x04, 0x00, 0x00, 0x04, 0x00, 0x00}},
      {"bridge control 3",
       0,
       12,
       4,
       100,
       {0xDF, 0x03, 0x00, 0x00, 0x04, 0, 0, 0, 0x00, 0x12, 0x34, 0xFB}},
  };
  ASSERT_EQ(3u, calls.requests.size());
  for (std::size_t i = 0; i < 3; ++i) {
    const auto& e = expected[i];
    const ScsiPassThroughDirect& r = calls.requests[i].request;
    EXPECT_EQ(kSystemLayout.size, r.Length) << e.what;
    EXPECT_EQ(0, r.PathId) << e.what;
    EXPECT_EQ(1, r.TargetId) << e.what;
    EXPECT_EQ(0, r.Lun) << e.what;
    EXPECT_EQ(0, r.SenseInfoLength) << e.what;
    EXPECT_EQ(48u, r.SenseInfoOffset) << e.what;
    EXPECT_EQ(e.data_in, r.DataIn) << e.what;
    EXPECT_EQ(e.cdb_length, r.CdbLength) << e.what;
    EXPECT_EQ(e.transfer, r.DataTransferLength) << e.what;
    EXPECT_EQ(e.timeout, r.TimeOutValue) << e.what;
    EXPECT_EQ(0u, reinterpret_cast<uintptr_t>(r.DataBuffer) % 8192) << e.what;
    std::vector<uint8_t> cdb(r.Cdb, r.Cdb + 16);
    std::vector<uint8_t> want = e.cdb;
    want.resize(16, 0);
    EXPECT_EQ(want, cdb) << e.what;
  }
  EXPECT_EQ(piece, calls.requests[1].data);
  EXPECT_EQ(std::vector<uint8_t>(control, control + 4), calls.requests[2].data);
}

TEST_F(Win32PassThroughTest, FailuresOfTheSystemCalls) {
  struct Case {
    const char* what;
    bool open_ok;
    BOOL accept;
    DWORD error;
    UCHAR status;
    int result;
    std::size_t requests;
  };
  const Case cases[] = {
      {"all well", true, TRUE, 0, 0, 1, 1},
      {"open fails", false, TRUE, 0, 0, 0, 0},
      {"request refused", true, FALSE, ERROR_NOT_SUPPORTED, 0, 0, 1},
      {"error pending after an accepted request", true, TRUE, ERROR_IO_DEVICE, 0, 0, 1},
      {"check condition", true, TRUE, 0, 0x02, 0, 1},
  };
  for (const Case& c : cases) {
    calls = SystemCalls{};
    calls.open_ok = c.open_ok;
    calls.accept = c.accept;
    calls.error = c.error;
    calls.status = c.status;
    uint8_t reply[4] = {9, 9, 9, 9};
    int moved = -7;
    const uint8_t cdb[12] = {0xE0, 0xF4, 0xE7};
    EXPECT_EQ(c.result, PassThroughIn(path, cdb, 12, reply, 4, &moved)) << c.what;
    EXPECT_EQ(c.requests, calls.requests.size()) << c.what;
    EXPECT_EQ(c.open_ok ? 1u : 0u, calls.closed.size()) << c.what;
    if (!c.open_ok) {
      EXPECT_EQ(-7, moved) << c.what;
    }
  }
}

TEST(Win32PassThroughSystem, UnopenablePathFailsWithoutTouchingTheCaller) {
  // The system's own calls: a device that does not exist cannot be opened.
  uint8_t reply[4] = {9, 9, 9, 9};
  int moved = -7;
  const uint8_t cdb[12] = {0x12, 0, 0, 0, 4};
  EXPECT_EQ(0, PassThroughIn("\\\\.\\QvbNoSuchDevice7", cdb, 12, reply, 4, &moved));
  EXPECT_EQ(-7, moved);
  for (uint8_t b : reply) EXPECT_EQ(9, b);
}

// The request exactly as the system receives it: every byte, padding included, of a 12-byte
// data-in command of one byte (sent as two), a 10-byte WRITE BUFFER and a data-in command
// without data; at the start of a zero-filled block aligned to 8192.
TEST_F(Win32PassThroughTest, TheBytesThatReachTheSystem) {
  const uint8_t status_cdb[12] = {0xFF, 0x04, 0x12};
  const uint8_t write_cdb[10] = {0x3B, 0x0E, 0x00, 0x00, 0x04, 0x00, 0x00, 0x00, 0x03, 0x00};
  const uint8_t inquiry_cdb[6] = {0x12, 0, 0, 0, 0, 0};
  uint8_t one = 0;
  const uint8_t three[3] = {7, 8, 9};
  ASSERT_EQ(1, PassThroughIn(path, status_cdb, 12, &one, 1, nullptr));
  ASSERT_EQ(1, PassThroughOut(path, write_cdb, 10, three, 3, nullptr));
  ASSERT_EQ(1, PassThroughIn(path, inquiry_cdb, 6, nullptr, 0, nullptr));
  ASSERT_EQ(3u, calls.requests.size());

  struct Expected {
    const char* what;
    uint8_t cdb_length, data_in;
    uint32_t transfer, timeout;
    const uint8_t* cdb;
  };
  const Expected expected[] = {
      {"status read", 12, 1, 2, 10, status_cdb},
      {"write buffer", 10, 0, 3, 50, write_cdb},
      {"no data", 6, 1, 0, 10, inquiry_cdb},
  };
  for (std::size_t i = 0; i < 3; ++i) {
    const Expected& e = expected[i];
    const SystemCalls::Request& seen = calls.requests[i];
    std::vector<uint8_t> want(sizeof(ScsiPassThroughDirect), 0);
    auto put = [&](std::size_t at, uint32_t value, std::size_t size) {
      for (std::size_t b = 0; b < size; ++b) want[at + b] = static_cast<uint8_t>(value >> (8 * b));
    };
    put(offsetof(SCSI_PASS_THROUGH_DIRECT, Length), sizeof(SCSI_PASS_THROUGH_DIRECT), 2);
    put(offsetof(SCSI_PASS_THROUGH_DIRECT, TargetId), 1, 1);
    put(offsetof(SCSI_PASS_THROUGH_DIRECT, CdbLength), e.cdb_length, 1);
    put(offsetof(SCSI_PASS_THROUGH_DIRECT, DataIn), e.data_in, 1);
    put(offsetof(SCSI_PASS_THROUGH_DIRECT, DataTransferLength), e.transfer, 4);
    put(offsetof(SCSI_PASS_THROUGH_DIRECT, TimeOutValue), e.timeout, 4);
    put(offsetof(SCSI_PASS_THROUGH_DIRECT, SenseInfoOffset), 48, 4);
    const uintptr_t buffer = reinterpret_cast<uintptr_t>(seen.request.DataBuffer);
    for (std::size_t b = 0; b < sizeof(void*); ++b)
      want[offsetof(SCSI_PASS_THROUGH_DIRECT, DataBuffer) + b] =
          static_cast<uint8_t>(buffer >> (8 * b));
    std::memcpy(&want[offsetof(SCSI_PASS_THROUGH_DIRECT, Cdb)], e.cdb, e.cdb_length);
    EXPECT_EQ(want, seen.bytes) << e.what;
    EXPECT_EQ(e.transfer == 0, buffer == 0) << e.what;
    if (buffer != 0) {
      EXPECT_EQ(0u, buffer % 8192) << e.what;
    }
    EXPECT_EQ(0u, seen.address % 8192) << e.what << ": the request block is aligned";
    EXPECT_EQ(std::vector<uint8_t>(seen.rest.size(), 0), seen.rest) << e.what;
  }
  EXPECT_EQ(kPassThroughRequestBlockSize,
            calls.requests[0].bytes.size() + calls.requests[0].rest.size());
}

// What the host reports for each ending: ERROR_ACCESS_DENIED from a refused call or open is a
// refusal for lack of rights; any other code, or an error pending after an accepted request, is
// a system error; a status other than GOOD after a clean call is the device's.
TEST_F(Win32PassThroughTest, OutcomesAtTheSeam) {
  struct Case {
    const char* what;
    bool open_ok;
    BOOL accept;
    DWORD error;
    UCHAR status;
    ScsiOutcome outcome;
  };
  const Case cases[] = {
      {"all well", true, TRUE, 0, 0, ScsiOutcome::Done},
      {"open denied", false, TRUE, ERROR_ACCESS_DENIED, 0, ScsiOutcome::Permission},
      {"open held by another program", false, TRUE, ERROR_SHARING_VIOLATION, 0, ScsiOutcome::Busy},
      {"open fails otherwise", false, TRUE, ERROR_FILE_NOT_FOUND, 0, ScsiOutcome::OsError},
      {"request denied", true, FALSE, ERROR_ACCESS_DENIED, 0, ScsiOutcome::Permission},
      {"request refused", true, FALSE, ERROR_NOT_SUPPORTED, 0, ScsiOutcome::OsError},
      {"error pending", true, TRUE, ERROR_IO_DEVICE, 0, ScsiOutcome::OsError},
      {"check condition", true, TRUE, 0, 0x02, ScsiOutcome::ScsiStatus},
  };
  for (const Case& c : cases) {
    calls = SystemCalls{};
    calls.open_ok = c.open_ok;
    calls.accept = c.accept;
    calls.error = c.error;
    calls.status = c.status;
    ScsiOpen opened = host.Open(path, ShareMode::ReadWrite);
    if (!c.open_ok) {
      EXPECT_EQ(nullptr, opened.device) << c.what;
      EXPECT_EQ(c.outcome, opened.result.outcome) << c.what;
      EXPECT_EQ(c.error, opened.result.os_error) << c.what;
      continue;
    }
    ASSERT_NE(nullptr, opened.device) << c.what;
    uint8_t data[4] = {};
    ScsiRequest request;
    request.cdb_length = 12;
    request.data = data;
    request.transfer_length = sizeof data;
    request.timeout_seconds = 10;
    const ScsiResult result = opened.device->Send(request);
    EXPECT_EQ(c.outcome, result.outcome) << c.what;
    EXPECT_EQ(c.status, result.scsi_status) << c.what;
    if (c.outcome != ScsiOutcome::Done && c.outcome != ScsiOutcome::ScsiStatus) {
      EXPECT_EQ(c.error, result.os_error) << c.what;
    }
  }
}

}  // namespace
}  // namespace qvb
