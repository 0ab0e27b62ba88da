// Where the command line reads and writes, and what it knows about the terminal.
#pragma once

#include <istream>
#include <ostream>

namespace qvb::cli {

struct Console {
  std::ostream& out;
  std::ostream& err;
  std::istream& in;
  bool in_terminal = false;
  bool out_terminal = false;
  bool err_terminal = false;
  // Whether this process may send vendor commands to real disks; the platform's check when
  // null. Not asked with --virtual.
  bool (*has_device_privileges)() = nullptr;
};

}  // namespace qvb::cli
