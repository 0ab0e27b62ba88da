#include "device/linux/sleep_inhibitor_linux.h"

#include <fcntl.h>
#include <systemd/sd-bus.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <memory>

namespace qvb::linux_host {
namespace {

// Closed without a flush: flushing waits for the handshake to end, which a stalled bus never
// lets happen. Nothing of ours is left queued once the answer (or the deadline) has come.
struct BusUnref {
  void operator()(sd_bus* bus) const { sd_bus_close_unref(bus); }
};
struct MessageUnref {
  void operator()(sd_bus_message* message) const { sd_bus_message_unref(message); }
};
struct SlotUnref {
  void operator()(sd_bus_slot* slot) const { sd_bus_slot_unref(slot); }
};
using Bus = std::unique_ptr<sd_bus, BusUnref>;
using Message = std::unique_ptr<sd_bus_message, MessageUnref>;
using Slot = std::unique_ptr<sd_bus_slot, SlotUnref>;

// The system bus's standard address, where DBUS_SYSTEM_BUS_ADDRESS names none.
constexpr const char* kSystemBusAddress = "unix:path=/run/dbus/system_bus_socket";

uint64_t NowUsec() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<uint64_t>(now.tv_sec) * 1'000'000u +
         static_cast<uint64_t>(now.tv_nsec) / 1000u;
}

std::string ErrorText(const sd_bus_error* error, int code) {
  if (error && error->message && *error->message) return error->message;
  if (error && error->name && *error->name) return error->name;
  return std::strerror(code < 0 ? -code : code);
}

// What logind's answer brought, filled in by the reply callback.
struct Answer {
  bool arrived = false;
  int fd = -1;  // our own copy of the lock
  std::string error;
};

int OnInhibitReply(sd_bus_message* reply, void* userdata, sd_bus_error*) {
  auto& answer = *static_cast<Answer*>(userdata);
  answer.arrived = true;
  if (const sd_bus_error* error = sd_bus_message_get_error(reply)) {
    answer.error =
        "logind refused the inhibitor lock: " + ErrorText(error, sd_bus_message_get_errno(reply));
    return 0;
  }
  int fd = -1;
  if (sd_bus_message_read(reply, "h", &fd) < 0 || fd < 0) {
    answer.error = "logind's reply carries no lock";
    return 0;
  }
  // The descriptor belongs to the reply; the lock lasts as long as our own copy of it.
  answer.fd = fcntl(fd, F_DUPFD_CLOEXEC, 3);
  if (answer.fd < 0) answer.error = std::string("cannot keep the lock: ") + std::strerror(errno);
  return 0;
}

}  // namespace

bool SleepInhibitor::Take(std::string& reason) {
  if (held()) return true;
  // The whole request (connection, authentication, Hello and the call) runs against one
  // deadline of our own: sd-bus's own limits for the handshake are far longer, and a bus that
  // accepts and never answers would otherwise hold the update up before anything is written.
  const uint64_t deadline = NowUsec() + kRequestTimeoutUsec;
  sd_bus* raw_bus = nullptr;
  int code = sd_bus_new(&raw_bus);
  Bus bus(raw_bus);
  const char* address = getenv("DBUS_SYSTEM_BUS_ADDRESS");
  if (!address || !*address) address = kSystemBusAddress;
  if (code >= 0) code = sd_bus_set_address(bus.get(), address);
  if (code >= 0) code = sd_bus_set_bus_client(bus.get(), 1);
  if (code >= 0) code = sd_bus_set_method_call_timeout(bus.get(), kRequestTimeoutUsec);
  // Connects without blocking; the handshake is driven by the loop below.
  if (code >= 0) code = sd_bus_start(bus.get());
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
  Answer answer;
  sd_bus_slot* raw_slot = nullptr;
  if (code >= 0)
    code = sd_bus_call_async(bus.get(), &raw_slot, call.get(), OnInhibitReply, &answer,
                             kRequestTimeoutUsec);
  // Released before the bus, so that the callback never outlives `answer`.
  Slot slot(raw_slot);
  if (code < 0) {
    reason = std::string("cannot ask logind: ") + std::strerror(-code);
    return false;
  }

  while (!answer.arrived) {
    const uint64_t now = NowUsec();
    if (now >= deadline) {
      reason = "the system bus did not answer within " +
               std::to_string(kRequestTimeoutUsec / 1'000'000) + " s";
      return false;
    }
    code = sd_bus_process(bus.get(), nullptr);
    if (code < 0) {
      reason = std::string("no system bus: ") + std::strerror(-code);
      return false;
    }
    if (code > 0) continue;  // more may be ready at once
    code = sd_bus_wait(bus.get(), deadline - now);
    if (code < 0 && code != -EINTR) {
      reason = std::string("no system bus: ") + std::strerror(-code);
      return false;
    }
  }
  if (answer.fd < 0) {
    reason = answer.error;
    return false;
  }
  fd_ = answer.fd;
  return true;
}

void SleepInhibitor::Release() {
  if (fd_ < 0) return;
  ::close(fd_);
  fd_ = -1;
}

}  // namespace qvb::linux_host
