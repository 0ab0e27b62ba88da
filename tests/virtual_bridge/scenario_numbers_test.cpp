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

}  // namespace
}  // namespace qvb
