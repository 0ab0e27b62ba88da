// The whole update against the virtual bridge with the carried image.
#include <gtest/gtest.h>

#include <vector>

#include "device/firmware_image.h"
#include "firmware/update.h"
#include "tests/support/fake_system.h"
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
  testing::ScopedScsiHost<virt::VirtualBridge> installed{bridge};
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
  EXPECT_EQ(std::vector<std::string>{"info"}, bridge.CommandNames());
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
    testing::ScopedScsiHost<virt::VirtualBridge> scope{fresh};
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

TEST_F(UpdateTest, LoaderPathAsCarriedSendsOneDescriptorReadPerAttempt) {
  (*model().info)[6] = 0;
  EXPECT_EQ(0, UpdateFirmware(nullptr, kPath));
  EXPECT_EQ((std::vector<std::string>{"info", "read_buffer", "read_buffer"}),
            bridge.CommandNames());
  EXPECT_TRUE(system.sleeps.empty());
}

}  // namespace
}  // namespace qvb
