// The Update command: what the window shows during, after success and after failure.
#include <gtest/gtest.h>

#include "app/tform1.h"
#include "tests/app/window_rig.h"

namespace qvb {
namespace {

using Texts = std::vector<std::string>;

class UpdateCommandTest : public testing::WindowRig {
 protected:
  TForm1& StartWithUpdateOffered() {
    AttachQvb886(1, {133, 1, 0, 3});
    auto& form = Start();
    EXPECT_TRUE(form.btn_upd->Visible() && form.btn_upd->Enabled());
    system.debug.clear();
    return form;
  }
  bool Press(TForm1& form) { return tk::headless::Click(form.btn_upd); }
};

TEST_F(UpdateCommandTest, Success) {
  auto& form = StartWithUpdateOffered();
  // What the window shows while the update runs, seen at its first message processing.
  Texts during;
  bool exit_enabled_during = true, upd_enabled_during = true;
  int32_t busy_during = 0;
  app.Queue([&] {
    during = Lines();
    exit_enabled_during = form.btn_Exit->Enabled();
    upd_enabled_during = form.btn_upd->Enabled();
    busy_during = UpdateBusy;
  });
  ASSERT_TRUE(Press(form));
  EXPECT_EQ(
      (Texts{"", "DO NOT disconnect the device during the FW update.", "", "Updating....", ""}),
      during);
  EXPECT_FALSE(exit_enabled_during);
  EXPECT_FALSE(upd_enabled_during);
  EXPECT_EQ(1, busy_during);

  EXPECT_EQ((Texts{"", "Please power off/on your USB device", "", "Successfully updated.", ""}),
            Lines());
  EXPECT_FALSE(form.btn_upd->Visible());
  EXPECT_TRUE(form.btn_Exit->Visible());
  EXPECT_TRUE(form.btn_Exit->Enabled());
  EXPECT_EQ(0, UpdateBusy);
  EXPECT_EQ(std::vector<std::string>{"btn_upd Press\n"}, system.debug);
}

TEST_F(UpdateCommandTest, Failure) {
  auto& form = StartWithUpdateOffered();
  virt::Fault fault;
  fault.command = "write_buffer";  // every piece fails
  bridge.AddFault(fault);
  ASSERT_TRUE(Press(form));
  EXPECT_EQ((Texts{"", "", "Update Fail!", "Updating....", ""}), Lines());
  EXPECT_TRUE(form.btn_upd->Visible());
  EXPECT_FALSE(form.btn_upd->Enabled());
  EXPECT_TRUE(form.btn_Exit->Enabled());
  EXPECT_FALSE(form.btn_Exit->Visible());
  EXPECT_EQ(0, UpdateBusy);
  EXPECT_EQ(1u, system.debug.size());
}

TEST_F(UpdateCommandTest, TestBuildSendsNothingToAnUnmarkedBridgeAndSaysWhy) {
  auto& form = StartWithUpdateOffered();
  const Texts offered = Lines();
  virt::SetTestDeviceMark(bridge.devices().front(), false);
  bridge.ClearRequests();
  ASSERT_TRUE(Press(form));
  EXPECT_EQ(std::vector<std::string>{"inquiry"}, bridge.CommandNames()) << "the mark, read only";
  ASSERT_EQ(1u, system.boxes.size());
  EXPECT_EQ(TestBuildRefusal(), system.boxes[0].text);
  EXPECT_EQ("Warning", system.boxes[0].caption);
  EXPECT_EQ(offered, Lines());
  EXPECT_TRUE(form.btn_upd->Visible() && form.btn_upd->Enabled());
  EXPECT_EQ(0, UpdateBusy);
}

TEST_F(UpdateCommandTest, MessagesAreProcessedOnceBeforeAndAfterEveryNormalPiece) {
  auto& form = StartWithUpdateOffered();
  const int before = app.process_messages_calls();
  ASSERT_TRUE(Press(form));
  EXPECT_EQ(1 + 65, app.process_messages_calls() - before);
}

TEST_F(UpdateCommandTest, DevicesChangedDuringTheUpdateStartsNoRefresh) {
  auto& form = StartWithUpdateOffered();
  const int refreshes = form.refreshes();
  app.Queue([&] { Window().Deliver(tk::kWmDeviceChange, tk::kDbtDevNodesChanged); });
  ASSERT_TRUE(Press(form));
  EXPECT_FALSE(Window().TimerArmed(kRefreshTimerId));
  app.RunFor(5000);
  EXPECT_EQ(refreshes, form.refreshes());
  EXPECT_EQ("Successfully updated.", Lines()[3]) << "the result stays until the next hot-plug";
}

TEST_F(UpdateCommandTest, RefreshFallingDueDuringTheUpdateWaitsUntilItHasEnded) {
  auto& form = StartWithUpdateOffered();
  const int refreshes = form.refreshes();
  bridge.ClearRequests();
  // A removal arms the timer; every message processing of the update lets 100 ms pass, so the
  // timer falls due while pieces are still being written.
  app.Queue([&] { Window().Deliver(tk::kWmDeviceChange, tk::kDbtDeviceRemoveComplete); });
  std::function<void()> tick = [&] {
    app.AdvanceClock(100);
    app.Queue(tick);
  };
  app.Queue(tick);
  ASSERT_TRUE(Press(form));
  // No refresh may talk to the bridge while it is written and read back.
  const auto names = bridge.CommandNames();
  const auto first_write = std::find(names.begin(), names.end(), "write_buffer");
  const auto first_inquiry = std::find(first_write, names.end(), "inquiry");
  ASSERT_NE(names.end(), first_write);
  ASSERT_NE(names.end(), first_inquiry) << "the deferred refresh did run";
  EXPECT_EQ(65 + 65 + 2, std::count(first_write - 1, first_inquiry, std::string("read_buffer")) +
                             std::count(first_write, first_inquiry, std::string("write_buffer")))
      << "the whole update came before the refresh's first command";
  EXPECT_EQ(refreshes + 1, form.refreshes()) << "the deferred refresh runs once, after the update";
  EXPECT_FALSE(Window().TimerArmed(kRefreshTimerId));
}

}  // namespace
}  // namespace qvb
