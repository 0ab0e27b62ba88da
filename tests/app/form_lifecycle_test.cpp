// The main window's life: start order, hot-plug coalescing, the timer, Exit, the exception display.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>

#include "app/startup.h"
#include "app/tform1.h"
#include "app/toolkit/headless/headless_toolkit.h"
#include "tests/app/window_rig.h"

namespace qvb {
namespace {

using tk::headless::HeadlessApplication;
using tk::headless::HeadlessWindow;

class FormLifecycleTest : public testing::WindowRig {};

TEST_F(FormLifecycleTest, StartOrderIsRefreshThenRegistrationThenCaption) {
  auto& form = Start();
  auto& window = static_cast<HeadlessWindow&>(form.window());
  EXPECT_EQ(1, form.refreshes());
  EXPECT_EQ((std::vector<std::string>{"register", "caption"}), window.events);
  EXPECT_EQ("Harlowen FW Update Utility v133.01.00.06", window.Caption());
  ASSERT_EQ(1u, window.registrations.size());
  const auto& filter = window.registrations[0];
  EXPECT_EQ(32u, filter.size);
  EXPECT_EQ(5u, filter.device_type);
  EXPECT_EQ(0xA5DCBF10u, filter.guid_data1);
  EXPECT_EQ(0x6530, filter.guid_data2);
  EXPECT_EQ(0x11D2, filter.guid_data3);
  const uint8_t data4[8] = {0x90, 0x1F, 0x00, 0xC0, 0x4F, 0xB9, 0x51, 0xED};
  EXPECT_EQ(0, std::memcmp(data4, filter.guid_data4, 8));
  EXPECT_EQ(0u, window.registration_flags[0]);
  EXPECT_FALSE(window.shown()) << "the window is first shown by the message loop";
}

TEST_F(FormLifecycleTest, RunProgramTitlesTheApplicationAndReturnsZeroAfterExit) {
  AttachQvb886(1, {133, 1, 0, 6});  // up to date: Exit is offered
  bool clicked = false;
  // The user presses Exit once the window is up; the status check's message processing during
  // construction comes before that.
  std::function<void()> press = [&] {
    auto* form_window = app.main_window();
    if (!form_window || !form_window->shown()) {
      app.Queue(press);
      return;
    }
    EXPECT_EQ("Harlowen FW Update Utility v133.01.00.06", form_window->Caption());
    clicked = tk::headless::Click(form_window->Find("btn_Exit"));
  };
  app.Queue(press);
  EXPECT_EQ(0, RunProgram(app));
  EXPECT_TRUE(clicked);
  EXPECT_TRUE(app.initialized());
  EXPECT_EQ("Quorvel FW Update Utility", app.Title());
  EXPECT_EQ(1u, app.unregistrations.size()) << "released on the way out";
}

TEST_F(FormLifecycleTest, DestructorReleasesTheRegistration) {
  auto& form = Start();
  auto& window = static_cast<HeadlessWindow&>(form.window());
  void* handle = window.live_registration();
  ASSERT_NE(nullptr, handle);
  form_.reset();
  // The window went with the form; what it recorded is checked through the rig's copy.
  ASSERT_EQ(1u, app.unregistrations.size());
  EXPECT_EQ(handle, app.unregistrations[0]);
}

TEST_F(FormLifecycleTest, FailedRegistrationPassesNullToTheUnregistration) {
  registration_fails = true;
  Start();
  form_.reset();
  ASSERT_EQ(1u, app.unregistrations.size());
  EXPECT_EQ(nullptr, app.unregistrations[0]);
}

TEST_F(FormLifecycleTest, BurstOfEventsGivesOneRefreshHalfASecondAfterTheLast) {
  auto& form = Start();
  const int before = form.refreshes();
  for (int i = 0; i < 3; ++i) {
    Post(tk::kWmDeviceChange, tk::kDbtDevNodesChanged);
    app.RunFor(200);
  }
  // Events at 0, 200 and 400 ms; nothing has happened by 899 ms.
  app.RunFor(299);
  EXPECT_EQ(before, form.refreshes());
  app.RunFor(1);
  EXPECT_EQ(before + 1, form.refreshes());
  EXPECT_FALSE(Window().TimerArmed(kRefreshTimerId)) << "one-shot";
  app.RunFor(5000);
  EXPECT_EQ(before + 1, form.refreshes());
}

TEST_F(FormLifecycleTest, EventsThatDoNotArmTheTimer) {
  struct Case {
    const char* what;
    uintptr_t event;
    int32_t busy;
  };
  const Case cases[] = {
      {"arrival alone", tk::kDbtDeviceArrival, 0},
      {"other event", 0x0018, 0},
      {"devices changed while updating", tk::kDbtDevNodesChanged, 1},
  };
  for (const auto& c : cases) {
    auto& form = Start();
    const int before = form.refreshes();
    UpdateBusy = c.busy;
    Post(tk::kWmDeviceChange, c.event);
    app.RunFor(2000);
    EXPECT_FALSE(Window().TimerArmed(kRefreshTimerId)) << c.what;
    EXPECT_EQ(before, form.refreshes()) << c.what;
    EXPECT_EQ(c.busy, UpdateBusy) << c.what;
    UpdateBusy = 0;
  }
}

TEST_F(FormLifecycleTest, RemovalWhileUpdatingClearsTheFlagAndArmsTheTimer) {
  Start();
  UpdateBusy = 1;
  Window().Deliver(tk::kWmDeviceChange, tk::kDbtDeviceRemoveComplete);
  EXPECT_EQ(0, UpdateBusy);
  ASSERT_TRUE(Window().TimerArmed(kRefreshTimerId));
  EXPECT_EQ(app.now() + 500, Window().TimerDue(kRefreshTimerId));
}

TEST_F(FormLifecycleTest, OtherTimerIsIgnoredAndLeavesTheRefreshTimer) {
  auto& form = Start();
  const int before = form.refreshes();
  Window().Deliver(tk::kWmDeviceChange, tk::kDbtDevNodesChanged);
  const uint64_t due = Window().TimerDue(kRefreshTimerId);
  Window().Deliver(tk::kWmTimer, 100);
  EXPECT_TRUE(Window().TimerArmed(kRefreshTimerId));
  EXPECT_EQ(due, Window().TimerDue(kRefreshTimerId));
  EXPECT_EQ(before, form.refreshes());
}

TEST_F(FormLifecycleTest, HandledMessagesAreNotPassedOn) {
  Start();
  EXPECT_TRUE(Window().Deliver(tk::kWmTimer, 100));
  EXPECT_TRUE(Window().Deliver(tk::kWmDeviceChange, 0x8000));
  EXPECT_FALSE(Window().Deliver(0x0005, 0));  // WM_SIZE goes to the default handling
}

TEST(ExceptionDisplay, FullStopRule) {
  EXPECT_EQ("", tk::ExceptionDisplayText(""));
  EXPECT_EQ("Disk gone.", tk::ExceptionDisplayText("Disk gone"));
  EXPECT_EQ("Disk gone.", tk::ExceptionDisplayText("Disk gone."));
  EXPECT_EQ("Really?.", tk::ExceptionDisplayText("Really?"));
  EXPECT_EQ("Ends in -", tk::ExceptionDisplayText("Ends in -")) << "'-' sorts below '.'";
  EXPECT_EQ("Ends in !", tk::ExceptionDisplayText("Ends in !"));
}

// An application whose message loop throws, to reach the outermost display.
class ThrowingApplication : public HeadlessApplication {
 public:
  explicit ThrowingApplication(bool toolkit_exception) : toolkit_(toolkit_exception) {}
  void Run(tk::Window&) override {
    if (toolkit_) throw tk::Exception("Access denied");
    throw 42;
  }

 private:
  bool toolkit_;
};

TEST_F(FormLifecycleTest, EscapingExceptionsAreShownAndTheResultIsStillZero) {
  {
    ThrowingApplication throwing(true);
    EXPECT_EQ(0, RunProgram(throwing));
    EXPECT_EQ(std::vector<std::string>{"Access denied."}, throwing.exceptions_shown);
  }
  {
    ThrowingApplication throwing(false);
    EXPECT_EQ(0, RunProgram(throwing));
    EXPECT_EQ(std::vector<std::string>{""}, throwing.exceptions_shown);
  }
}

}  // namespace
}  // namespace qvb
