// A logind inhibitor lock against sleep, taken over the system bus with sd-bus: logind holds
// suspend and idle sleep back for as long as the descriptor it hands out stays open.
#pragma once

#include <cstdint>
#include <string>

namespace qvb::linux_host {

constexpr const char* kInhibitWhat = "sleep:idle";
constexpr const char* kInhibitMode = "block";
constexpr const char* kInhibitWho = "QVB886 firmware updater";
constexpr const char* kInhibitWhy = "Writing firmware into a USB storage bridge";

// The whole request, from connecting to logind's answer: a stalled bus costs no more than this
// before the update goes on without the lock.
constexpr uint64_t kRequestTimeoutUsec = 3'000'000;

class SleepInhibitor {
 public:
  SleepInhibitor() = default;
  ~SleepInhibitor() { Release(); }
  SleepInhibitor(const SleepInhibitor&) = delete;
  SleepInhibitor& operator=(const SleepInhibitor&) = delete;

  // Asks logind for the lock (the system bus is the one DBUS_SYSTEM_BUS_ADDRESS names, or the
  // standard one). False with the reason when there is no bus, no logind, no permission, or no
  // answer within kRequestTimeoutUsec.
  // Taking it while it is held keeps the one lock.
  bool Take(std::string& reason);
  // Closes the lock's descriptor: logind lets the machine sleep again.
  void Release();
  bool held() const { return fd_ >= 0; }

 private:
  int fd_ = -1;
};

}  // namespace qvb::linux_host
