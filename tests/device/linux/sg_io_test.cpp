#include "device/linux/sg_io.h"

#include <fcntl.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <vector>

#include "device/bridge_commands.h"
#include "device/pass_through.h"
#include "tests/support/fake_system.h"

namespace qvb {
namespace {

constexpr const char* kNode = "/dev/sg3";
constexpr int kFd = 7;

// One sg node with the open rules of the kernel's sg driver: while another process holds it
// with O_EXCL, an open waits until it lets go, and an O_EXCL open waits while anyone has it
// open; with O_NONBLOCK both fail at once with EBUSY instead of waiting.
class SgNode : public linux_host::SgSyscalls {
 public:
  enum class Holder { None, Shared, Exclusive };
  Holder other = Holder::None;

  std::vector<int> open_flags;
  bool would_block = false;  // an open that the real driver would have left hanging
  int ioctls = 0;
  int closes = 0;
  int open_errno = 0;

  int Open(const char*, int flags) override {
    open_flags.push_back(flags);
    const bool busy = other == Holder::Exclusive || ((flags & O_EXCL) && other != Holder::None);
    if (busy) {
      if (!(flags & O_NONBLOCK)) would_block = true;
      open_errno = EBUSY;
      errno = EBUSY;
      return -1;
    }
    return kFd;
  }
  int Ioctl(int fd, sg_io_hdr_t* header) override {
    EXPECT_EQ(kFd, fd);
    ++ioctls;
    header->status = 0;
    header->host_status = 0;
    header->driver_status = 0;
    header->resid = 0;
    return 0;
  }
  void Close(int fd) override {
    EXPECT_EQ(kFd, fd);
    ++closes;
  }
};

TEST(SgOpenFlags, EveryOpenIsNonBlockingAndOnlyTheWriteIsExclusive) {
  struct Case {
    ShareMode share;
    int flags;
  };
  const Case cases[] = {
      {ShareMode::ReadWrite, O_RDWR | O_NONBLOCK | O_CLOEXEC},
      {ShareMode::Exclusive, O_RDWR | O_NONBLOCK | O_CLOEXEC | O_EXCL},
  };
  for (const Case& c : cases)
    EXPECT_EQ(c.flags, linux_host::SgOpenFlags(c.share)) << static_cast<int>(c.share);
}

// A node held by another process fails the command at once, whichever way it is held and
// whichever direction the command goes; nothing is sent.
TEST(SgScsiHostTest, AHeldNodeFailsAtOnceInsteadOfBlocking) {
  struct Case {
    const char* what;
    SgNode::Holder other;
    bool data_out;
    bool succeeds;
  };
  const Case cases[] = {
      {"free, data in", SgNode::Holder::None, false, true},
      {"free, data out", SgNode::Holder::None, true, true},
      {"shared holder, data in", SgNode::Holder::Shared, false, true},
      {"shared holder, data out (exclusive open)", SgNode::Holder::Shared, true, false},
      {"exclusive holder, data in", SgNode::Holder::Exclusive, false, false},
      {"exclusive holder, data out", SgNode::Holder::Exclusive, true, false},
  };
  for (const Case& c : cases) {
    SgNode node;
    node.other = c.other;
    linux_host::SgScsiHost host(node);
    ScopedSeams installed{HostSeams{.scsi = &host}};

    const uint8_t cdb[12] = {0xE0, 0xF4, 0xE7};
    std::vector<uint8_t> buffer(16, 0xAB);
    int transferred = -1;
    const int result = c.data_out ? PassThroughOut(kNode, cdb, 12, buffer.data(), 16, &transferred)
                                  : PassThroughIn(kNode, cdb, 12, buffer.data(), 16, &transferred);

    EXPECT_EQ(c.succeeds ? 1 : 0, result) << c.what;
    EXPECT_FALSE(node.would_block) << c.what << ": the open would have waited for the holder";
    ASSERT_EQ(1u, node.open_flags.size()) << c.what;
    EXPECT_TRUE(node.open_flags[0] & O_NONBLOCK) << c.what;
    // The request itself goes out on the same descriptor, as one synchronous SG_IO.
    EXPECT_EQ(c.succeeds ? 1 : 0, node.ioctls) << c.what;
    EXPECT_EQ(c.succeeds ? 1 : 0, node.closes) << c.what;
    if (!c.succeeds) {
      EXPECT_EQ(EBUSY, node.open_errno) << c.what;
      EXPECT_EQ(-1, transferred) << c.what << ": a failed open touches nothing";
      EXPECT_EQ(0xAB, buffer[0]) << c.what;
    }
  }
}

// The kernel's side of SG_IO: keeps what it was handed, moves data as a device would and
// answers with the scripted status words.
class SgKernel : public linux_host::SgSyscalls {
 public:
  struct Seen {
    sg_io_hdr_t header;
    std::vector<uint8_t> cdb;   // cmd_len bytes at cmdp
    std::vector<uint8_t> data;  // dxfer_len bytes at dxferp when the call came
  };
  std::vector<Seen> seen;
  int fail_errno = 0;  // nonzero: the ioctl fails with this errno
  uint8_t status = 0;
  uint16_t host_status = 0;
  uint16_t driver_status = 0;
  int resid = 0;
  std::vector<uint8_t> reply;  // written into a data-in buffer
  int closes = 0;

  int Open(const char*, int) override { return kFd; }
  int Ioctl(int, sg_io_hdr_t* header) override {
    Seen s{*header, {}, {}};
    if (header->cmdp) s.cdb.assign(header->cmdp, header->cmdp + header->cmd_len);
    auto* data = static_cast<uint8_t*>(header->dxferp);
    if (data) s.data.assign(data, data + header->dxfer_len);
    seen.push_back(s);
    if (fail_errno != 0) {
      errno = fail_errno;
      return -1;
    }
    if (data && header->dxfer_direction == SG_DXFER_FROM_DEV) {
      const std::size_t n = std::min<std::size_t>(reply.size(), header->dxfer_len);
      if (n) std::memcpy(data, reply.data(), n);
    }
    header->status = status;
    header->masked_status = static_cast<uint8_t>(status >> 1);
    header->host_status = host_status;
    header->driver_status = driver_status;
    header->resid = resid;
    return 0;
  }
  void Close(int) override { ++closes; }
};

class SgTranslationTest : public ::testing::Test {
 protected:
  SgKernel kernel;
  linux_host::SgScsiHost host{kernel};
  ScopedSeams installed{HostSeams{.scsi = &host}};
};

// What reaches the kernel for each kind of command: the block and its length, the direction
// (none without a data phase), the length and the aligned copy, and the time-out in ms.
TEST_F(SgTranslationTest, RequestAsTheKernelSeesIt) {
  struct Case {
    const char* what;
    std::vector<uint8_t> cdb;
    bool out;
    uint32_t length;
    int direction;
    unsigned dxfer_len;
    unsigned timeout_ms;
  };
  const Case cases[] = {
      {"vendor read, 16 bytes",
       {0xE0, 0xF4, 0xE7, 0, 0, 0, 0, 0, 0, 0, 0, 0x10},
       false,
       16,
       SG_DXFER_FROM_DEV,
       16,
       10000},
      {"one byte asked goes as two",
       {0xFF, 0x04, 0x12, 0, 0, 0, 0, 0, 0, 0, 0, 0},
       false,
       1,
       SG_DXFER_FROM_DEV,
       2,
       10000},
      {"no data in", {0x00, 0, 0, 0, 0, 0}, false, 0, SG_DXFER_NONE, 0, 10000},
      {"write buffer",
       {0x3B, 0x0E, 0, 0, 0x04, 0, 0, 0x04, 0, 0},
       true,
       1024,
       SG_DXFER_TO_DEV,
       1024,
       50000},
      {"write buffer, byte 2 = 0x13",
       {0x3B, 0x0E, 0x13, 0, 0, 0, 0, 0x02, 0, 0},
       true,
       512,
       SG_DXFER_TO_DEV,
       512,
       100000},
      {"bridge control 3, no data",
       {0xDF, 0x03, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xFB},
       true,
       0,
       SG_DXFER_NONE,
       0,
       100000},
      {"the longest block",
       {0xA1, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 0xEE},
       true,
       3,
       SG_DXFER_TO_DEV,
       3,
       50000},
  };
  for (const Case& c : cases) {
    kernel.seen.clear();
    std::vector<uint8_t> data(c.length);
    for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>(0x40 + i);
    const int cdb_length = static_cast<int>(c.cdb.size());
    const int result =
        c.out ? PassThroughOut(kNode, c.cdb.data(), cdb_length, data.data(), c.length, nullptr)
              : PassThroughIn(kNode, c.cdb.data(), cdb_length, data.data(),
                              static_cast<int>(c.length), nullptr);
    EXPECT_EQ(1, result) << c.what;
    ASSERT_EQ(1u, kernel.seen.size()) << c.what;
    const sg_io_hdr_t& h = kernel.seen[0].header;
    EXPECT_EQ('S', h.interface_id) << c.what;
    EXPECT_EQ(c.cdb.size(), h.cmd_len) << c.what;
    EXPECT_EQ(c.cdb, kernel.seen[0].cdb) << c.what;
    EXPECT_EQ(c.direction, h.dxfer_direction) << c.what;
    EXPECT_EQ(c.dxfer_len, h.dxfer_len) << c.what;
    EXPECT_EQ(c.timeout_ms, h.timeout) << c.what;
    EXPECT_EQ(0, h.mx_sb_len) << c.what << ": no automatic sense data";
    EXPECT_EQ(nullptr, h.sbp) << c.what;
    if (c.dxfer_len == 0) {
      EXPECT_EQ(nullptr, h.dxferp) << c.what;
    } else {
      ASSERT_NE(nullptr, h.dxferp) << c.what;
      EXPECT_NE(static_cast<void*>(data.data()), h.dxferp) << c.what << ": never the caller's";
      EXPECT_EQ(0u, reinterpret_cast<std::uintptr_t>(h.dxferp) % 8192) << c.what;
    }
    if (c.out) {
      std::vector<uint8_t> sent = data;
      sent.resize(c.dxfer_len, 0);
      EXPECT_EQ(sent, kernel.seen[0].data) << c.what;
    }
    EXPECT_EQ(1, kernel.closes) << c.what;
    kernel.closes = 0;
  }
}

TEST_F(SgTranslationTest, ResidueBecomesTheTransferredLength) {
  struct Case {
    const char* what;
    int resid;
    int transferred;
  };
  const Case cases[] = {
      {"all delivered", 0, 64},
      {"short by 24", 24, 40},
      {"all but one short", 63, 1},
      {"nothing delivered", 64, 0},
      {"a residue beyond the length", 1000, 0},
      {"a negative residue", -5, 64},
  };
  for (const Case& c : cases) {
    kernel.resid = c.resid;
    std::vector<uint8_t> buffer(64);
    int moved = -1;
    const uint8_t cdb[10] = {0x3C, 0x02};
    EXPECT_EQ(1, PassThroughIn(kNode, cdb, 10, buffer.data(), 64, &moved)) << c.what;
    EXPECT_EQ(c.transferred, moved) << c.what;
    moved = -1;
    EXPECT_EQ(1, PassThroughOut(kNode, cdb, 10, buffer.data(), 64, &moved)) << c.what;
    EXPECT_EQ(c.transferred, moved) << c.what;
  }
}

// A failure reaches the caller as 0 whichever layer it comes from; a data-in caller's buffer
// still holds the aligned copy, zeros where the device delivered nothing.
TEST_F(SgTranslationTest, FailuresOfTheKernelOrTheDevice) {
  struct Case {
    const char* what;
    int fail_errno;
    uint16_t host_status, driver_status;
    uint8_t status;
    int result;
    int transferred;  // the data-in out-value, 8 asked
  };
  const Case cases[] = {
      {"all well", 0, 0, 0, 0x00, 1, 8},
      {"ioctl refused", EIO, 0, 0, 0x00, 0, 8},
      {"ioctl not permitted", EPERM, 0, 0, 0x00, 0, 8},
      {"host status (DID_NO_CONNECT)", 0, 0x01, 0, 0x00, 0, 8},
      {"driver status (DRIVER_TIMEOUT)", 0, 0, 0x06, 0x00, 0, 8},
      {"check condition", 0, 0, 0, 0x02, 0, 8},
      {"busy", 0, 0, 0, 0x08, 0, 8},
  };
  for (const Case& c : cases) {
    kernel.seen.clear();
    kernel.fail_errno = c.fail_errno;
    kernel.host_status = c.host_status;
    kernel.driver_status = c.driver_status;
    kernel.status = c.status;
    kernel.reply = {0x11, 0x22, 0x33};
    const uint8_t cdb[12] = {0xE0, 0xF4, 0xE7};
    std::vector<uint8_t> buffer(8, 0xAB);
    int moved = -1;
    EXPECT_EQ(c.result, PassThroughIn(kNode, cdb, 12, buffer.data(), 8, &moved)) << c.what;
    EXPECT_EQ(c.transferred, moved) << c.what;
    // The kernel wrote its three bytes unless the ioctl itself failed; the rest are zeros.
    const uint8_t first = c.fail_errno ? 0x00 : 0x11;
    EXPECT_EQ(first, buffer[0]) << c.what;
    for (std::size_t i = 3; i < buffer.size(); ++i) EXPECT_EQ(0, buffer[i]) << c.what << " " << i;
    const uint8_t data[4] = {1, 2, 3, 4};
    EXPECT_EQ(c.result, PassThroughOut(kNode, cdb, 12, data, 4, nullptr)) << c.what;
    EXPECT_EQ(2u, kernel.seen.size()) << c.what << ": each call sends exactly one request";
  }
}

TEST_F(SgTranslationTest, LengthOneExchangesOneByteWithTheCaller) {
  kernel.reply = {0x5A, 0xA5};
  uint8_t buffer[2] = {0x00, 0x77};
  int moved = 0;
  const uint8_t cdb[12] = {0xFF, 0x04, 0x12};
  ASSERT_EQ(1, PassThroughIn(kNode, cdb, 12, buffer, 1, &moved));
  EXPECT_EQ(0x5A, buffer[0]);
  EXPECT_EQ(0x77, buffer[1]) << "only the caller's one byte may be written";
  EXPECT_EQ(2, moved) << "the device's count, of the two bytes sent";

  const uint8_t one[1] = {0xC3};
  ASSERT_EQ(1, PassThroughOut(kNode, cdb, 12, one, 1, &moved));
  EXPECT_EQ(std::vector<uint8_t>({0xC3, 0x00}), kernel.seen.back().data);
}

// How each ending is told at the seam: the errno of a refused ioctl (EACCES and EPERM as a
// refusal for lack of rights), the kernel's host and driver status as a system error, the
// device's status byte.
TEST_F(SgTranslationTest, FailuresAsTheSeamReportsThem) {
  struct Case {
    const char* what;
    int fail_errno;
    uint16_t host_status, driver_status;
    uint8_t status;
    ScsiOutcome outcome;
    uint32_t os_error;
    uint8_t scsi_status;
    uint32_t transferred;  // of 6 asked, with a residue of 2 where the kernel answers
  };
  const Case cases[] = {
      {"all well", 0, 0, 0, 0x00, ScsiOutcome::Done, 0, 0x00, 4},
      {"ioctl refused", EIO, 0, 0, 0x00, ScsiOutcome::OsError, EIO, 0x00, 6},
      {"ioctl not allowed (EACCES)", EACCES, 0, 0, 0x00, ScsiOutcome::Permission, EACCES, 0x00, 6},
      {"ioctl not permitted (EPERM)", EPERM, 0, 0, 0x00, ScsiOutcome::Permission, EPERM, 0x00, 6},
      {"host status", 0, 0x07, 0, 0x00, ScsiOutcome::OsError, 0x10700, 0x00, 4},
      {"driver status", 0, 0, 0x08, 0x00, ScsiOutcome::OsError, 0x10008, 0x00, 4},
      {"host status beats a status byte", 0, 0x07, 0, 0x02, ScsiOutcome::OsError, 0x10700, 0x02, 4},
      {"check condition", 0, 0, 0, 0x02, ScsiOutcome::ScsiStatus, 0, 0x02, 4},
      {"reservation conflict", 0, 0, 0, 0x18, ScsiOutcome::ScsiStatus, 0, 0x18, 4},
  };
  for (const Case& c : cases) {
    kernel.fail_errno = c.fail_errno;
    kernel.host_status = c.host_status;
    kernel.driver_status = c.driver_status;
    kernel.status = c.status;
    kernel.resid = 2;
    ScsiOpen opened = host.Open(kNode, ShareMode::ReadWrite);
    ASSERT_TRUE(opened.device) << c.what;
    EXPECT_TRUE(opened.result.ok()) << c.what;
    uint8_t data[6] = {};
    ScsiRequest request;
    request.cdb_length = 6;
    request.direction = ScsiDirection::FromDevice;
    request.data = data;
    request.transfer_length = sizeof data;
    request.timeout_seconds = 10;
    const ScsiResult result = opened.device->Send(request);
    EXPECT_EQ(c.outcome, result.outcome) << c.what;
    EXPECT_EQ(c.os_error, result.os_error) << c.what;
    EXPECT_EQ(c.scsi_status, result.scsi_status) << c.what;
    EXPECT_EQ(c.transferred, result.transferred) << c.what;
    EXPECT_EQ(c.outcome == ScsiOutcome::Done, result.ok()) << c.what;
  }
}

// A node that cannot be opened gives no device and says why.
TEST(SgScsiHostOpen, FailedOpenCarriesItsCategory) {
  struct Node : linux_host::SgSyscalls {
    int error = 0;
    int Open(const char*, int) override {
      errno = error;
      return -1;
    }
    int Ioctl(int, sg_io_hdr_t*) override {
      ADD_FAILURE() << "nothing may be sent";
      return -1;
    }
    void Close(int) override { ADD_FAILURE() << "nothing was opened"; }
  };
  struct Case {
    int error;
    ScsiOutcome outcome;
    uint32_t os_error;
  };
  const Case cases[] = {
      {EACCES, ScsiOutcome::Permission, EACCES},
      {EPERM, ScsiOutcome::Permission, EPERM},
      {EBUSY, ScsiOutcome::Busy, EBUSY},  // held by another process with O_EXCL
      {ENOENT, ScsiOutcome::OsError, ENOENT},
      {0, ScsiOutcome::OsError, EIO},  // a failure without a reason is still a failure
  };
  for (const Case& c : cases) {
    Node node;
    node.error = c.error;
    linux_host::SgScsiHost host(node);
    const ScsiOpen opened = host.Open(kNode, ShareMode::Exclusive);
    EXPECT_EQ(nullptr, opened.device) << c.error;
    EXPECT_EQ(c.outcome, opened.result.outcome) << c.error;
    EXPECT_EQ(c.os_error, opened.result.os_error) << c.error;
  }
}

}  // namespace
}  // namespace qvb
