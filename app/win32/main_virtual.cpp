// The Windows program on virtual devices, for driving the window end to end: the devices come
// from the scenario file named by QVB_SCENARIO, read again at every enumeration; the first
// device's flash goes to the file named by QVB_FLASH_OUT as the program ends. The shipped
// program never reads either.
// First: it brings in the system headers without the macro that renames a toolkit method.
#include "app/toolkit/win32/win32_toolkit.h"

#include "app/startup.h"
#include "app/window_log.h"
#include "host/host.h"
#include "virtual_bridge/virtual_devices.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  qvb::ScopedSeams platform(qvb::ThisHost());
  qvb::virt::VirtualDevices devices(qvb::virt::OptionsFromEnvironment());
  qvb::WindowLog log(qvb::WindowLogFile(true), "QVB886FWUpdate-virtual");
  qvb::tk::win32::Win32Application application;
  return qvb::RunProgram(application, "", log.requests());
}
