// The window program on Linux: the privilege check with its offer to start again through
// pkexec, then the same start-up as on Windows. A test-only option puts virtual devices from a
// scenario file behind the device seams instead of the disks of the machine.
#pragma once

#include <QFileSystemWatcher>
#include <functional>
#include <memory>
#include <set>
#include <string>

#include "app/toolkit/qt/device_events.h"
#include "app/toolkit/qt/qt_toolkit.h"

namespace qvb::gui {

constexpr const char* kVirtualOption = "--virtual";

struct GuiOptions {
  // Empty: the machine's own disks (the shipped program reads no command line).
  std::string virtual_scenario;
  // "--help" or "--version" alone: the text is printed and no window is made, so that they
  // work without a display (the manual page is made from them at build time).
  bool help = false;
  bool version = false;
  // Not empty: the command line was not understood, and this says why (a usage error, as the
  // command-line program answers one: exit code 2).
  std::string error;
};

constexpr int kGuiExitUsage = 2;
constexpr int kGuiExitNoDisplay = 1;

// "--help" (or "-h"), "--version" and "--virtual SCENARIO" (or "--virtual=SCENARIO") are taken;
// help wins over the others, as on the command line. Anything else is a usage error.
GuiOptions ParseGuiCommandLine(int argc, const char* const* argv);

// Why no window can be shown here, or empty: neither an X11 nor a Wayland display is named
// (DISPLAY, WAYLAND_DISPLAY) and no Qt platform is chosen (QT_QPA_PLATFORM).
std::string NoDisplayReason();
// Makes the Qt application. A display that is named but cannot be reached ends the program
// with a sentence that says so (kGuiExitNoDisplay) instead of Qt's abort.
void OpenDisplay(tk::qt::QtApplication& application);

// The texts of --help and --version.
const char* GuiHelpText();
std::string GuiVersionText();

// How the program finds out whether it may send the bridge's commands, and how it starts
// itself again with that right. Injectable, so that tests can run without root.
struct PrivilegeGate {
  std::function<bool()> have_privilege;
  // Starts the program again with the right, detached; false when that could not be started.
  std::function<bool()> restart;
};

// The real check (CAP_SYS_RAWIO) and restart (pkexec with this program's own path, which the
// polkit action names).
PrivilegeGate SystemPrivilegeGate();
bool RestartThroughPkexec();

// The text of the box shown without the right.
std::string PrivilegeBoxText();
// The text shown when pkexec could not be started.
constexpr const char* kRestartFailedText = "pkexec could not be started.";

// Runs the program. On the machine's disks without the right: one warning box that says so and
// asks whether to start again through pkexec; the window is not made, the result is 0. With
// virtual devices no right is needed. The result is always 0.
int RunGui(tk::qt::QtApplication& application, const GuiOptions& options,
           const PrivilegeGate& gate);

// The hot-plug source of the virtual program: the scenario file changing is a device change;
// a device path that was in the file and is gone is a USB removal (0x8004, then 7), any other
// change gives 7. Files replaced as a whole (as editors save) are followed too.
class ScenarioWatcher : public tk::qt::DeviceEventSource {
 public:
  ScenarioWatcher(std::string file, tk::qt::DeviceEventSink sink);
  ~ScenarioWatcher() override;
  // Looks at the file now (the watcher's signals call this); returns whether it had changed.
  bool Check();

 private:
  void Watch();
  std::string file_;
  tk::qt::DeviceEventSink sink_;
  std::string text_;
  bool readable_ = false;
  std::set<std::string> paths_;
  QFileSystemWatcher watcher_;
};

// The device paths of a scenario text; false (and `paths` as it was) when it does not load.
bool ScenarioPaths(const std::string& text, std::set<std::string>& paths);

}  // namespace qvb::gui
