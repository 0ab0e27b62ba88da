#include "device/linux/disk_interfaces_linux.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <system_error>

#include "device/path_identity.h"
#include "device/platform_host.h"

namespace qvb::linux_host {
namespace fs = std::filesystem;
namespace {

constexpr int kMaxAncestors = 64;
constexpr std::size_t kMaxSerialLength = 512;  // a USB string descriptor is far shorter

// "sgN" with N decimal; -1 for any other name.
int SgNumber(const std::string& name) {
  if (name.size() < 3 || name.compare(0, 2, "sg") != 0 || name.size() > 11) return -1;
  int number = 0;
  for (std::size_t i = 2; i < name.size(); ++i) {
    if (!std::isdigit(static_cast<unsigned char>(name[i]))) return -1;
    number = number * 10 + (name[i] - '0');
  }
  return number;
}

// The SCSI peripheral types the disk driver takes: direct access, optical memory, reduced
// block commands, zoned block.
bool IsDiskType(const fs::path& scsi_device) {
  std::ifstream in(scsi_device / "type");
  int type = -1;
  if (!(in >> type)) return false;
  return type == 0x00 || type == 0x07 || type == 0x0E || type == 0x14;
}

const char* MarkerOfDriver(const std::string& driver) {
  if (driver == "usb-storage") return "usbsto";
  if (driver == "uas") return "scsi";
  if (driver == "firewire_sbp2") return "sbp2";
  return nullptr;
}

bool Within(const fs::path& path, const fs::path& top) {
  auto p = path.begin();
  for (auto t = top.begin(); t != top.end(); ++t, ++p)
    if (p == path.end() || *p != *t) return false;
  return true;
}

// The first bus driver of ours bound to the SCSI device or one of its parents, and where.
struct BusDriver {
  const char* marker = "";
  fs::path bound;  // the device folder the driver is bound to; empty when none was found
};

BusDriver FindBusDriver(const fs::path& sysfs_root, const fs::path& scsi_device) {
  std::error_code ec;
  const fs::path device = fs::canonical(scsi_device, ec);
  if (ec) return {};
  fs::path top = fs::canonical(sysfs_root / "devices", ec);
  if (ec) top = fs::canonical(sysfs_root, ec);
  if (ec) return {};
  fs::path at = device;
  for (int depth = 0; depth < kMaxAncestors && Within(at, top); ++depth) {
    const fs::path driver = at / "driver";
    if (fs::is_symlink(driver, ec)) {
      const fs::path target = fs::read_symlink(driver, ec);
      if (!ec) {
        if (const char* marker = MarkerOfDriver(target.filename().string())) return {marker, at};
      }
    }
    if (at == top || !at.has_parent_path() || at.parent_path() == at) break;
    at = at.parent_path();
  }
  return {};
}

const char* MarkerOf(const fs::path& sysfs_root, const fs::path& scsi_device) {
  return FindBusDriver(sysfs_root, scsi_device).marker;
}

// The serial number of the USB device behind a SCSI device: usb-storage and uas are bound to one
// of its interfaces, and the serial is an attribute of the device above that interface. "" when
// the disk is not on USB or its device has no serial. The text comes from the device: it is
// read up to a bound and only ever compared.
std::string SerialOf(const fs::path& sysfs_root, const fs::path& scsi_device) {
  const BusDriver bus = FindBusDriver(sysfs_root, scsi_device);
  if (bus.bound.empty() || std::strcmp(bus.marker, "sbp2") == 0) return "";
  std::ifstream in(bus.bound.parent_path() / "serial", std::ios::binary);
  if (!in) return "";
  std::string serial(kMaxSerialLength, '\0');
  in.read(serial.data(), static_cast<std::streamsize>(serial.size()));
  serial.resize(static_cast<std::size_t>(in.gcount()));
  while (!serial.empty() && std::isspace(static_cast<unsigned char>(serial.back())))
    serial.pop_back();
  return serial;
}

// The scsi_generic name ("sg3") of a <dev root>/sgN path in any letter case, or "".
std::string SgNameOf(const std::string& dev_root, const char* device_path) {
  if (!device_path) return "";
  const std::string prefix = dev_root + "/";
  const std::string path = LowerCase(device_path);
  if (path.size() <= prefix.size() ||
      !SamePath(std::string_view(path).substr(0, prefix.size()), prefix))
    return "";
  const std::string name = path.substr(prefix.size());
  return SgNumber(name) < 0 ? "" : name;
}

class SysfsWalk : public DiskInterfaceWalk {
 public:
  explicit SysfsWalk(std::vector<SysfsDisk> disks) : disks_(std::move(disks)) {}
  bool Read(uint32_t index, DiskInterface& entry) override {
    if (index >= disks_.size()) return false;
    entry.device_path = disks_[index].device_path.c_str();
    entry.bus_text = disks_[index].marker;
    return true;
  }

 private:
  std::vector<SysfsDisk> disks_;
};

}  // namespace

bool SysfsDiskInterfaces::ListDisks(std::vector<SysfsDisk>& disks) const {
  disks.clear();
  const fs::path root(sysfs_root_);
  const fs::path class_dir = root / "class" / "scsi_generic";
  std::error_code ec;
  fs::directory_iterator it(class_dir, ec);
  if (ec) return false;
  for (const fs::directory_iterator end; it != end; it.increment(ec)) {
    if (ec) break;
    const std::string name = it->path().filename().string();
    const int number = SgNumber(name);
    if (number < 0) continue;
    const fs::path scsi_device = class_dir / name / "device";
    if (!IsDiskType(scsi_device)) continue;
    disks.push_back(
        {number, dev_root_ + "/" + name, MarkerOf(root, scsi_device), SerialOf(root, scsi_device)});
  }
  std::sort(disks.begin(), disks.end(),
            [](const SysfsDisk& a, const SysfsDisk& b) { return a.sg_number < b.sg_number; });
  return true;
}

std::unique_ptr<DiskInterfaceWalk> SysfsDiskInterfaces::Walk() {
  std::vector<SysfsDisk> disks;
  if (!ListDisks(disks)) return nullptr;
  return std::make_unique<SysfsWalk>(std::move(disks));
}

const char* SysfsDiskInterfaces::BusText(const char* device_path) {
  if (!device_path) return "";
  // The refresh may have lower-cased the path: compare the folder without regard to case.
  const std::string name = SgNameOf(dev_root_, device_path);
  if (name.empty()) return device_path;
  return MarkerOf(fs::path(sysfs_root_),
                  fs::path(sysfs_root_) / "class" / "scsi_generic" / name / "device");
}

std::string SysfsDiskInterfaces::SerialNumber(const char* device_path) {
  const std::string name = SgNameOf(dev_root_, device_path);
  if (name.empty()) return "";
  return SerialOf(fs::path(sysfs_root_),
                  fs::path(sysfs_root_) / "class" / "scsi_generic" / name / "device");
}

}  // namespace qvb::linux_host

namespace qvb {

DiskInterfaces& PlatformDiskInterfaces() {
  static linux_host::SysfsDiskInterfaces interfaces;
  return interfaces;
}

}  // namespace qvb
