#include "cli/console_services.h"

#include "cli/report.h"

namespace qvb::cli {

ConsoleServices::ConsoleServices(std::ostream& err)
    : ForwardingSystemServices(System()), err_(err), installed_(HostSeams{.system = this}) {}

bool ConsoleServices::InhibitSleep(std::string& reason) {
  if (inner().InhibitSleep(reason)) return true;
  if (!sleep_note_given_) {
    sleep_note_given_ = true;
    err_ << "Note: sleep could not be inhibited (" << Printable(reason)
         << "); keep the computer awake until the update has ended.\n";
    err_.flush();
  }
  return false;
}

int ConsoleServices::MessageBox(const char* text, const char* caption, uint32_t) {
  err_ << Printable(caption ? caption : "") << ": " << PrintableLines(text ? text : "") << "\n";
  return kIdOk;
}

}  // namespace qvb::cli
