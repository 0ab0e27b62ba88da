// The live scenario behind every virtual entry: what a refresh sees as the file changes, and
// the virtual devices that install it.
#include "virtual_bridge/live_scenario.h"

#include <gtest/gtest.h>
#ifndef _WIN32
#include <sys/stat.h>
#endif

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "tests/support/fake_system.h"
#include "virtual_bridge/scenario.h"
#include "virtual_bridge/virtual_devices.h"

namespace qvb::virt {
namespace {

void SetEnvironment(const char* name, const std::string& value) {
#ifdef _WIN32
  _putenv_s(name, value.c_str());
#else
  if (value.empty())
    unsetenv(name);
  else
    setenv(name, value.c_str(), 1);
#endif
}

constexpr const char* kOneDevice =
    "[device]\n"
    "path = "
    "\\\\?\\usbstor#disk&ven_quorvel&prod_qvb886#0001#{53f56307-b6bf-11d0-94f2-00a0c91efb8b}\n"
    "version = 133.1.0.3\n";
constexpr const char* kTwoDevices =
    "[device]\n"
    "path = \\\\?\\usbstor#disk#0001\n"
    "[device]\n"
    "path = \\\\?\\usbstor#disk#0002\n"
    "version = 133.1.0.6\n";

class LiveScenarioTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir = std::filesystem::temp_directory_path() /
          ("qvb_live_" +
           std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()));
    std::filesystem::create_directories(dir);
    file = (dir / "scenario.txt").string();
  }
  void TearDown() override { std::filesystem::remove_all(dir); }
  void Write(const std::string& text) {
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    out << text;
  }
  static std::vector<std::string> WalkPaths(LiveScenario& live) {
    std::vector<std::string> paths;
    auto walk = live.Walk();
    DiskInterface entry;
    for (uint32_t i = 0; walk && walk->Read(i, entry); ++i) paths.emplace_back(entry.device_path);
    return paths;
  }

  testing::FakeSystem system;
  std::filesystem::path dir;
  std::string file;
};

TEST_F(LiveScenarioTest, EachWalkSeesTheFileAsItIsThen) {
  LiveScenario live(file);
  EXPECT_TRUE(WalkPaths(live).empty()) << "no file: nothing attached";
  Write(kOneDevice);
  ASSERT_EQ(WalkPaths(live).size(), 1u);
  Write(kTwoDevices);
  const auto paths = WalkPaths(live);
  ASSERT_EQ(paths.size(), 2u);
  EXPECT_EQ(paths[1], "\\\\?\\usbstor#disk#0002");
  std::filesystem::remove(file);
  EXPECT_TRUE(WalkPaths(live).empty()) << "file gone: everything detached";
  EXPECT_EQ(live.loads(), 4);
}

TEST_F(LiveScenarioTest, AnUnchangedFileKeepsTheDevicesAndTheirFlash) {
  Write(kOneDevice);
  LiveScenario live(file);
  ASSERT_TRUE(live.Refresh());
  live.bridge().devices()[0].flash[0] = 0x5A;
  EXPECT_FALSE(live.Refresh());
  WalkPaths(live);
  EXPECT_EQ(live.bridge().devices()[0].flash[0], 0x5A);
  EXPECT_EQ(live.loads(), 1);
  // Any change, even one that names the same device, attaches it afresh.
  Write(std::string(kOneDevice) + "# touched\n");
  EXPECT_TRUE(live.Refresh());
  EXPECT_EQ(live.bridge().devices()[0].flash[0], 0xFF);
}

TEST_F(LiveScenarioTest, AMalformedFileLeavesTheDevicesAttachedAndSaysWhy) {
  Write(kOneDevice);
  LiveScenario live(file);
  ASSERT_TRUE(live.Refresh());
  Write("[device]\npath = x\nversion = 133.1\n");
  EXPECT_FALSE(live.Refresh());
  EXPECT_NE(live.error().find("line 3"), std::string::npos) << live.error();
  ASSERT_EQ(WalkPaths(live).size(), 1u);
  ASSERT_EQ(system.debug.size(), 1u);
  EXPECT_NE(system.debug[0].find("line 3"), std::string::npos);
  Write(kTwoDevices);
  EXPECT_TRUE(live.Refresh());
  EXPECT_TRUE(live.error().empty());
}

TEST_F(LiveScenarioTest, NoFileNameMeansNoDevices) {
  LiveScenario live("");
  EXPECT_TRUE(WalkPaths(live).empty());
  EXPECT_EQ(live.Open("\\\\?\\usbstor#disk#0001", ShareMode::ReadWrite).device, nullptr);
}

TEST_F(LiveScenarioTest, OpensPauseForTheConfiguredDelay) {
  Write(kOneDevice);
  LiveScenario live(file);
  live.Refresh();
  const std::string path = live.bridge().devices()[0].path;
  EXPECT_NE(live.Open(path.c_str(), ShareMode::ReadWrite).device, nullptr);
  EXPECT_TRUE(system.sleeps.empty());
  live.set_open_delay(15);
  EXPECT_NE(live.Open(path.c_str(), ShareMode::ReadWrite).device, nullptr);
  EXPECT_EQ(system.sleeps, std::vector<uint32_t>{15});
}

TEST_F(LiveScenarioTest, FlashFileHoldsTheFirstDevicesFlash) {
  Write(kTwoDevices);
  LiveScenario live(file);
  live.Refresh();
  live.bridge().devices()[0].flash[3] = 0x12;
  const std::string out = (dir / "flash.bin").string();
  ASSERT_TRUE(WriteFlashFile(live.bridge(), 0, out));
  std::ifstream in(out, std::ios::binary);
  const std::vector<char> bytes((std::istreambuf_iterator<char>(in)), {});
  ASSERT_EQ(bytes.size(), live.bridge().devices()[0].flash.size());
  EXPECT_EQ(static_cast<uint8_t>(bytes[3]), 0x12);
  EXPECT_EQ(static_cast<uint8_t>(bytes[4]), 0xFF);
  EXPECT_FALSE(WriteFlashFile(live.bridge(), 2, out));
}

TEST_F(LiveScenarioTest, EnvironmentDevicesAreInstalledForTheirLifetime) {
  Write(kOneDevice);
  const std::string out = (dir / "flash.bin").string();
  SetEnvironment(kScenarioVariable, file);
  SetEnvironment(kFlashOutVariable, out);
  SetEnvironment(kOpenDelayVariable, "3");
  ScsiHost* host_before = &ActiveScsiHost();
  DiskInterfaces* interfaces_before = &ActiveDiskInterfaces();
  {
    VirtualDevices devices(OptionsFromEnvironment());
    EXPECT_EQ(&ActiveScsiHost(), &devices.scenario());
    EXPECT_EQ(&ActiveDiskInterfaces(), &devices.scenario());
    EXPECT_EQ(devices.scenario().file(), file);
    ASSERT_EQ(WalkPaths(devices.scenario()).size(), 1u);
    devices.bridge().devices()[0].flash[0] = 0x42;
    EXPECT_NE(ActiveScsiHost()
                  .Open(devices.bridge().devices()[0].path.c_str(), ShareMode::ReadWrite)
                  .device,
              nullptr);
    EXPECT_EQ(system.sleeps, std::vector<uint32_t>{3});
  }
  EXPECT_EQ(&ActiveScsiHost(), host_before);
  EXPECT_EQ(&ActiveDiskInterfaces(), interfaces_before);
  std::ifstream in(out, std::ios::binary);
  ASSERT_TRUE(in) << "the flash is written at the end";
  EXPECT_EQ(in.get(), 0x42);
  SetEnvironment(kScenarioVariable, "");
  SetEnvironment(kFlashOutVariable, "");
  SetEnvironment(kOpenDelayVariable, "");
}

std::string Devices(std::size_t count) {
  std::string text;
  for (std::size_t i = 0; i < count; ++i) text += "[device]\npath = d" + std::to_string(i) + "\n";
  return text;
}

// A front end that names a scenario refuses a file it cannot use, and says which. What a
// scenario may cost is bounded: a small file must not allocate gigabytes of virtual flash, and
// a pipe or a device must neither hang the program nor be read without end.
TEST_F(LiveScenarioTest, LoadRefusesAMissingOrMalformedFile) {
  enum class Source { File, None, Folder, Fifo, Named };
  struct Case {
    const char* name;
    std::string text;  // the file's contents (Source::File)
    bool ok;
    const char* error_part;
    std::size_t devices = 0;
    Source source = Source::File;
    const char* named = "";  // Source::Named: a path of the system's
  };
  // Two devices and a comment that fill the file to `size` bytes.
  const auto sized = [](std::size_t size) {
    const std::string devices = kTwoDevices;
    return devices + "#" + std::string(size - devices.size() - 1, 'x');
  };
  const Case cases[] = {
      {"missing", "", false, "cannot be read", 0, Source::None},
      {"malformed", "[device]\nnonsense\n", false, "line 2"},
      {"valid", kTwoDevices, true, "", 2},
      {"a folder", "", false, "is a folder, not a scenario file", 0, Source::Folder},
      {"as many devices as allowed", Devices(kMaxScenarioDevices), true, "", kMaxScenarioDevices},
      {"one device too many", Devices(kMaxScenarioDevices + 1), false,
       "line 129: more than 64 [device] sections"},
      {"just at the size limit", sized(kMaxScenarioBytes), true, "", 2},
      {"one byte over the size limit", sized(kMaxScenarioBytes + 1), false,
       "is larger than 256 KiB, the most a scenario may hold"},
#ifndef _WIN32
      {"a pipe", "", false, "is not a regular file", 0, Source::Fifo},
      {"an endless device", "", false, "is not a regular file", 0, Source::Named, "/dev/zero"},
#endif
  };
  for (const Case& c : cases) {
    std::filesystem::remove_all(file);
    std::string name = file;
    if (c.source == Source::File) Write(c.text);
    if (c.source == Source::Folder) std::filesystem::create_directory(file);
#ifndef _WIN32
    if (c.source == Source::Fifo) {
      ASSERT_EQ(0, mkfifo(file.c_str(), 0600)) << c.name;
    }
#endif
    if (c.source == Source::Named) name = c.named;
    VirtualDevices devices(name);
    std::string error;
    EXPECT_EQ(devices.Load(error), c.ok) << c.name << ": " << error;
    EXPECT_NE(error.find(c.error_part), std::string::npos) << c.name << ": " << error;
    EXPECT_EQ(devices.bridge().devices().size(), c.devices) << c.name;
  }
  std::filesystem::remove_all(file);
}

}  // namespace
}  // namespace qvb::virt
