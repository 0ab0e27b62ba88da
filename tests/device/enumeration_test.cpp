#include "device/enumeration.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "device/seams.h"
#include "tests/support/fake_system.h"
#include "virtual_bridge/bridge_family.h"
#include "virtual_bridge/virtual_bridge.h"

namespace qvb {
namespace {

const std::string kGuid = "#{53f56307-b6bf-11d0-94f2-00a0c91efb8b}";
const std::string kUsb = "\\\\?\\usbstor#disk&ven_quorvel&prod_qvb886&rev_1.00#0001" + kGuid;
const std::string kUas = "\\\\?\\scsi#disk&ven_quorvel&prod_qvb886#4&2a1b3c&0&000000" + kGuid;
const std::string kSbp2 = "\\\\?\\sbp2#quorvel&qvb886&lun0#1&2a3b&0&0" + kGuid;
const std::string kSata = "\\\\?\\ide#diskwdc_wd10ezex#5&1f2e&0&0.0.0" + kGuid;

constexpr char kUnwritten = '#';

// The caller's path buffers, filled with a sentinel so that every write shows.
struct PathBuffers {
  explicit PathBuffers(int count, std::size_t size = 256)
      : storage(static_cast<std::size_t>(count), std::vector<char>(size, kUnwritten)) {
    for (auto& buffer : storage) pointers.push_back(buffer.data());
  }
  std::string Path(int i) const { return storage[static_cast<std::size_t>(i)].data(); }
  bool Untouched(int i) const {
    for (char c : storage[static_cast<std::size_t>(i)])
      if (c != kUnwritten) return false;
    return true;
  }
  std::vector<std::vector<char>> storage;
  std::vector<char*> pointers;
};

class EnumerationTest : public ::testing::Test {
 protected:
  virt::VirtualBridge bridge;
  ScopedSeams scsi{HostSeams{.scsi = &bridge}};
  ScopedSeams interfaces{HostSeams{.disks = &bridge}};
  testing::FakeSystem system;

  virt::DeviceModel& Add(const std::string& path) {
    bridge.devices().push_back(virt::MakeBridge(path));
    return bridge.devices().back();
  }
  int Enumerate(PathBuffers& buffers, uint8_t include_sbp2 = 1, int capacity = 16,
                std::size_t size = 256) {
    return EnumerateBridgeDisks(buffers.pointers.data(), capacity, size, include_sbp2);
  }
  // The paths that were sent any command, in first-seen order.
  std::vector<std::string> AddressedPaths() const {
    std::vector<std::string> seen;
    for (const auto& r : bridge.requests())
      if (seen.empty() || seen.back() != r.path) seen.push_back(r.path);
    return seen;
  }
};

TEST_F(EnumerationTest, NoInterfaceOrNoListWritesNothing) {
  PathBuffers buffers(16);
  EXPECT_EQ(0, Enumerate(buffers));
  EXPECT_EQ(1, bridge.walks());

  Add(kUsb);
  bridge.SetInterfaceListAvailable(false);
  EXPECT_EQ(0, Enumerate(buffers));
  EXPECT_TRUE(bridge.requests().empty());
  for (int i = 0; i < 16; ++i) EXPECT_TRUE(buffers.Untouched(i)) << i;
}

TEST_F(EnumerationTest, BusFilterIsCaseSensitiveAndSbp2NeedsTheFlag) {
  struct Case {
    std::string path;
    bool kept_without_sbp2;
    bool kept_with_sbp2;
  };
  const Case cases[] = {
      {kUsb, true, true},
      {kUas, true, true},
      {kSbp2, false, true},
      {kSata, false, false},
      {"\\\\?\\USBSTOR#DISK&VEN_QUORVEL&PROD_QVB886#0002" + kGuid, false, false},
      {"\\\\?\\SCSI#DISK&VEN_QUORVEL#0003" + kGuid, false, false},
      {"\\\\?\\SBP2#QUORVEL&LUN0#0004" + kGuid, false, false},
      {"\\\\?\\sbp2#scsi&quorvel#0005" + kGuid, true, true},  // "scsi" admits it either way
  };
  for (const auto& c : cases) Add(c.path);
  for (uint8_t flag : {uint8_t{0}, uint8_t{1}}) {
    bridge.ClearRequests();
    PathBuffers buffers(16);
    const int count = Enumerate(buffers, flag);
    std::vector<std::string> expected;
    for (const auto& c : cases)
      if (flag ? c.kept_with_sbp2 : c.kept_without_sbp2) expected.push_back(c.path);
    std::vector<std::string> kept;
    for (int i = 0; i < count; ++i) kept.push_back(buffers.Path(i));
    EXPECT_EQ(expected, kept) << "flag " << int{flag};
    // A disk that fails the filter is not sent a single command.
    EXPECT_EQ(expected, AddressedPaths()) << "flag " << int{flag};
  }
}

TEST_F(EnumerationTest, BridgeTestCommandSequences) {
  struct Case {
    const char* what;
    bool inquiry;
    bool info;
    bool probe;
    std::vector<std::string> commands;
    bool kept;
  };
  const Case cases[] = {
      {"answers both", true, true, true, {"inquiry", "info"}, true},
      {"INQUIRY fails, probe answers", false, true, true, {"inquiry", "probe"}, true},
      {"information fails, probe answers", true, false, true, {"inquiry", "info", "probe"}, true},
      {"only the information block", false, true, false, {"inquiry", "probe"}, false},
      {"answers nothing", false, false, false, {"inquiry", "probe"}, false},
  };
  for (const auto& c : cases) {
    bridge.devices().clear();
    bridge.ClearRequests();
    auto& model = Add(kUsb);
    model.inquiry_ok = c.inquiry;
    if (!c.info) model.info.reset();
    if (!c.probe) model.probe.reset();
    PathBuffers buffers(16);
    EXPECT_EQ(c.kept ? 1 : 0, Enumerate(buffers)) << c.what;
    EXPECT_EQ(c.commands, bridge.CommandNames()) << c.what;
    for (const auto& r : bridge.requests()) {
      const std::string name = virt::CommandName(r.cdb);
      const uint32_t expected = name == "inquiry" ? 40u : name == "info" ? 16u : 2u;
      EXPECT_EQ(expected, r.transfer_length) << c.what << ": " << name;
    }
    if (c.kept)
      EXPECT_EQ(kUsb, buffers.Path(0)) << c.what;
    else
      EXPECT_TRUE(buffers.Untouched(0)) << c.what;
  }
}

TEST_F(EnumerationTest, AnyInformationReplyPassesTheBridgeTest) {
  // The bridge test looks at the command's success only: what the block holds is for the
  // identification to judge.
  auto& model = Add(kUsb);
  virt::SetInfoSignature(model, false);
  virt::SetInfoIds(model, 0x1234, 0x5678);
  PathBuffers buffers(16);
  EXPECT_EQ(1, Enumerate(buffers));
  EXPECT_EQ((std::vector<std::string>{"inquiry", "info"}), bridge.CommandNames());
}

TEST_F(EnumerationTest, FailingDetailCallHidesEveryLaterInterface) {
  Add(kUsb);
  Add(kSata);
  Add(kUas).detail_fails = true;
  Add(kSbp2);
  PathBuffers buffers(16);
  EXPECT_EQ(1, Enumerate(buffers));
  EXPECT_EQ(kUsb, buffers.Path(0));
  EXPECT_EQ(std::vector<std::string>{kUsb}, AddressedPaths());
  EXPECT_TRUE(buffers.Untouched(1));
}

TEST_F(EnumerationTest, PathsKeepTheSystemsOrderAndCase) {
  const std::string mixed = "\\\\?\\usbstor#Disk&Ven_Quorvel&Prod_QVB886#00A1" + kGuid;
  Add(kSbp2);
  Add(kSata);
  Add(mixed);
  Add(kUas).probe.reset();  // still kept: INQUIRY and the information block answer
  Add(kUsb).inquiry_ok = false;
  bridge.devices().back().probe.reset();  // fails the bridge test
  PathBuffers buffers(16);
  ASSERT_EQ(3, Enumerate(buffers));
  EXPECT_EQ(kSbp2, buffers.Path(0));
  EXPECT_EQ(mixed, buffers.Path(1));
  EXPECT_EQ(kUas, buffers.Path(2));
  EXPECT_TRUE(buffers.Untouched(3));
}

TEST_F(EnumerationTest, CapacityEndsTheWalkAndNothingIsWrittenPastIt) {
  for (int i = 0; i < 17; ++i) Add(kUsb + "#" + std::to_string(i));
  PathBuffers buffers(17);  // one buffer more than the enumeration is told about
  EXPECT_EQ(16, Enumerate(buffers, 1, 16));
  for (int i = 0; i < 16; ++i) EXPECT_EQ(kUsb + "#" + std::to_string(i), buffers.Path(i));
  EXPECT_TRUE(buffers.Untouched(16));
  // The 17th disk is not even tested.
  for (const auto& r : bridge.requests()) EXPECT_NE(kUsb + "#16", r.path);

  bridge.ClearRequests();
  PathBuffers none(1);
  EXPECT_EQ(0, EnumerateBridgeDisks(none.pointers.data(), 0, 256, 1));
  EXPECT_TRUE(none.Untouched(0));
  EXPECT_TRUE(bridge.requests().empty());
}

TEST_F(EnumerationTest, PathTooLongForItsBufferIsDroppedNotCut) {
  std::string fits = kUsb;
  fits.resize(255, 'a');  // 255 characters and the NUL: exactly a buffer
  std::string too_long = kUsb;
  too_long.resize(256, 'b');
  Add(too_long);
  Add(fits);
  Add(kUas);
  PathBuffers buffers(16);
  ASSERT_EQ(2, Enumerate(buffers));
  EXPECT_EQ(fits, buffers.Path(0));
  EXPECT_EQ(kUas, buffers.Path(1));
  for (const auto& r : bridge.requests()) EXPECT_NE(too_long, r.path);
}

TEST_F(EnumerationTest, BusPrefixOfAWindowsPath) {
  struct Case {
    std::string path;
    const char* prefix;
  };
  const Case cases[] = {
      {kUsb, "<<USB>> "},
      {kUas, "<<UASP>> "},
      {kSbp2, "<<1394>> "},
      {"\\\\?\\sbp2#scsi&quorvel#1" + kGuid, "<<1394>> "},  // "sbp2" is tested first
      {"\\\\?\\USBSTOR#DISK&VEN_SCSI#1" + kGuid, "<<UASP>> "},
      {"\\\\?\\HID#nothing#1" + kGuid, "<<USB>> "},
  };
  for (const auto& c : cases) EXPECT_STREQ(c.prefix, BusPrefixForPath(c.path.c_str())) << c.path;
}

}  // namespace
}  // namespace qvb
