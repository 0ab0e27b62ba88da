// The window program on the Linux desktop. It reads no command line, except --help and
// --version and the test-only "--virtual SCENARIO" that puts virtual devices behind it; the
// result is always 0.
#include <cstdio>

#include "app/linux/gui_program.h"
#include "app/toolkit/qt/qt_toolkit.h"
#include "device/platform_host.h"

int main(int argc, char** argv) {
  const qvb::gui::GuiOptions options = qvb::gui::ParseGuiCommandLine(argc, argv);
  // Before the application object: these need no display.
  if (options.help || options.version) {
    std::fputs(options.help ? qvb::gui::GuiHelpText() : qvb::gui::GuiVersionText().c_str(), stdout);
    return 0;
  }
  qvb::ScopedSeams platform(qvb::PlatformSeams());
  qvb::tk::qt::QtApplication application(argc > 0 && argv[0] ? argv[0] : "qvb886-fwupdate-gui");
  return qvb::gui::RunGui(application, options, qvb::gui::SystemPrivilegeGate());
}
