#include "app/toolkit/qt/udev_monitor.h"

#include <libudev.h>
#include <unistd.h>

#include <QSocketNotifier>

#include "app/linux/udev_translation.h"

namespace qvb::tk::qt {
namespace {

const char* Text(const char* value) {
  return value ? value : "";
}

// udevd's control socket: present while udevd runs.
bool UdevdRunning() {
  return access("/run/udev/control", F_OK) == 0;
}

}  // namespace

void UdevMonitor::UdevDeleter::operator()(udev* context) const {
  udev_unref(context);
}

void UdevMonitor::MonitorDeleter::operator()(udev_monitor* monitor) const {
  udev_monitor_unref(monitor);
}

std::unique_ptr<UdevMonitor> UdevMonitor::Open(DeviceEventSink sink) {
  std::unique_ptr<udev, UdevDeleter> context(udev_new());
  if (!context) return nullptr;
  const char* source = UdevdRunning() ? "udev" : "kernel";
  std::unique_ptr<udev_monitor, MonitorDeleter> monitor(
      udev_monitor_new_from_netlink(context.get(), source));
  if (!monitor) return nullptr;
  if (udev_monitor_filter_add_match_subsystem_devtype(monitor.get(), hotplug::kUsbSubsystem,
                                                      nullptr) < 0 ||
      udev_monitor_filter_add_match_subsystem_devtype(monitor.get(), hotplug::kScsiGenericSubsystem,
                                                      nullptr) < 0 ||
      udev_monitor_enable_receiving(monitor.get()) < 0)
    return nullptr;
  if (udev_monitor_get_fd(monitor.get()) < 0) return nullptr;
  return std::unique_ptr<UdevMonitor>(
      new UdevMonitor(std::move(sink), std::move(context), std::move(monitor), source));
}

UdevMonitor::UdevMonitor(DeviceEventSink sink, std::unique_ptr<udev, UdevDeleter> context,
                         std::unique_ptr<udev_monitor, MonitorDeleter> monitor, const char* source)
    : sink_(std::move(sink)),
      context_(std::move(context)),
      monitor_(std::move(monitor)),
      source_(source),
      notifier_(std::make_unique<QSocketNotifier>(udev_monitor_get_fd(monitor_.get()),
                                                  QSocketNotifier::Read)) {
  QObject::connect(notifier_.get(), &QSocketNotifier::activated, [this] { ReadEvents(); });
}

UdevMonitor::~UdevMonitor() {
  *alive_ = false;
  // The notifier watches the monitor's socket: it goes first.
  notifier_.reset();
}

void UdevMonitor::ReadEvents() {
  // The socket does not block: take every event that is waiting. The codes of one event are
  // delivered together, as Windows sends them.
  // A handler may end the registration, and with it this monitor: stop reading then.
  const std::shared_ptr<bool> alive = alive_;
  const DeviceEventSink sink = sink_;
  while (*alive) {
    udev_device* raw = udev_monitor_receive_device(monitor_.get());
    if (!raw) break;
    const hotplug::UdevEvent event{Text(udev_device_get_action(raw)),
                                   Text(udev_device_get_subsystem(raw)),
                                   Text(udev_device_get_devtype(raw))};
    udev_device_unref(raw);
    for (const uintptr_t code : hotplug::DeviceChangeCodes(event)) {
      if (!*alive) return;
      sink(code);
    }
  }
}

}  // namespace qvb::tk::qt
