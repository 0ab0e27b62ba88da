// Linux: no Windows version to read and no shell prompt to close; debug text to stderr; sleep
// held back by a logind inhibitor lock.
#include <cerrno>
#include <cstdio>
#include <ctime>

#include "device/linux/sleep_inhibitor_linux.h"
#include "device/platform_host.h"

namespace qvb {
namespace {

class LinuxSystemServices : public SystemServices {
 public:
  void Sleep(uint32_t milliseconds) override {
    timespec wait{static_cast<time_t>(milliseconds / 1000),
                  static_cast<long>(milliseconds % 1000) * 1000000L};
    while (nanosleep(&wait, &wait) != 0 && errno == EINTR) {
    }
  }
  void DebugOutput(const char* text) override {
    std::fputs(text, stderr);
    std::fflush(stderr);
  }
  int MessageBox(const char* text, const char* caption, uint32_t) override {
    std::fprintf(stderr, "[%s] %s\n", caption, text);
    return kIdOk;
  }
  bool InhibitSleep(std::string& reason) override { return inhibitor_.Take(reason); }
  void AllowSleep() override { inhibitor_.Release(); }

 private:
  linux_host::SleepInhibitor inhibitor_;
};

}  // namespace

SystemServices& PlatformSystemServices() {
  static LinuxSystemServices services;
  return services;
}

}  // namespace qvb
