// Runs the command line in process against virtual devices and collects what it wrote.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "cli/cli.h"
#include "cli/power_cycle_wait.h"
#include "device/guarded_scsi_host.h"
#include "device/seams.h"
#include "firmware/power_cycle.h"
#include "tests/cli/json_reader.h"
#include "tests/support/fake_system.h"
#include "virtual_bridge/scenario.h"
#include "virtual_bridge/virtual_bridge.h"

namespace qvb::cli::test {

struct Terminal {
  bool in = false;
  bool out = false;
  bool err = false;
  // On a terminal update waits for the power cycle; the tests that are not about it end after
  // the write (--no-wait).
  bool wait = false;
};

// The hot-plug events and the clock of the wait for the power cycle, simulated: every wait lasts
// its whole time-out, and `step` runs at each (a test unplugs and re-attaches devices there).
class SimulatedChanges : public DeviceChangeSource {
 public:
  bool Wait(uint32_t timeout_ms) override {
    now_ += timeout_ms;
    ++waits_;
    return step ? step(now_) : false;
  }
  uint64_t NowMs() override { return now_; }
  int waits() const { return waits_; }
  std::function<bool(uint64_t now_ms)> step;

 private:
  uint64_t now_ = 0;
  int waits_ = 0;
};

// Every run keeps its waiting records out of the user's own folder: a record left by one test
// would make the next one's device wait for its power cycle. Runs of the built program inherit
// this; RunCli gives each in-process run a file of its own unless told to share one.
inline const std::filesystem::path& TestStateFolder() {
  static const std::filesystem::path folder = [] {
    const auto path =
        std::filesystem::temp_directory_path() /
        ("qvb-cli-test-state-" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) +
         "-" + std::to_string(reinterpret_cast<uintptr_t>(&folder) % 100000));
    return path;
  }();
  return folder;
}

class StateFolderPerTest : public ::testing::EmptyTestEventListener {
  void OnTestStart(const ::testing::TestInfo&) override {
    std::error_code ignored;
    std::filesystem::remove_all(TestStateFolder(), ignored);
    std::filesystem::create_directories(TestStateFolder(), ignored);
#ifdef _WIN32
    _putenv_s("XDG_STATE_HOME", TestStateFolder().string().c_str());
#else
    setenv("XDG_STATE_HOME", TestStateFolder().c_str(), 1);
#endif
  }
};

inline const bool kStateFolderPerTest = [] {
  ::testing::UnitTest::GetInstance()->listeners().Append(new StateFolderPerTest);
  return true;
}();

struct Result {
  int code = -1;
  std::string out;
  std::string err;

  // Standard output parsed as one JSON document; a failed test when it is not one.
  Json Document() const {
    Json document;
    EXPECT_TRUE(JsonReader::Parse(out, document)) << "not one JSON document:\n" << out;
    return document;
  }
};

inline bool NotPrivileged() {
  return false;
}
inline bool Privileged() {
  return true;
}

// With QVB_CLI_JSON_DIR set, every document a test run writes is kept there as a file of its
// own, for the check against the published JSON Schema. The folder is emptied by the first.
inline void KeepDocument(const std::vector<std::string>& args, const std::string& document) {
  const char* folder = std::getenv("QVB_CLI_JSON_DIR");
  if (!folder || !*folder || document.empty()) return;
  bool asked = false;
  for (const auto& arg : args) asked = asked || arg == "--json";
  if (!asked) return;
  static int kept = 0;
  std::error_code ignored;
  if (kept == 0) std::filesystem::remove_all(folder, ignored);
  std::filesystem::create_directories(folder, ignored);
  std::ofstream(std::filesystem::path(folder) / ("document-" + std::to_string(++kept) + ".json"),
                std::ios::binary)
      << document;
}

// When set, sees (and may adjust) the simulated system of every run before the program starts.
inline std::function<void(qvb::testing::FakeSystem&)> g_system_setup;

// Runs qvb886-fwupdate with `args`, `input` on standard input. Pauses are simulated. Runs that
// share `power_cycles` are commands of one process; without it each run is a process of its own.
// `waiting_file`: the record file, shared by the runs that name the same one; empty: one of this
// run's own. `changes`: the wait's events and clock; null: simulated, nothing changes.
// `out_stream` replaces the collected standard output (a stream that fails, say).
inline Result RunCli(const std::vector<std::string>& args, const std::string& input = "",
                     Terminal terminal = {}, bool (*privileges)() = Privileged,
                     PowerCycleWatch* power_cycles = nullptr, const std::string& waiting_file = "",
                     DeviceChangeSource* changes = nullptr, std::ostream* out_stream = nullptr) {
  qvb::testing::FakeSystem system;
  if (g_system_setup) g_system_setup(system);
  std::vector<const char*> argv{"qvb886-fwupdate"};
  for (const auto& arg : args) argv.push_back(arg.c_str());
  const bool update = std::find(args.begin(), args.end(), "update") != args.end();
  if (update && (terminal.out || terminal.err) && !terminal.wait) argv.push_back("--no-wait");
  static int runs = 0;
  const std::string own_file =
      (TestStateFolder() / ("run-" + std::to_string(++runs) + ".txt")).string();
  SimulatedChanges own_changes;
  std::ostringstream out, err;
  std::istringstream in(input);
  Console console{out_stream ? *out_stream : out, err, in};
  console.in_terminal = terminal.in;
  console.out_terminal = terminal.out;
  console.err_terminal = terminal.err;
  console.has_device_privileges = privileges;
  console.power_cycles = power_cycles;
  console.waiting_file = waiting_file.empty() ? own_file.c_str() : waiting_file.c_str();
  console.device_changes = changes ? changes : &own_changes;
  Result result;
  result.code = Run(static_cast<int>(argv.size()), argv.data(), console);
  result.out = out.str();
  result.err = err.str();
  KeepDocument(args, result.out);
  return result;
}

// A scenario file in the temporary folder for the life of the object.
class ScenarioFile {
 public:
  explicit ScenarioFile(const std::string& text) {
    static int serial = 0;
    path_ = (std::filesystem::temp_directory_path() /
             ("qvb-cli-test-" + std::to_string(++serial) + ".scn"))
                .string();
    std::ofstream(path_, std::ios::binary) << text;
  }
  ~ScenarioFile() {
    std::error_code ignored;
    std::filesystem::remove(path_, ignored);
  }
  ScenarioFile(const ScenarioFile&) = delete;
  ScenarioFile& operator=(const ScenarioFile&) = delete;
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

// A QVB886 disk section of a scenario.
inline std::string Qvb886(const std::string& path, const std::string& version,
                          const std::string& extra = "") {
  return "[device]\npath = " + path + "\npreset = qvb886\nversion = " + version +
         "\nvendor = Quorvel\nproduct = QVB886 NVMe\n" + extra;
}

constexpr const char* kDiskA =
    "\\\\?\\usbstor#disk&ven_quorvel&prod_qvb886#0001#{53f56307-b6bf-11d0-94f2-00a0c91efb8b}";
constexpr const char* kDiskB =
    "\\\\?\\usbstor#disk&ven_quorvel&prod_qvb886#0002#{53f56307-b6bf-11d0-94f2-00a0c91efb8b}";

// A scenario's virtual bridge installed behind the device seams directly, as the real devices
// would be (no --virtual), so that a test sees every request and can step into them.
class InstalledBridge {
 public:
  explicit InstalledBridge(const std::string& scenario) {
    const virt::ScenarioResult loaded = virt::LoadScenarioText(scenario, bridge);
    EXPECT_TRUE(loaded.ok) << loaded.error;
    guard_.before_open = [this](const char* path, ShareMode) -> std::optional<ScsiResult> {
      if (before_open) return before_open(path);
      return std::nullopt;
    };
    guard_.before_send = [this](const std::string&,
                                const ScsiRequest& request) -> std::optional<ScsiResult> {
      if (!before_send) return std::nullopt;
      return before_send(
          virt::CommandName(std::vector<uint8_t>(request.cdb, request.cdb + request.cdb_length)));
    };
  }
  InstalledBridge(const InstalledBridge&) = delete;
  InstalledBridge& operator=(const InstalledBridge&) = delete;

  // Called before each request reaches the bridge; a result fails the request with it.
  std::function<std::optional<ScsiResult>(const std::string& command)> before_send;
  // Called before each open; a result fails the open with it.
  std::function<std::optional<ScsiResult>(const char* path)> before_open;

  int Count(const std::string& command) const {
    int n = 0;
    for (const auto& name : bridge.CommandNames()) n += name == command ? 1 : 0;
    return n;
  }

  virt::VirtualBridge bridge;

 private:
  GuardedScsiHost guard_{bridge};
  ScopedSeams installed_{HostSeams{.scsi = &guard_, .disks = &bridge}};
};

// A request that the system failed with the general failure code.
inline ScsiResult SystemFailure() {
  return ScsiResult::Fail(ScsiOutcome::OsError, 31);
}

}  // namespace qvb::cli::test
