// Numbers in scenario files: a value that is not wholly a number in range is refused with its
// line, never read as a nearby number (a mistyped "from=1O" must not become a fault at 1).
#include <gtest/gtest.h>

#include <string>

#include "virtual_bridge/scenario.h"
#include "virtual_bridge/virtual_bridge.h"

namespace qvb {
namespace {

virt::ScenarioResult Load(const std::string& line, virt::VirtualBridge& bridge) {
  return virt::LoadScenarioText("[device]\npath = p\npreset = qvb886\n" + line + "\n", bridge);
}

TEST(ScenarioNumbers, MalformedNumbersAreRefused) {
  const char* bad[] = {
      "fault = write_buffer check_condition from=1O",
      "fault = write_buffer check_condition from=",
      "fault = any check_condition times=x",
      "fault = any short=",
      "fault = any short=4k",
      "fault = any short=-1",
      "flash_busy_reads = many",
      "flash_busy_reads = 3.5",
      "version = 133.1.0",
      "version = 133.1.0.3.1",
      "version = 133.1.0.256",
      "version = 133.1.-0.3",
      "version = 133..0.3",
      "probe = 2G 00",
      "probe = +1 00",
      "info = F4 E7 0x",
  };
  for (const char* line : bad) {
    virt::VirtualBridge bridge;
    const auto loaded = Load(line, bridge);
    EXPECT_FALSE(loaded.ok) << line;
    EXPECT_EQ(0u, loaded.error.rfind("line 4:", 0)) << line << ": " << loaded.error;
  }
}

TEST(ScenarioNumbers, WellFormedNumbersAreRead) {
  virt::VirtualBridge bridge;
  ASSERT_TRUE(Load("version = 133.1.0.255\nflash_busy_reads = 12\nprobe = 2a FF\n"
                   "fault = write_buffer short=7 from=20 times=3",
                   bridge)
                  .ok);
  const auto& model = bridge.devices()[0];
  EXPECT_EQ(255, (*model.info)[15]);
  EXPECT_EQ(12, model.flash_busy_reads);
  EXPECT_EQ(0x2A, (*model.probe)[0]);
  EXPECT_EQ(0xFF, (*model.probe)[1]);
}

// The README's example, as printed there: a '#' after a blank explains a value; a '#' inside a
// word (every interface path has them) is part of it.
TEST(ScenarioText, CommentsAfterAValueAreNotPartOfIt) {
  const char* readme =
      "# comment\n"
      "[device]\n"
      "path = \\\\?\\usbstor#disk&ven_quorvel&prod_qvb886#0001#"
      "{53f56307-b6bf-11d0-94f2-00a0c91efb8b}\n"
      "preset = qvb886          # qvb886 (default) | bridge (answers, tells no model) | blank\n"
      "version = 133.1.0.3      # information block bytes 12-15\n"
      "vendor = Quorvel         # INQUIRY vendor (8) and product (16), blank padded\n"
      "product = QVB886 NVMe\n"
      "inquiry_model = w886     # INQUIRY bytes 36-39, \"none\" clears them\n"
      "loader = yes             # information block byte 6 = 0: the loader path\n"
      "descriptor = 0A 010400   # buffer 0 descriptor: boundary, capacity\n"
      "fault = write_buffer check_condition from=10 times=1\n";
  virt::VirtualBridge bridge;
  const auto loaded = virt::LoadScenarioText(readme, bridge);
  ASSERT_TRUE(loaded.ok) << loaded.error;
  ASSERT_EQ(1u, bridge.devices().size());
  const auto& model = bridge.devices()[0];
  EXPECT_EQ(
      "\\\\?\\usbstor#disk&ven_quorvel&prod_qvb886#0001#{53f56307-b6bf-11d0-94f2-00a0c91efb8b}",
      model.path);
  EXPECT_EQ(3, (*model.info)[15]);
  EXPECT_EQ(0, (*model.info)[6]);
  EXPECT_EQ("Quorvel ", std::string(reinterpret_cast<const char*>(&model.inquiry[8]), 8));
  EXPECT_EQ(0x0A, model.descriptor_boundary);
  EXPECT_EQ(0x010400u, model.capacity);

  // A tab counts as a blank; a section header takes a comment too.
  virt::VirtualBridge tabbed;
  ASSERT_TRUE(
      virt::LoadScenarioText("[device] # first\npath = p\nversion = 133.1.0.4\t#x\n", tabbed).ok);
  EXPECT_EQ(4, (*tabbed.devices()[0].info)[15]);
}

}  // namespace
}  // namespace qvb
