#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "usb_rig/gadget/bulk_only.h"
#include "usb_rig/gadget/storage_target.h"
#include "virtual_bridge/scenario.h"

namespace qvb::rig {
namespace {

std::vector<uint8_t> Wrapper(uint32_t tag, uint32_t length, bool in, std::vector<uint8_t> cb) {
  std::vector<uint8_t> w(kCbwSize, 0);
  std::memcpy(w.data(), "USBC", 4);
  for (int i = 0; i < 4; ++i) {
    w[4 + i] = static_cast<uint8_t>(tag >> (8 * i));
    w[8 + i] = static_cast<uint8_t>(length >> (8 * i));
  }
  w[12] = in ? 0x80 : 0x00;
  w[14] = static_cast<uint8_t>(cb.size());
  std::copy(cb.begin(), cb.end(), w.begin() + 15);
  return w;
}

TEST(BulkOnly, ParsesAWrapper) {
  const auto w = Wrapper(0x11223344, 0x10400, true, {0x12, 0, 0, 0, 40, 0});
  Cbw cbw;
  ASSERT_TRUE(ParseCbw(w.data(), w.size(), cbw));
  EXPECT_EQ(cbw.tag, 0x11223344u);
  EXPECT_EQ(cbw.data_length, 0x10400u);
  EXPECT_TRUE(cbw.data_in);
  EXPECT_EQ(cbw.cb_length, 6);
  EXPECT_EQ(cbw.cb[4], 40);
}

TEST(BulkOnly, RejectsWhatIsNoWrapper) {
  const auto good = Wrapper(1, 0, false, {0x00, 0, 0, 0, 0, 0});
  Cbw cbw;
  std::vector<uint8_t> longer = good;
  longer.push_back(0);
  EXPECT_FALSE(ParseCbw(good.data(), good.size() - 1, cbw));
  EXPECT_FALSE(ParseCbw(longer.data(), longer.size(), cbw));
  auto signature = good;
  signature[3] = 'S';
  EXPECT_FALSE(ParseCbw(signature.data(), signature.size(), cbw));
  auto no_block = good;
  no_block[14] = 0;
  EXPECT_FALSE(ParseCbw(no_block.data(), no_block.size(), cbw));
  auto too_long = good;
  too_long[14] = 17;
  EXPECT_FALSE(ParseCbw(too_long.data(), too_long.size(), cbw));
  EXPECT_FALSE(ParseCbw(nullptr, kCbwSize, cbw));
}

TEST(BulkOnly, StatusWrapperLayout) {
  const auto csw = MakeCsw(0xA1B2C3D4, 0x0102, kCswFailed);
  const uint8_t expected[kCswSize] = {'U',  'S',  'B',  'S', 0xD4, 0xC3, 0xB2,
                                      0xA1, 0x02, 0x01, 0,   0,    1};
  EXPECT_EQ(0, std::memcmp(csw.data(), expected, kCswSize));
}

TEST(BulkOnly, DataInPlans) {
  struct Case {
    uint32_t expected;
    bool good;
    uint32_t produced;
    uint32_t send;
    bool zero_length;
    bool stall;
    uint32_t residue;
    uint8_t status;
  } cases[] = {
      {40, true, 40, 40, false, false, 0, kCswPassed},       // the whole reply
      {96, true, 18, 18, false, false, 78, kCswPassed},      // short, ends in a short packet
      {1024, true, 512, 512, true, false, 512, kCswPassed},  // short on a packet boundary
      {96, true, 0, 0, true, false, 96, kCswPassed},         // nothing at all
      {16, true, 40, 16, false, false, 0, kCswPassed},       // never more than asked
      {1024, false, 0, 0, false, true, 1024, kCswFailed},    // failed: halt, whole residue
      {0, false, 0, 0, false, false, 0, kCswFailed},         // failed without data: no halt
  };
  for (const auto& c : cases) {
    Cbw cbw;
    cbw.data_in = true;
    cbw.data_length = c.expected;
    const DataInPlan plan = PlanDataIn(cbw, {c.good, c.produced}, 512);
    SCOPED_TRACE(testing::Message() << c.expected << "/" << c.produced << " good " << c.good);
    EXPECT_EQ(plan.send, c.send);
    EXPECT_EQ(plan.zero_length, c.zero_length);
    EXPECT_EQ(plan.stall, c.stall);
    EXPECT_EQ(plan.residue, c.residue);
    EXPECT_EQ(plan.status, c.status);
  }
}

TEST(BulkOnly, DataOutPlans) {
  Cbw cbw;
  cbw.data_length = 1024;
  EXPECT_EQ(PlanNoDataIn(cbw, {true, 1024}).residue, 0u);
  EXPECT_EQ(PlanNoDataIn(cbw, {true, 1024}).status, kCswPassed);
  EXPECT_EQ(PlanNoDataIn(cbw, {false, 0}).residue, 1024u);
  EXPECT_EQ(PlanNoDataIn(cbw, {false, 0}).status, kCswFailed);
}

class Target : public testing::Test {
 protected:
  void Load(const std::string& extra = "") {
    const auto result = virt::LoadScenarioText(
        "[device]\npath = \\\\?\\usbstor#disk&ven_quorvel&prod_qvb886#0001\npreset = qvb886\n"
        "version = 133.1.0.3\n" +
            extra,
        bridge);
    ASSERT_TRUE(result.ok) << result.error;
  }
  Outcome Run(std::vector<uint8_t> cb, uint32_t length, bool in) {
    Cbw cbw;
    cbw.cb_length = static_cast<uint8_t>(cb.size());
    std::copy(cb.begin(), cb.end(), cbw.cb.begin());
    cbw.data_length = length;
    cbw.data_in = in;
    data.assign(length, 0xAA);
    return target.Execute(cbw, data.data(), vanished);
  }
  virt::VirtualBridge bridge;
  StorageTarget target{bridge, 2048};
  std::vector<uint8_t> data;
  bool vanished = false;
};

TEST_F(Target, RoutesBlockCommandsToTheDiskAndTheRestToTheBridge) {
  struct Case {
    std::vector<uint8_t> cb;
    Route route;
  } cases[] = {
      {{0x00, 0, 0, 0, 0, 0}, Route::Disk},      {{0x25, 0, 0, 0, 0, 0, 0, 0, 0, 0}, Route::Disk},
      {{0xA1, 0, 0, 0, 0, 0}, Route::Disk},      {{0x12, 0x01, 0x80, 0, 255, 0}, Route::Disk},
      {{0x12, 0, 0, 0, 36, 0}, Route::Bridge},   {{0x03, 0, 0, 0, 18, 0}, Route::Bridge},
      {{0x3B, 0x0E, 0, 0, 0, 0}, Route::Bridge}, {{0xE0, 0, 0, 0, 0, 0}, Route::Bridge},
  };
  for (const auto& c : cases)
    EXPECT_EQ(RouteOf(c.cb.data(), static_cast<uint8_t>(c.cb.size())), c.route)
        << OpcodeName(c.cb.data(), static_cast<uint8_t>(c.cb.size()));
}

TEST_F(Target, AnswersTheKernelsAttachCommands) {
  Load();
  Outcome o = Run({0x25, 0, 0, 0, 0, 0, 0, 0, 0, 0}, 8, true);
  ASSERT_TRUE(o.good);
  EXPECT_EQ(o.transferred, 8u);
  const uint8_t capacity[8] = {0, 0, 0x07, 0xFF, 0, 0, 0x02, 0x00};
  EXPECT_EQ(0, std::memcmp(data.data(), capacity, 8));
  o = Run({0x28, 0, 0, 0, 0, 0, 0, 0, 8, 0}, 4096, true);
  ASSERT_TRUE(o.good);
  EXPECT_EQ(o.transferred, 4096u);
  EXPECT_EQ(data[4095], 0);
  o = Run({0x1A, 0, 0x3F, 0, 192, 0}, 192, true);
  EXPECT_TRUE(o.good);
  EXPECT_EQ(o.transferred, 4u);
  EXPECT_FALSE(Run({0xA1, 0x08, 0x2E, 0, 1, 0, 0, 0, 0, 0xEC, 0, 0}, 512, true).good);
  EXPECT_FALSE(Run({0x12, 0x01, 0x80, 0, 255, 0}, 255, true).good);
  EXPECT_TRUE(bridge.requests().empty());  // none of these reached the bridge
}

TEST_F(Target, RefusesBlockIoOutsideTheDiskOrInTheWrongDirection) {
  Load();
  EXPECT_FALSE(Run({0x28, 0, 0, 0, 0x07, 0xFF, 0, 0, 2, 0}, 1024, true).good);  // past the end
  EXPECT_FALSE(Run({0x28, 0, 0, 0, 0, 0, 0, 0, 2, 0}, 512, true).good);  // more than the host takes
  EXPECT_FALSE(Run({0x28, 0, 0, 0, 0, 0, 0, 0, 1, 0}, 512, false).good);  // read as data-out
  EXPECT_TRUE(Run({0x2A, 0, 0, 0, 0, 0, 0, 0, 1, 0}, 512, false).good);
}

TEST_F(Target, HandsInquiryAndVendorCommandsToTheBridge) {
  Load();
  Outcome o = Run({0x12, 0, 0, 0, 36, 0}, 36, true);
  ASSERT_TRUE(o.good);
  EXPECT_EQ(o.transferred, 36u);
  EXPECT_EQ(0, std::memcmp(&data[8], "Quorvel ", 8));
  // The 1-byte flash-status read arrives as 2 bytes and is answered as 2.
  o = Run({0xFF, 0x04, 0x12, 0, 0, 0, 0, 0, 0, 0, 0, 0}, 2, true);
  EXPECT_TRUE(o.good);
  EXPECT_EQ(o.transferred, 2u);
  ASSERT_EQ(bridge.requests().size(), 2u);
  EXPECT_EQ(target.log().back().name, "flash_status");
}

TEST_F(Target, WritesPiecesIntoTheBridgesFlash) {
  Load();
  Cbw cbw;
  const uint8_t cb[10] = {0x3B, 0x0E, 0, 0, 0x04, 0x00, 0, 0x04, 0x00, 0};
  std::memcpy(cbw.cb.data(), cb, sizeof cb);
  cbw.cb_length = 10;
  cbw.data_length = 1024;
  std::vector<uint8_t> piece(1024, 0x5A);
  EXPECT_TRUE(target.Execute(cbw, piece.data(), vanished).good);
  EXPECT_EQ(bridge.devices()[0].flash[1024], 0x5A);
  EXPECT_EQ(bridge.devices()[0].flash[1023], 0xFF);
}

TEST_F(Target, ReportsTheBridgesFaults) {
  Load("fault = info check_condition times=1\nfault = any vanish from=3\n");
  EXPECT_FALSE(Run({0xE0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}, 16, true).good);
  EXPECT_FALSE(vanished);
  EXPECT_TRUE(Run({0xE0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}, 16, true).good);
  EXPECT_TRUE(Run({0x03, 0, 0, 0, 18, 0}, 18, true).good);
  EXPECT_FALSE(Run({0xE0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}, 16, true).good);
  EXPECT_TRUE(vanished);
  ASSERT_EQ(target.log().size(), 4u);
  EXPECT_EQ(target.log()[2].name, "request_sense");
  EXPECT_FALSE(target.log()[3].good);
}

}  // namespace
}  // namespace qvb::rig
