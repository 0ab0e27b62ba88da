// The scan and the status read that the command line shares with the window.
#include <gtest/gtest.h>

#include "cli/access_monitor.h"
#include "firmware/device_status.h"
#include "tests/cli/cli_harness.h"

namespace qvb::cli::test {
namespace {

TEST(DeviceStatus, NameTextCarriesOverAFailedInquiryAsTheWindowListShowsIt) {
  InstalledBridge devices(Qvb886(kDiskA, "133.1.0.3") +
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
  InstalledBridge devices("[device]\npath = " + std::string(kDiskA) + unknown +
                          "[device]\npath = " + kDiskB + unknown);
  const DiskScan scan = ScanBridgeDisks();
  ASSERT_EQ(scan.ListedCount(), 0);
  ASSERT_NE(scan.StatusTarget(), nullptr);
  EXPECT_EQ(scan.StatusTarget()->path, LowerCase(kDiskB));
}

TEST(DeviceStatus, FlashIdentificationOnlyForConfigurations013) {
  for (int config = 0; config <= 5; ++config) {
    InstalledBridge devices(
        Qvb886(kDiskA, "133.1.0.3", "config = 0" + std::to_string(config) + " 00 00 00\n"));
    const DeviceStatus status = ReadDeviceStatus(kDiskA);
    EXPECT_EQ(status.outcome, StatusRead::Read);
    const bool expected = config == 0 || config == 1 || config == 3;
    EXPECT_EQ(devices.Count("flash_id"), expected ? 1 : 0) << config;
  }
}

}  // namespace
}  // namespace qvb::cli::test
