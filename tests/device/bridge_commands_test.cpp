#include "device/bridge_commands.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "tests/support/fake_system.h"
#include "virtual_bridge/virtual_bridge.h"

namespace qvb {
namespace {

constexpr const char* kPath = "\\\\?\\usbstor#disk&ven_quorvel#1#{53f56307}";

class BridgeCommandsTest : public ::testing::Test {
 protected:
  BridgeCommandsTest() : bridge({virt::MakeQvb886(kPath, {133, 1, 0, 3})}) {}
  virt::VirtualBridge bridge;
  ScopedSeams installed{HostSeams{.scsi = &bridge}};
  testing::FakeSystem system;
  virt::DeviceModel& model() { return bridge.devices()[0]; }
};

struct CommandCase {
  const char* what;
  std::function<void()> send;
  std::vector<uint8_t> cdb;
  uint8_t data_in;
  uint32_t transfer_length;
  uint32_t timeout;
};

TEST_F(BridgeCommandsTest, CommandBlocksAreExact) {
  static uint8_t buffer[1024];
  static const uint8_t data[1024] = {};
  const CommandCase cases[] = {
      {"Inquiry 40",
       [] { Inquiry(kPath, buffer, 40); },
       {0x12, 0, 0, 0, 0x28, 0, 0, 0, 0, 0, 0, 0},
       1,
       40,
       10},
      {"RequestSense",
       [] { RequestSense(kPath); },
       {0x03, 0, 0, 0, 0x12, 0, 0, 0, 0, 0, 0, 0},
       1,
       18,
       10},
      {"ReadBuffer descriptor",
       [] { ReadBuffer(kPath, 3, 0, 0, buffer, 4); },
       {0x3C, 0x03, 0, 0, 0, 0, 0, 0, 4, 0},
       1,
       4,
       10},
      {"ReadBuffer piece",
       [] { ReadBuffer(kPath, 1, 0, 0x10000, buffer, 1024); },
       {0x3C, 0x01, 0, 0x01, 0x00, 0x00, 0x00, 0x04, 0x00, 0},
       1,
       1024,
       10},
      {"WriteBuffer 0x0E at 65536",
       [] { WriteBuffer(kPath, 0, 0x0E, data, 65536, 1024); },
       {0x3B, 0x0E, 0x00, 0x01, 0x00, 0x00, 0x00, 0x04, 0x00, 0x00},
       0,
       1024,
       50},
      {"ProbeBridge",
       [] { ProbeBridge(kPath, buffer); },
       {0xDF, 0x10, 0, 0, 0x02, 0, 0, 0, 0, 0, 0, 0xFF},
       1,
       2,
       10},
      {"ReadBridgeMemory 0xFDB0",
       [] { ReadBridgeMemory(kPath, buffer, 0xFDB0, 4); },
       {0xDF, 0x10, 0x00, 0x00, 0x04, 0x00, 0xFD, 0xB0, 0x00, 0x00, 0x00, 0xFD},
       1,
       4,
       10},
      {"BridgeControl 3",
       [] { BridgeControl(kPath, 0, data, 0, 3); },
       {0xDF, 0x03, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xFB},
       0,
       0,
       100},
      {"BridgeControl 0xFF",
       [] { BridgeControl(kPath, 0x123456, data, 0x10, 0xFF); },
       {0xDF, 0x87, 0x00, 0x00, 0x10, 0, 0, 0, 0x12, 0x34, 0x56, 0xFB},
       0,
       16,
       50},
      {"ReadBridgeInfo",
       [] { ReadBridgeInfo(kPath, buffer, 16, nullptr); },
       {0xE0, 0xF4, 0xE7, 0, 0, 0, 0, 0, 0, 0, 0, 0},
       1,
       16,
       10},
      {"ReadBridgeInfoAlt",
       [] { ReadBridgeInfoAlt(kPath, buffer, 16, nullptr); },
       {0xFE, 0xF4, 0xE7, 0, 0, 0, 0, 0, 0, 0, 0, 0},
       1,
       16,
       10},
      {"ReadFlashStatus",
       [] { ReadFlashStatus(kPath, buffer); },
       {0xFF, 0x04, 0x12, 0, 0, 0, 0, 0, 0, 0, 0, 0},
       1,
       2,
       10},
      {"ReadFlashId",
       [] { ReadFlashId(kPath, buffer); },
       {0xFF, 0x04, 0x15, 0x04, 0, 0, 0, 0, 0, 0, 0, 0},
       1,
       4,
       10},
      {"ReadBridgeConfig",
       [] { ReadBridgeConfig(kPath, buffer); },
       {0xFF, 0x04, 0x23, 0x04, 0, 0, 0, 0, 0, 0, 0, 0},
       1,
       4,
       10},
      {"ReadBridgeName 40",
       [] { ReadBridgeName(kPath, buffer, 40); },
       {0xFF, 0x04, 0x30, 0x08, 0, 0, 0, 0, 0, 0, 0, 0},
       1,
       40,
       10},
      {"ReadVendorPage",
       [] { ReadVendorPage(kPath, 0x64, 0x01, buffer, 512); },
       {0xB5, 0, 0, 0, 0, 0x64, 0, 0, 0x01, 0, 0, 0},
       1,
       512,
       10},
  };
  for (const auto& c : cases) {
    bridge.ClearRequests();
    c.send();
    ASSERT_FALSE(bridge.requests().empty()) << c.what;
    const auto& r = bridge.requests()[0];
    EXPECT_EQ(c.cdb, r.cdb) << c.what;
    EXPECT_EQ(c.data_in, r.data_in) << c.what;
    EXPECT_EQ(c.transfer_length, r.transfer_length) << c.what;
    EXPECT_EQ(c.timeout, r.timeout) << c.what;
    EXPECT_EQ(c.transfer_length != 0, r.has_buffer) << c.what;
  }
}

TEST_F(BridgeCommandsTest, ReadFlashStatusGivesTheCallerOneByte) {
  model().flash_busy_reads = 1;
  uint8_t status[2] = {0, 0x5C};
  ASSERT_EQ(1, ReadFlashStatus(kPath, status));
  EXPECT_EQ(0x01, status[0]);
  EXPECT_EQ(0x5C, status[1]);
}

TEST_F(BridgeCommandsTest, OnlyFailedBufferCommandsAreFollowedBySense) {
  uint8_t buffer[1024] = {};
  struct Case {
    const char* fail;
    std::function<int()> send;
    std::vector<std::string> expected;
  };
  const Case cases[] = {
      {"read_buffer",
       [&] { return ReadBuffer(kPath, 1, 0, 0, buffer, 1024); },
       {"read_buffer", "request_sense"}},
      {"write_buffer",
       [&] { return WriteBuffer(kPath, 0, 0x0E, buffer, 0, 1024); },
       {"write_buffer", "request_sense"}},
      {"info", [&] { return ReadBridgeInfo(kPath, buffer, 16, nullptr); }, {"info"}},
      {"control", [&] { return BridgeControl(kPath, 0, buffer, 0, 3); }, {"control"}},
  };
  for (const auto& c : cases) {
    bridge.ClearRequests();
    bridge.ClearFaults();
    bridge.AddFault({virt::FaultKind::CheckCondition, c.fail, 0, 1});
    EXPECT_EQ(0, c.send()) << c.fail;
    EXPECT_EQ(c.expected, bridge.CommandNames()) << c.fail;
    bridge.ClearRequests();
    EXPECT_EQ(1, c.send()) << c.fail << " succeeds once the fault is spent";
    EXPECT_EQ(1u, bridge.requests().size()) << c.fail;
  }
}

TEST_F(BridgeCommandsTest, WaitFlashReadyCountsFurtherReadsExactly) {
  struct Case {
    int busy_reads;  // reads that show bit 0 set
    int expected;
    std::size_t reads;
  };
  const Case cases[] = {
      {0, 1, 1},      // ready at the first read
      {500, 1, 501},  // clears at the 500th further read
      {501, 0, 502},  // clears at the 501st further read: still 0
      {100000, 0, 503},
  };
  for (const auto& c : cases) {
    virt::VirtualBridge fresh({virt::MakeQvb886(kPath, {133, 1, 0, 3})});
    fresh.devices()[0].flash_busy_reads = c.busy_reads;
    ScopedSeams scope{HostSeams{.scsi = &fresh}};
    system.sleeps.clear();
    EXPECT_EQ(c.expected, WaitFlashReady(kPath)) << c.busy_reads;
    EXPECT_EQ(c.reads, fresh.requests().size()) << c.busy_reads;
    EXPECT_EQ(c.reads - 1, system.sleeps.size());
    for (uint32_t ms : system.sleeps) EXPECT_EQ(10u, ms);
  }
}

TEST_F(BridgeCommandsTest, WaitFlashReadyTakesOtherStatusBitsAndFailuresAsReady) {
  // A failed status read leaves a status byte of 0.
  bridge.AddFault({virt::FaultKind::CheckCondition, "flash_status", 0, -1});
  model().flash_busy_reads = 10;
  EXPECT_EQ(1, WaitFlashReady(kPath));
  EXPECT_EQ(1u, bridge.requests().size());
}

TEST_F(BridgeCommandsTest, TestBridgeFlagThreshold) {
  struct Case {
    bool answers;
    uint8_t byte1;
    int expected;
  };
  const Case cases[] = {{true, 179, 0}, {true, 180, 1}, {true, 255, 1}, {false, 255, 0}};
  for (const auto& c : cases) {
    if (c.answers)
      model().flag_memory = std::array<uint8_t, 4>{0, c.byte1, 0, 0};
    else
      model().flag_memory.reset();
    EXPECT_EQ(c.expected, TestBridgeFlag(kPath)) << int{c.byte1};
  }
}

TEST(BridgeNameDeathTest, ShortLengthStopsTheProgram) {
  uint8_t buffer[8];
  EXPECT_DEATH(ReadBridgeName("p", buffer, 7), "length >= 0x08.*IDEAccess");
}

}  // namespace
}  // namespace qvb
