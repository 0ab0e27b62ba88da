// The window program on the Linux desktop. It reads no command line, except --help and
// --version and the test-only "--virtual SCENARIO" that puts virtual devices behind it; the
// result is 0 once the window has run, 2 for a command line it does not take and 1 without a
// display.
#include <cstdio>

#include "app/linux/gui_program.h"
#include "app/toolkit/qt/qt_toolkit.h"
#include "host/host.h"

int main(int argc, char** argv) {
  // First, as in every program: --version names the images this host carries.
  qvb::ScopedSeams platform(qvb::ThisHost());
  const qvb::gui::GuiOptions options = qvb::gui::ParseGuiCommandLine(argc, argv);
  if (!options.error.empty()) {
    std::fprintf(stderr, "qvb886-fwupdate-gui: %s\nTry 'qvb886-fwupdate-gui --help'.\n",
                 options.error.c_str());
    return qvb::gui::kGuiExitUsage;
  }
  // Before the application object: these need no display.
  if (options.help || options.version) {
    std::fputs(options.help ? qvb::gui::GuiHelpText() : qvb::gui::GuiVersionText().c_str(), stdout);
    return 0;
  }
  if (const std::string reason = qvb::gui::NoDisplayReason(); !reason.empty()) {
    std::fprintf(stderr,
                 "qvb886-fwupdate-gui: there is no graphical display (%s); the window needs one. "
                 "The command-line program qvb886-fwupdate works without.\n",
                 reason.c_str());
    return qvb::gui::kGuiExitNoDisplay;
  }
  qvb::tk::qt::QtApplication application(argc > 0 && argv[0] ? argv[0] : "qvb886-fwupdate-gui");
  qvb::gui::OpenDisplay(application);
  return qvb::gui::RunGui(application, options, qvb::gui::SystemPrivilegeGate());
}
