// The Linux window program around the window: the command line, the privilege check and its
// offer to start again, the virtual devices of the test-only option and their hot-plug.
#include "app/linux/gui_program.h"

#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <QTemporaryDir>
#include <QTimer>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "app/startup.h"
#include "app/tform1.h"
#include "device/privileges.h"
#include "tests/app/qt/qt_test_support.h"
#include "tests/support/fake_system.h"
#include "virtual_bridge/virtual_bridge.h"
#include "virtual_bridge/virtual_devices.h"

namespace qvb::gui {
namespace {

using Codes = std::vector<uintptr_t>;
using testing::BoxAnswerer;
using testing::WaitUntil;

constexpr const char* kDevice1 =
    "[device]\n"
    "path = "
    "\\\\?\\usbstor#disk&ven_quorvel&prod_qvb886#0001#{53f56307-b6bf-11d0-94f2-00a0c91efb8b}\n"
    "preset = qvb886\n"
    "version = 133.1.0.3\n";
constexpr const char* kDevice2 =
    "[device]\n"
    "path = \\\\?\\scsi#disk&ven_quorvel&prod_qvb886#0002#{53f56307-b6bf-11d0-94f2-00a0c91efb8b}\n"
    "preset = qvb886\n"
    "version = 133.1.0.6\n";

void WriteFile(const std::string& file, const std::string& text) {
  std::ofstream(file, std::ios::binary | std::ios::trunc) << text;
}

TEST(ParseGuiCommandLineTest, HelpVersionAndTheVirtualOptionAreReadAndNothingElse) {
  struct Case {
    std::vector<const char*> argv;
    std::string scenario;
    bool help, version, error;
  };
  const Case cases[] = {
      {{"gui"}, "", false, false, false},
      {{"gui", "--virtual", "one.scenario"}, "one.scenario", false, false, false},
      {{"gui", "--virtual=one.scenario"}, "one.scenario", false, false, false},
      {{"gui", "--virtual"}, "", false, false, true},
      {{"gui", "--virtual", ""}, "", false, false, true},
      {{"gui", "--virtual="}, "", false, false, true},
      {{"gui", "--virtual", "a", "b"}, "", false, false, true},
      {{"gui", "--virtual", "a", "--virtual", "b"}, "", false, false, true},
      {{"gui", "one.scenario"}, "", false, false, true},
      {{"gui", "--Virtual", "one.scenario"}, "", false, false, true},
      {{"gui", "--help"}, "", true, false, false},
      {{"gui", "-h"}, "", true, false, false},
      {{"gui", "--version"}, "", false, true, false},
      // Help wins, as on the command line.
      {{"gui", "--help", "--version"}, "", true, false, false},
      {{"gui", "--virtual", "--help"}, "", false, false, true},
      {{"gui", "--help", "--frobnicate"}, "", false, false, true},
      {{"gui", "-x"}, "", false, false, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::PrintToString(std::vector<std::string>(c.argv.begin(), c.argv.end())));
    const GuiOptions options = ParseGuiCommandLine(static_cast<int>(c.argv.size()), c.argv.data());
    EXPECT_EQ(c.scenario, options.virtual_scenario);
    EXPECT_EQ(c.help, options.help);
    EXPECT_EQ(c.version, options.version);
    EXPECT_EQ(c.error, !options.error.empty()) << options.error;
  }
}

struct Exited {
  int code = -1;
  std::string output;  // standard output and error together
};

// The built program with `args`; `unset` removed from the environment and `set` ("NAME=value")
// added.
Exited RunGuiProgram(std::vector<std::string> args, const std::vector<const char*>& unset,
                     const std::vector<std::string>& set) {
  args.insert(args.begin(), QVB_GUI_BINARY);
  int fds[2];
  if (pipe(fds) != 0) return {};
  const pid_t pid = fork();
  if (pid == 0) {
    for (const char* name : unset) unsetenv(name);
    for (const std::string& assignment : set) putenv(strdup(assignment.c_str()));
    dup2(fds[1], 1);
    dup2(fds[1], 2);
    close(fds[0]);
    std::vector<char*> argv;
    for (auto& arg : args) argv.push_back(arg.data());
    argv.push_back(nullptr);
    execv(QVB_GUI_BINARY, argv.data());
    _exit(127);
  }
  close(fds[1]);
  Exited run;
  char buffer[4096];
  for (ssize_t n; (n = read(fds[0], buffer, sizeof buffer)) > 0;) run.output.append(buffer, n);
  close(fds[0]);
  int status = 0;
  if (waitpid(pid, &status, 0) == pid)
    run.code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  return run;
}

TEST(GuiProgramCommandLineTest, AnswersLikeTheCommandLineAndSaysWhenThereIsNoDisplay) {
  const std::vector<const char*> no_display = {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"};
  struct Row {
    std::vector<std::string> args;
    std::vector<std::string> set;
    int code;
    const char* said;
  };
  const Row rows[] = {
      {{"-h"}, {}, 0, "Usage: qvb886-fwupdate-gui"},
      {{"--frobnicate"}, {}, kGuiExitUsage, "unknown option --frobnicate\nTry "},
      {{"--virtual"}, {}, kGuiExitUsage, "--virtual needs one scenario file"},
      {{}, {}, kGuiExitNoDisplay, "there is no graphical display"},
      // Named, but nothing answers there: Qt's fatal end becomes the same plain sentence.
      {{}, {"DISPLAY=:4093"}, kGuiExitNoDisplay, "no graphical display could be opened (:4093)"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(::testing::PrintToString(row.args) + ::testing::PrintToString(row.set));
    const Exited run = RunGuiProgram(row.args, no_display, row.set);
    EXPECT_EQ(row.code, run.code) << run.output;
    EXPECT_NE(run.output.find(row.said), std::string::npos) << run.output;
  }
}

TEST(HaveRawIoPrivilegeTest, IsTheRawIoBitOfTheEffectiveCapabilities) {
  std::ifstream status("/proc/self/status");
  std::string line;
  unsigned long long effective = 0;
  bool found = false;
  while (std::getline(status, line))
    if (line.rfind("CapEff:", 0) == 0)
      found = std::sscanf(line.c_str() + 7, "%llx", &effective) == 1;
  ASSERT_TRUE(found);
  EXPECT_EQ(((effective >> 17) & 1) != 0, HaveRawIoPrivilege());  // CAP_SYS_RAWIO is 17
}

class GuiProgramTest : public ::testing::Test {
 protected:
  GuiProgramTest() {
    UpdateBusy = 0;
    app.set_device_event_source_factory(
        [](tk::qt::DeviceEventSink) { return std::unique_ptr<tk::qt::DeviceEventSource>(); });
  }
  ~GuiProgramTest() override { UpdateBusy = 0; }
  PrivilegeGate Gate(bool privileged, bool restart_works = true) {
    return PrivilegeGate{[privileged] { return privileged; },
                         [this, restart_works] {
                           ++restarts;
                           return restart_works;
                         }};
  }
  // Closes the main window through its close box once it is on the screen, recording what
  // its lines show then.
  void CloseWhenShown() {
    closer_.setInterval(1);
    QObject::connect(&closer_, &QTimer::timeout, [this] {
      tk::qt::QtWindow* window = app.main_window();
      if (!window || !window->widget().isVisible()) return;
      for (const char* name : {"pnl_Descript_3", "pnl_Descript_4"})
        shown.push_back(window->Find(name)->Text());
      closer_.stop();
      window->widget().close();
    });
    closer_.start();
  }

  virt::VirtualDevices devices;
  virt::VirtualBridge& bridge = devices.bridge();
  testing::FakeSystem system;
  tk::qt::QtApplication app;
  int restarts = 0;
  std::vector<std::string> shown;

 private:
  QTimer closer_;
};

TEST_F(GuiProgramTest, WithoutTheRightItSaysSoInsteadOfFindingNoDevice) {
  bridge.devices().push_back(virt::MakeQvb886("\\\\?\\usbstor#disk#0001", {133, 1, 0, 3}));
  BoxAnswerer answerer;
  answerer.Answer(QMessageBox::No);
  EXPECT_EQ(0, RunGui(app, GuiOptions{}, Gate(false)));
  ASSERT_EQ(1u, answerer.seen.size());
  const auto& box = answerer.seen[0];
  EXPECT_EQ(kApplicationTitle, box.title);
  EXPECT_EQ(PrivilegeBoxText(), box.text);
  EXPECT_NE(std::string::npos, box.text.find("CAP_SYS_RAWIO"));
  EXPECT_NE(std::string::npos, box.text.find("pkexec"));
  EXPECT_EQ(std::string::npos, box.text.find("No compatible USB device were found."));
  EXPECT_EQ(QMessageBox::Warning, box.icon);
  EXPECT_EQ(QMessageBox::Yes | QMessageBox::No, box.buttons);
  EXPECT_FALSE(box.has_parent);
  // No window, no device touched, no start again.
  EXPECT_EQ(nullptr, app.main_window());
  EXPECT_TRUE(bridge.requests().empty());
  EXPECT_EQ(0, restarts);
}

TEST_F(GuiProgramTest, YesStartsAgainAndAFailedStartIsReported) {
  {
    BoxAnswerer answerer;
    answerer.Answer(QMessageBox::Yes);
    EXPECT_EQ(0, RunGui(app, GuiOptions{}, Gate(false)));
    EXPECT_EQ(1, restarts);
    EXPECT_EQ(1u, answerer.seen.size());
  }
  BoxAnswerer answerer;
  answerer.Answer(QMessageBox::Yes);
  EXPECT_EQ(0, RunGui(app, GuiOptions{}, Gate(false, false)));
  EXPECT_EQ(2, restarts);
  ASSERT_EQ(2u, answerer.seen.size());
  EXPECT_EQ(kRestartFailedText, answerer.seen[1].text);
  EXPECT_EQ(QMessageBox::Critical, answerer.seen[1].icon);
  EXPECT_EQ(nullptr, app.main_window());
}

TEST_F(GuiProgramTest, WithTheRightTheWindowRunsAsOnWindows) {
  BoxAnswerer answerer;
  CloseWhenShown();
  EXPECT_EQ(0, RunGui(app, GuiOptions{}, Gate(true)));
  EXPECT_TRUE(answerer.seen.empty());
  EXPECT_EQ((std::vector<std::string>{"No compatible USB device were found.",
                                      "Please plug a compatible USB device."}),
            shown);
  EXPECT_EQ(0, restarts);
}

TEST_F(GuiProgramTest, VirtualDevicesNeedNoRightAndLeaveTheSeamsAsTheyWere) {
  QTemporaryDir folder;
  ASSERT_TRUE(folder.isValid());
  const std::string file = folder.filePath("one.scenario").toStdString();
  WriteFile(file, kDevice1);
  BoxAnswerer answerer;
  CloseWhenShown();
  EXPECT_EQ(0, RunGui(app, GuiOptions{file}, Gate(false)));
  EXPECT_TRUE(answerer.seen.empty());
  EXPECT_EQ((std::vector<std::string>{"Firmware version: 133.01.00.03", "Status: Update required"}),
            shown);
  EXPECT_EQ(&devices.scenario(), &ActiveScsiHost());
  EXPECT_TRUE(bridge.requests().empty());  // the scenario's devices answered, not these
}

class ScenarioWatcherTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(folder.isValid());
    file = folder.filePath("live.scenario").toStdString();
  }
  std::unique_ptr<ScenarioWatcher> Watch() {
    return std::make_unique<ScenarioWatcher>(file,
                                             [this](uintptr_t code) { codes.push_back(code); });
  }
  QTemporaryDir folder;
  std::string file;
  Codes codes;
};

TEST_F(ScenarioWatcherTest, ChangesOfTheFileAreDeviceChanges) {
  WriteFile(file, kDevice1);
  auto watcher = Watch();
  struct Step {
    const char* what;
    const char* text;  // null: the file is deleted
    Codes codes;
  };
  const std::string both = std::string(kDevice1) + "\n" + kDevice2;
  const std::string second_only = kDevice2;
  const std::string upgraded =
      std::string(kDevice2).replace(std::string(kDevice2).find("133.1.0.6"), 9, "133.1.0.7");
  const Step steps[] = {
      {"nothing changed", kDevice1, {}},
      {"a device added", both.c_str(), {7}},
      {"the first device gone", second_only.c_str(), {0x8004, 7}},
      {"the device's version changed", upgraded.c_str(), {7}},
      {"a mistake in the file keeps the devices", "[device]\nnonsense\n", {7}},
      {"the mistake mended", upgraded.c_str(), {7}},
      {"the file deleted: everything gone", nullptr, {0x8004, 7}},
      {"still deleted", nullptr, {}},
      {"the file back", kDevice1, {7}},
  };
  for (const Step& step : steps) {
    SCOPED_TRACE(step.what);
    codes.clear();
    if (step.text)
      WriteFile(file, step.text);
    else
      std::remove(file.c_str());
    watcher->Check();
    EXPECT_EQ(step.codes, codes);
  }
}

TEST_F(ScenarioWatcherTest, TheFileSystemTellsTheWatcherAlsoWhenTheFileIsReplaced) {
  WriteFile(file, kDevice1);
  auto watcher = Watch();
  // Saved as editors save: a new file moved over the old one.
  const std::string temporary = file + ".new";
  WriteFile(temporary, kDevice2);
  ASSERT_EQ(0, std::rename(temporary.c_str(), file.c_str()));
  ASSERT_TRUE(WaitUntil([&] { return codes.size() >= 2; }));
  EXPECT_EQ((Codes{0x8004, 7}), codes);
  // The new file is watched in its turn.
  codes.clear();
  WriteFile(file, std::string(kDevice2) + "\n" + kDevice1);
  ASSERT_TRUE(WaitUntil([&] { return !codes.empty(); }));
  EXPECT_EQ(Codes{7}, codes);
}

}  // namespace
}  // namespace qvb::gui
