#include "device/linux/sleep_inhibitor_linux.h"

#include <fcntl.h>
#include <systemd/sd-bus.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <memory>

namespace qvb::linux_host {
namespace {

// A logind that does not answer must not hold the update up for sd-bus's default 25 s.
constexpr uint64_t kCallTimeoutUsec = 5'000'000;

struct BusUnref {
  void operator()(sd_bus* bus) const { sd_bus_flush_close_unref(bus); }
};
struct MessageUnref {
  void operator()(sd_bus_message* message) const { sd_bus_message_unref(message); }
};
using Bus = std::unique_ptr<sd_bus, BusUnref>;
using Message = std::unique_ptr<sd_bus_message, MessageUnref>;

class Error {
 public:
  Error() = default;
  ~Error() { sd_bus_error_free(&error_); }
  Error(const Error&) = delete;
  Error& operator=(const Error&) = delete;
  sd_bus_error* get() { return &error_; }
  std::string Text(int code) const {
    if (error_.message && *error_.message) return error_.message;
    if (error_.name && *error_.name) return error_.name;
    return std::strerror(-code);
  }

 private:
  sd_bus_error error_ = SD_BUS_ERROR_NULL;
};

}  // namespace

bool SleepInhibitor::Take(std::string& reason) {
  if (held()) return true;
  sd_bus* raw_bus = nullptr;
  int code = sd_bus_open_system(&raw_bus);
  Bus bus(raw_bus);
  if (code < 0) {
    reason = std::string("no system bus: ") + std::strerror(-code);
    return false;
  }

  sd_bus_message* raw_call = nullptr;
  code = sd_bus_message_new_method_call(bus.get(), &raw_call, "org.freedesktop.login1",
                                        "/org/freedesktop/login1", "org.freedesktop.login1.Manager",
                                        "Inhibit");
  Message call(raw_call);
  if (code >= 0)
    code = sd_bus_message_append(call.get(), "ssss", kInhibitWhat, kInhibitWho, kInhibitWhy,
                                 kInhibitMode);
  if (code < 0) {
    reason = std::string("cannot ask logind: ") + std::strerror(-code);
    return false;
  }

  Error error;
  sd_bus_message* raw_reply = nullptr;
  code = sd_bus_call(bus.get(), call.get(), kCallTimeoutUsec, error.get(), &raw_reply);
  Message reply(raw_reply);
  if (code < 0) {
    reason = "logind refused the inhibitor lock: " + error.Text(code);
    return false;
  }
  int fd = -1;
  code = sd_bus_message_read(reply.get(), "h", &fd);
  if (code < 0 || fd < 0) {
    reason = "logind's reply carries no lock";
    return false;
  }
  // The descriptor belongs to the reply; the lock lasts as long as our own copy of it.
  fd_ = fcntl(fd, F_DUPFD_CLOEXEC, 3);
  if (fd_ < 0) {
    reason = std::string("cannot keep the lock: ") + std::strerror(errno);
    return false;
  }
  return true;
}

void SleepInhibitor::Release() {
  if (fd_ < 0) return;
  ::close(fd_);
  fd_ = -1;
}

}  // namespace qvb::linux_host
