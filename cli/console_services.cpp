#include "cli/console_services.h"

namespace qvb::cli {

ConsoleServices::ConsoleServices(std::ostream& err) : err_(err), inner_(System()) {
  previous_ = InstallSystemServices(this);
}

ConsoleServices::~ConsoleServices() {
  InstallSystemServices(previous_);
}

bool ConsoleServices::InhibitSleep(std::string& reason) {
  if (inner_.InhibitSleep(reason)) return true;
  if (!sleep_note_given_) {
    sleep_note_given_ = true;
    err_ << "Note: sleep could not be inhibited (" << reason
         << "); keep the computer awake until the update has ended.\n";
    err_.flush();
  }
  return false;
}

int ConsoleServices::MessageBox(const char* text, const char* caption, uint32_t) {
  err_ << (caption ? caption : "") << ": " << (text ? text : "") << "\n";
  return kIdOk;
}

}  // namespace qvb::cli
