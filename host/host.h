// The host object: everything the program needs from the machine it runs on (the SCSI host, the
// disk interfaces, the system and shell services, the carried images), from one place per host:
// host/win32, host/linux and host/none, chosen by the CMake variable QVB_HOST. A port to another
// host starts as a copy of host/none.
#pragma once

#include "device/seams.h"

namespace qvb {

// All of this host's seams, for a program's main to install before anything else:
// `ScopedSeams platform(ThisHost());`.
HostSeams ThisHost();

// The images this build carries (resources/ generates them), for the programs and tests that
// bring devices of their own: `ScopedSeams images(HostSeams{.images = &BuildImages()});`.
CarriedImages& BuildImages();

}  // namespace qvb
