#include <sys/utsname.h>

#include "device/host_description.h"

namespace qvb {

std::string HostDescription() {
  utsname name{};
  if (uname(&name) != 0) return "Linux (uname failed)";
  return std::string(name.sysname) + " " + name.release + " " + name.version + " " + name.machine;
}

}  // namespace qvb
