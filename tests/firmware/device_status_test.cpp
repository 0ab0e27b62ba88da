// The scan and the status read that the window and the command line share.
#include <gtest/gtest.h>

#include <cctype>
#include <string>

#include "device/seams.h"
#include "firmware/device_status.h"
#include "tests/support/fake_system.h"
#include "virtual_bridge/scenario.h"
#include "virtual_bridge/virtual_bridge.h"

namespace qvb {
namespace {

constexpr const char* kDiskA =
    "\\\\?\\usbstor#disk&ven_quorvel&prod_qvb886#0001#{53f56307-b6bf-11d0-94f2-00a0c91efb8b}";
constexpr const char* kDiskB =
    "\\\\?\\usbstor#disk&ven_quorvel&prod_qvb886#0002#{53f56307-b6bf-11d0-94f2-00a0c91efb8b}";

std::string Qvb886(const std::string& path, const std::string& version,
                   const std::string& extra = "") {
  return "[device]\npath = " + path + "\npreset = qvb886\nversion = " + version +
         "\nvendor = Quorvel\nproduct = QVB886 NVMe\n" + extra;
}

std::string Lower(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

// A scenario's bridge behind the SCSI and disk-interface seams for the life of the object.
struct Devices {
  explicit Devices(const std::string& scenario) {
    const virt::ScenarioResult loaded = virt::LoadScenarioText(scenario, bridge);
    EXPECT_TRUE(loaded.ok) << loaded.error;
  }
  int Count(const std::string& command) const {
    int n = 0;
    for (const auto& name : bridge.CommandNames()) n += name == command ? 1 : 0;
    return n;
  }
  virt::VirtualBridge bridge;
  ScopedSeams installed{HostSeams{.scsi = &bridge, .disks = &bridge}};
};

TEST(DeviceStatus, NameTextCarriesOverAFailedInquiryAsTheWindowListShowsIt) {
  Devices devices(Qvb886(kDiskA, "133.1.0.3") +
                  Qvb886(kDiskB, "133.1.0.3", "inquiry = fail\ninquiry_model = none\n"));
  const DiskScan scan = ScanBridgeDisks();
  ASSERT_EQ(scan.disk_count, 2);
  ASSERT_EQ(scan.disks.size(), 2u);
  EXPECT_EQ(scan.disks[0].name_text, "Quorvel QVB886 NVMe     ");
  EXPECT_FALSE(scan.disks[1].inquiry_ok);
  EXPECT_TRUE(scan.disks[1].vendor.empty());
  EXPECT_EQ(scan.disks[1].name_text, scan.disks[0].name_text);
}

TEST(DeviceStatus, WithNoDiskListedTheLastExaminedIsTheTarget) {
  const std::string unknown = "\npreset = bridge\n";
  Devices devices("[device]\npath = " + std::string(kDiskA) + unknown +
                  "[device]\npath = " + kDiskB + unknown);
  const DiskScan scan = ScanBridgeDisks();
  ASSERT_EQ(scan.ListedCount(), 0);
  ASSERT_NE(scan.StatusTarget(), nullptr);
  EXPECT_EQ(scan.StatusTarget()->path, Lower(kDiskB));
}

TEST(DeviceStatus, FlashIdentificationOnlyForConfigurations013) {
  for (int config = 0; config <= 5; ++config) {
    Devices devices(
        Qvb886(kDiskA, "133.1.0.3", "config = 0" + std::to_string(config) + " 00 00 00\n"));
    const DeviceStatus status = ReadDeviceStatus(kDiskA);
    EXPECT_EQ(status.outcome, StatusRead::Read);
    const bool expected = config == 0 || config == 1 || config == 3;
    EXPECT_EQ(devices.Count("flash_id"), expected ? 1 : 0) << config;
  }
}

// The bus travels with each scanned disk, in the enumeration's order.
TEST(DeviceStatus, EachDiskCarriesItsBus) {
  const std::string usb = "\\\\?\\usbstor#disk&ven_q&prod_1#0001#{53f56307}";
  const std::string uasp = "\\\\?\\scsi#disk&ven_q&prod_2#0002#{53f56307}";
  const std::string ieee1394 = "\\\\?\\sbp2#scsi&ven_q&prod_3#0003#{53f56307}";
  Devices devices(Qvb886(usb, "133.1.0.3") + Qvb886(uasp, "133.1.0.3") +
                  Qvb886(ieee1394, "133.1.0.3"));
  const DiskScan scan = ScanBridgeDisks();
  ASSERT_EQ(scan.disks.size(), 3u);
  EXPECT_EQ(scan.disks[0].bus, Bus::Usb);
  EXPECT_EQ(scan.disks[1].bus, Bus::Uasp);
  EXPECT_EQ(scan.disks[2].bus, Bus::Ieee1394);
}

}  // namespace
}  // namespace qvb
