// Program start-up on any toolkit: title, main window, creation event, message loop.
#pragma once

#include "app/toolkit/toolkit.h"

namespace qvb {

constexpr const char* kApplicationTitle = "Quorvel FW Update Utility";

// Runs the program on `application`; the result is always 0.
int RunProgram(tk::Application& application);

}  // namespace qvb
