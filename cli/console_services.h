// The platform services as a console program needs them: message boxes become lines on the
// error stream (a console tool must not pop up a window), and so does a sleep that could not
// be held back; everything else is the platform's.
#pragma once

#include <ostream>

#include "device/system_services.h"

namespace qvb::cli {

class ConsoleServices : public SystemServices {
 public:
  // Installs itself over the services in use for its lifetime.
  ConsoleServices(std::ostream& err);
  ~ConsoleServices() override;
  ConsoleServices(const ConsoleServices&) = delete;
  ConsoleServices& operator=(const ConsoleServices&) = delete;

  void Sleep(uint32_t milliseconds) override { inner_.Sleep(milliseconds); }
  void DebugOutput(const char*) override {}
  int MessageBox(const char* text, const char* caption, uint32_t flags) override;
  bool GetVersion(uint32_t record_size, uint32_t& major, uint32_t& minor) override {
    return inner_.GetVersion(record_size, major, minor);
  }
  void* FindTopLevelWindow(const char* class_name, const char* title) override {
    return inner_.FindTopLevelWindow(class_name, title);
  }
  bool PostMessage(void* window, uint32_t message, uintptr_t wparam, intptr_t lparam) override {
    return inner_.PostMessage(window, message, wparam, lparam);
  }
  // The update goes on without it; the user is told once.
  bool InhibitSleep(std::string& reason) override;
  void AllowSleep() override { inner_.AllowSleep(); }

 private:
  std::ostream& err_;
  SystemServices& inner_;
  SystemServices* previous_;
  bool sleep_note_given_ = false;
};

}  // namespace qvb::cli
