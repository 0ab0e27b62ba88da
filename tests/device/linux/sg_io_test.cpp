#include "device/linux/sg_io.h"

#include <fcntl.h>
#include <gtest/gtest.h>

#include <cerrno>
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

}  // namespace
}  // namespace qvb
