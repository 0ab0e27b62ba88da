// The none host keeps no log file: the window's log then writes nothing.
#include "app/window_log.h"

namespace qvb {

std::string WindowLogFile(bool) {
  return "";
}

}  // namespace qvb
