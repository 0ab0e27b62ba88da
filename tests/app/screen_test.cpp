// The window ends each outcome exactly as the shared model of its screen says (every line and both
// buttons, also those the outcome's steps leave as they were), so that the command line, which
// prints the model, shows what the window shows.
#include <gtest/gtest.h>

#include <array>
#include <functional>
#include <string>
#include <vector>

#include "app/tform1.h"
#include "firmware/screen.h"
#include "tests/app/window_rig.h"

namespace qvb {
namespace {

using Texts = std::vector<std::string>;

struct Shown {
  Texts lines;
  bool update_visible = false;
  bool update_enabled = false;
  bool exit_visible = false;
  bool exit_enabled = false;
};

class ScreenTest : public testing::WindowRig {
 protected:
  Shown Now() const {
    return {Lines(), form_->btn_upd->Visible(), form_->btn_upd->Enabled(),
            form_->btn_Exit->Visible(), form_->btn_Exit->Enabled()};
  }
  static void Expect(const Screen& screen, const Shown& shown) {
    EXPECT_EQ(Texts(screen.lines.begin(), screen.lines.end()), shown.lines);
    if (!screen.update_visibility_kept) {
      EXPECT_EQ(screen.update.visible, shown.update_visible);
    }
    EXPECT_EQ(screen.update.enabled, shown.update_enabled);
    EXPECT_EQ(screen.exit.visible, shown.exit_visible);
    EXPECT_EQ(screen.exit.enabled, shown.exit_enabled);
  }
};

enum class Then {
  Nothing,
  Update,            // press Update and look when it has returned
  LookDuringUpdate,  // press Update and look at its first message processing
  UpdateAndHotPlug,  // press Update, then a hot-plug refresh
};

struct Case {
  const char* what;
  std::vector<std::array<uint8_t, 4>> versions;  // one QVB886 per version
  std::function<void(virt::VirtualBridge&)> change;
  Then then;
  Screen expected;
};

TEST_F(ScreenTest, EveryOutcomeEndsAsTheModelSays) {
  const auto none = [](virt::VirtualBridge&) {};
  const auto fail_writes = [](virt::VirtualBridge& bridge) {
    virt::Fault fault;
    fault.command = "write_buffer";
    bridge.AddFault(fault);
  };
  const std::array<uint8_t, 4> old{133, 1, 0, 3};
  const Case cases[] = {
      {"no disk", {}, none, Then::Nothing, ScreenFor(Outcome::NoDevice)},
      {"two disks", {old, old}, none, Then::Nothing, ScreenFor(Outcome::SeveralDevices)},
      {"signature F4 E6",
       {old},
       [](virt::VirtualBridge& bridge) { (*bridge.devices()[0].info)[1] = 0xE6; },
       Then::Nothing,
       ScreenFor(Outcome::Blank)},
      {"not a QVB886",
       {old},
       [](virt::VirtualBridge& bridge) { virt::SetInquiryModel(bridge.devices()[0], "w880"); },
       Then::Nothing,
       ScreenFor(Outcome::Blank)},
      {"133.1.0.0",
       {{133, 1, 0, 0}},
       none,
       Then::Nothing,
       ScreenFor(Outcome::UpdateRequired, {133, 1, 0, 0})},
      {"133.1.0.5",
       {{133, 1, 0, 5}},
       none,
       Then::Nothing,
       ScreenFor(Outcome::UpdateRequired, {133, 1, 0, 5})},
      {"133.1.0.6",
       {{133, 1, 0, 6}},
       none,
       Then::Nothing,
       ScreenFor(Outcome::UpToDate, {133, 1, 0, 6})},
      {"133.1.0.7",
       {{133, 1, 0, 7}},
       none,
       Then::Nothing,
       ScreenFor(Outcome::NotSupported, {133, 1, 0, 7})},
      {"5.0.12.255",
       {{5, 0, 12, 255}},
       none,
       Then::Nothing,
       ScreenFor(Outcome::NotSupported, {5, 0, 12, 255})},
      {"during the update", {old}, none, Then::LookDuringUpdate, ScreenFor(Outcome::Updating)},
      {"updated", {old}, none, Then::Update, ScreenFor(Outcome::Updated)},
      {"update failed", {old}, fail_writes, Then::Update, ScreenFor(Outcome::UpdateFailed)},
      {"refreshed before the power cycle",
       {old},
       none,
       Then::UpdateAndHotPlug,
       ScreenFor(Outcome::PowerCyclePending)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    bridge.devices().clear();
    bridge.ClearFaults();
    for (std::size_t i = 0; i < c.versions.size(); ++i)
      AttachQvb886(static_cast<int>(i) + 1, c.versions[i]);
    c.change(bridge);
    auto& form = Start();

    Shown shown = Now();
    if (c.then != Then::Nothing) {
      if (c.then == Then::LookDuringUpdate) app.Queue([&] { shown = Now(); });
      ASSERT_TRUE(tk::headless::Click(form.btn_upd));
      if (c.then == Then::UpdateAndHotPlug) {
        const int refreshes = form.refreshes();
        Window().Deliver(tk::kWmDeviceChange, tk::kDbtDevNodesChanged);
        app.RunFor(600);
        ASSERT_EQ(refreshes + 1, form.refreshes());
      }
      if (c.then != Then::LookDuringUpdate) shown = Now();
    }
    Expect(c.expected, shown);
  }
}

// The list and the warning boxes: the model's texts are what the window lists and shows.
TEST_F(ScreenTest, ListLinesAndWarningsAreTheModels) {
  Start();
  EXPECT_EQ(Texts{NoDeviceListLine()}, ListItems());
  EXPECT_TRUE(system.boxes.empty());

  AttachQvb886(1, {133, 1, 0, 3});
  AttachQvb886(2, {133, 1, 0, 3});
  Start();
  const DiskScan scan = ScanBridgeDisks();
  ASSERT_EQ(2u, scan.disks.size());
  EXPECT_EQ((Texts{ListLine(scan.disks[0]), ListLine(scan.disks[1])}), ListItems());
  ASSERT_EQ(1u, system.boxes.size());
  EXPECT_EQ(SeveralDevicesWarning(), system.boxes[0].text);
}

}  // namespace
}  // namespace qvb
