#include "device/identification.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/support/fake_system.h"
#include "virtual_bridge/scenario.h"
#include "virtual_bridge/virtual_bridge.h"

namespace qvb {
namespace {

constexpr const char* kPath =
    "\\\\?\\usbstor#disk&ven_quorvel&prod_bridge#0001#{53f56307-b6bf-11d0-94f2-00a0c91efb8b}";

using Names = std::vector<std::string>;

const Names kInquiryOnly = {"inquiry"};
const Names kNameOnly = {"inquiry", "name"};
const Names kInfo = {"inquiry", "probe", "info"};
const Names kInfoThenName = {"inquiry", "probe", "info", "name"};
const Names kAlt = {"inquiry", "probe", "info", "info_alt"};
const Names kAltThenName = {"inquiry", "probe", "info", "info_alt", "name"};
const Names kPage = {"inquiry", "probe", "read_buffer", "read_buffer"};
const Names kPageThenName = {"inquiry", "probe", "read_buffer", "read_buffer", "name"};
const Names kNoPage = {"inquiry", "probe", "read_buffer", "name"};

class IdentificationTest : public ::testing::Test {
 protected:
  virt::VirtualBridge bridge;
  ScopedSeams scsi{HostSeams{.scsi = &bridge}};
  testing::FakeSystem system;

  // A bridge that tells no model until the scenario lines describe one; returns its code.
  uint8_t Identify(const std::string& lines) {
    const std::string text =
        std::string("[device]\npath = ") + kPath + "\npreset = bridge\n" + lines + "\n";
    const auto loaded = virt::LoadScenarioText(text, bridge);
    EXPECT_TRUE(loaded.ok) << loaded.error;
    bridge.ClearRequests();
    system.boxes.clear();
    return IdentifyBridge(kPath);
  }
  const virt::Request& Last(const std::string& name) const {
    for (auto it = bridge.requests().rbegin(); it != bridge.requests().rend(); ++it)
      if (virt::CommandName(it->cdb) == name) return *it;
    static const virt::Request none;
    return none;
  }
};

// Every row of the program's own table, through every source that reads it: a text gives the
// code of the first row that holds it. A few codes are pinned, so a shuffled table fails.
TEST_F(IdentificationTest, EveryModelTableRowThroughEverySource) {
  EXPECT_STREQ("", kModelTable[0]);
  EXPECT_STREQ("886", kModelTable[kModelCodeQvb886]);
  EXPECT_STREQ("767", kModelTable[9]);
  EXPECT_STREQ("880", kModelTable[21]);

  for (int index = 1; index < kModelTableRows; ++index) {
    const std::string text = kModelTable[index];
    int code = index;
    for (int earlier = 1; earlier < index; ++earlier)
      if (text == kModelTable[earlier]) {
        code = earlier;
        break;
      }
    // The fourth model character "1" keeps code 8's second check quiet.
    EXPECT_EQ(code, Identify("inquiry_model = w" + text + "\ninfo_model = 7581")) << "w" << text;
    EXPECT_EQ("inquiry", bridge.CommandNames()[0]);
    EXPECT_EQ(code, Identify("info_model = " + text + "1")) << "info " << text;
    EXPECT_EQ(code, Identify("info_via = info_alt\ninfo_model = " + text + "1")) << "alt " << text;
  }
}

TEST_F(IdentificationTest, EverySpecialSourceToItsCode) {
  struct Case {
    const char* lines;
    int code;
    Names commands;
  };
  const Case cases[] = {
      {"inquiry_model = w886", 22, kInquiryOnly},
      {"inquiry_model = w761", 9, kInquiryOnly},
      {"inquiry_model = x886", 0, kInfoThenName},  // no prefix letter: ignored
      {"inquiry_model = w733\nname = w733A3", 4, kNameOnly},
      {"inquiry_model = w742\nname = w742E", 34, kNameOnly},
      {"inquiry_model = w811\nname = w721C", 1, kNameOnly},  // the first literal that matches
      {"inquiry_model = w755\nname = w9999", 7, kNameOnly},
      {"info_model = 8867", 22, kInfo},
      {"info_model = 7613", 9, kInfo},
      {"info_via = info_alt\ninfo_model = 7613", 0, kAltThenName},  // no "761" rule there
      {"info_model = 88", 0, kInfoThenName},                        // a short text matches no row
      {"info_ids = 7E21 6A4C\ninfo_model = 8861", 39, kInfo},
      {"info_ids = 7E21 6A4C\ninfo_model = 8861\ninfo_via = info_alt", 22, kAlt},
      {"info_ids = 7E21 6A4D\ninfo_model = 8861", 22, kInfo},
      {"info_signature = no\ninfo_model = 8861\nprobe = 00 00", 35, kInfo},
      {"info_signature = no\ninfo_model = 8861\nprobe = 20 00", 36, kInfo},
      {"info_signature = no\ninfo_model = 8861\nprobe = 40 00", 37, kInfo},
      {"info_signature = no\ninfo_model = 8861\nprobe = 60 FF", 38, kInfo},
      {"info_signature = no\ninfo_model = 8861\nprobe = 9F FF", 35, kInfo},  // bits 5-6 only
      {"info_via = info_alt\ninfo_model = 8861\ninfo_signature = no", 0, kAltThenName},
      {"info_via = none", 0, kAltThenName},
      {"probe = fail\nbuffer1_descriptor = 03 00 00 08\nbuffer1_page = 00 00 00 00 08 63 00 00", 14,
       kPage},
      {"probe = fail\nbuffer1_descriptor = 03 00 00 08\nbuffer1_page = 00 00 00 00 08 74 00 00", 19,
       kPage},
      {"probe = fail\nbuffer1_descriptor = 03 00 00 08\nbuffer1_page = 00 00 00 38 34 31 00 00", 15,
       kPage},
      {"probe = fail\nbuffer1_descriptor = 03 00 00 08\nbuffer1_page = 00 00 00 38 34 32 00 00", 0,
       kPageThenName},
      {"inquiry = fail\nname = w721C", 1, kNameOnly},
      {"inquiry = fail\nname = w733A3", 4, kNameOnly},
      {"inquiry = fail\nname = w733A", 0, kNameOnly},
      {"inquiry = fail\nname = w742C", 5, kNameOnly},
      {"inquiry = fail\nname = w742E", 34, kNameOnly},
      {"inquiry = fail\nname = w811A", 32, kNameOnly},
      {"inquiry = fail\nname = w755ABCDEFGH", 7, kNameOnly},
      {"inquiry = fail\nname = w9163", 11, kNameOnly},
      {"inquiry = fail", 0, kNameOnly},
      {"inquiry_model = w829\nvendor_page = ok", 30, {"inquiry", "vendor_page"}},
      {"inquiry_model = w829", 12, {"inquiry", "vendor_page", "memory"}},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(c.code, Identify(c.lines)) << c.lines;
    EXPECT_EQ(c.commands, bridge.CommandNames()) << c.lines;
    EXPECT_TRUE(system.boxes.empty()) << c.lines;
  }
}

TEST_F(IdentificationTest, CommandArgumentsOfEachSource) {
  Identify("inquiry = fail");
  EXPECT_EQ(40u, Last("inquiry").transfer_length);
  EXPECT_EQ(40u, Last("name").transfer_length);

  Identify("info_via = info_alt");
  EXPECT_EQ(2u, Last("probe").transfer_length);
  EXPECT_EQ(16u, Last("info").transfer_length);
  EXPECT_EQ(16u, Last("info_alt").transfer_length);

  Identify("inquiry_model = w829");
  EXPECT_EQ((std::vector<uint8_t>{0xB5, 0, 0, 0, 0, 0x64, 0, 0, 0x01, 0, 0, 0}),
            Last("vendor_page").cdb);
  EXPECT_EQ(512u, Last("vendor_page").transfer_length);
  EXPECT_EQ((std::vector<uint8_t>{0xDF, 0x10, 0, 0, 4, 0, 0xFD, 0xB0, 0, 0, 0, 0xFD}),
            Last("memory").cdb);

  Identify("probe = fail\nbuffer1_descriptor = 09 00 02 00\nbuffer1_page = 00 00");
  ASSERT_EQ(kPageThenName, bridge.CommandNames());
  EXPECT_EQ((std::vector<uint8_t>{0x3C, 0x03, 0x01, 0, 0, 0, 0, 0, 4, 0}),
            bridge.requests()[2].cdb);
  EXPECT_EQ((std::vector<uint8_t>{0x3C, 0x01, 0x01, 0, 0, 0, 0, 0x02, 0x00, 0}),
            bridge.requests()[3].cdb);
  EXPECT_EQ(512u, bridge.requests()[3].transfer_length);
}

TEST_F(IdentificationTest, PageSizeFromTheDeviceIsNeverTrustedBeyondWhatArrived) {
  const std::string k863 = "buffer1_page = 00 00 00 00 08 63 00 00\nprobe = fail\n";
  struct Case {
    std::string lines;
    int code;
    Names commands;
  };
  const Case cases[] = {
      {k863 + "buffer1_descriptor = FF 00 00 08", 0, kNoPage},
      {k863 + "buffer1_descriptor = 1F 00 00 08", 0, kNoPage},
      {k863 + "buffer1_descriptor = 18 00 00 08", 0, kNoPage},        // beyond the 24-bit length
      {k863 + "buffer1_descriptor = 17 00 00 08", 14, kPage},         // 8 MiB: the largest read
      {k863 + "buffer1_descriptor = 02 00 00 08", 0, kPageThenName},  // 4 bytes: no byte 5
      {k863 + "buffer1_descriptor = 00 00 00 08", 0, kPageThenName},
      {k863 + "buffer1_descriptor = 03 00 00 08\nfault = read_buffer short=5", 0, kPageThenName},
      {"probe = fail\nbuffer1_descriptor = 04 00 00 10\nbuffer1_page = 00 00 00 38 34", 0,
       kPageThenName},
      {"probe = fail\nbuffer1_descriptor = 04 00 00 10\nbuffer1_page = 00 00 00 38 34 31", 15,
       kPage},
      {"probe = fail", 0, {"inquiry", "probe", "read_buffer", "request_sense", "name"}},
      {"probe = fail\nbuffer1_descriptor = 03 00 00 08",
       0,
       {"inquiry", "probe", "read_buffer", "read_buffer", "request_sense", "name"}},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(c.code, Identify(c.lines)) << c.lines;
    EXPECT_EQ(c.commands, bridge.CommandNames()) << c.lines;
  }
}

TEST_F(IdentificationTest, Code8ChecksItsInformationBlockAgain) {
  struct Case {
    const char* lines;
    bool box;
  };
  const Case cases[] = {
      {"info_model = 7581", false}, {"info_model = 7582", false},
      {"info_model = 7583", true},  {"info_model = 7581\ninfo_signature = no", true},
      {"info = fail", true},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(8, Identify(std::string("inquiry_model = w758\n") + c.lines)) << c.lines;
    EXPECT_EQ((Names{"inquiry", "info"}), bridge.CommandNames()) << c.lines;
    EXPECT_EQ(12u, Last("info").transfer_length) << c.lines;
    ASSERT_EQ(c.box ? 1u : 0u, system.boxes.size()) << c.lines;
    if (!c.box) continue;
    EXPECT_EQ("Get chip information fail !", system.boxes[0].text);
    EXPECT_EQ("Error", system.boxes[0].caption);
    EXPECT_EQ(kMbIconError | kMbOk, system.boxes[0].flags);
  }

  // Nothing is remembered: the next identification shows the box again.
  EXPECT_EQ(8, IdentifyBridge(kPath));
  EXPECT_EQ(2u, system.boxes.size());
}

TEST_F(IdentificationTest, Code12StaysWhateverTheFlagSays) {
  for (const char* flag : {"flag_byte = 180", "flag_byte = 16", "flag_memory = fail"}) {
    EXPECT_EQ(12, Identify(std::string("info_model = 8291\n") + flag)) << flag;
    EXPECT_EQ((Names{"inquiry", "probe", "info", "vendor_page", "memory"}), bridge.CommandNames());
  }
  EXPECT_EQ(30, Identify("info_model = 8291\nvendor_page = ok"));
}

}  // namespace
}  // namespace qvb
