#include "device/linux/disk_interfaces_linux.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "device/enumeration.h"
#include "device/seams.h"
#include "tests/support/fake_system.h"
#include "virtual_bridge/bridge_family.h"
#include "virtual_bridge/virtual_bridge.h"

namespace qvb {
namespace {
namespace fs = std::filesystem;

// A sysfs tree in a temporary folder, laid out as the kernel does: SCSI devices below their
// host adapter's bus device, scsi_generic class links, driver links to bus/*/drivers.
class FakeSysfs {
 public:
  FakeSysfs() {
    std::string pattern = (fs::temp_directory_path() / "qvb-sysfs-XXXXXX").string();
    if (mkdtemp(pattern.data())) root_ = pattern;
    fs::create_directories(root_ / "class" / "scsi_generic");
  }
  ~FakeSysfs() {
    std::error_code ec;
    if (!root_.empty()) fs::remove_all(root_, ec);
  }
  FakeSysfs(const FakeSysfs&) = delete;
  FakeSysfs& operator=(const FakeSysfs&) = delete;

  const fs::path& root() const { return root_; }

  // Binds the device folder `device` (below devices/) to `bus`'s driver `driver`.
  void Bind(const std::string& device, const std::string& bus, const std::string& driver) {
    const fs::path at = root_ / "devices" / device;
    const fs::path target = root_ / "bus" / bus / "drivers" / driver;
    fs::create_directories(at);
    fs::create_directories(target);
    fs::create_symlink(fs::relative(target, at), at / "driver");
  }

  // Writes the attribute file `name` of the device folder `device` (below devices/).
  void WriteAttribute(const std::string& device, const std::string& name,
                      const std::string& value) {
    std::ofstream(root_ / "devices" / device / name, std::ios::binary) << value;
  }

  // A SCSI device of peripheral type `type` below `parent` with its generic node sgN.
  void AddScsiDevice(const std::string& parent, const std::string& hctl, int type, int sg) {
    const std::string host = "host" + hctl.substr(0, hctl.find(':'));
    const std::string target = "target" + hctl.substr(0, hctl.rfind(':'));
    const fs::path device = root_ / "devices" / parent / host / target / hctl;
    const std::string name = "sg" + std::to_string(sg);
    fs::create_directories(device / "scsi_generic" / name);
    std::ofstream(device / "type") << type << "\n";
    Bind(parent + "/" + host + "/" + target + "/" + hctl, "scsi", type == 5 ? "sr" : "sd");
    fs::create_symlink(fs::relative(device, device / "scsi_generic" / name),
                       device / "scsi_generic" / name / "device");
    const fs::path link = root_ / "class" / "scsi_generic" / name;
    fs::create_symlink(fs::relative(device / "scsi_generic" / name, link.parent_path()), link);
  }

 private:
  fs::path root_;
};

constexpr const char* kUsbHost = "pci0000:00/0000:00:14.0/usb2";
constexpr const char* kFirewire = "pci0000:00/0000:00:1c.0/0000:05:00.0/fw1";

class SysfsDiskInterfacesTest : public ::testing::Test {
 protected:
  SysfsDiskInterfacesTest() {
    const std::string usb = kUsbHost;
    sysfs.Bind(usb + "/2-1", "usb", "usb");
    sysfs.Bind(usb + "/2-1/2-1:1.0", "usb", "usb-storage");
    sysfs.AddScsiDevice(usb + "/2-1/2-1:1.0", "6:0:0:0", 0, 2);
    sysfs.Bind(usb + "/2-2/2-2:1.0", "usb", "uas");
    sysfs.AddScsiDevice(usb + "/2-2/2-2:1.0", "7:0:0:0", 0, 0);
    sysfs.Bind("pci0000:00/0000:00:17.0", "pci", "ahci");
    sysfs.AddScsiDevice("pci0000:00/0000:00:17.0/ata1", "0:0:0:0", 0, 1);
    // A USB optical drive: not a disk, so not in the list at all.
    sysfs.Bind(usb + "/2-3/2-3:1.0", "usb", "usb-storage");
    sysfs.AddScsiDevice(usb + "/2-3/2-3:1.0", "9:0:0:0", 5, 3);
    // A reduced-block-commands disk behind usb-storage is a disk.
    sysfs.Bind(usb + "/2-4/2-4:1.0", "usb", "usb-storage");
    sysfs.AddScsiDevice(usb + "/2-4/2-4:1.0", "10:0:0:0", 14, 4);
    sysfs.Bind(std::string(kFirewire) + "/fw1.0", "firewire", "firewire_sbp2");
    sysfs.AddScsiDevice(std::string(kFirewire) + "/fw1.0", "8:0:0:0", 0, 10);
  }

  FakeSysfs sysfs;
  linux_host::SysfsDiskInterfaces interfaces{sysfs.root().string(), "/dev"};
};

TEST_F(SysfsDiskInterfacesTest, ListsDisksBySgNumberWithTheirBusMarker) {
  std::vector<linux_host::SysfsDisk> disks;
  ASSERT_TRUE(interfaces.ListDisks(disks));
  std::vector<std::pair<std::string, std::string>> seen;
  for (const auto& d : disks) seen.emplace_back(d.device_path, d.marker);
  const std::vector<std::pair<std::string, std::string>> expected = {
      {"/dev/sg0", "scsi"},   {"/dev/sg1", ""},      {"/dev/sg2", "usbsto"},
      {"/dev/sg4", "usbsto"}, {"/dev/sg10", "sbp2"},
  };
  EXPECT_EQ(expected, seen);

  // The walk gives the same, and ends after the last disk.
  auto walk = interfaces.Walk();
  ASSERT_TRUE(walk);
  DiskInterface entry;
  for (uint32_t i = 0; i < expected.size(); ++i) {
    ASSERT_TRUE(walk->Read(i, entry));
    EXPECT_EQ(expected[i].first, entry.device_path);
    EXPECT_EQ(expected[i].second, entry.bus_text);
  }
  EXPECT_FALSE(walk->Read(static_cast<uint32_t>(expected.size()), entry));
}

TEST_F(SysfsDiskInterfacesTest, UsbSerialNumberComesFromTheDeviceAboveTheBoundInterface) {
  const std::string usb = kUsbHost;
  sysfs.WriteAttribute(usb, "serial", "0000:00:14.0\n");  // the root hub's, never a disk's
  sysfs.WriteAttribute(usb + "/2-1", "serial", "QVB886000001\n");
  sysfs.WriteAttribute(usb + "/2-2", "serial", "QVB886000002");
  // 2-4 has no serial; the firewire disk and the SATA disk are not on USB.
  sysfs.WriteAttribute(std::string(kFirewire), "serial", "not-usb\n");

  const std::vector<std::pair<std::string, std::string>> expected = {
      {"/dev/sg0", "QVB886000002"},
      {"/dev/sg1", ""},
      {"/dev/sg2", "QVB886000001"},
      {"/dev/sg4", ""},
      {"/dev/sg10", ""},
  };
  std::vector<linux_host::SysfsDisk> disks;
  ASSERT_TRUE(interfaces.ListDisks(disks));
  std::vector<std::pair<std::string, std::string>> listed;
  for (const auto& d : disks) listed.emplace_back(d.device_path, d.serial);
  EXPECT_EQ(expected, listed);

  for (const auto& [path, serial] : expected)
    EXPECT_EQ(serial, interfaces.SerialNumber(path.c_str()));
  EXPECT_EQ("QVB886000001", interfaces.SerialNumber("/DEV/SG2")) << "the refresh lower-cases";
  EXPECT_EQ("", interfaces.SerialNumber("/dev/sda"));
  EXPECT_EQ("", interfaces.SerialNumber(nullptr));
}

TEST_F(SysfsDiskInterfacesTest, EnumerationKeepsUsbUasAndSbp2DisksOnly) {
  virt::VirtualBridge bridge;
  for (const char* path : {"/dev/sg0", "/dev/sg1", "/dev/sg2", "/dev/sg4", "/dev/sg10"})
    bridge.devices().push_back(virt::MakeBridge(path));
  ScopedSeams scsi{HostSeams{.scsi = &bridge}};
  ScopedSeams installed{HostSeams{.disks = &interfaces}};

  for (uint8_t flag : {uint8_t{1}, uint8_t{0}}) {
    bridge.ClearRequests();
    std::vector<std::vector<char>> storage(16, std::vector<char>(256, 0));
    std::vector<char*> paths;
    for (auto& s : storage) paths.push_back(s.data());
    const int count = EnumerateBridgeDisks(paths.data(), 16, 256, flag);
    std::vector<std::string> kept(paths.begin(), paths.begin() + count);
    std::vector<std::string> expected = {"/dev/sg0", "/dev/sg2", "/dev/sg4"};
    if (flag) expected.push_back("/dev/sg10");
    EXPECT_EQ(expected, kept) << "flag " << int{flag};
    for (const auto& r : bridge.requests()) EXPECT_NE("/dev/sg1", r.path) << "SATA disk probed";
  }
}

TEST_F(SysfsDiskInterfacesTest, BusPrefixMatchesTheWindowsPathOfTheSameKind) {
  virt::VirtualBridge windows;
  struct Case {
    const char* node;
    const char* windows_path;
    const char* prefix;
  };
  const Case cases[] = {
      {"/dev/sg2", "\\\\?\\usbstor#disk&ven_quorvel&prod_qvb886#0001#{53f56307}", "<<USB>> "},
      {"/dev/sg0", "\\\\?\\scsi#disk&ven_quorvel&prod_qvb886#0002#{53f56307}", "<<UASP>> "},
      {"/dev/sg10", "\\\\?\\sbp2#quorvel&qvb886&lun0#0003#{53f56307}", "<<1394>> "},
      {"/DEV/SG0", "\\\\?\\SCSI#DISK&VEN_QUORVEL#0002#{53f56307}", "<<UASP>> "},
  };
  for (const auto& c : cases) {
    {
      ScopedSeams installed{HostSeams{.disks = &interfaces}};
      EXPECT_STREQ(c.prefix, BusPrefixForPath(c.node)) << c.node;
    }
    ScopedSeams installed{HostSeams{.disks = &windows}};
    EXPECT_STREQ(c.prefix, BusPrefixForPath(c.windows_path)) << c.windows_path;
  }
  // A node that is gone, or not a generic node, has no bus of ours.
  ScopedSeams installed{HostSeams{.disks = &interfaces}};
  EXPECT_STREQ("<<USB>> ", BusPrefixForPath("/dev/sg7"));
  EXPECT_STREQ("", interfaces.BusText("/dev/sg7"));
  EXPECT_STREQ("/dev/sda", interfaces.BusText("/dev/sda"));
}

TEST(SysfsDiskInterfaces, MissingScsiGenericClassGivesNoList) {
  FakeSysfs sysfs;
  fs::remove_all(sysfs.root() / "class");
  linux_host::SysfsDiskInterfaces interfaces(sysfs.root().string(), "/dev");
  EXPECT_FALSE(interfaces.Walk());
  ScopedSeams installed{HostSeams{.disks = &interfaces}};
  std::vector<char> buffer(256, '#');
  char* paths[] = {buffer.data()};
  EXPECT_EQ(0, EnumerateBridgeDisks(paths, 1, 256, 1));
  EXPECT_EQ('#', buffer[0]);
}

}  // namespace
}  // namespace qvb
