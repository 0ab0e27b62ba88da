// The shipped Windows program: the machine's disks and services, nothing virtual. It reads no
// command line; the result is always 0.
// First: it brings in the system headers without the macro that renames a toolkit method.
#include "app/toolkit/win32/win32_toolkit.h"

#include "app/startup.h"
#include "app/window_log.h"
#include "firmware/waiting_record.h"
#include "host/host.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  qvb::ScopedSeams platform(qvb::ThisHost());
  // The last runs, for a problem report; the window is the same without it.
  qvb::WindowLog log(qvb::WindowLogFile(false), "QVB886FWUpdate");
  qvb::tk::win32::Win32Application application;
  return qvb::RunProgram(application, qvb::WaitingRecordFile(false), log.requests());
}
