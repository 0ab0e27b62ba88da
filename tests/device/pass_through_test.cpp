#include "device/pass_through.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "device/scsi_host.h"
#include "tests/support/fake_system.h"

namespace qvb {
namespace {

// A host that records the request as it reaches the seam and answers from a script.
struct ScriptedHost : ScsiHost {
  struct Seen {
    ShareMode share;
    ScsiRequest request;
    std::vector<uint8_t> data;  // the data buffer's bytes at send time
    uintptr_t buffer_address;
  };
  bool open_ok = true;
  ScsiOutcome outcome = ScsiOutcome::Done;
  uint8_t status = kScsiStatusGood;
  std::vector<uint8_t> reply;  // delivered into the data buffer
  std::vector<Seen> seen;
  int closes = 0;

  struct Device : ScsiDevice {
    ScriptedHost& host;
    ShareMode share;
    Device(ScriptedHost& h, ShareMode s) : host(h), share(s) {}
    ~Device() override { ++host.closes; }
    ScsiResult Send(const ScsiRequest& r) override {
      Seen s{share, r, {}, reinterpret_cast<uintptr_t>(r.data)};
      if (r.data)
        s.data.assign(static_cast<uint8_t*>(r.data),
                      static_cast<uint8_t*>(r.data) + r.transfer_length);
      host.seen.push_back(s);
      const bool in = r.direction == ScsiDirection::FromDevice;
      const std::size_t n = std::min<std::size_t>(host.reply.size(), r.transfer_length);
      if (in && r.data && n) std::memcpy(r.data, host.reply.data(), n);
      ScsiResult result;
      result.outcome = host.outcome;
      result.scsi_status = host.status;
      result.transferred = in ? static_cast<uint32_t>(n) : r.transfer_length;
      return result;
    }
  };
  ScsiOpen Open(const char*, ShareMode share) override {
    if (!open_ok) return ScsiOpen::Failed(ScsiOutcome::OsError, 2);
    return {std::make_unique<Device>(*this, share), {}};
  }
};

class PassThroughTest : public ::testing::Test {
 protected:
  ScriptedHost host;
  ScopedSeams installed{HostSeams{.scsi = &host}};
  const uint8_t cdb12[12] = {0xFF, 0x04, 0x12};
};

TEST_F(PassThroughTest, InFillsTheRequest) {
  host.reply = {0xAA, 0xBB, 0xCC, 0xDD};
  uint8_t buffer[4] = {};
  int moved = -1;
  ASSERT_EQ(1, PassThroughIn("p", cdb12, 12, buffer, 4, &moved));
  ASSERT_EQ(1u, host.seen.size());
  const auto& r = host.seen[0].request;
  EXPECT_EQ(12, r.cdb_length);
  EXPECT_EQ(ScsiDirection::FromDevice, r.direction);
  EXPECT_EQ(4u, r.transfer_length);
  EXPECT_EQ(10u, r.timeout_seconds);
  EXPECT_EQ(0u, host.seen[0].buffer_address % 8192);
  EXPECT_NE(reinterpret_cast<uintptr_t>(buffer), host.seen[0].buffer_address);
  EXPECT_EQ(0, std::memcmp(r.cdb, cdb12, 12));
  for (int i = 12; i < 16; ++i) EXPECT_EQ(0, r.cdb[i]);
  EXPECT_EQ(ShareMode::ReadWrite, host.seen[0].share);
  EXPECT_EQ(4, moved);
  EXPECT_EQ(0xDD, buffer[3]);
  EXPECT_EQ(1, host.closes);
}

TEST_F(PassThroughTest, LengthOneIsSentAsTwoAndReturnsOneByte) {
  host.reply = {0x11, 0x22};
  uint8_t buffer[2] = {0x00, 0x77};
  int moved = 0;
  ASSERT_EQ(1, PassThroughIn("p", cdb12, 12, buffer, 1, &moved));
  EXPECT_EQ(2u, host.seen[0].request.transfer_length);
  EXPECT_EQ(0x11, buffer[0]);
  EXPECT_EQ(0x77, buffer[1]) << "only the caller's one byte may be written";
  EXPECT_EQ(2, moved);
}

TEST_F(PassThroughTest, OutOfOneByteSendsTheByteAndAZero) {
  const uint8_t data[1] = {0x5A};
  ASSERT_EQ(1, PassThroughOut("p", cdb12, 12, data, 1, nullptr));
  ASSERT_EQ(2u, host.seen[0].data.size());
  EXPECT_EQ(0x5A, host.seen[0].data[0]);
  EXPECT_EQ(0x00, host.seen[0].data[1]);
  EXPECT_EQ(ScsiDirection::ToDevice, host.seen[0].request.direction);
  EXPECT_EQ(ShareMode::Exclusive, host.seen[0].share);
}

TEST_F(PassThroughTest, LengthZeroHasNoDataPhase) {
  const uint8_t data[1] = {1};
  for (const uint8_t* d : {static_cast<const uint8_t*>(nullptr), data}) {
    host.seen.clear();
    EXPECT_EQ(1, PassThroughOut("p", cdb12, 12, d, 0, nullptr));
    EXPECT_EQ(0u, host.seen[0].request.transfer_length);
    EXPECT_EQ(nullptr, host.seen[0].request.data);
    EXPECT_EQ(ScsiDirection::ToDevice, host.seen[0].request.direction);
  }
  host.seen.clear();
  EXPECT_EQ(1, PassThroughIn("p", cdb12, 12, nullptr, 0, nullptr));
  EXPECT_EQ(nullptr, host.seen[0].request.data);
  EXPECT_EQ(ScsiDirection::FromDevice, host.seen[0].request.direction);
}

TEST_F(PassThroughTest, UnopenablePathSendsNothingAndTouchesNothing) {
  host.open_ok = false;
  uint8_t buffer[4] = {9, 9, 9, 9};
  int moved = 1234;
  EXPECT_EQ(0, PassThroughIn("p", cdb12, 12, buffer, 4, &moved));
  EXPECT_EQ(0, PassThroughOut("p", cdb12, 12, buffer, 4, &moved));
  EXPECT_TRUE(host.seen.empty());
  EXPECT_EQ(1234, moved);
  for (uint8_t b : buffer) EXPECT_EQ(9, b);
}

TEST_F(PassThroughTest, FailureStillCopiesTheZeroFilledBuffer) {
  host.outcome = ScsiOutcome::OsError;
  host.reply = {0x42};  // the device delivered one byte, then the request failed
  uint8_t buffer[4] = {9, 9, 9, 9};
  EXPECT_EQ(0, PassThroughIn("p", cdb12, 12, buffer, 4, nullptr));
  EXPECT_EQ(0x42, buffer[0]);
  EXPECT_EQ(0, buffer[1]);
  EXPECT_EQ(0, buffer[3]);
}

TEST_F(PassThroughTest, OnlyADoneRequestSucceeds) {
  struct Case {
    ScsiOutcome outcome;
    int expected;
  };
  const Case cases[] = {
      {ScsiOutcome::Done, 1},
      {ScsiOutcome::ScsiStatus, 0},
      {ScsiOutcome::OsError, 0},
      {ScsiOutcome::Permission, 0},
  };
  for (const auto& c : cases) {
    host.outcome = c.outcome;
    uint8_t buffer[2] = {};
    EXPECT_EQ(c.expected, PassThroughIn("p", cdb12, 12, buffer, 2, nullptr));
    EXPECT_EQ(c.expected, PassThroughOut("p", cdb12, 12, buffer, 2, nullptr));
  }
}

TEST(PassThroughTimeout, ChosenFromTheCommandBlock) {
  struct Case {
    std::vector<uint8_t> cdb;
    uint32_t seconds;
  };
  const Case cases[] = {
      {{0x3B, 0x0E, 0x00, 0, 0, 0, 0, 4, 0, 0}, 50},
      {{0x3B, 0x0E, 0x13, 0, 0, 0, 0, 4, 0, 0}, 100},  // byte 2 = 0x13, any length
      {{0xDF, 0x03, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xFB}, 100},
      {{0xDF, 0x02, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xFB}, 50},  // 0xFB but byte 1 not 3
      {{0xDF, 0x03, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xFD}, 50},
      {{0xDF, 0x03, 0, 0, 0, 0, 0, 0, 0, 0xFB}, 50},  // the 10-byte form never qualifies
  };
  for (const auto& c : cases) {
    ScriptedHost host;
    ScopedSeams installed{HostSeams{.scsi = &host}};
    PassThroughOut("p", c.cdb.data(), static_cast<int>(c.cdb.size()), nullptr, 0, nullptr);
    EXPECT_EQ(c.seconds, host.seen.at(0).request.timeout_seconds);
    host.seen.clear();
    uint8_t b[1];
    PassThroughIn("p", c.cdb.data(), static_cast<int>(c.cdb.size()), b, 1, nullptr);
    EXPECT_EQ(10u, host.seen.at(0).request.timeout_seconds) << "data-in is always 10 s";
  }
}

}  // namespace
}  // namespace qvb
