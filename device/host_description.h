// The machine a log was written on, for a problem report: "Linux 6.1.0-18-amd64 x86_64".
#pragma once

#include <string>

namespace qvb {

std::string HostDescription();

}  // namespace qvb
