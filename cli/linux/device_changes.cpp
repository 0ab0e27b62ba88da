// The command line's hot-plug source on Linux: a udev monitor on the USB and SCSI generic
// subsystems, polled with a time-out. Where no monitor can be had the wait still looks at the
// enumeration at every time-out.
#include <libudev.h>
#include <poll.h>
#include <unistd.h>

#include <chrono>
#include <thread>

#include "cli/power_cycle_wait.h"

namespace qvb::cli {
namespace {

uint64_t SteadyMs() {
  return static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                   std::chrono::steady_clock::now().time_since_epoch())
                                   .count());
}

class Pause : public DeviceChangeSource {
 public:
  bool Wait(uint32_t timeout_ms) override {
    std::this_thread::sleep_for(std::chrono::milliseconds(timeout_ms));
    return false;
  }
  uint64_t NowMs() override { return SteadyMs(); }
};

struct UdevDeleter {
  void operator()(udev* context) const { udev_unref(context); }
};
struct MonitorDeleter {
  void operator()(udev_monitor* monitor) const { udev_monitor_unref(monitor); }
};
struct DeviceDeleter {
  void operator()(udev_device* device) const { udev_device_unref(device); }
};

class UdevChanges : public DeviceChangeSource {
 public:
  static std::unique_ptr<UdevChanges> Open() {
    std::unique_ptr<udev, UdevDeleter> context(udev_new());
    if (!context) return nullptr;
    // Without udevd (containers, the test rig's guest) only the kernel's own events come.
    const char* source = access("/run/udev/control", F_OK) == 0 ? "udev" : "kernel";
    std::unique_ptr<udev_monitor, MonitorDeleter> monitor(
        udev_monitor_new_from_netlink(context.get(), source));
    if (!monitor ||
        udev_monitor_filter_add_match_subsystem_devtype(monitor.get(), "usb", nullptr) < 0 ||
        udev_monitor_filter_add_match_subsystem_devtype(monitor.get(), "scsi_generic", nullptr) <
            0 ||
        udev_monitor_enable_receiving(monitor.get()) < 0 || udev_monitor_get_fd(monitor.get()) < 0)
      return nullptr;
    return std::unique_ptr<UdevChanges>(new UdevChanges(std::move(context), std::move(monitor)));
  }

  bool Wait(uint32_t timeout_ms) override {
    pollfd descriptor{udev_monitor_get_fd(monitor_.get()), POLLIN, 0};
    const uint64_t until = SteadyMs() + timeout_ms;
    for (;;) {
      const uint64_t now = SteadyMs();
      if (now >= until) return false;
      const int ready = poll(&descriptor, 1, static_cast<int>(until - now));
      if (ready <= 0) return false;  // time-out, or a signal: the caller looks again either way
      bool changed = false;
      // Take every queued event, so that one burst of them wakes the wait once.
      while (std::unique_ptr<udev_device, DeviceDeleter> device{
          udev_monitor_receive_device(monitor_.get())})
        changed = true;
      if (changed) return true;
    }
  }
  uint64_t NowMs() override { return SteadyMs(); }

 private:
  UdevChanges(std::unique_ptr<udev, UdevDeleter> context,
              std::unique_ptr<udev_monitor, MonitorDeleter> monitor)
      : context_(std::move(context)), monitor_(std::move(monitor)) {}
  std::unique_ptr<udev, UdevDeleter> context_;
  std::unique_ptr<udev_monitor, MonitorDeleter> monitor_;
};

}  // namespace

std::unique_ptr<DeviceChangeSource> OpenDeviceChangeSource(bool virtual_devices) {
  if (!virtual_devices)
    if (auto monitor = UdevChanges::Open()) return monitor;
  return std::make_unique<Pause>();
}

}  // namespace qvb::cli
