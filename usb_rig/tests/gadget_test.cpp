#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "usb_rig/gadget/bulk_only.h"
#include "usb_rig/gadget/storage_target.h"
#include "usb_rig/gadget/uas.h"
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

TEST_F(Target, SenseForTheStatusUnitIsNotLogged) {
  Load("");
  EXPECT_FALSE(Run({0xFF, 0x04, 0x30, 0x08, 0, 0, 0, 0, 0, 0, 0, 0}, 40, true).good);
  uint8_t sense[96] = {};
  const uint32_t n = target.Sense(sense, sizeof sense);
  ASSERT_EQ(n, 18u);
  EXPECT_EQ(sense[0], 0x70);
  EXPECT_EQ(sense[2], 0x05);
  EXPECT_EQ(target.log().size(), 1u);
}

std::vector<uint8_t> CommandUnit(uint16_t tag, std::vector<uint8_t> cb, uint8_t lun = 0) {
  std::vector<uint8_t> u(kCommandIuSize, 0);
  u[0] = kIuCommand;
  u[2] = static_cast<uint8_t>(tag >> 8);
  u[3] = static_cast<uint8_t>(tag);
  u[9] = lun;
  std::copy(cb.begin(), cb.end(), u.begin() + 16);
  return u;
}

TEST(Uas, ParsesCommandAndTaskUnits) {
  CommandIu iu;
  bool task = true;
  const auto unit = CommandUnit(0x0102, {0xFF, 0x04, 0x12});
  ASSERT_TRUE(ParseCommandIu(unit.data(), unit.size(), iu, task));
  EXPECT_FALSE(task);
  EXPECT_EQ(iu.tag, 0x0102);
  EXPECT_TRUE(iu.lun_zero);
  EXPECT_EQ(iu.cb_length, 12);
  EXPECT_EQ(iu.cb[2], 0x12);
  const auto lun1 = CommandUnit(1, {0x12, 0, 0, 0, 36, 0}, 1);
  ASSERT_TRUE(ParseCommandIu(lun1.data(), lun1.size(), iu, task));
  EXPECT_FALSE(iu.lun_zero);
  EXPECT_EQ(iu.cb_length, 6);

  EXPECT_FALSE(ParseCommandIu(unit.data(), unit.size() - 1, iu, task));
  auto status = unit;
  status[0] = kIuStatus;
  EXPECT_FALSE(ParseCommandIu(status.data(), status.size(), iu, task));
  const uint8_t abort_task[16] = {kIuTaskManagement, 0, 0x00, 0x07};
  ASSERT_TRUE(ParseCommandIu(abort_task, sizeof abort_task, iu, task));
  EXPECT_TRUE(task);
  EXPECT_EQ(iu.tag, 7);
  EXPECT_FALSE(ParseCommandIu(nullptr, kCommandIuSize, iu, task));
}

TEST(Uas, TransferLengthsFromTheCommandBlock) {
  struct Case {
    std::vector<uint8_t> cb;
    Direction direction;
    uint32_t length;
    bool known;
  } cases[] = {
      {{0x00, 0, 0, 0, 0, 0}, Direction::None, 0, true},
      {{0x12, 0, 0, 0, 40, 0, 0, 0, 0, 0, 0, 0}, Direction::In, 40, true},
      {{0x03, 0, 0, 0, 18, 0}, Direction::In, 18, true},
      {{0x28, 0, 0, 0, 0, 0, 0, 0, 8, 0}, Direction::In, 4096, true},
      {{0x2A, 0, 0, 0, 0, 0, 0, 0, 1, 0}, Direction::Out, 512, true},
      {{0x3C, 0x01, 0, 0, 0x04, 0, 0, 0x04, 0, 0}, Direction::In, 1024, true},
      {{0x3B, 0x0E, 0, 0, 0, 0, 0x01, 0, 0, 0}, Direction::Out, 65536, true},
      {{0x9E, 0x10, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 32, 0, 0}, Direction::In, 32, true},
      // The bridge's memory read and its control block carry their lengths.
      {{0xDF, 0x10, 0, 0, 0x04, 0, 0xFD, 0xB0, 0, 0, 0, 0xFD}, Direction::In, 4, true},
      {{0xDF, 0x10, 0, 0, 0x02, 0, 0, 0, 0, 0, 0, 0xFF}, Direction::In, 2, true},
      {{0xDF, 0x03, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xFB}, Direction::None, 0, true},
      {{0xDF, 0x03, 0, 0x01, 0, 0, 0, 0, 0, 0, 0, 0xFB}, Direction::Out, 256, true},
      // Flash status and the bridge information block do not: their replies are as long as
      // the device makes them.
      {{0xFF, 0x04, 0x12, 0, 0, 0, 0, 0, 0, 0, 0, 0}, Direction::In, 0, false},
      {{0xE0, 0xF4, 0xE7, 0, 0, 0, 0, 0, 0, 0, 0, 0}, Direction::In, 0, false},
  };
  for (const auto& c : cases) {
    const Transfer t = TransferOf(c.cb.data(), static_cast<uint8_t>(c.cb.size()));
    EXPECT_EQ(t.direction, c.direction) << OpcodeName(c.cb.data(), c.cb.size());
    EXPECT_EQ(t.known, c.known) << OpcodeName(c.cb.data(), c.cb.size());
    if (c.known) {
      EXPECT_EQ(t.length, c.length) << OpcodeName(c.cb.data(), c.cb.size());
    }
  }
  EXPECT_EQ(TransferOf(nullptr, 0).direction, Direction::None);
}

TEST(Uas, ReadyAndStatusUnits) {
  const auto ready = MakeReadyIu(kIuReadReady, 0x1234);
  EXPECT_EQ(ready, (std::array<uint8_t, 4>{0x06, 0, 0x12, 0x34}));
  const auto good = MakeStatusIu(0x0001, 0x00, nullptr, 0);
  ASSERT_EQ(good.size(), kStatusIuHeader);
  EXPECT_EQ(good[0], kIuStatus);
  EXPECT_EQ(good[3], 0x01);
  EXPECT_EQ(good[6], 0x00);
  EXPECT_EQ(good[15], 0);
  const auto failed = MakeStatusIu(2, 0x02, kNoUnitSense, sizeof kNoUnitSense);
  ASSERT_EQ(failed.size(), kStatusIuHeader + 18);
  EXPECT_EQ(failed[6], 0x02);
  EXPECT_EQ(failed[15], 18);
  EXPECT_EQ(failed[kStatusIuHeader + 12], 0x25);
  // Sense longer than the unit carries is cut to 96 bytes.
  const std::vector<uint8_t> big(200, 0x70);
  const auto cut = MakeStatusIu(3, 0x02, big.data(), big.size());
  EXPECT_EQ(cut.size(), kStatusIuHeader + kMaxSenseInIu);
  EXPECT_EQ(cut[15], kMaxSenseInIu);
  EXPECT_EQ(MakeResponseIu(9)[0], kIuResponse);
  EXPECT_EQ(MakeResponseIu(9)[3], 9);
}

}  // namespace
}  // namespace qvb::rig
