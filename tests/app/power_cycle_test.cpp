// A bridge the window has written and verified waits for its power cycle: until it has been
// missing from an enumeration or reports the written version, every refresh shows what the
// Update command left and offers no second update.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <new>
#include <optional>
#include <string>
#include <vector>

#include "app/tform1.h"
#include "device/guarded_scsi_host.h"
#include "tests/app/window_rig.h"
#include "virtual_bridge/bridge_family.h"

namespace qvb {
namespace {

using Texts = std::vector<std::string>;

const Texts kUpdated{"", "Please power off/on your USB device", "", "Successfully updated.", ""};
const Texts kNoDevice{"", "", "No compatible USB device were found.",
                      "Please plug a compatible USB device.", ""};
const Texts kUpdateRequired{"", "", "Firmware version: 133.01.00.03", "Status: Update required",
                            ""};
const Texts kUpToDate{"", "", "Firmware version: 133.01.00.06", "Status: Up to date", ""};

class PowerCycleTest : public testing::WindowRig {
 protected:
  TForm1& StartWithUpdateOffered(const std::string& serial = "") {
    AttachQvb886(1, {133, 1, 0, 3});
    bridge.devices().back().serial = serial;
    auto& form = Start();
    EXPECT_TRUE(form.btn_upd->Visible() && form.btn_upd->Enabled());
    return form;
  }
  // Presses Update; a removal-complete event comes with the first message processing and the
  // clock runs on 100 ms at each, so the refresh timer falls due while the update runs.
  void PressWithRemovalDuringTheUpdate(TForm1& form) {
    app.Queue([&] { Window().Deliver(tk::kWmDeviceChange, tk::kDbtDeviceRemoveComplete); });
    tick_ = [this] {
      app.AdvanceClock(100);
      app.Queue(tick_);
    };
    app.Queue(tick_);
    ASSERT_TRUE(tk::headless::Click(form.btn_upd));
    tick_ = [] {};
  }
  // A hot-plug event and the refresh 500 ms later.
  void HotPlug() {
    Window().Deliver(tk::kWmDeviceChange, tk::kDbtDevNodesChanged);
    app.RunFor(600);
  }
  void ExpectWaiting(TForm1& form) {
    EXPECT_EQ(kUpdated, Lines());
    EXPECT_FALSE(form.btn_upd->Visible());
    EXPECT_TRUE(form.btn_Exit->Visible());
    EXPECT_TRUE(form.btn_Exit->Enabled());
    EXPECT_FALSE(tk::headless::Click(form.btn_upd)) << "the update is offered again";
  }
  void SetVersion(std::array<uint8_t, 4> version) {
    auto* model = bridge.Find(testing::UsbPath(1));
    ASSERT_NE(nullptr, model);
    std::copy(version.begin(), version.end(), model->info->begin() + 12);
  }
  int Writes() const {
    const auto names = bridge.CommandNames();
    return static_cast<int>(std::count(names.begin(), names.end(), "write_buffer"));
  }

  std::function<void()> tick_;
};

TEST_F(PowerCycleTest, DeferredRefreshAfterASuccessfulUpdateKeepsTheSuccessTexts) {
  auto& form = StartWithUpdateOffered();
  const int refreshes = form.refreshes();
  PressWithRemovalDuringTheUpdate(form);
  ASSERT_EQ(refreshes + 1, form.refreshes()) << "the deferred refresh ran";
  ExpectWaiting(form);
  EXPECT_EQ(0, UpdateBusy);
}

TEST_F(PowerCycleTest, LaterHotPlugRefreshesKeepWaitingWhileTheDeviceStays) {
  auto& form = StartWithUpdateOffered();
  ASSERT_TRUE(tk::headless::Click(form.btn_upd));
  bridge.ClearRequests();
  for (int event = 0; event < 3; ++event) {
    SCOPED_TRACE(event);
    const int refreshes = form.refreshes();
    HotPlug();
    ASSERT_EQ(refreshes + 1, form.refreshes());
    ExpectWaiting(form);
  }
  EXPECT_EQ(0, Writes());
  EXPECT_GT(bridge.requests().size(), 0u) << "the refreshes did look at the bridge";
}

TEST_F(PowerCycleTest, GoneAndBackItsRealVersionDecidesAgain) {
  struct Case {
    std::array<uint8_t, 4> version_on_return;
    Texts lines;
    bool update_offered;
  };
  const Case cases[] = {
      // The power cycle did not take: the update is offered again.
      {{133, 1, 0, 3}, kUpdateRequired, true},
      {{133, 1, 0, 6}, kUpToDate, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(static_cast<int>(c.version_on_return[3]));
    bridge.devices().clear();
    auto& form = StartWithUpdateOffered();
    ASSERT_TRUE(tk::headless::Click(form.btn_upd));

    const virt::DeviceModel unplugged = bridge.devices().front();
    bridge.devices().clear();
    HotPlug();
    EXPECT_EQ(kNoDevice, Lines());

    bridge.devices().push_back(unplugged);
    SetVersion(c.version_on_return);
    HotPlug();
    EXPECT_EQ(c.lines, Lines());
    EXPECT_EQ(c.update_offered, form.btn_upd->Visible() && form.btn_upd->Enabled());
  }
}

TEST_F(PowerCycleTest, ReportingTheWrittenVersionEndsTheWaitWithoutAnUnplug) {
  auto& form = StartWithUpdateOffered();
  ASSERT_TRUE(tk::headless::Click(form.btn_upd));
  SetVersion({133, 1, 0, 6});  // powered off and on between two enumerations
  HotPlug();
  EXPECT_EQ(kUpToDate, Lines());
  // It waits no more: an older version now is that of another bridge on the same path.
  SetVersion({133, 1, 0, 3});
  HotPlug();
  EXPECT_EQ(kUpdateRequired, Lines());
  EXPECT_TRUE(form.btn_upd->Visible() && form.btn_upd->Enabled());
}

TEST_F(PowerCycleTest, SerialNumberTellsAnotherDiskOnTheSamePath) {
  struct Case {
    const char* serial_after;
    bool waiting;
  };
  const Case cases[] = {
      {"A1B2", true},
      {"", true},  // a serial that cannot be read proves nothing
      {"C3D4", false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.serial_after);
    bridge.devices().clear();
    auto& form = StartWithUpdateOffered("A1B2");
    ASSERT_TRUE(tk::headless::Click(form.btn_upd));
    bridge.devices().front().serial = c.serial_after;
    HotPlug();
    if (c.waiting) {
      ExpectWaiting(form);
    } else {
      EXPECT_EQ(kUpdateRequired, Lines());
      EXPECT_TRUE(form.btn_upd->Visible() && form.btn_upd->Enabled());
    }
  }
}

TEST_F(PowerCycleTest, FailedUpdateKeepsItsTextsThroughTheDeferredRefresh) {
  auto& form = StartWithUpdateOffered();
  // Every piece is written (and messages processed after each), but the read-back differs.
  bridge.devices().front().bad_cells = {0};
  const int refreshes = form.refreshes();
  PressWithRemovalDuringTheUpdate(form);
  EXPECT_EQ(refreshes + 1, form.refreshes()) << "the deferred refresh ran";
  EXPECT_EQ((Texts{"", "", "Update Fail!", "Updating....", ""}), Lines());
  EXPECT_TRUE(form.btn_upd->Visible());
  EXPECT_FALSE(form.btn_upd->Enabled());
  EXPECT_FALSE(form.btn_Exit->Visible());

  // Only that refresh keeps them: the next hot-plug event shows the bridge as it is.
  HotPlug();
  EXPECT_EQ(kUpdateRequired, Lines());
  EXPECT_TRUE(form.btn_upd->Visible() && form.btn_upd->Enabled());
}

TEST_F(PowerCycleTest, AnotherBridgeOnTheSamePathEndsTheWait) {
  struct Case {
    const char* name;
    std::function<void(virt::DeviceModel&)> replace;
    bool waiting;
  };
  const Case cases[] = {
      {"the version it had before the write", [](virt::DeviceModel&) {}, true},
      {"neither the old nor the written version", [](virt::DeviceModel& d) { (*d.info)[15] = 1; },
       false},
      {"another model",
       [](virt::DeviceModel& d) {
         d = virt::MakeBridge(d.path);
         virt::SetInquiryModel(d, "w767");
       },
       false},
      {"another INQUIRY product",
       [](virt::DeviceModel& d) { virt::SetInquiryText(d, "Quorvel", "QVB886 Clone"); }, false},
      {"a read that fails", [](virt::DeviceModel& d) { d.config.reset(); }, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    bridge.devices().clear();
    auto& form = StartWithUpdateOffered();
    ASSERT_TRUE(tk::headless::Click(form.btn_upd));
    c.replace(bridge.devices().front());
    HotPlug();
    if (c.waiting)
      ExpectWaiting(form);
    else
      EXPECT_NE(kUpdated, Lines());
  }
}

// A second window on the same record file: another run of the program after the first ended.
TEST_F(PowerCycleTest, TheRecordFileCarriesTheWaitToTheNextRun) {
  const std::string file =
      (std::filesystem::temp_directory_path() / "qvb-window-waiting-test.txt").string();
  std::filesystem::remove(file);
  AttachQvb886(1, {133, 1, 0, 3});
  {
    TForm1 first(app, file);
    ASSERT_TRUE(tk::headless::Click(first.btn_upd));
  }
  TForm1 second(app, file);
  EXPECT_EQ(kUpdated[1], second.pnl_Descript_2->Text());
  EXPECT_EQ(kUpdated[3], second.pnl_Descript_4->Text());
  EXPECT_FALSE(second.btn_upd->Visible());
  std::filesystem::remove(file);
}

// --- an exception inside the update -------------------------------------------------------------

// The bridge behind a host that runs out of memory at the n-th WRITE BUFFER.
class ThrowingHost : public GuardedScsiHost {
 public:
  ThrowingHost(virt::VirtualBridge& bridge, int throw_at_write)
      : GuardedScsiHost(bridge), remaining_(throw_at_write) {
    before_send = [this](const std::string&, const ScsiRequest& request) {
      const std::vector<uint8_t> cdb(request.cdb, request.cdb + request.cdb_length);
      if (virt::CommandName(cdb) == "write_buffer" && --remaining_ == 0) throw std::bad_alloc();
      return std::optional<ScsiResult>();
    };
  }

 private:
  int remaining_;
};

TEST_F(PowerCycleTest, ExceptionInsideTheUpdateUnlocksTheWindow) {
  for (const bool removal_during_update : {false, true}) {
    SCOPED_TRACE(removal_during_update);
    bridge.devices().clear();
    auto& form = StartWithUpdateOffered();
    ThrowingHost host(bridge, 30);
    auto installed = std::make_unique<ScopedSeams>(HostSeams{.scsi = &host});
    const int refreshes = form.refreshes();
    if (removal_during_update) {
      EXPECT_THROW(PressWithRemovalDuringTheUpdate(form), std::bad_alloc);
      EXPECT_TRUE(Window().TimerArmed(kRefreshTimerId)) << "the deferred refresh was dropped";
    } else {
      EXPECT_THROW(tk::headless::Click(form.btn_upd), std::bad_alloc);
    }
    installed.reset();
    tick_ = [] {};

    EXPECT_EQ(0, UpdateBusy);
    EXPECT_EQ((Texts{"", "", "Update Fail!", "Updating....", ""}), Lines());
    EXPECT_TRUE(form.btn_Exit->Enabled());
    EXPECT_EQ(refreshes, form.refreshes()) << "no refresh inside the unwinding";

    // The window is not stuck: a hot-plug event refreshes it.
    HotPlug();
    EXPECT_EQ(refreshes + 1, form.refreshes());
    EXPECT_EQ(kUpdateRequired, Lines());
    EXPECT_TRUE(form.btn_upd->Visible() && form.btn_upd->Enabled());
  }
}

}  // namespace
}  // namespace qvb
