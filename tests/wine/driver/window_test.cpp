// The Windows program driven from outside under Wine: the shipped program (which finds no disk
// there) and the variant on virtual devices, whose scenario file the driver rewrites.
#include <windows.h>
// windows.h first: dbt.h builds on it.
#include <dbt.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>

#include "tests/wine/driver/probe.h"

namespace qvb::wine {
namespace {

using Clock = std::chrono::steady_clock;

constexpr const char* kTitle = "Quorvel FW Update Utility";
constexpr const char* kCaption = "Harlowen FW Update Utility v133.01.00.06";
constexpr const char* kNoDisk3 = "No compatible USB device were found.";
constexpr const char* kNoDisk4 = "Please plug a compatible USB device.";
constexpr const char* kWarningText =
    "Multiple USB drives are attached.\nPlease disconnect all devices\nexcept the one that needs "
    "to be updated.";
constexpr const char* kListLine = "<<USB>> Quorvel QVB886 NVMe     ";

long Elapsed(Clock::time_point since) {
  return static_cast<long>(
      std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - since).count());
}

// A QVB886 on a USB mass-storage path.
std::string Device(const char* version, int serial = 1) {
  char text[256];
  std::snprintf(text, sizeof text,
                "[device]\n"
                "path = \\\\?\\usbstor#disk&ven_quorvel&prod_qvb886_nvme&rev_1.00#%04d&0#"
                "{53f56307-b6bf-11d0-94f2-00a0c91efb8b}\n"
                "version = %s\n",
                serial, version);
  return text;
}

// The main window and its controls, found by tab order (the order of its child windows).
struct MainWindow {
  HWND application = nullptr;
  HWND form = nullptr;
  std::vector<HWND> controls;
  HWND list() const { return controls[0]; }
  HWND refresh() const { return controls[1]; }
  HWND exit() const { return controls[4]; }
  HWND update() const { return controls[6]; }
  HWND line(int n) const {
    static constexpr int kIndex[] = {3, 2, 5, 7, 8};  // pnl_Descript_1 .. pnl_Descript_5
    return controls[static_cast<std::size_t>(kIndex[n - 1])];
  }
};

// Waits until the form is shown with its caption set and all nine controls made.
bool WaitForMainWindow(const Program& program, MainWindow& window, DWORD milliseconds = 15000) {
  return WaitUntil(
      [&] {
        window.form = FindProcessWindow(program.id(), "TForm1", kCaption);
        if (!window.form || !IsWindowVisible(window.form)) return false;
        window.controls = Children(window.form);
        window.application = FindProcessWindow(program.id(), "TApplication", kTitle);
        return window.controls.size() == 9;
      },
      milliseconds);
}

struct State {
  std::string lines[5];
  bool update_visible, update_enabled, exit_visible, exit_enabled;
  std::string list;
  bool list_enabled;
};

State Read(const MainWindow& window) {
  State state;
  for (int n = 1; n <= 5; ++n) state.lines[n - 1] = TextOf(window.line(n));
  state.update_visible = HasStyle(window.update(), WS_VISIBLE);
  state.update_enabled = IsWindowEnabled(window.update()) != FALSE;
  state.exit_visible = HasStyle(window.exit(), WS_VISIBLE);
  state.exit_enabled = IsWindowEnabled(window.exit()) != FALSE;
  state.list = TextOf(window.list());
  state.list_enabled = IsWindowEnabled(window.list()) != FALSE;
  return state;
}

void ExpectLines(const State& state, std::initializer_list<const char*> lines) {
  int n = 0;
  for (const char* line : lines) {
    EXPECT_EQ(state.lines[n], line) << "pnl_Descript_" << n + 1;
    ++n;
  }
}

bool WaitForLine(const MainWindow& window, int n, const std::string& text,
                 DWORD milliseconds = 10000) {
  return WaitUntil([&] { return TextOf(window.line(n)) == text; }, milliseconds);
}

void CloseAndExpectResultZero(Program& program, const MainWindow& window) {
  PostMessageA(window.form, WM_SYSCOMMAND, SC_CLOSE, 0);
  DWORD code = 12345;
  ASSERT_TRUE(program.WaitForExit(10000, code)) << "still running after the close";
  EXPECT_EQ(code, 0u);
}

class VirtualProgramTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(DriverSettings().virtual_program.empty()) << "QVB_DRIVER_VIRTUAL not set";
    const std::string name = ::testing::UnitTest::GetInstance()->current_test_info()->name();
    scenario = DriverSettings().work + "\\" + name + ".scenario";
    flash = DriverSettings().work + "\\" + name + ".flash";
    DeleteFileA(flash.c_str());
  }
  bool Start(const std::string& text, std::vector<std::pair<std::string, std::string>> extra = {}) {
    if (!WriteTextFile(scenario, text)) return false;
    extra.emplace_back("QVB_SCENARIO", scenario);
    extra.emplace_back("QVB_FLASH_OUT", flash);
    return program.Start(DriverSettings().virtual_program, extra);
  }
  // Changes what is attached and tells the program, as the system does after a hot plug.
  Clock::time_point Replug(const std::string& text) {
    EXPECT_TRUE(WriteTextFile(scenario, text));
    const auto posted = Clock::now();
    EXPECT_TRUE(PostMessageA(window.form, WM_DEVICECHANGE, DBT_DEVNODES_CHANGED, 0));
    return posted;
  }

  std::string scenario;
  std::string flash;
  Program program;
  MainWindow window;
};

// --- the shipped program ----------------------------------------------------------------------

struct ExpectedControl {
  const char* name;
  const char* window_class;
  int left, top, width, height;
  bool visible;  // in the layout; the refresh hides Exit and Update when no disk is found
  const char* text;
};

// In tab order.
const ExpectedControl kLayout[] = {
    {"cbb_DeviceList", "ComboBox", 216, 144, 177, 21, false, "No available device!!!"},
    {"btn_Refresh", "Button", 80, 144, 97, 25, false, "Refresh"},
    {"pnl_Descript_2", "TPanel", 8, 35, 460, 25, true, ""},
    {"pnl_Descript_1", "TPanel", 8, 5, 460, 25, true, ""},
    {"btn_Exit", "Button", 384, 160, 80, 33, false, "Exit"},
    {"pnl_Descript_3", "TPanel", 7, 65, 460, 25, true, kNoDisk3},
    {"btn_upd", "Button", 208, 160, 80, 33, false, "Update"},
    {"pnl_Descript_4", "TPanel", 7, 95, 460, 25, true, kNoDisk4},
    {"pnl_Descript_5", "TPanel", 7, 125, 460, 25, true, ""},
};

TEST(ShippedProgram, ShowsTheDesignedWindowAndTheCloseBoxEndsItWithResultZero) {
  Program program;
  ASSERT_TRUE(program.Start(DriverSettings().program)) << DriverSettings().program;
  MainWindow window;
  ASSERT_TRUE(WaitForMainWindow(program, window));

  ASSERT_NE(window.application, nullptr) << "application window titled " << kTitle;
  EXPECT_EQ(GetWindow(window.form, GW_OWNER), window.application);
  RECT client;
  GetClientRect(window.form, &client);
  EXPECT_EQ(client.right, 475);
  EXPECT_EQ(client.bottom, 203);
  EXPECT_TRUE(HasStyle(window.form, WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX));
  EXPECT_FALSE(HasStyle(window.form, WS_MAXIMIZEBOX));
  EXPECT_FALSE(HasStyle(window.form, WS_THICKFRAME));
  RECT frame;
  GetWindowRect(window.form, &frame);
  EXPECT_NEAR((frame.left + frame.right) / 2, GetSystemMetrics(SM_CXSCREEN) / 2, 1);
  EXPECT_NEAR((frame.top + frame.bottom) / 2, GetSystemMetrics(SM_CYSCREEN) / 2, 1);

  for (std::size_t i = 0; i < std::size(kLayout); ++i) {
    const ExpectedControl& expected = kLayout[i];
    SCOPED_TRACE(expected.name);
    HWND control = window.controls[i];
    EXPECT_EQ(ClassOf(control), expected.window_class);
    const RECT rect = RectInParent(control);
    EXPECT_EQ(rect.left, expected.left);
    EXPECT_EQ(rect.top, expected.top);
    EXPECT_EQ(rect.right - rect.left, expected.width);
    EXPECT_EQ(rect.bottom - rect.top, expected.height);
    EXPECT_EQ(HasStyle(control, WS_VISIBLE), expected.visible);
    EXPECT_EQ(TextOf(control), expected.text);
  }
  EXPECT_FALSE(IsWindowEnabled(window.list()));
  Screenshot("shipped_no_disk");

  // Minimising the form minimises the application window, which takes the form along.
  PostMessageA(window.form, WM_SYSCOMMAND, SC_MINIMIZE, 0);
  EXPECT_TRUE(WaitUntil([&] {
    return IsIconic(window.application) && !IsWindowVisible(window.form);
  })) << "iconic "
      << IsIconic(window.application) << " form visible " << IsWindowVisible(window.form)
      << " form iconic " << IsIconic(window.form);
  PostMessageA(window.application, WM_SYSCOMMAND, SC_RESTORE, 0);
  EXPECT_TRUE(
      WaitUntil([&] { return !IsIconic(window.application) && IsWindowVisible(window.form); }));
  CloseAndExpectResultZero(program, window);
}

TEST(ShippedProgram, DevicesChangedEventRefreshesHalfASecondLater) {
  Program program;
  ASSERT_TRUE(program.Start(DriverSettings().program));
  MainWindow window;
  ASSERT_TRUE(WaitForMainWindow(program, window));
  // A refresh empties every line first: a marker in line 1 shows when one has run.
  SetText(window.line(1), "marker");
  ASSERT_EQ(TextOf(window.line(1)), "marker");
  ASSERT_TRUE(PostMessageA(window.form, WM_DEVICECHANGE, DBT_CONFIGCHANGED, 0));
  Sleep(800);
  EXPECT_EQ(TextOf(window.line(1)), "marker") << "another event code refreshed the window";

  const auto posted = Clock::now();
  ASSERT_TRUE(PostMessageA(window.form, WM_DEVICECHANGE, DBT_DEVNODES_CHANGED, 0));
  ASSERT_TRUE(WaitForLine(window, 1, "", 5000)) << "no refresh after the devices-changed event";
  EXPECT_GE(Elapsed(posted), 450) << "the refresh did not wait for its timer";
  ExpectLines(Read(window), {"", "", kNoDisk3, kNoDisk4, ""});
  CloseAndExpectResultZero(program, window);
}

// --- the virtual variant: one device ----------------------------------------------------------

struct OneDeviceCase {
  const char* version;
  const char* line3;
  const char* line4;
  bool update_offered;
  bool exit_visible;
  const char* shot;
};

TEST_F(VirtualProgramTest, OneDeviceShowsItsFirmwareState) {
  const OneDeviceCase cases[] = {
      {"133.1.0.3", "Firmware version: 133.01.00.03", "Status: Update required", true, false,
       "virtual_update_required"},
      {"133.1.0.6", "Firmware version: 133.01.00.06", "Status: Up to date", false, true,
       "virtual_up_to_date"},
      {"133.1.0.7", "Firmware version: 133.01.00.07", "Status: Not support FW update", false, false,
       "virtual_not_supported"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.version);
    Program one;
    ASSERT_TRUE(WriteTextFile(scenario, Device(c.version)));
    ASSERT_TRUE(one.Start(DriverSettings().virtual_program, {{"QVB_SCENARIO", scenario}}));
    MainWindow shown;
    ASSERT_TRUE(WaitForMainWindow(one, shown));
    const State state = Read(shown);
    ExpectLines(state, {"", "", c.line3, c.line4, ""});
    EXPECT_EQ(state.update_visible, c.update_offered);
    EXPECT_EQ(state.update_enabled, c.update_offered);
    EXPECT_EQ(state.exit_visible, c.exit_visible);
    EXPECT_EQ(state.list, kListLine);
    EXPECT_TRUE(state.list_enabled);
    EXPECT_FALSE(HasStyle(shown.list(), WS_VISIBLE));
    Screenshot(c.shot);
    if (c.exit_visible) {
      Click(shown.exit());
      DWORD code = 12345;
      ASSERT_TRUE(one.WaitForExit(10000, code)) << "Exit did not end the program";
      EXPECT_EQ(code, 0u);
    } else {
      CloseAndExpectResultZero(one, shown);
    }
  }
}

// --- several devices and hot plug -------------------------------------------------------------

TEST_F(VirtualProgramTest, SeveralDisksWarnBeforeTheWindowIsFirstShown) {
  ASSERT_TRUE(Start(Device("133.1.0.3", 1) + Device("133.1.0.6", 2)));
  HWND box = nullptr;
  ASSERT_TRUE(WaitUntil([&] { return (box = FindMessageBox(program.id())) != nullptr; }, 15000));
  EXPECT_EQ(TextOf(box), "Warning");
  EXPECT_EQ(MessageBoxText(box), kWarningText);
  HWND hidden = FindProcessWindow(program.id(), "TForm1");
  ASSERT_NE(hidden, nullptr);
  EXPECT_FALSE(IsWindowVisible(hidden)) << "the box comes before the window";
  EXPECT_EQ(TextOf(hidden), "Form1") << "the caption is set after the refresh";
  Screenshot("virtual_several_disks_warning");
  PressOk(box);

  ASSERT_TRUE(WaitForMainWindow(program, window));
  const State state = Read(window);
  ExpectLines(state, {"", "Multiple USB drives are attached.", "Please disconnect all devices.",
                      "except the one that needs to be updated.", ""});
  EXPECT_FALSE(state.update_visible);
  EXPECT_FALSE(state.exit_visible);
  EXPECT_EQ(state.list, kListLine);
  EXPECT_EQ(SendMessageA(window.list(), CB_GETCOUNT, 0, 0), 2);
  Screenshot("virtual_several_disks");
  CloseAndExpectResultZero(program, window);
}

TEST_F(VirtualProgramTest, HotPlugRefreshesToTheNewDevicesHalfASecondLater) {
  ASSERT_TRUE(Start(""));
  ASSERT_TRUE(WaitForMainWindow(program, window));
  State state = Read(window);
  ExpectLines(state, {"", "", kNoDisk3, kNoDisk4, ""});
  EXPECT_EQ(state.list, "No available device!!!");
  EXPECT_FALSE(state.list_enabled);
  EXPECT_FALSE(state.update_visible);
  EXPECT_FALSE(state.exit_visible);
  Screenshot("virtual_no_disk");

  // Plugged in.
  auto posted = Replug(Device("133.1.0.5"));
  ASSERT_TRUE(WaitForLine(window, 4, "Status: Update required"));
  EXPECT_GE(Elapsed(posted), 450);
  state = Read(window);
  ExpectLines(state, {"", "", "Firmware version: 133.01.00.05", "Status: Update required", ""});
  EXPECT_TRUE(state.update_visible && state.update_enabled);
  Screenshot("virtual_hotplug_update_required");

  // A second one: the warning comes up over the shown window, which it disables.
  Replug(Device("133.1.0.5", 1) + Device("133.1.0.0", 2));
  HWND box = nullptr;
  ASSERT_TRUE(WaitUntil([&] { return (box = FindMessageBox(program.id())) != nullptr; }, 10000));
  EXPECT_EQ(MessageBoxText(box), kWarningText);
  EXPECT_FALSE(IsWindowEnabled(window.form)) << "the box is task-modal";
  Screenshot("virtual_hotplug_several_disks_warning");
  PressOk(box);
  ASSERT_TRUE(WaitForLine(window, 2, "Multiple USB drives are attached."));
  ASSERT_TRUE(WaitUntil([&] { return IsWindowEnabled(window.form) != FALSE; }));
  EXPECT_FALSE(Read(window).update_visible);

  // Both gone.
  posted = Replug("");
  ASSERT_TRUE(WaitForLine(window, 3, kNoDisk3));
  EXPECT_GE(Elapsed(posted), 450);
  ExpectLines(Read(window), {"", "", kNoDisk3, kNoDisk4, ""});
  CloseAndExpectResultZero(program, window);
}

// --- the update -------------------------------------------------------------------------------

TEST_F(VirtualProgramTest, UpdateWritesTheCarriedImageIntoTheFlash) {
  ASSERT_TRUE(Start(Device("133.1.0.3")));
  ASSERT_TRUE(WaitForMainWindow(program, window));
  ASSERT_TRUE(Read(window).update_enabled);
  Click(window.update());
  ASSERT_TRUE(WaitForLine(window, 4, "Successfully updated.", 30000));
  const State state = Read(window);
  ExpectLines(state, {"", "Please power off/on your USB device", "", "Successfully updated.", ""});
  EXPECT_FALSE(state.update_visible);
  EXPECT_TRUE(state.exit_visible && state.exit_enabled);
  Screenshot("virtual_update_success");
  Click(window.exit());
  DWORD code = 12345;
  ASSERT_TRUE(program.WaitForExit(10000, code));
  EXPECT_EQ(code, 0u);

  const std::vector<uint8_t> image =
      ExecutableResource(DriverSettings().virtual_program, "QVB886_FW_133_01_00_06");
  ASSERT_EQ(image.size(), 67072u);
  const std::vector<uint8_t> written = ReadBinaryFile(flash);
  ASSERT_GE(written.size(), image.size());
  // The download covers the bridge's buffer (0x10400 bytes); the image's last 512 bytes stay out.
  constexpr std::size_t kDownload = 0x10400;
  EXPECT_TRUE(std::equal(image.begin(), image.begin() + kDownload, written.begin()))
      << "the flash differs from the image";
  EXPECT_TRUE(
      std::all_of(written.begin() + kDownload, written.end(), [](uint8_t b) { return b == 0xFF; }));
}

TEST_F(VirtualProgramTest, HotPlugAfterAnUpdateStillAsksForThePowerCycle) {
  ASSERT_TRUE(Start(Device("133.1.0.3")));
  ASSERT_TRUE(WaitForMainWindow(program, window));
  ASSERT_TRUE(Read(window).update_enabled);
  Click(window.update());
  ASSERT_TRUE(WaitForLine(window, 4, "Successfully updated.", 30000));

  // The bridge is still attached and, not yet powered off and on, still reports 133.1.0.3.
  // A refresh empties every line first: a marker in line 1 shows when one has run.
  SetText(window.line(1), "marker");
  ASSERT_EQ(TextOf(window.line(1)), "marker");
  const auto posted = Replug(Device("133.1.0.3"));
  ASSERT_TRUE(WaitForLine(window, 1, "", 5000)) << "no refresh after the hot-plug event";
  EXPECT_GE(Elapsed(posted), 450);
  const auto waiting = [&] {
    const State state = Read(window);
    return state.lines[1] == "Please power off/on your USB device" &&
           state.lines[3] == "Successfully updated." && !state.update_visible && state.exit_visible;
  };
  EXPECT_TRUE(WaitUntil(waiting, 10000)) << "the refresh offered the update again";
  const State state = Read(window);
  ExpectLines(state, {"", "Please power off/on your USB device", "", "Successfully updated.", ""});
  EXPECT_FALSE(state.update_visible);
  EXPECT_TRUE(state.exit_visible && state.exit_enabled);
  Screenshot("virtual_power_cycle_pending");
  CloseAndExpectResultZero(program, window);
}

TEST_F(VirtualProgramTest, FailedUpdateSaysSoAndLeavesTheFlashAlone) {
  ASSERT_TRUE(Start(Device("133.1.0.3") + "fault = write_buffer check_condition\n"));
  ASSERT_TRUE(WaitForMainWindow(program, window));
  ASSERT_TRUE(Read(window).update_enabled);
  Click(window.update());
  ASSERT_TRUE(WaitForLine(window, 3, "Update Fail!", 30000));
  const State state = Read(window);
  ExpectLines(state, {"", "", "Update Fail!", "Updating....", ""});
  EXPECT_TRUE(state.update_visible);
  EXPECT_FALSE(state.update_enabled);
  EXPECT_FALSE(state.exit_visible);
  EXPECT_TRUE(state.exit_enabled);
  Screenshot("virtual_update_fail");
  CloseAndExpectResultZero(program, window);
  const std::vector<uint8_t> written = ReadBinaryFile(flash);
  ASSERT_FALSE(written.empty());
  EXPECT_TRUE(std::all_of(written.begin(), written.end(), [](uint8_t b) { return b == 0xFF; }));
}

TEST_F(VirtualProgramTest, RemovalDuringTheUpdateRefreshesOnlyAfterItEnds) {
  // Slowed so that the update is still running when the event arrives.
  ASSERT_TRUE(Start(Device("133.1.0.3"), {{"QVB_OPEN_DELAY_MS", "10"}}));
  ASSERT_TRUE(WaitForMainWindow(program, window));
  ASSERT_TRUE(Read(window).update_enabled);
  Click(window.update());
  ASSERT_TRUE(WaitForLine(window, 4, "Updating....", 10000));
  ASSERT_TRUE(WriteTextFile(scenario, ""));
  // A removal-complete event carries its record; it is sent, and handled while the update
  // processes its messages.
  DEV_BROADCAST_DEVICEINTERFACE_A record{};
  record.dbcc_size = sizeof record;
  record.dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
  DWORD_PTR result = 0;
  ASSERT_TRUE(SendMessageTimeoutA(window.form, WM_DEVICECHANGE, DBT_DEVICEREMOVECOMPLETE,
                                  reinterpret_cast<LPARAM>(&record), SMTO_NORMAL, 10000, &result));
  ASSERT_EQ(TextOf(window.line(4)), "Updating....") << "the update ended before the event";
  // Half a second later the timer falls due, inside the update: the refresh waits for its end.
  // Had it run inside, the update would have lost its device and shown "Update Fail!".
  ASSERT_TRUE(WaitForLine(window, 3, kNoDisk3, 20000));
  // A refresh inside the update would show these lines only until the failed update
  // overwrote them: they must stay.
  Sleep(1000);
  ExpectLines(Read(window), {"", "", kNoDisk3, kNoDisk4, ""});
  CloseAndExpectResultZero(program, window);
}

// --- the shell prompt -------------------------------------------------------------------------

// A dialog of the driver's own, as the shell would put one up.
class DriverDialog {
 public:
  explicit DriverDialog(const char* title)
      : title_(title), thread_([this] {
          MessageBoxA(nullptr, "A dialog of the test driver", title_.c_str(), MB_OK);
          closed_ = true;
        }) {}
  ~DriverDialog() {
    if (HWND box = Find()) PostMessageA(box, WM_COMMAND, IDOK, 0);
    thread_.join();
  }
  HWND Find() const { return FindProcessWindow(GetCurrentProcessId(), "#32770", title_.c_str()); }
  bool closed() const { return closed_; }

 private:
  std::string title_;
  std::atomic<bool> closed_{false};
  std::thread thread_;
};

// Wine reports the Windows version an executable asks for under AppDefaults.
class ReportedVersion {
 public:
  ReportedVersion(const std::string& exe, const char* version)
      : key_("Software\\Wine\\AppDefaults\\" + exe.substr(exe.find_last_of("\\/") + 1)) {
    HKEY key;
    if (RegCreateKeyExA(HKEY_CURRENT_USER, key_.c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr,
                        &key, nullptr) == ERROR_SUCCESS) {
      RegSetValueExA(key, "Version", 0, REG_SZ, reinterpret_cast<const BYTE*>(version),
                     static_cast<DWORD>(std::strlen(version) + 1));
      RegCloseKey(key);
    }
  }
  ~ReportedVersion() { RegDeleteKeyA(HKEY_CURRENT_USER, key_.c_str()); }

 private:
  std::string key_;
};

TEST_F(VirtualProgramTest, ShellPromptIsClosedAfterTheStatusCheckOnWindows7NotOnXp) {
  for (const char* version : {"win7", "winxp"}) {
    SCOPED_TRACE(version);
    const bool closes = std::string(version) == "win7";
    ReportedVersion reported(DriverSettings().virtual_program, version);
    Program run;
    ASSERT_TRUE(WriteTextFile(scenario, Device("133.1.0.3")));
    ASSERT_TRUE(run.Start(DriverSettings().virtual_program, {{"QVB_SCENARIO", scenario}}));
    MainWindow shown;
    ASSERT_TRUE(WaitForMainWindow(run, shown));
    DriverDialog prompt("Microsoft Windows");
    DriverDialog other("Microsoft Windows Setup");
    ASSERT_TRUE(WaitUntil([&] { return prompt.Find() && other.Find(); }));
    SetText(shown.line(1), "marker");
    ASSERT_TRUE(PostMessageA(shown.form, WM_DEVICECHANGE, DBT_DEVNODES_CHANGED, 0));
    ASSERT_TRUE(WaitForLine(shown, 1, "", 5000));
    ASSERT_TRUE(WaitForLine(shown, 4, "Status: Update required"));
    if (closes) {
      EXPECT_TRUE(WaitUntil([&] { return prompt.closed(); }, 5000)) << "the prompt stayed";
      Sleep(500);  // the closing loop goes on for 101 calls after the first hit
    } else {
      Sleep(1000);  // time enough for a closing loop that should not run
      EXPECT_FALSE(prompt.closed()) << "closed on a version that keeps it";
    }
    EXPECT_FALSE(other.closed()) << "a dialog of another title was closed";
    CloseAndExpectResultZero(run, shown);
  }
}

// --- the shipped program on the USB rig's gadget ----------------------------------------------

// Runs only in the rig's guest, where a gadget running 133.1.0.3 sits behind Wine's SG_IO path
// and QVB_RIG_BUS_PREFIX names the list prefix its interface path should give.
TEST(RigBridge, ShippedProgramFindsAndUpdatesTheGadget) {
  const char* prefix = std::getenv("QVB_RIG_BUS_PREFIX");
  if (!prefix) GTEST_SKIP() << "only in the USB rig (QVB_RIG_BUS_PREFIX not set)";
  Program program;
  ASSERT_TRUE(program.Start(DriverSettings().program)) << DriverSettings().program;
  MainWindow window;
  // Under emulation the enumeration and the status check take a while.
  ASSERT_TRUE(WaitForMainWindow(program, window, 120000));
  State state = Read(window);
  ExpectLines(state, {"", "", "Firmware version: 133.01.00.03", "Status: Update required", ""});
  EXPECT_EQ(state.list.rfind(prefix, 0), 0u) << state.list;
  EXPECT_NE(state.list.find("Quorvel QVB886 NVMe"), std::string::npos) << state.list;
  ASSERT_TRUE(state.update_visible && state.update_enabled);
  Click(window.update());
  ASSERT_TRUE(WaitForLine(window, 4, "Successfully updated.", 180000))
      << "line 4: " << TextOf(window.line(4));
  state = Read(window);
  ExpectLines(state, {"", "Please power off/on your USB device", "", "Successfully updated.", ""});
  EXPECT_FALSE(state.update_visible);
  ASSERT_TRUE(state.exit_visible && state.exit_enabled);
  Click(window.exit());
  DWORD code = 12345;
  ASSERT_TRUE(program.WaitForExit(30000, code));
  EXPECT_EQ(code, 0u);
}

}  // namespace
}  // namespace qvb::wine
