// The platform services as a console program needs them: message boxes become lines on the
// error stream (a console tool must not pop up a window), and so does a sleep that could not
// be held back; everything else is the platform's.
#pragma once

#include <ostream>

#include "device/seams.h"
#include "device/system_services.h"

namespace qvb::cli {

class ConsoleServices : public ForwardingSystemServices {
 public:
  // Installs itself over the services in use for its lifetime.
  explicit ConsoleServices(std::ostream& err);
  ConsoleServices(const ConsoleServices&) = delete;
  ConsoleServices& operator=(const ConsoleServices&) = delete;

  void DebugOutput(const char*) override {}
  int MessageBox(const char* text, const char* caption, uint32_t flags) override;
  // The update goes on without it; the user is told once.
  bool InhibitSleep(std::string& reason) override;

 private:
  std::ostream& err_;
  bool sleep_note_given_ = false;
  ScopedSeams installed_;
};

}  // namespace qvb::cli
