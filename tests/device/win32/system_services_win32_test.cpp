#include "device/win32/system_services_win32.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "device/platform_host.h"

namespace qvb {
namespace {

TEST(Win32ShellServices, VersionQueryWithBothRecordSizes) {
  uint32_t major_ex = 0, minor_ex = 0, major = 0, minor = 0;
  ASSERT_TRUE(win32_host::QueryWindowsVersion(156, major_ex, minor_ex));
  ASSERT_TRUE(win32_host::QueryWindowsVersion(148, major, minor));
  EXPECT_GE(major_ex, 5u);
  EXPECT_EQ(major_ex, major);
  EXPECT_EQ(minor_ex, minor);

  // Sizes the system does not know, and one larger than the record, are refused.
  for (uint32_t size : {0u, 100u, 157u, 4096u}) {
    uint32_t a = 77, b = 77;
    EXPECT_FALSE(win32_host::QueryWindowsVersion(size, a, b)) << size;
    EXPECT_EQ(77u, a) << size;
  }

  // The shell's view: the same version, whichever record the system took.
  uint32_t shell_major = 0, shell_minor = 0;
  ASSERT_TRUE(PlatformShellServices().GetWindowsVersion(shell_major, shell_minor));
  EXPECT_EQ(major, shell_major);
  EXPECT_EQ(minor, shell_minor);
}

LRESULT CALLBACK PlainWindowProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  return DefWindowProcA(window, message, wparam, lparam);
}

TEST(Win32ShellServices, FindsATopLevelWindowAndPostsToIt) {
  WNDCLASSA window_class{};
  window_class.lpfnWndProc = PlainWindowProc;
  window_class.hInstance = GetModuleHandleA(nullptr);
  window_class.lpszClassName = "QvbServicesTestWindow";
  ASSERT_NE(0, RegisterClassA(&window_class));
  HWND window = CreateWindowExA(0, "QvbServicesTestWindow", "Services test", WS_OVERLAPPED, 0, 0,
                                10, 10, nullptr, nullptr, window_class.hInstance, nullptr);
  ASSERT_NE(nullptr, window);

  ShellServices& system = PlatformShellServices();
  EXPECT_EQ(window, system.FindTopLevelWindow("QvbServicesTestWindow", "Services test"));
  EXPECT_EQ(nullptr, system.FindTopLevelWindow("QvbServicesTestWindow", "Other title"));
  EXPECT_EQ(nullptr, system.FindTopLevelWindow("#32770", "Services test"));

  ASSERT_TRUE(system.PostMessage(window, WM_APP + 5, 7, -3));
  MSG message{};
  ASSERT_TRUE(PeekMessageA(&message, window, WM_APP + 5, WM_APP + 5, PM_REMOVE));
  EXPECT_EQ(7u, message.wParam);
  EXPECT_EQ(-3, message.lParam);

  DestroyWindow(window);
  UnregisterClassA("QvbServicesTestWindow", window_class.hInstance);
  EXPECT_FALSE(system.PostMessage(window, WM_APP + 5, 0, 0)) << "the window is gone";
}

std::vector<EXECUTION_STATE>* g_states = nullptr;
EXECUTION_STATE g_previous_state = ES_CONTINUOUS;

EXECUTION_STATE WINAPI FakeSetThreadExecutionState(EXECUTION_STATE flags) {
  g_states->push_back(flags);
  return g_previous_state;
}

TEST(Win32SystemServices, SleepIsHeldBackThroughTheThreadExecutionState) {
  std::vector<EXECUTION_STATE> states;
  g_states = &states;
  g_previous_state = ES_CONTINUOUS;
  win32_host::Win32SystemServices services(FakeSetThreadExecutionState);
  std::string reason;
  ASSERT_TRUE(services.InhibitSleep(reason));
  EXPECT_EQ(std::vector<EXECUTION_STATE>{ES_CONTINUOUS | ES_SYSTEM_REQUIRED}, states);
  services.AllowSleep();
  EXPECT_EQ((std::vector<EXECUTION_STATE>{ES_CONTINUOUS | ES_SYSTEM_REQUIRED, ES_CONTINUOUS}),
            states);

  // The call fails by answering 0: refused with a reason.
  states.clear();
  g_previous_state = 0;
  EXPECT_FALSE(services.InhibitSleep(reason));
  EXPECT_FALSE(reason.empty());
  EXPECT_EQ(1u, states.size());
  g_states = nullptr;
}

// The system's own call: the state asked for is the thread's until it is put back.
TEST(Win32SystemServices, TheThreadStateIsSetAndPutBack) {
  SystemServices& system = PlatformSystemServices();
  std::string reason;
  ASSERT_TRUE(system.InhibitSleep(reason)) << reason;
  // Setting a state answers with the one in force before it.
  EXPECT_EQ(static_cast<EXECUTION_STATE>(ES_CONTINUOUS | ES_SYSTEM_REQUIRED),
            SetThreadExecutionState(ES_CONTINUOUS | ES_SYSTEM_REQUIRED));
  system.AllowSleep();
  EXPECT_EQ(static_cast<EXECUTION_STATE>(ES_CONTINUOUS), SetThreadExecutionState(ES_CONTINUOUS));
}

}  // namespace
}  // namespace qvb
