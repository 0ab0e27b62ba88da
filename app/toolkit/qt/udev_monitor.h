// The Linux hot-plug source: a udev monitor on the USB and SCSI generic subsystems, read from
// the GUI thread's event loop, its events translated into WM_DEVICECHANGE codes.
#pragma once

#include <memory>

#include "app/toolkit/qt/device_events.h"

struct udev;
struct udev_monitor;
class QSocketNotifier;

namespace qvb::tk::qt {

class UdevMonitor : public DeviceEventSource {
 public:
  // Null when the monitor cannot be made (no netlink socket, say).
  static std::unique_ptr<UdevMonitor> Open(DeviceEventSink sink);
  ~UdevMonitor() override;
  UdevMonitor(const UdevMonitor&) = delete;
  UdevMonitor& operator=(const UdevMonitor&) = delete;

  // Which netlink source it listens to: "udev" (events after udevd has handled them, device
  // nodes in place) or "kernel" (raw uevents, where no udevd runs, as in some containers).
  const char* source() const { return source_; }

 private:
  struct UdevDeleter {
    void operator()(udev* context) const;
  };
  struct MonitorDeleter {
    void operator()(udev_monitor* monitor) const;
  };

  UdevMonitor(DeviceEventSink sink, std::unique_ptr<udev, UdevDeleter> context,
              std::unique_ptr<udev_monitor, MonitorDeleter> monitor, const char* source);
  void ReadEvents();

  DeviceEventSink sink_;
  std::unique_ptr<udev, UdevDeleter> context_;
  std::unique_ptr<udev_monitor, MonitorDeleter> monitor_;
  const char* source_;
  std::unique_ptr<QSocketNotifier> notifier_;
  std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

}  // namespace qvb::tk::qt
