// A scenario with a disk of each bus kind and several bridge models, listed and identified.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "device/enumeration.h"
#include "device/identification.h"
#include "device/seams.h"
#include "tests/support/fake_system.h"
#include "virtual_bridge/scenario.h"
#include "virtual_bridge/virtual_bridge.h"

namespace qvb {
namespace {

constexpr const char* kFamily = R"(# one disk of each bus kind, several models
[device]
path = \\?\usbstor#disk&ven_quorvel&prod_qvb886&rev_1.00#0001#{53f56307-b6bf-11d0-94f2-00a0c91efb8b}
preset = qvb886
version = 133.1.0.3
[device]
path = \\?\scsi#disk&ven_quorvel&prod_bridge#0002#{53f56307-b6bf-11d0-94f2-00a0c91efb8b}
preset = bridge
info_model = 7671
[device]
path = \\?\sbp2#quorvel&bridge&lun0#0003#{53f56307-b6bf-11d0-94f2-00a0c91efb8b}
preset = bridge
info_signature = no
probe = 40 00
[device]
path = \\?\ide#diskwdc_wd10ezex#0004#{53f56307-b6bf-11d0-94f2-00a0c91efb8b}
preset = bridge
[device]
path = \\?\usbstor#disk&ven_quorvel&prod_older#0005#{53f56307-b6bf-11d0-94f2-00a0c91efb8b}
preset = bridge
info_via = info_alt
info_model = 8291
vendor_page = ok
[device]
path = \\?\usbstor#disk&ven_quorvel&prod_ids#0006#{53f56307-b6bf-11d0-94f2-00a0c91efb8b}
preset = bridge
info_ids = 7E21 6A4C
info_model = 8861
[device]
path = \\?\usbstor#disk&ven_other#0007#{53f56307-b6bf-11d0-94f2-00a0c91efb8b}
preset = blank
[device]
path = \\?\usbstor#disk&ven_quorvel&prod_named#0008#{53f56307-b6bf-11d0-94f2-00a0c91efb8b}
preset = bridge
inquiry = fail
name = w755B
[device]
path = \\?\scsi#disk&ven_quorvel&prod_paged#0009#{53f56307-b6bf-11d0-94f2-00a0c91efb8b}
preset = bridge
probe = fail
buffer1_descriptor = 03 00 00 08
buffer1_page = 00 00 00 00 08 74 00 00
[device]
path = \\?\usbstor#disk&ven_quorvel&prod_code12#000A#{53f56307-b6bf-11d0-94f2-00a0c91efb8b}
preset = bridge
inquiry_model = w829
flag_byte = 0xB4
[device]
path = \\?\usbstor#disk&ven_quorvel&prod_hidden#000B#{53f56307-b6bf-11d0-94f2-00a0c91efb8b}
detail = fail
[device]
path = \\?\usbstor#disk&ven_quorvel&prod_after#000C#{53f56307-b6bf-11d0-94f2-00a0c91efb8b}
)";

TEST(BridgeFamilyScenario, EachBusKindAndModelIsListedAndIdentified) {
  virt::VirtualBridge bridge;
  const auto loaded = virt::LoadScenarioText(kFamily, bridge);
  ASSERT_TRUE(loaded.ok) << loaded.error;
  ScopedSeams scsi{HostSeams{.scsi = &bridge}};
  ScopedSeams interfaces{HostSeams{.disks = &bridge}};
  testing::FakeSystem system;

  std::vector<std::vector<char>> storage(16, std::vector<char>(256, 0));
  std::vector<char*> paths;
  for (auto& s : storage) paths.push_back(s.data());
  const int count = EnumerateBridgeDisks(paths.data(), 16, 256, 1);

  struct Seen {
    std::string serial;
    std::string prefix;
    int code;
    bool operator==(const Seen&) const = default;
  };
  std::vector<Seen> seen;
  for (int i = 0; i < count; ++i) {
    const std::string path = paths[static_cast<std::size_t>(i)];
    seen.push_back({path.substr(path.find("#00") + 1, 4), BusPrefixForPath(path.c_str()),
                    IdentifyBridge(path.c_str())});
  }
  const std::vector<Seen> expected = {
      {"0001", "<<USB>> ", 22},  {"0002", "<<UASP>> ", 9}, {"0003", "<<1394>> ", 37},
      {"0005", "<<USB>> ", 30},  {"0006", "<<USB>> ", 39}, {"0008", "<<USB>> ", 7},
      {"0009", "<<UASP>> ", 19}, {"000A", "<<USB>> ", 12},
  };
  ASSERT_EQ(expected.size(), seen.size());
  for (std::size_t i = 0; i < expected.size(); ++i) {
    EXPECT_EQ(expected[i].serial, seen[i].serial) << i;
    EXPECT_EQ(expected[i].prefix, seen[i].prefix) << expected[i].serial;
    EXPECT_EQ(expected[i].code, seen[i].code) << expected[i].serial;
  }
  EXPECT_TRUE(system.boxes.empty());
}

TEST(BridgeFamilyScenario, FamilyKeysRejectWhatTheyCannotUse) {
  const char* bad[] = {
      "info_ids = 7E21",        "info_ids = 7E21 6A4C 00", "info_via = sideways",
      "info_signature = maybe", "info_model = 88612",      "flag_byte = 256",
      "flag_byte = 18x",        "detail = sometimes",
  };
  for (const char* line : bad) {
    virt::VirtualBridge bridge;
    const std::string text = std::string("[device]\npath = p\npreset = bridge\n") + line + "\n";
    const auto loaded = virt::LoadScenarioText(text, bridge);
    EXPECT_FALSE(loaded.ok) << line;
    EXPECT_EQ(0u, loaded.error.rfind("line 4:", 0)) << line << ": " << loaded.error;
  }
}

}  // namespace
}  // namespace qvb
