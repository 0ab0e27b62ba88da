// The small platform services the device layer and the window need besides devices: pauses,
// debug output, the message box with no owner, and keeping the machine awake while firmware is
// written. What only the shell prompt's closing needs is in device/shell_services.h.
#pragma once

#include <cstdint>
#include <string>

namespace qvb {

// MessageBoxA flag values the program uses.
constexpr uint32_t kMbOk = 0x0000;
constexpr uint32_t kMbIconError = 0x0010;
constexpr uint32_t kMbIconWarning = 0x0030;
constexpr uint32_t kMbTaskModal = 0x2000;
constexpr int kIdOk = 1;

class SystemServices {
 public:
  virtual ~SystemServices() = default;
  virtual void Sleep(uint32_t milliseconds) = 0;
  virtual void DebugOutput(const char* text) = 0;
  // A modal message box with no owner window; returns the button pressed.
  virtual int MessageBox(const char* text, const char* caption, uint32_t flags) = 0;
  // Keeps the machine from sleeping (suspend, and sleep when idle) until AllowSleep. False,
  // with the reason, when that cannot be had; the caller then goes on without it.
  virtual bool InhibitSleep(std::string& reason) = 0;
  // Ends what a successful InhibitSleep began.
  virtual void AllowSleep() = 0;
};

// Every call goes to `inner`: a front end that shows one thing its own way (the message box of
// a console tool, of a Qt window) overrides just that.
class ForwardingSystemServices : public SystemServices {
 public:
  explicit ForwardingSystemServices(SystemServices& inner) : inner_(inner) {}
  void Sleep(uint32_t milliseconds) override { inner_.Sleep(milliseconds); }
  void DebugOutput(const char* text) override { inner_.DebugOutput(text); }
  int MessageBox(const char* text, const char* caption, uint32_t flags) override {
    return inner_.MessageBox(text, caption, flags);
  }
  bool InhibitSleep(std::string& reason) override { return inner_.InhibitSleep(reason); }
  void AllowSleep() override { inner_.AllowSleep(); }

 protected:
  SystemServices& inner() { return inner_; }

 private:
  SystemServices& inner_;
};

// The services in use (see device/seams.h).
SystemServices& System();

}  // namespace qvb
