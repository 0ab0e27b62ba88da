// qvb-rig-hotplug: the window's hot-plug translation on a live udev monitor, for the rig's guest.
// It listens where the window listens (the USB and SCSI generic subsystems, on udevd's netlink
// group) and prints each event with the device-change codes the window would receive:
//
//   event remove usb usb_device -> 0x8004 7
//
// one line per event, flushed at once, so that the guest script can read the sequence while it
// plugs and unplugs the gadget.
//
//   qvb-rig-hotplug [--source udev|kernel] [--ready FILE]
//
// --ready is created once the monitor receives; SIGTERM or SIGINT ends it.
#include <libudev.h>
#include <poll.h>
#include <signal.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <memory>
#include <string>

#include "app/linux/udev_translation.h"

namespace {

struct UdevDeleter {
  void operator()(udev* context) const { udev_unref(context); }
};
struct MonitorDeleter {
  void operator()(udev_monitor* monitor) const { udev_monitor_unref(monitor); }
};
struct DeviceDeleter {
  void operator()(udev_device* device) const { udev_device_unref(device); }
};

volatile sig_atomic_t stop = 0;
void OnSignal(int) {
  stop = 1;
}

std::string Text(const char* value) {
  return value ? value : "";
}

}  // namespace

int main(int argc, char** argv) {
  std::string source = "udev", ready;
  for (int i = 1; i + 1 < argc; i += 2) {
    if (std::strcmp(argv[i], "--source") == 0)
      source = argv[i + 1];
    else if (std::strcmp(argv[i], "--ready") == 0)
      ready = argv[i + 1];
  }
  if (argc % 2 == 0 || (source != "udev" && source != "kernel")) {
    std::fprintf(stderr, "usage: qvb-rig-hotplug [--source udev|kernel] [--ready FILE]\n");
    return 2;
  }
  struct sigaction action {};
  action.sa_handler = OnSignal;
  sigaction(SIGTERM, &action, nullptr);
  sigaction(SIGINT, &action, nullptr);

  std::unique_ptr<udev, UdevDeleter> context(udev_new());
  if (!context) {
    std::perror("qvb-rig-hotplug: udev_new");
    return 1;
  }
  std::unique_ptr<udev_monitor, MonitorDeleter> monitor(
      udev_monitor_new_from_netlink(context.get(), source.c_str()));
  if (!monitor ||
      udev_monitor_filter_add_match_subsystem_devtype(monitor.get(), qvb::hotplug::kUsbSubsystem,
                                                      nullptr) < 0 ||
      udev_monitor_filter_add_match_subsystem_devtype(
          monitor.get(), qvb::hotplug::kScsiGenericSubsystem, nullptr) < 0 ||
      udev_monitor_enable_receiving(monitor.get()) < 0) {
    std::fprintf(stderr, "qvb-rig-hotplug: cannot listen to the %s netlink group\n",
                 source.c_str());
    return 1;
  }
  if (!ready.empty()) std::ofstream(ready) << "ready\n";

  pollfd watch{udev_monitor_get_fd(monitor.get()), POLLIN, 0};
  while (!stop) {
    if (poll(&watch, 1, 200) <= 0) continue;
    std::unique_ptr<udev_device, DeviceDeleter> device(udev_monitor_receive_device(monitor.get()));
    if (!device) continue;
    const qvb::hotplug::UdevEvent event{Text(udev_device_get_action(device.get())),
                                        Text(udev_device_get_subsystem(device.get())),
                                        Text(udev_device_get_devtype(device.get()))};
    std::string line = "event " + event.action + ' ' + event.subsystem + ' ' +
                       (event.devtype.empty() ? "-" : event.devtype) + " ->";
    for (const uintptr_t code : qvb::hotplug::DeviceChangeCodes(event)) {
      char text[24];
      std::snprintf(text, sizeof text, code >= 0x10 ? " 0x%lx" : " %lu",
                    static_cast<unsigned long>(code));
      line += text;
    }
    std::printf("%s\n", line.c_str());
    std::fflush(stdout);
  }
  return 0;
}
