// Program start-up on any toolkit: title, main window, creation event, message loop.
#pragma once

#include <string>

#include "app/toolkit/toolkit.h"
#include "device/request_log.h"

namespace qvb {

constexpr const char* kApplicationTitle = "Quorvel FW Update Utility";

// Runs the program on `application`; the result is always 0. `waiting_file`: the record of the
// bridges that wait for their power cycle (WaitingRecordFile), empty for none. `log`: where the
// window's steps are logged (WindowLog), null for nowhere.
int RunProgram(tk::Application& application, const std::string& waiting_file = "",
               RequestLog* log = nullptr);

}  // namespace qvb
