#include "cli/console_services.h"

namespace qvb::cli {

ConsoleServices::ConsoleServices(std::ostream& err) : err_(err), inner_(System()) {
  previous_ = InstallSystemServices(this);
}

ConsoleServices::~ConsoleServices() {
  InstallSystemServices(previous_);
}

int ConsoleServices::MessageBox(const char* text, const char* caption, uint32_t) {
  err_ << (caption ? caption : "") << ": " << (text ? text : "") << "\n";
  return kIdOk;
}

}  // namespace qvb::cli
