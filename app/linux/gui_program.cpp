#include "app/linux/gui_program.h"

#include <unistd.h>

#include <QFileInfo>
#include <QProcess>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>

#include "app/startup.h"
#include "app/window_log.h"
#include "device/privileges.h"
#include "device/system_services.h"
#include "firmware/version_policy.h"
#include "firmware/waiting_record.h"
#include "virtual_bridge/scenario.h"
#include "virtual_bridge/virtual_devices.h"

namespace qvb::gui {
namespace {

std::string OwnExecutable() {
  char path[4096];
  const ssize_t length = readlink("/proc/self/exe", path, sizeof path - 1);
  if (length <= 0) return std::string();
  return std::string(path, static_cast<std::size_t>(length));
}

// A word from the command line, safe to print: control bytes and bytes outside ASCII become '?'.
std::string PrintableWord(const std::string& word) {
  std::string text = word;
  for (char& c : text)
    if (static_cast<unsigned char>(c) < 0x20 || static_cast<unsigned char>(c) >= 0x7F) c = '?';
  return text;
}

}  // namespace

GuiOptions ParseGuiCommandLine(int argc, const char* const* argv) {
  GuiOptions options;
  const std::string virtual_equals = std::string(kVirtualOption) + "=";
  bool virtual_given = false;
  for (int i = 1; i < argc && options.error.empty(); ++i) {
    const std::string word = argv[i] ? argv[i] : "";
    if (word == "--help" || word == "-h") {
      options.help = true;
    } else if (word == "--version") {
      options.version = true;
    } else if (word == kVirtualOption || word.rfind(virtual_equals, 0) == 0) {
      std::string scenario;
      if (word == kVirtualOption) {
        // An option in its place is not a file name: "--virtual --help" lacks the file.
        if (i + 1 < argc && argv[i + 1] && argv[i + 1][0] != '-') scenario = argv[++i];
      } else {
        scenario = word.substr(virtual_equals.size());
      }
      if (scenario.empty())
        options.error = "--virtual needs one scenario file";
      else if (virtual_given)
        options.error = "--virtual may be given once";
      virtual_given = true;
      options.virtual_scenario = scenario;
    } else if (!word.empty() && word[0] == '-') {
      options.error = "unknown option " + PrintableWord(word);
    } else {
      options.error = "unexpected argument " + PrintableWord(word);
    }
  }
  if (!options.error.empty()) return GuiOptions{.error = options.error};
  if (options.help) options.version = false;
  return options;
}

std::string NoDisplayReason() {
  const auto set = [](const char* name) {
    const char* value = std::getenv(name);
    return value && *value;
  };
  if (set("QT_QPA_PLATFORM") || set("DISPLAY") || set("WAYLAND_DISPLAY")) return std::string();
  return "neither DISPLAY nor WAYLAND_DISPLAY is set";
}

namespace {

QtMessageHandler g_previous_handler = nullptr;

// Qt ends the program with a fatal message when the display it was told of cannot be reached.
void DisplayFailureHandler(QtMsgType type, const QMessageLogContext& context,
                           const QString& message) {
  if (type != QtFatalMsg) {
    if (g_previous_handler) g_previous_handler(type, context, message);
    return;
  }
  const char* display = std::getenv("WAYLAND_DISPLAY");
  if (!display || !*display) display = std::getenv("DISPLAY");
  std::fprintf(stderr,
               "qvb886-fwupdate-gui: no graphical display could be opened (%s); the window "
               "needs one. The command-line program qvb886-fwupdate works without.\n",
               PrintableWord(display ? display : "").c_str());
  std::fflush(stderr);
  std::_Exit(kGuiExitNoDisplay);
}

}  // namespace

void OpenDisplay(tk::qt::QtApplication& application) {
  g_previous_handler = qInstallMessageHandler(DisplayFailureHandler);
  application.Initialize();
  qInstallMessageHandler(g_previous_handler);
}

const char* GuiHelpText() {
  return "Usage: qvb886-fwupdate-gui [--help | --version]\n"
         "\n"
         "Updates the firmware of a QVB886 USB-to-PCIe storage bridge to 133.1.0.6, in a window.\n"
         "\n"
         "The window looks for disks behind supported bridges and, with one QVB886 attached,\n"
         "shows its firmware version and status. For versions 133.1.0.0 to 133.1.0.5 it offers\n"
         "Update, which writes the firmware the program carries, reads it back, compares it\n"
         "(two attempts at most) and asks for the device to be powered off and on. Attaching\n"
         "or removing a USB device refreshes the window. The carried image is checked against\n"
         "the SHA-256 recorded when the program was built before anything is written, and the\n"
         "computer is kept from sleeping while the firmware is written.\n"
         "\n"
         "The bridge's commands need root (CAP_SYS_RAWIO). Without it the program says so and\n"
         "offers to start again through pkexec.\n"
         "\n"
         "Options:\n"
         "  --help, -h           this text\n"
         "  --version            the program's version\n"
         "  --virtual SCENARIO   (for tests) the virtual bridge described by a scenario file\n"
         "                       instead of the attached disks\n"
         "\n"
         "Without an option the window opens; it needs a graphical display, and says so when\n"
         "there is none (exit status 1). The command-line program qvb886-fwupdate does the\n"
         "same without one. An option it does not know is refused with exit status 2.\n";
}

std::string GuiVersionText() {
  return std::string("qvb886-fwupdate-gui ") + QVB_VERSION + "\n" + CarriedFirmwareText();
}

PrivilegeGate SystemPrivilegeGate() {
  return PrivilegeGate{HaveRawIoPrivilege, RestartThroughPkexec};
}

bool RestartThroughPkexec() {
  const std::string self = OwnExecutable();
  if (self.empty()) return false;
  // pkexec runs the action whose exec.path is this program; the window comes back as root.
  return QProcess::startDetached(QStringLiteral("pkexec"), {QString::fromStdString(self)});
}

std::string PrivilegeBoxText() {
  return std::string(kRawIoPrivilegeText) + "\n\n" + kRestartWithPrivilegeQuestion;
}

int RunGui(tk::qt::QtApplication& application, const GuiOptions& options,
           const PrivilegeGate& gate) {
  if (!options.virtual_scenario.empty()) {
    // The first device's flash goes to the file named by QVB_FLASH_OUT at the end.
    virt::VirtualDeviceOptions virtual_options;
    virtual_options.scenario_file = options.virtual_scenario;
    virtual_options.flash_out = virt::OptionsFromEnvironment().flash_out;
    virt::VirtualDevices devices(std::move(virtual_options));
    const std::string file = options.virtual_scenario;
    application.set_device_event_source_factory(
        [file](tk::qt::DeviceEventSink sink) -> std::unique_ptr<tk::qt::DeviceEventSource> {
          return std::make_unique<ScenarioWatcher>(file, std::move(sink));
        });
    WindowLog log(WindowLogFile(true), "qvb886-fwupdate-gui --virtual");
    return RunProgram(application, WaitingRecordFile(true), log.requests());
  }
  if (gate.have_privilege && !gate.have_privilege()) {
    // What the manifest's elevation request does on Windows: without the right the window
    // would only show that no device was found.
    application.Initialize();
    application.SetTitle(kApplicationTitle);
    const int answer = System().MessageBox(PrivilegeBoxText().c_str(), kApplicationTitle,
                                           kMbTaskModal | kMbIconWarning | tk::qt::kMbYesNo);
    if (answer == tk::qt::kIdYes && !(gate.restart && gate.restart()))
      System().MessageBox(kRestartFailedText, kApplicationTitle,
                          kMbTaskModal | kMbIconError | kMbOk);
    return 0;
  }
  // The last runs, for a problem report.
  WindowLog log(WindowLogFile(false), "qvb886-fwupdate-gui");
  return RunProgram(application, WaitingRecordFile(false), log.requests());
}

// ---------------------------------------------------------------------------------------------

bool ScenarioPaths(const std::string& text, std::set<std::string>& paths) {
  virt::VirtualBridge bridge;
  if (!virt::LoadScenarioText(text, bridge).ok) return false;
  paths.clear();
  for (const virt::DeviceModel& device : bridge.devices()) paths.insert(device.path);
  return true;
}

ScenarioWatcher::ScenarioWatcher(std::string file, tk::qt::DeviceEventSink sink)
    : file_(std::move(file)), sink_(std::move(sink)) {
  readable_ = virt::ReadWholeFile(file_, text_);
  if (readable_) ScenarioPaths(text_, paths_);
  QObject::connect(&watcher_, &QFileSystemWatcher::fileChanged, [this] { Check(); });
  QObject::connect(&watcher_, &QFileSystemWatcher::directoryChanged, [this] { Check(); });
  Watch();
}

ScenarioWatcher::~ScenarioWatcher() {
  watcher_.disconnect();
}

void ScenarioWatcher::Watch() {
  // The folder too: a file saved by replacing it is a new file, which the watch on the old
  // one does not see.
  const QString file = QString::fromStdString(file_);
  const QString folder = QFileInfo(file).absolutePath();
  if (!watcher_.directories().contains(folder)) watcher_.addPath(folder);
  if (QFileInfo::exists(file) && !watcher_.files().contains(file)) watcher_.addPath(file);
}

bool ScenarioWatcher::Check() {
  Watch();
  std::string text;
  const bool readable = virt::ReadWholeFile(file_, text);
  if (readable == readable_ && text == text_) return false;
  // A file that is gone detaches everything; a malformed one changes nothing attached (the
  // virtual devices keep what they had), but is a change all the same.
  std::set<std::string> paths;
  if (readable && !ScenarioPaths(text, paths)) paths = paths_;
  bool removed = false;
  for (const std::string& path : paths_)
    if (!paths.count(path)) removed = true;
  text_ = std::move(text);
  readable_ = readable;
  paths_ = paths;
  const tk::qt::DeviceEventSink sink = sink_;  // a handler may end this registration
  if (removed) sink(tk::kDbtDeviceRemoveComplete);
  sink(tk::kDbtDevNodesChanged);
  return true;
}

}  // namespace qvb::gui
