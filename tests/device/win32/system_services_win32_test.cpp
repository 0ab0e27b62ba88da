#include <windows.h>
#undef MessageBox
#undef PostMessage

#include <gtest/gtest.h>

#include "device/system_services.h"

namespace qvb {
namespace {

TEST(Win32SystemServices, VersionQueryWithBothRecordSizes) {
  SystemServices& system = PlatformSystemServices();
  uint32_t major_ex = 0, minor_ex = 0, major = 0, minor = 0;
  ASSERT_TRUE(system.GetVersion(156, major_ex, minor_ex));
  ASSERT_TRUE(system.GetVersion(148, major, minor));
  EXPECT_GE(major_ex, 5u);
  EXPECT_EQ(major_ex, major);
  EXPECT_EQ(minor_ex, minor);

  // Sizes the system does not know, and one larger than the record, are refused.
  for (uint32_t size : {0u, 100u, 157u, 4096u}) {
    uint32_t a = 77, b = 77;
    EXPECT_FALSE(system.GetVersion(size, a, b)) << size;
    EXPECT_EQ(77u, a) << size;
  }
}

LRESULT CALLBACK PlainWindowProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  return DefWindowProcA(window, message, wparam, lparam);
}

TEST(Win32SystemServices, FindsATopLevelWindowAndPostsToIt) {
  WNDCLASSA window_class{};
  window_class.lpfnWndProc = PlainWindowProc;
  window_class.hInstance = GetModuleHandleA(nullptr);
  window_class.lpszClassName = "QvbServicesTestWindow";
  ASSERT_NE(0, RegisterClassA(&window_class));
  HWND window = CreateWindowExA(0, "QvbServicesTestWindow", "Services test", WS_OVERLAPPED, 0, 0,
                                10, 10, nullptr, nullptr, window_class.hInstance, nullptr);
  ASSERT_NE(nullptr, window);

  SystemServices& system = PlatformSystemServices();
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

}  // namespace
}  // namespace qvb
