// What the window shows after a refresh: the outcome rows and the firmware status states.
#include <gtest/gtest.h>

#include "app/tform1.h"
#include "tests/app/window_rig.h"

namespace qvb {
namespace {

using Texts = std::vector<std::string>;

class RefreshStatusTest : public testing::WindowRig {
 protected:
  // Faults a table row asks for; added to the bridge before the window starts.
  static std::vector<virt::Fault>& pending_faults() {
    static std::vector<virt::Fault> faults;
    return faults;
  }
  static std::string Name(const virt::DeviceModel& m) {
    return std::string(reinterpret_cast<const char*>(&m.inquiry[8]), 24);
  }
};

TEST_F(RefreshStatusTest, NoDisk) {
  auto& form = Start();
  EXPECT_EQ((Texts{"", "", "No compatible USB device were found.",
                   "Please plug a compatible USB device.", ""}),
            Lines());
  EXPECT_EQ(Texts{"No available device!!!"}, ListItems());
  EXPECT_EQ(0, form.cbb_DeviceList->ItemIndex());
  EXPECT_FALSE(form.cbb_DeviceList->Enabled());
  EXPECT_FALSE(form.btn_upd->Visible());
  EXPECT_FALSE(form.btn_upd->Enabled());
  EXPECT_FALSE(form.btn_Exit->Visible());
  EXPECT_TRUE(system.boxes.empty());
  EXPECT_TRUE(bridge.requests().empty()) << "no device, no command";
  EXPECT_TRUE(system.sleeps.empty()) << "no status check, so no closing loop";
}

struct VersionCase {
  std::array<uint8_t, 4> version;
  const char* text;
  const char* status;
  bool update_offered;
  bool exit_visible;
};

TEST_F(RefreshStatusTest, OneQvb886ShowsItsVersionAndStatus) {
  const VersionCase cases[] = {
      {{133, 1, 0, 0}, "Firmware version: 133.01.00.00", "Status: Update required", true, false},
      {{133, 1, 0, 5}, "Firmware version: 133.01.00.05", "Status: Update required", true, false},
      {{133, 1, 0, 6}, "Firmware version: 133.01.00.06", "Status: Up to date", false, true},
      {{133, 1, 0, 7},
       "Firmware version: 133.01.00.07",
       "Status: Not support FW update",
       false,
       false},
      {{133, 1, 1, 0},
       "Firmware version: 133.01.01.00",
       "Status: Not support FW update",
       false,
       false},
      {{133, 2, 0, 6},
       "Firmware version: 133.02.00.06",
       "Status: Not support FW update",
       false,
       false},
      {{132, 1, 0, 6},
       "Firmware version: 132.01.00.06",
       "Status: Not support FW update",
       false,
       false},
      {{134, 1, 0, 6},
       "Firmware version: 134.01.00.06",
       "Status: Not support FW update",
       false,
       false},
      {{5, 0, 12, 255},
       "Firmware version: 05.00.12.255",
       "Status: Not support FW update",
       false,
       false},
  };
  for (const auto& c : cases) {
    bridge.devices().clear();
    AttachQvb886(1, c.version);
    auto& form = Start();
    EXPECT_EQ((Texts{"", "", c.text, c.status, ""}), Lines()) << c.text;
    EXPECT_EQ(c.update_offered, form.btn_upd->Visible()) << c.text;
    EXPECT_EQ(c.update_offered, form.btn_upd->Enabled()) << c.text;
    EXPECT_EQ(c.exit_visible, form.btn_Exit->Visible()) << c.text;
    EXPECT_EQ(Texts{"<<USB>> " + Name(bridge.devices()[0])}, ListItems());
    EXPECT_TRUE(form.cbb_DeviceList->Enabled());
    EXPECT_EQ(22, form.bridge_model_code());
    EXPECT_TRUE(system.boxes.empty());
  }
}

TEST_F(RefreshStatusTest, StatusCheckSendsItsCommandsInOrder) {
  AttachQvb886(1, {133, 1, 0, 3});
  bridge.devices()[0].flash_busy_reads = 2;
  Start();
  const auto names = bridge.CommandNames();
  // Enumeration, the refresh's own INQUIRY and identification, then the status check.
  const std::vector<std::string> expected = {
      "inquiry",      "info",                                 // bridge test
      "inquiry",                                              // name text
      "inquiry",                                              // identification: "w886"
      "inquiry",      "config",       "flash_id",    "info",  // status check
      "flash_status", "flash_status", "flash_status"};        // busy twice, then ready
  EXPECT_EQ(expected, names);
}

TEST_F(RefreshStatusTest, FlashIdOnlyForConfigurationBytesZeroOneThree) {
  for (uint8_t byte0 : {0, 1, 2, 3, 4, 0x80}) {
    bridge.devices().clear();
    bridge.ClearRequests();
    AttachQvb886(1, {133, 1, 0, 3});
    bridge.devices()[0].config = std::array<uint8_t, 4>{byte0, 0, 0, 0};
    bridge.devices()[0].flash_id.reset();  // a failing ReadFlashId changes nothing
    Start();
    const auto names = bridge.CommandNames();
    const bool sent = std::find(names.begin(), names.end(), "flash_id") != names.end();
    EXPECT_EQ(byte0 == 0 || byte0 == 1 || byte0 == 3, sent) << int{byte0};
    EXPECT_EQ("Status: Update required", Lines()[3]) << int{byte0};
  }
}

TEST_F(RefreshStatusTest, CheckFailuresLeaveTheLinesEmpty) {
  struct Case {
    const char* what;
    std::function<void(virt::DeviceModel&)> change;
  };
  const Case cases[] = {
      {"signature F4 E6", [](virt::DeviceModel& m) { (*m.info)[1] = 0xE6; }},
      {"config fails", [](virt::DeviceModel& m) { m.config.reset(); }},
      {"not a QVB886", [](virt::DeviceModel& m) { virt::SetInquiryModel(m, "w880"); }},
      {"information block arrives empty",
       [](virt::DeviceModel& m) {
         virt::Fault fault;
         fault.kind = virt::FaultKind::ShortReply;
         fault.command = "info";
         fault.short_length = 0;  // GOOD status, none of the 16 bytes
         fault.path = m.path;
         pending_faults().push_back(fault);
       }},
  };
  for (const auto& c : cases) {
    bridge.devices().clear();
    AttachQvb886(1, {133, 1, 0, 3});
    pending_faults().clear();
    bridge.ClearFaults();
    c.change(bridge.devices()[0]);
    for (const auto& fault : pending_faults()) bridge.AddFault(fault);
    auto& form = Start();
    EXPECT_EQ(1u, ListItems().size()) << c.what << ": listed, so the check did run";
    EXPECT_EQ((Texts{"", "", "", "", ""}), Lines()) << c.what;
    EXPECT_FALSE(form.btn_upd->Enabled()) << c.what;
    EXPECT_FALSE(form.btn_Exit->Visible()) << c.what;
  }
}

TEST_F(RefreshStatusTest, ClosingLoopRunsOnTheSelectedVersionsEvenAfterAFailedCheck) {
  struct Case {
    uint32_t major, minor;
    bool runs;
  };
  const Case cases[] = {{5, 1, false}, {6, 0, false}, {6, 1, true},  {6, 2, true},
                        {6, 3, true},  {10, 0, true}, {10, 1, false}};
  for (const auto& c : cases) {
    bridge.devices().clear();
    AttachQvb886(1, {133, 1, 0, 3});
    (*bridge.devices()[0].info)[1] = 0xE6;  // the check fails at the signature
    system.version_known = true;
    system.version_major = c.major;
    system.version_minor = c.minor;
    system.window_searches = 0;
    system.sleeps.clear();
    Start();
    EXPECT_EQ(c.runs ? 101 : 0, system.window_searches) << c.major << "." << c.minor;
    EXPECT_EQ(c.runs ? 101u : 0u, system.sleeps.size());
    for (uint32_t ms : system.sleeps) EXPECT_EQ(2u, ms);
  }
}

TEST_F(RefreshStatusTest, TwoQvb886Disks) {
  AttachQvb886(1, {133, 1, 0, 3});
  AttachQvb886(2, {133, 1, 0, 3});
  virt::SetInquiryText(bridge.devices()[1], "Other", "Second disk");
  auto& form = Start();
  EXPECT_EQ((Texts{"", "Multiple USB drives are attached.", "Please disconnect all devices.",
                   "except the one that needs to be updated.", ""}),
            Lines());
  EXPECT_EQ((Texts{"<<USB>> " + Name(bridge.devices()[0]), "<<USB>> " + Name(bridge.devices()[1])}),
            ListItems());
  EXPECT_FALSE(form.btn_upd->Visible());
  EXPECT_FALSE(form.btn_Exit->Visible());
  ASSERT_EQ(1u, system.boxes.size());
  EXPECT_EQ(
      "Multiple USB drives are attached.\nPlease disconnect all devices\nexcept the one that needs "
      "to be updated.",
      system.boxes[0].text);
  EXPECT_EQ("Warning", system.boxes[0].caption);
  EXPECT_EQ(0x2030u, system.boxes[0].flags);
  const auto names = bridge.CommandNames();
  EXPECT_EQ(0, std::count(names.begin(), names.end(), "config")) << "no status check";
}

TEST_F(RefreshStatusTest, TwoDisksOfWhichOneIdentifies) {
  virt::DeviceModel unknown = virt::MakeQvb886(testing::UsbPath(1), {133, 1, 0, 3});
  virt::SetInquiryModel(unknown, "");
  unknown.probe.reset();  // no probe, no buffer-1 page, no name: code 0
  unknown.name.reset();
  Attach(unknown);
  AttachQvb886(2, {133, 1, 0, 6});
  auto& form = Start();
  ASSERT_EQ(1u, ListItems().size());
  EXPECT_EQ("Status: Up to date", Lines()[3]);
  EXPECT_TRUE(system.boxes.empty());
  EXPECT_EQ(2, form.disk_count());
}

TEST_F(RefreshStatusTest, InquiryTextCarriesOverAfterAFailedInquiry) {
  struct Case {
    int failing;  // which disk's name INQUIRY fails (0 or 1)
    Texts expected;
  };
  AttachQvb886(1, {133, 1, 0, 3});
  AttachQvb886(2, {133, 1, 0, 3});
  virt::SetInquiryText(bridge.devices()[0], "First", "Disk A");
  virt::SetInquiryText(bridge.devices()[1], "Second", "Disk B");
  const std::string a = Name(bridge.devices()[0]), b = Name(bridge.devices()[1]);
  const Case cases[] = {{0, {"<<USB>> ", "<<USB>> " + b}}, {1, {"<<USB>> " + a, "<<USB>> " + a}}};
  for (const auto& c : cases) {
    bridge.ClearFaults();
    // The refresh's INQUIRY is the second one each disk sees, after the enumeration's; only
    // it fails, so the disk still identifies.
    bridge.ClearRequests();
    const int enumeration_requests = 4;  // inquiry + info for each disk
    virt::Fault fault;
    fault.kind = virt::FaultKind::CheckCondition;
    fault.command = "inquiry";
    fault.from_request = enumeration_requests;
    fault.times = 1;
    fault.path = bridge.devices()[static_cast<std::size_t>(c.failing)].path;
    bridge.AddFault(fault);
    Start();
    EXPECT_EQ(c.expected, ListItems()) << c.failing;
  }
}

TEST_F(RefreshStatusTest, BusPrefixComesFromTheLowerCasedPath) {
  struct Case {
    std::string path;
    std::string prefix;
  };
  const Case cases[] = {
      {"\\\\?\\usbstor#SCSI&Disk&Ven_Quorvel#1#{53f56307}", "<<UASP>> "},
      {"\\\\?\\sbp2#scsi&disk#1#{53f56307}", "<<1394>> "},
      {"\\\\?\\usbstor#disk#1#{53f56307}", "<<USB>> "},
  };
  for (const auto& c : cases) {
    bridge.devices().clear();
    Attach(virt::MakeQvb886(c.path, {133, 1, 0, 3}));
    auto& form = Start();
    ASSERT_EQ(1u, ListItems().size()) << c.path;
    EXPECT_EQ(c.prefix + Name(bridge.devices()[0]), ListItems()[0]);
    std::string lowered = c.path;
    for (auto& ch : lowered) ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
    EXPECT_EQ(lowered, form.DeviceTableEntry(0));
  }
}

TEST_F(RefreshStatusTest, RefreshTwiceGivesTheSameList) {
  AttachQvb886(1, {133, 1, 0, 3});
  AttachQvb886(2, {133, 1, 0, 3});
  auto& form = Start();
  const auto first = ListItems();
  form.btn_RefreshClick(form.btn_Refresh);
  EXPECT_EQ(first, ListItems());
  EXPECT_EQ(2u, ListItems().size());
}

TEST_F(RefreshStatusTest, RefreshRestoresTheLastLineStyle) {
  auto& form = Start();
  form.pnl_Descript_5->SetFontStyle(tk::kStyleBold | tk::kStyleItalic);
  form.pnl_Descript_5->SetFontColor(0x000000FF);
  form.btn_RefreshClick(form.btn_Refresh);
  EXPECT_EQ(0, form.pnl_Descript_5->FontStyle());
  EXPECT_EQ(tk::kClWindowText, form.pnl_Descript_5->FontColor());
}

}  // namespace
}  // namespace qvb
