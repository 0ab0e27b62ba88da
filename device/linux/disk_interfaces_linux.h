// The disk-interface seam on Linux: the SCSI generic nodes of disks, from sysfs. A disk's bus
// text is the marker of the driver bound below it: usb-storage gives "usbsto", uas "scsi",
// firewire_sbp2 "sbp2", any other bus "". A disk on USB also has the serial number of its USB
// device, where the device gives one: an sg number is reused once its disk has gone.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "device/disk_interfaces.h"

namespace qvb::linux_host {

struct SysfsDisk {
  int sg_number = 0;
  std::string device_path;  // <dev root>/sgN
  const char* marker = "";  // "usbsto", "scsi", "sbp2" or ""
  std::string serial;       // the USB device's serial number; "" when sysfs has none
};

class SysfsDiskInterfaces : public DiskInterfaces {
 public:
  // `sysfs_root` holds class/scsi_generic and devices; device paths are made under `dev_root`.
  explicit SysfsDiskInterfaces(std::string sysfs_root = "/sys", std::string dev_root = "/dev")
      : sysfs_root_(std::move(sysfs_root)), dev_root_(std::move(dev_root)) {}

  std::unique_ptr<DiskInterfaceWalk> Walk() override;
  // The marker of a <dev root>/sgN path; any other path is its own bus text.
  const char* BusText(const char* device_path) override;
  // The serial number of the USB device behind a <dev root>/sgN path; "" for any other path.
  std::string SerialNumber(const char* device_path) override;

  // The disks (SCSI generic nodes of a disk-type SCSI device), by rising sg number. False when
  // the scsi_generic class cannot be read.
  bool ListDisks(std::vector<SysfsDisk>& disks) const;

 private:
  std::string sysfs_root_;
  std::string dev_root_;
};

}  // namespace qvb::linux_host
