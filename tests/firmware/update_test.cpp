// The whole update against the virtual bridge with the carried image.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "device/firmware_image.h"
#include "firmware/update.h"
#include "tests/support/damaged_image.h"
#include "tests/support/fake_system.h"
#include "tests/support/watching_host.h"
#include "virtual_bridge/virtual_bridge.h"

namespace qvb {
namespace {

constexpr const char* kPath = "\\\\?\\usbstor#disk&ven_quorvel&prod_qvb886#1#{53f56307}";

std::vector<uint8_t> CarriedImage() {
  std::vector<uint8_t> image(kFirmwareImageSize);
  EXPECT_EQ(kFirmwareImageSize, LoadFirmwareImage(image.data(), 0, 0));
  return image;
}

class UpdateTest : public ::testing::Test {
 protected:
  UpdateTest() : bridge({virt::MakeQvb886(kPath, {133, 1, 0, 3})}) {}
  virt::DeviceModel& model() { return bridge.devices()[0]; }
  int Count(const std::string& name, int mode = -1) {
    int n = 0;
    for (const auto& r : bridge.requests())
      if (virt::CommandName(r.cdb) == name && (mode < 0 || r.cdb[1] == mode)) ++n;
    return n;
  }
  bool FlashHoldsImage() {
    const auto image = CarriedImage();
    return std::equal(image.begin(), image.begin() + 0x10400, model().flash.begin());
  }
  virt::VirtualBridge bridge;
  ScopedSeams installed{HostSeams{.scsi = &bridge}};
  testing::FakeSystem system;
};

TEST_F(UpdateTest, NormalPathWritesReadsAndCompares) {
  UpdateObserver observer;
  ASSERT_EQ(1, UpdateFirmware(&observer, kPath));
  EXPECT_TRUE(FlashHoldsImage());
  EXPECT_EQ(1, Count("info"));
  EXPECT_EQ(65, Count("write_buffer", 0x0E));
  EXPECT_EQ(65, Count("read_buffer", 1));
  EXPECT_EQ(2, Count("read_buffer", 3));
  EXPECT_EQ(0, Count("write_buffer", 0x0F));
  EXPECT_EQ(0, Count("request_sense"));
}

TEST_F(UpdateTest, InformationBlockFailureSendsNothingElse) {
  model().info.reset();
  EXPECT_EQ(0, UpdateFirmware(nullptr, kPath));
  EXPECT_EQ((std::vector<std::string>{"inquiry", "info"}), bridge.CommandNames());
}

TEST_F(UpdateTest, CompareWindow) {
  struct Case {
    uint32_t position;
    bool passes;
  };
  const Case cases[] = {{0, false},    {511, false},     {512, true},     {1023, true},
                        {1024, false}, {0x103FF, false}, {0x10400, true}, {0x105FF, true}};
  for (const auto& c : cases) {
    virt::VirtualBridge fresh({virt::MakeQvb886(kPath, {133, 1, 0, 3})});
    fresh.devices()[0].capacity = 0x10600;  // written and read back whole
    fresh.devices()[0].bad_cells = {c.position};
    ScopedSeams scope{HostSeams{.scsi = &fresh}};
    EXPECT_EQ(c.passes ? 1 : 0, UpdateFirmware(nullptr, kPath)) << c.position;
    int writes = 0;
    for (const auto& r : fresh.requests())
      if (virt::CommandName(r.cdb) == "write_buffer") ++writes;
    EXPECT_EQ(c.passes ? 66 : 132, writes) << "a failed compare writes the image twice";
  }
}

TEST_F(UpdateTest, SecondAttemptAfterAFailedPiece) {
  virt::Fault fault;
  fault.command = "write_buffer";
  fault.from_request = 20;
  fault.times = 1;
  bridge.AddFault(fault);
  EXPECT_EQ(1, UpdateFirmware(nullptr, kPath));
  EXPECT_TRUE(FlashHoldsImage());
  EXPECT_EQ(3, Count("read_buffer", 3)) << "two downloads and one read-back";
}

TEST_F(UpdateTest, DeviceGoneMidUpdateFailsWithoutRetryingForever) {
  virt::Fault fault;
  fault.kind = virt::FaultKind::Vanish;
  fault.from_request = 30;
  bridge.AddFault(fault);
  EXPECT_EQ(0, UpdateFirmware(nullptr, kPath));
  EXPECT_EQ(30u, bridge.requests().size());
}

// The carried images as they are, with or without a test loader in the build.
FirmwareResource CarriedWithoutLoader(CarriedImages& carried, const char* name) {
  if (std::string(name) == kLoaderImageName) return {};
  return carried.Find(name);
}

// The carried images and a 64 KiB test loader.
FirmwareResource CarriedWithLoader(CarriedImages& carried, const char* name) {
  static const std::vector<uint8_t> loader = [] {
    std::vector<uint8_t> bytes(kLoaderImageSize);
    for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<uint8_t>(i ^ 0x5A);
    return bytes;
  }();
  if (std::string(name) == kLoaderImageName) return {true, loader.data(), kLoaderImageSize};
  return carried.Find(name);
}

using ScopedLookup = testing::ScopedImageLookup;

TEST_F(UpdateTest, LoaderPathAsCarriedSendsOneDescriptorReadPerAttempt) {
  ScopedLookup carried(CarriedWithoutLoader);
  (*model().info)[6] = 0;
  EXPECT_EQ(0, UpdateFirmware(nullptr, kPath));
  EXPECT_EQ((std::vector<std::string>{"inquiry", "info", "read_buffer", "read_buffer"}),
            bridge.CommandNames());
  EXPECT_TRUE(system.sleeps.empty());
}

class LoaderPathTest : public UpdateTest {
 protected:
  LoaderPathTest() { (*model().info)[6] = 0; }
  ScopedLookup with_loader{CarriedWithLoader};
};

TEST_F(LoaderPathTest, LoaderThenControlThenPieces) {
  ASSERT_EQ(1, UpdateFirmware(nullptr, kPath));
  EXPECT_TRUE(FlashHoldsImage());
  // After the test-device mark (this is a test build), the procedure's own commands.
  ASSERT_GE(bridge.requests().size(), 7u);
  EXPECT_EQ("inquiry", virt::CommandName(bridge.requests()[0].cdb));
  const std::vector<virt::Request> r(bridge.requests().begin() + 1, bridge.requests().end());
  EXPECT_EQ("info", virt::CommandName(r[0].cdb));
  EXPECT_EQ((std::vector<uint8_t>{0x3C, 0x03, 0, 0, 0, 0, 0, 0, 4, 0}), r[1].cdb);
  EXPECT_EQ((std::vector<uint8_t>{0x3B, 0x06, 0, 0, 0, 0, 0x01, 0x00, 0x00, 0}), r[2].cdb);
  EXPECT_EQ(kLoaderImageSize, r[2].data_out.size());
  EXPECT_EQ(0x5A, r[2].data_out[0]);
  EXPECT_EQ((std::vector<uint8_t>{0xDF, 0x03, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xFB}), r[3].cdb);
  EXPECT_EQ(100u, r[3].timeout);
  EXPECT_FALSE(r[3].has_buffer);
  EXPECT_EQ("read_buffer", virt::CommandName(r[4].cdb));
  EXPECT_EQ((std::vector<uint32_t>{2000, 500}), system.sleeps);
  EXPECT_EQ(65, Count("write_buffer", 0x0E));
}

TEST_F(LoaderPathTest, LastPieceBeyondTheLengthIsZeros) {
  model().capacity = 67584;
  ASSERT_EQ(1, UpdateFirmware(nullptr, kPath));
  const virt::Request* last = nullptr;
  int pieces = 0;
  for (const auto& r : bridge.requests())
    if (virt::CommandName(r.cdb) == "write_buffer" && r.cdb[1] == 0x0E) {
      last = &r;
      ++pieces;
    }
  ASSERT_EQ(66, pieces);
  ASSERT_EQ(1024u, last->data_out.size());
  EXPECT_TRUE(
      std::all_of(last->data_out.begin(), last->data_out.end(), [](uint8_t b) { return b == 0; }));
}

TEST_F(LoaderPathTest, FailedPieceStartsTheNextTryFromControl) {
  virt::Fault fault;
  fault.command = "write_buffer";
  fault.from_request = 11;  // a piece of the first try (request 0 reads the test mark)
  fault.times = 1;
  bridge.AddFault(fault);
  ASSERT_EQ(1, UpdateFirmware(nullptr, kPath));
  EXPECT_EQ(2, Count("control"));
  EXPECT_EQ(1, Count("write_buffer", 0x06)) << "the loader is written once per download";
  EXPECT_EQ((std::vector<uint32_t>{2000, 500, 500}), system.sleeps);
  // Pieces restart at offset 0 after the failed one.
  std::vector<uint32_t> offsets;
  for (const auto& r : bridge.requests())
    if (virt::CommandName(r.cdb) == "write_buffer" && r.cdb[1] == 0x0E)
      offsets.push_back((uint32_t{r.cdb[3]} << 16) | (uint32_t{r.cdb[4]} << 8) | r.cdb[5]);
  ASSERT_GT(offsets.size(), 7u);
  EXPECT_EQ(0u, offsets[6]) << "the seventh piece is the second try's first";
}

TEST_F(LoaderPathTest, FirstDescriptorMustAskForTheLoader) {
  struct Case {
    const char* what;
    uint8_t boundary;
    uint32_t capacity;
  };
  // The bridge's first descriptor is forced through a short-lived model change: a bridge that
  // does not ask for the loader answers its ordinary descriptor.
  const Case cases[] = {{"boundary 0x0A", 0x0A, 0xC400}, {"capacity 0xC3FF", 0xFF, 0xC3FF}};
  for (const auto& c : cases) {
    virt::VirtualBridge fresh({virt::MakeQvb886(kPath, {133, 1, 0, 3})});
    fresh.devices()[0].descriptor_boundary = c.boundary;
    fresh.devices()[0].capacity = c.capacity;
    ScopedSeams scope{HostSeams{.scsi = &fresh}};
    std::vector<uint8_t> staging(kStagingAreaSize, 0x33);
    EXPECT_EQ(0, DownloadFirmware(kPath, 0, staging.data(), kStagingAreaSize, kDownloadLength, 1))
        << c.what;
    EXPECT_EQ(std::vector<std::string>{"read_buffer"}, fresh.CommandNames()) << c.what;
  }
}

// The size the bridge reports after the loader is bounded by the data the pieces come from,
// as on the normal path: a refused size ends the download before any piece and without
// another try.
TEST_F(LoaderPathTest, DownloadSizeAfterTheLoaderIsBoundedByTheData) {
  struct Case {
    const char* what;
    uint32_t capacity;
    bool accepted;
  };
  const Case cases[] = {
      {"capacity 0", 0, false},
      {"one byte beyond the staging area", kStagingAreaSize + 1, false},
      {"largest capacity a descriptor holds", 0xFFFFFF, false},
      {"the whole staging area", kStagingAreaSize, true},
  };
  const std::vector<uint8_t> staging(kStagingAreaSize, 0x33);
  for (const auto& c : cases) {
    virt::VirtualBridge fresh({virt::MakeQvb886(kPath, {133, 1, 0, 3})});
    (*fresh.devices()[0].info)[6] = 0;
    fresh.devices()[0].capacity = c.capacity;
    ScopedSeams scope{HostSeams{.scsi = &fresh}};
    EXPECT_EQ(c.accepted ? 1 : 0,
              DownloadFirmware(kPath, 0, staging.data(), kStagingAreaSize, kDownloadLength, 1))
        << c.what;
    int loader = 0, controls = 0, pieces = 0;
    for (const auto& r : fresh.requests()) {
      const std::string name = virt::CommandName(r.cdb);
      if (name == "write_buffer" && r.cdb[1] == 0x06) ++loader;
      if (name == "write_buffer" && r.cdb[1] == 0x0E) ++pieces;
      if (name == "control") ++controls;
    }
    EXPECT_EQ(1, loader) << c.what;
    EXPECT_EQ(1, controls) << c.what << ": no further try after a refused size";
    EXPECT_EQ(c.accepted ? 512 : 0, pieces) << c.what;
  }
}

// Another carried image, of the same size, under the update image's name.
FirmwareResource WrongImage(CarriedImages& carried, const char* name) {
  if (std::string(name) == kFirmwareImageName) return carried.Find("QVB886_FW_133_01_00_03");
  return carried.Find(name);
}

struct DamageSeen : UpdateObserver {
  int reports = 0;
  void OnImageDamaged() override { ++reports; }
};

TEST_F(UpdateTest, AnImageThatIsNotTheOneCarriedIsNeverSent) {
  for (testing::ImageLookup lookup : {testing::DamagedImage, WrongImage}) {
    bridge.ClearRequests();
    ScopedLookup damaged(lookup);
    DamageSeen observer;
    EXPECT_EQ(0, UpdateFirmware(&observer, kPath));
    EXPECT_TRUE(bridge.requests().empty()) << "nothing at all reaches the device";
    EXPECT_EQ(1, observer.reports);
    EXPECT_EQ(0, system.sleep_inhibits);
  }
  // The image as carried passes the same check.
  bridge.ClearRequests();
  DamageSeen observer;
  EXPECT_EQ(1, UpdateFirmware(&observer, kPath));
  EXPECT_EQ(0, observer.reports);
}

// Sleep is held back for every write and allowed again once the update has ended, whichever
// way it ends.
TEST_F(UpdateTest, SleepIsHeldBackForEveryWriteAndAllowedAfter) {
  struct Case {
    const char* what;
    bool loader;
    std::vector<virt::Fault> faults;
    int result;
  };
  virt::Fault always;
  always.command = "write_buffer";
  always.from_request = 10;
  always.times = -1;
  virt::Fault vanish;
  vanish.kind = virt::FaultKind::Vanish;
  vanish.from_request = 30;
  const Case cases[] = {
      {"normal path", false, {}, 1},
      {"loader path", true, {}, 1},
      {"a piece fails in both attempts", false, {always}, 0},
      {"the device vanishes", false, {vanish}, 0},
  };
  for (const Case& c : cases) {
    virt::VirtualBridge fresh({virt::MakeQvb886(kPath, {133, 1, 0, 3})});
    if (c.loader) (*fresh.devices()[0].info)[6] = 0;
    for (const auto& fault : c.faults) fresh.AddFault(fault);
    int writes = 0, writes_awake = 0;
    testing::WatchingHost watching(fresh, [&](const ScsiRequest& request) {
      if (!testing::IsWriteBuffer(request)) return;
      ++writes;
      if (system.sleep_inhibited) ++writes_awake;
    });
    ScopedSeams scope{HostSeams{.scsi = &watching}};
    ScopedLookup lookup(c.loader ? CarriedWithLoader : CarriedWithoutLoader);
    system.sleep_inhibits = system.sleep_allows = 0;

    EXPECT_EQ(c.result, UpdateFirmware(nullptr, kPath)) << c.what;
    EXPECT_GT(writes, 0) << c.what;
    EXPECT_EQ(writes, writes_awake) << c.what;
    EXPECT_EQ(1, system.sleep_inhibits) << c.what;
    EXPECT_EQ(1, system.sleep_allows) << c.what;
    EXPECT_FALSE(system.sleep_inhibited) << c.what;
  }
}

TEST_F(UpdateTest, NothingWrittenNothingHeldBack) {
  model().info.reset();
  EXPECT_EQ(0, UpdateFirmware(nullptr, kPath));
  EXPECT_EQ(0, system.sleep_inhibits);
  EXPECT_EQ(0, system.sleep_allows);
}

TEST_F(UpdateTest, WithoutSleepInhibitionTheUpdateGoesOn) {
  system.sleep_refusal = "no logind";
  EXPECT_EQ(1, UpdateFirmware(nullptr, kPath));
  EXPECT_TRUE(FlashHoldsImage());
  EXPECT_EQ(1, system.sleep_inhibits);
  EXPECT_EQ(0, system.sleep_allows) << "nothing to end";
}

}  // namespace
}  // namespace qvb
