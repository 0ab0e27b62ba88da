// The command line against virtual scenarios, in process: exit codes, texts, JSON documents,
// the choice of device, the refusals, confirmation and progress.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <fstream>
#include <map>
#include <nlohmann/json.hpp>

#include "cli/access_monitor.h"
#include "cli/arguments.h"
#include "cli/exit_codes.h"
#include "cli/outcomes.h"
#include "cli/platform.h"
#include "cli/progress.h"
#include "cli/report.h"
#include "device/path_identity.h"
#include "device/test_device.h"
#include "firmware/update.h"
#include "firmware/waiting_record.h"
#include "tests/cli/cli_harness.h"

#ifdef _WIN32
#include <windows.h>
#endif

namespace qvb::cli::test {
namespace {

const char kNoDevice[] =
    "No compatible USB device were found.\nPlease plug a compatible USB device.\n";
const char kSeveral[] =
    "Multiple USB drives are attached.\nPlease disconnect all devices.\nexcept the one that needs "
    "to be updated.\n";
const char kUpdating[] = "DO NOT disconnect the device during the FW update.\nUpdating....\n";
const char kUpdated[] = "Successfully updated.\nPlease power off/on your USB device\n";

std::string Bridge(const std::string& path, const std::string& model) {
  return "[device]\npath = " + path + "\npreset = bridge\ninquiry_model = " + model + "\n";
}

struct Case {
  const char* name;
  std::string scenario;
  std::vector<std::string> args;
  int code;
  const char* outcome;
  std::vector<std::string> texts;  // each must appear in the human output
};

class ExitCodes : public ::testing::TestWithParam<Case> {};

TEST_P(ExitCodes, TextAndDocumentAgree) {
  const Case& c = GetParam();
  ScenarioFile scenario(c.scenario);
  std::vector<std::string> args = c.args;
  args.push_back("--virtual");
  args.push_back(scenario.path());

  const Result text = RunCli(args);
  EXPECT_EQ(text.code, c.code) << text.out << text.err;
  for (const auto& expected : c.texts)
    EXPECT_NE(text.out.find(expected), std::string::npos) << "missing: " << expected << "\n"
                                                          << text.out;

  // Why a command failed reaches standard error too.
  const bool failed = c.code != kExitOk && c.code != kExitUpToDate && c.code != kExitPowerCycle;
  EXPECT_EQ(text.err.empty(), !failed) << text.err;

  args.push_back("--json");
  const Result json = RunCli(args);
  EXPECT_EQ(json.code, c.code);
  const Json document = json.Document();
  EXPECT_EQ(document["command"].text, c.args[0]);
  EXPECT_EQ(document["outcome"].text, c.outcome);
  EXPECT_EQ(document["exit_code"].number, c.code);
  // The device is described as list describes it.
  for (const Json& disk : document["disks"].items) {
    if (!document["device"].is(Json::Kind::Object) ||
        disk["path"].text != document["device"]["path"].text)
      continue;
    EXPECT_EQ(document["device"]["model_code"].number, disk["model_code"].number);
    EXPECT_EQ(document["device"]["model"].text, disk["model"].text);
  }
  // With --json the document stands alone; update keeps its texts on standard error, and the
  // others say there only why they failed.
  if (c.args[0] == "update") {
    for (const auto& expected : c.texts) EXPECT_NE(json.err.find(expected), std::string::npos);
  } else {
    EXPECT_EQ(json.err, text.err);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Cli, ExitCodes,
    ::testing::Values(
        Case{"ListOne",
             Qvb886(kDiskA, "133.1.0.3"),
             {"list"},
             kExitOk,
             "ok",
             {"Bus:     USB\n", "Device:  Quorvel QVB886 NVMe\n", "Bridge:  886 (model code 22)\n",
              "  Firmware version: 133.01.00.03\n  Status: Update required\n"}},
        Case{"ListNone", "# nothing attached\n", {"list"}, kExitNoDevice, "no_device", {kNoDevice}},
        Case{"ListOtherBridge",
             Bridge(kDiskA, "w767"),
             {"list"},
             kExitOk,
             "ok",
             {"Bridge:  767 (model code 9)\n", "This program updates only the QVB886.\n"}},
        Case{"StatusOldest",
             Qvb886(kDiskA, "133.1.0.0"),
             {"status"},
             kExitOk,
             "update_required",
             {"Firmware version: 133.01.00.00\nStatus: Update required\n"}},
        Case{"StatusUpToDate",
             Qvb886(kDiskA, "133.1.0.6"),
             {"status"},
             kExitUpToDate,
             "up_to_date",
             {"Firmware version: 133.01.00.06\nStatus: Up to date\n"}},
        Case{"StatusTooNew",
             Qvb886(kDiskA, "133.1.0.7"),
             {"status"},
             kExitNotUpdatable,
             "not_supported",
             {"Firmware version: 133.01.00.07\nStatus: Not support FW update\n"}},
        Case{"StatusNotQvb886",
             Bridge(kDiskA, "w767"),
             {"status"},
             kExitNotUpdatable,
             "not_qvb886",
             {"this program updates only the QVB886."}},
        Case{"StatusOtherModel",
             Bridge(kDiskA, "w880"),
             {"status"},
             kExitNotUpdatable,
             "not_qvb886",
             {"The bridge is 880 (model code 21): this program updates only the QVB886.\n"}},
        Case{"StatusConfigFails",
             Qvb886(kDiskA, "133.1.0.3", "config = fail\n"),
             {"status"},
             kExitNotUpdatable,
             "unreadable",
             {"The firmware version could not be read"}},
        Case{"StatusNone", "", {"status"}, kExitNoDevice, "no_device", {kNoDevice}},
        Case{"StatusUnknownBridgeOnly",
             "[device]\npath = " + std::string(kDiskA) + "\npreset = bridge\ninfo_model = none\n",
             {"status"},
             kExitNoDevice,
             "no_device",
             {"No disk with a recognised bridge was found.\n"}},
        Case{"StatusSeveral",
             Qvb886(kDiskA, "133.1.0.3") + Qvb886(kDiskB, "133.1.0.6"),
             {"status"},
             kExitSeveralDevices,
             "several_devices",
             {kSeveral}},
        Case{"StatusChosen",
             Qvb886(kDiskA, "133.1.0.3") + Qvb886(kDiskB, "133.1.0.6"),
             {"status", "--device", kDiskB},
             kExitUpToDate,
             "up_to_date",
             {"Status: Up to date\n"}},
        Case{"StatusChosenMissing",
             Qvb886(kDiskA, "133.1.0.3"),
             {"status", "--device", "\\\\?\\usbstor#nothing"},
             kExitNoDevice,
             "no_device",
             {"was found behind a supported bridge"}},
        Case{"UpdateDone",
             Qvb886(kDiskA, "133.1.0.5"),
             {"update", "--yes"},
             kExitOk,
             "updated",
             {kUpdating, kUpdated}},
        Case{"UpdateFails",
             Qvb886(kDiskA, "133.1.0.3", "fault = write_buffer check_condition\n"),
             {"update", "--yes"},
             kExitUpdateFailed,
             "failed",
             {kUpdating, "Update Fail!\n"}},
        Case{"UpdateNothingToDo",
             Qvb886(kDiskA, "133.1.0.6"),
             {"update", "--yes"},
             kExitUpToDate,
             "up_to_date",
             {"Status: Up to date\n", "Nothing to do"}},
        Case{"UpdateRefusedVersion",
             Qvb886(kDiskA, "134.1.0.6"),
             {"update", "--yes"},
             kExitNotUpdatable,
             "not_supported",
             {"Status: Not support FW update\n"}},
        Case{"UpdateRefusedBridge",
             Bridge(kDiskA, "w767"),
             {"update", "--yes"},
             kExitNotUpdatable,
             "not_qvb886",
             {}},
        Case{"UpdateOtherModel",
             Bridge(kDiskA, "w880"),
             {"update", "--yes"},
             kExitNotUpdatable,
             "not_qvb886",
             {"The bridge is 880 (model code 21): this program updates only the QVB886.\n"}},
        Case{"UpdateSeveral",
             Qvb886(kDiskA, "133.1.0.3") + Qvb886(kDiskB, "133.1.0.3"),
             {"update", "--yes"},
             kExitSeveralDevices,
             "several_devices",
             {kSeveral, "Or choose one with --device PATH."}},
        Case{"UpdateNone", "", {"update", "--yes"}, kExitNoDevice, "no_device", {kNoDevice}},
        Case{"UpdateRefusedRealBridge",
             Qvb886(kDiskA, "133.1.0.3", "test_device = no\n"),
             {"update", "--yes"},
             kExitTestBuild,
             "test_build_refused",
             {"This is a test build", "Nothing was written"}},
        Case{"UpdateUnconfirmed",
             Qvb886(kDiskA, "133.1.0.3"),
             {"update"},
             kExitUpdateFailed,
             "not_confirmed",
             {"add --yes"}}),
    [](const ::testing::TestParamInfo<Case>& info) { return std::string(info.param.name); });

TEST(Usage, BadCommandLinesAreRefusedWithCode2) {
  ScenarioFile scenario(Qvb886(kDiskA, "133.1.0.3"));
  ScenarioFile escape("[device]\npath = a\nmodel\x1b]0;pwned\x07 = 1\n");
  const std::vector<std::vector<std::string>> lines = {
      {},
      {"flash"},
      {"update", "--force"},
      {"update", "-f"},
      {"update", "--force-update"},
      {"update", "--yes=no"},
      {"list", "status"},
      {"list", "--device", kDiskA},
      {"status", "--yes"},
      {"status", "--device"},
      {"status", "--device="},
      {"status", "--device", "a", "--device", "b"},
      {"list", "--virtual"},
      {"list", "--virtual", "/nonexistent/scenario.scn"},
      {"update", "--device=", "--yes"},
      {"update", "--device", "--yes"},
      {"status", "--virtual=", "list"},
      {"fl\x1b[2Jash"},
      {"list", "--virtual", escape.path()},
      {"status", "--dry-run"},
      {"record"},
      {"record", "a.scn", "b.scn"},
      {"list", "--log"},
      {"list", "--log="},
  };
  for (auto args : lines) {
    SCOPED_TRACE(::testing::PrintToString(args));
    const Result result = RunCli(args);
    EXPECT_EQ(result.code, kExitUsage);
    EXPECT_TRUE(result.out.empty());
    EXPECT_FALSE(result.err.empty());
    // What the user typed or a file held reaches the terminal without its control bytes.
    for (const char c : result.err) EXPECT_TRUE(c == '\n' || (c >= 0x20 && c < 0x7F)) << result.err;

    // Asked for, the refusal is a document as well.
    args.push_back("--json");
    const Result json = RunCli(args);
    EXPECT_EQ(json.code, kExitUsage);
    const Json document = json.Document();
    EXPECT_EQ(document["outcome"].text, "usage_error");
    EXPECT_EQ(document["exit_code"].number, kExitUsage);
    EXPECT_FALSE(document["error"].text.empty());
    EXPECT_EQ(json.err.rfind("qvb886-fwupdate: ", 0), 0u) << json.err;
  }
}

ParseResult Parse(const std::vector<std::string>& args) {
  std::vector<const char*> argv{"qvb886-fwupdate"};
  for (const auto& arg : args) argv.push_back(arg.c_str());
  return ParseArguments(static_cast<int>(argv.size()), argv.data());
}

TEST(Usage, OptionsStandBeforeOrAfterTheCommandWithTheirValueEitherWay) {
  struct Line {
    std::vector<std::string> args;
    Command command;
    std::string device;
    std::string scenario;
    bool json;
    bool yes;
  };
  const Line lines[] = {
      {{"--json", "status", "--device", "/dev/sg2"}, Command::Status, "/dev/sg2", "", true, false},
      {{"status", "--device=/dev/sg2", "--json"}, Command::Status, "/dev/sg2", "", true, false},
      {{"--virtual=a b.scn", "list"}, Command::List, "", "a b.scn", false, false},
      {{"list", "--virtual", "a.scn"}, Command::List, "", "a.scn", false, false},
      {{"-y", "update", "--device", kDiskA}, Command::Update, kDiskA, "", false, true},
      {{"update", "--yes", "--json"}, Command::Update, "", "", true, true},
      {{"update", "--assume-yes"}, Command::Update, "", "", false, true},
      // Help and version win over the command and its checks.
      {{"status", "--help"}, Command::Help, "", "", false, false},
      {{"help", "--yes"}, Command::Help, "", "", false, true},
      {{"list", "--version"}, Command::Version, "", "", false, false},
      {{"--version", "--help"}, Command::Help, "", "", false, false},
  };
  for (const Line& line : lines) {
    SCOPED_TRACE(::testing::PrintToString(line.args));
    const ParseResult parsed = Parse(line.args);
    ASSERT_TRUE(parsed.ok) << parsed.error;
    EXPECT_EQ(parsed.options.command, line.command);
    EXPECT_EQ(parsed.options.device, line.device);
    EXPECT_EQ(parsed.options.virtual_scenario, line.scenario);
    EXPECT_EQ(parsed.options.json, line.json);
    EXPECT_EQ(parsed.options.yes, line.yes);
  }
}

TEST(Usage, RefusalNamesWhatIsWrong) {
  struct Line {
    std::vector<std::string> args;
    const char* named;  // the word the message must contain
  };
  const Line lines[] = {
      {{"update", "--force"}, "--force"},
      {{"status", "-f"}, "-f"},
      {{"update", "--yes=no"}, "yes"},
      {{"--json=yes", "list"}, "json"},
      {{"status", "--device", "a", "--device", "b"}, "--device"},
      {{"status", "--device", ""}, "--device"},
      {{"update", "--device=", "--yes"}, "--device"},
      {{"status", "--assume-yes"}, "--yes"},
      {{"status", "--device"}, "--device"},
      {{"list", "--virtual="}, "--virtual"},
      {{"flash"}, "flash"},
      // Not a Windows-style option: the same words mean the same on every system.
      {{"/json", "list"}, "/json"},
      {{"list", "update"}, "more than one command"},
      {{"list", "--device", kDiskA}, "--device"},
      {{"status", "-y"}, "--yes"},
  };
  for (const Line& line : lines) {
    const ParseResult parsed = Parse(line.args);
    EXPECT_FALSE(parsed.ok) << ::testing::PrintToString(line.args);
    EXPECT_NE(parsed.error.find(line.named), std::string::npos)
        << ::testing::PrintToString(line.args) << ": " << parsed.error;
  }
}

TEST(Usage, MalformedScenarioSaysWhere) {
  ScenarioFile scenario("[device]\npreset = qvb886\nversion = 133.1\n");
  const Result result = RunCli({"list", "--virtual", scenario.path()});
  EXPECT_EQ(result.code, kExitUsage);
  EXPECT_NE(result.err.find("line 3"), std::string::npos) << result.err;
}

TEST(Usage, HelpDocumentsEveryExitCode) {
  const Result result = RunCli({"--help"});
  EXPECT_EQ(result.code, kExitOk);
  for (int code = kExitOk; code <= kExitOutputFailed; ++code)
    EXPECT_NE(result.out.find("\n  " + std::to_string(code) + " "), std::string::npos) << code;
  EXPECT_EQ(RunCli({"help"}).out, result.out);
  EXPECT_EQ(RunCli({"update", "-h"}).out, result.out);
}

// The outcome table and the shipped schema agree: every word with its exit code, and no word
// in the schema that no command writes.
TEST(Json, OutcomeTableMatchesTheSchema) {
  std::ifstream file(std::string(QVB_SOURCE_DIR) + "/cli/qvb886-fwupdate.schema.json");
  ASSERT_TRUE(file);
  const nlohmann::json schema = nlohmann::json::parse(file);
  std::map<std::string, int> schema_codes;
  for (const auto& pair : schema["$defs"]["verdict"]["anyOf"]) {
    const auto& outcome = pair["properties"]["outcome"];
    const int code = pair["properties"]["exit_code"]["const"];
    if (outcome.contains("const")) schema_codes[outcome["const"]] = code;
    for (const auto& word : outcome.value("enum", nlohmann::json::array()))
      schema_codes[word] = code;
  }
  std::map<std::string, int> table_codes;
  for (int i = 0; i < VerdictRowCount(); ++i)
    table_codes[VerdictRows()[i].word] = VerdictRows()[i].exit_code;
  EXPECT_EQ(table_codes.size(), static_cast<std::size_t>(VerdictRowCount())) << "a word twice";
  EXPECT_EQ(table_codes, schema_codes);
}

TEST(Json, ListDocumentShape) {
  ScenarioFile scenario(Qvb886(kDiskA, "133.1.0.3") + Bridge(kDiskB, "w767") +
                        "[device]\npath = \\\\?\\usbstor#disk&ven_x#0003\npreset = bridge\n"
                        "info_model = none\ninquiry = fail\n");
  const Json doc = RunCli({"--json", "list", "--virtual", scenario.path()}).Document();
  ASSERT_TRUE(doc.is(Json::Kind::Object));
  EXPECT_EQ(doc.order,
            (std::vector<std::string>{"command", "outcome", "exit_code", "disks", "denied"}));
  ASSERT_EQ(doc["disks"].items.size(), 3u);
  EXPECT_TRUE(doc["denied"].is(Json::Kind::Array));
  EXPECT_TRUE(doc["denied"].items.empty());

  const Json& qvb = doc["disks"][0];
  EXPECT_EQ(qvb.order, (std::vector<std::string>{"path", "bus", "vendor", "product", "model_code",
                                                 "model", "listed", "firmware"}));
  EXPECT_EQ(qvb["path"].text, kDiskA);
  EXPECT_EQ(qvb["bus"].text, "USB");
  EXPECT_EQ(qvb["vendor"].text, "Quorvel");
  EXPECT_EQ(qvb["product"].text, "QVB886 NVMe");
  EXPECT_EQ(qvb["model_code"].number, 22);
  EXPECT_EQ(qvb["model"].text, "886");
  EXPECT_TRUE(qvb["listed"].boolean);
  const Json& firmware = qvb["firmware"];
  EXPECT_TRUE(firmware["read"].boolean);
  EXPECT_EQ(firmware["version"].text, "133.1.0.3");
  EXPECT_EQ(firmware["version_text"].text, "Firmware version: 133.01.00.03");
  EXPECT_EQ(firmware["status"].text, "Update required");
  EXPECT_TRUE(firmware["updatable"].boolean);

  const Json& other = doc["disks"][1];
  EXPECT_EQ(other["model_code"].number, 9);
  EXPECT_EQ(other["model"].text, "767");
  EXPECT_TRUE(other["firmware"].is(Json::Kind::Null));

  // Not recognised and no INQUIRY data: listed false, nulls rather than empty texts.
  const Json& unknown = doc["disks"][2];
  EXPECT_EQ(unknown["model_code"].number, 0);
  EXPECT_TRUE(unknown["model"].is(Json::Kind::Null));
  EXPECT_TRUE(unknown["vendor"].is(Json::Kind::Null));
  EXPECT_FALSE(unknown["listed"].boolean);
}

TEST(Json, UpdateDocumentCarriesTheScreenLines) {
  ScenarioFile scenario(Qvb886(kDiskA, "133.1.0.1"));
  const Json done = RunCli({"update", "--yes", "--json", "--virtual", scenario.path()}).Document();
  EXPECT_EQ(done.order, (std::vector<std::string>{"command", "outcome", "exit_code", "disks",
                                                  "denied", "device", "lines", "waiting_record",
                                                  "attempts", "interrupts_refused", "confirmed"}));
  EXPECT_TRUE(done["confirmed"].is(Json::Kind::Null)) << "no wait without a terminal";
  EXPECT_EQ(done["waiting_record"]["previous_version"].text, "133.1.0.1");
  EXPECT_EQ(done["waiting_record"]["written_version"].text, "133.1.0.6");
  std::vector<std::string> lines;
  for (const auto& line : done["lines"].items) lines.push_back(line.text);
  EXPECT_EQ(lines, (std::vector<std::string>{"", "Please power off/on your USB device", "",
                                             "Successfully updated.", ""}));
  EXPECT_EQ(done["attempts"].number, 1);
  EXPECT_EQ(done["interrupts_refused"].number, 0);
  EXPECT_EQ(done["device"]["firmware"]["version"].text, "133.1.0.1");

  ScenarioFile failing(Qvb886(kDiskA, "133.1.0.1", "fault = read_buffer check_condition\n"));
  const Json failed = RunCli({"update", "--yes", "--json", "--virtual", failing.path()}).Document();
  lines.clear();
  for (const auto& line : failed["lines"].items) lines.push_back(line.text);
  EXPECT_EQ(lines, (std::vector<std::string>{"", "", "Update Fail!", "Updating....", ""}));
}

// Commands of one process: a bridge it has updated reports its old version until it is powered
// off and on, and is shown as waiting for that, never written again.
TEST(PowerCycle, UpdatedDeviceWaitsWithinTheProcess) {
  InstalledBridge devices(Qvb886(kDiskA, "133.1.0.3"));
  PowerCycleWatch process;
  auto run = [&](std::vector<std::string> args) {
    return RunCli(args, "", {}, Privileged, &process);
  };
  ASSERT_EQ(run({"update", "--yes"}).code, kExitOk);
  ASSERT_EQ(devices.Count("write_buffer"), 65);

  const Result status = run({"status"});
  EXPECT_EQ(status.code, kExitPowerCycle);
  EXPECT_NE(status.out.find("Please power off/on your USB device\nSuccessfully updated.\n"),
            std::string::npos)
      << status.out;
  EXPECT_EQ(status.out.find("Update required"), std::string::npos) << status.out;
  const Json document = run({"status", "--json"}).Document();
  EXPECT_EQ(document["outcome"].text, "power_cycle_pending");
  EXPECT_EQ(document["exit_code"].number, kExitPowerCycle);
  std::vector<std::string> lines;
  for (const auto& line : document["lines"].items) lines.push_back(line.text);
  EXPECT_EQ(lines, (std::vector<std::string>{"", "Please power off/on your USB device", "",
                                             "Successfully updated.", ""}));

  for (const auto& args : std::vector<std::vector<std::string>>{
           {"update", "--yes"}, {"update", "--yes", "--device", kDiskA}}) {
    const Result again = run(args);
    EXPECT_EQ(again.code, kExitPowerCycle);
    EXPECT_NE(again.out.find("power the device off and on first"), std::string::npos);
  }
  const Json refused = run({"update", "--yes", "--json"}).Document();
  EXPECT_EQ(refused["outcome"].text, "power_cycle_pending");
  EXPECT_EQ(devices.Count("write_buffer"), 65) << "written a second time";

  // A process with another record file knows nothing of it.
  EXPECT_EQ(RunCli({"status"}).code, kExitOk);
}

// Runs of their own (one command per process) that share the record file.
TEST(PowerCycle, TheRecordFileCarriesTheWaitFromOneRunToTheNext) {
  InstalledBridge devices(Qvb886(kDiskA, "133.1.0.3"));
  const std::string file = (TestStateFolder() / "shared.txt").string();
  auto run = [&](std::vector<std::string> args) {
    return RunCli(args, "", {}, Privileged, nullptr, file);
  };
  ASSERT_EQ(run({"update", "--yes"}).code, kExitOk);
  EXPECT_EQ(run({"status"}).code, kExitPowerCycle);
  EXPECT_EQ(run({"update", "--yes"}).code, kExitPowerCycle);
  EXPECT_EQ(devices.Count("write_buffer"), 65) << "written a second time";
  const Json status = run({"status", "--json"}).Document();
  EXPECT_EQ(status["waiting_record"]["file"].text, file);
  EXPECT_EQ(status["waiting_record"]["previous_version"].text, "133.1.0.3");
  const Result list = run({"list"});
  EXPECT_NE(list.out.find("Firmware version: 133.01.00.03\n  Successfully updated.\n  Please "
                          "power off/on your USB device\n"),
            std::string::npos)
      << list.out;
  const Json listed = run({"list", "--json"}).Document();
  EXPECT_TRUE(listed["disks"].items.at(0)["firmware"]["waiting_for_power_cycle"].boolean);
  EXPECT_FALSE(listed["disks"].items.at(0)["firmware"]["updatable"].boolean);
}

TEST(PowerCycle, ARecordHoldsForThisStartOfTheMachineAndADayAtMost) {
  const HostMoment now = CurrentMoment();
  struct Case {
    const char* name;
    std::string boot;
    int64_t age_seconds;
    bool damage = false;
    int status_code;
  };
  const Case cases[] = {
      {"an hour ago", now.boot, 3600, false, kExitPowerCycle},
      {"another start of the machine", "another-boot", 3600, false, kExitOk},
      {"more than a day ago", now.boot, kWaitingRecordMaxAgeSeconds + 60, false, kExitOk},
      {"in the future", now.boot, -3600, false, kExitOk},
      {"a damaged file", now.boot, 3600, true, kExitOk},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    InstalledBridge devices(Qvb886(kDiskA, "133.1.0.3"));
    WaitingBridge record{LowerCase(kDiskA),       "",    "", 22, {133, 1, 0, 3}, {133, 1, 0, 6},
                         now.now - c.age_seconds, c.boot};
    std::string text = FormatWaitingRecords({record});
    if (c.damage) text.replace(text.find(" 22 "), 4, " 2x2 ");
    const std::string file = (TestStateFolder() / "aged.txt").string();
    std::ofstream(file, std::ios::binary | std::ios::trunc) << text;
    EXPECT_EQ(RunCli({"status"}, "", {}, Privileged, nullptr, file).code, c.status_code);
  }
}

// After the write: the wait for the power cycle, on a simulated clock. `look` counts the waits.
TEST(PowerCycle, UpdateWaitsForThePowerCycleAndReadsTheVersion) {
  using Step = std::function<void(std::vector<virt::DeviceModel> & devices, int look)>;
  const auto version = [](std::vector<virt::DeviceModel>& d, uint8_t build) {
    (*d.front().info)[15] = build;
  };
  // Gone at the first look, back at the third with `build`.
  const auto cycle = [version](uint8_t build) -> Step {
    return [version, build, kept = std::make_shared<std::vector<virt::DeviceModel>>()](
               std::vector<virt::DeviceModel>& d, int look) {
      if (look == 1) {
        *kept = d;
        d.clear();
      } else if (look == 3) {
        d = *kept;
        version(d, build);
      }
    };
  };
  struct Case {
    const char* name;
    Step step;
    int code;
    const char* outcome;
    bool confirmed;
    std::vector<std::string> texts;
  };
  const Case cases[] = {
      {"back with the written version",
       cycle(6),
       kExitOk,
       "updated",
       true,
       {"Waiting for it to come back", "The device is gone.",
        "Firmware version: 133.01.00.06\nStatus: Up to date\n",
        "Confirmed: the device runs the new firmware 133.1.0.6.\n"}},
      {"back with the old version",
       cycle(3),
       kExitNotTaken,
       "not_taken",
       false,
       {"Firmware version: 133.01.00.03\nStatus: Update required\n",
        "The device still runs 133.1.0.3 after its power cycle: the update did not take."}},
      {"back as another bridge",
       cycle(1),
       kExitPowerCycle,
       "power_cycle_pending",
       false,
       {"Another device answers at"}},
      {"powered off and on between two looks",
       [version](std::vector<virt::DeviceModel>& d, int look) {
         if (look == 2) version(d, 6);
       },
       kExitOk,
       "updated",
       true,
       {"Confirmed"}},
      {"not answering at first when back",
       [inner = cycle(6)](std::vector<virt::DeviceModel>& d, int look) {
         inner(d, look);
         if (look == 3) d.front().config.reset();
         if (look == 5) d.front().config = std::array<uint8_t, 4>{};
       },
       kExitOk,
       "updated",
       true,
       {"Confirmed"}},
      {"no power cycle",
       [](std::vector<virt::DeviceModel>&, int) {},
       kExitPowerCycle,
       "power_cycle_pending",
       false,
       {"No power cycle was seen within 5 minutes.", "The firmware is written"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    InstalledBridge devices(Qvb886(kDiskA, "133.1.0.3"));
    SimulatedChanges changes;
    changes.step = [&](uint64_t) {
      c.step(devices.bridge.devices(), changes.waits());
      return true;
    };
    const std::string file = (TestStateFolder() / (std::string(c.name) + ".txt")).string();
    const Result run = RunCli({"update", "--yes", "--wait", "--json"}, "", {}, Privileged, nullptr,
                              file, &changes);
    EXPECT_EQ(run.code, c.code) << run.err;
    const Json document = run.Document();
    EXPECT_EQ(document["outcome"].text, c.outcome);
    EXPECT_EQ(document["confirmed"].boolean, c.confirmed);
    for (const auto& text : c.texts)
      EXPECT_NE(run.err.find(text), std::string::npos) << "missing: " << text << "\n" << run.err;
    EXPECT_EQ(devices.Count("write_buffer"), 65);
    if (c.code == kExitPowerCycle && std::string(c.name) == "no power cycle") {
      EXPECT_EQ(changes.NowMs(), kPowerCycleWaitMs) << "bounded, and no longer";
    }
    // Confirmed or not taken, the record has ended: status reads the device as it is.
    const int status = RunCli({"status"}, "", {}, Privileged, nullptr, file).code;
    if (c.confirmed || c.code == kExitNotTaken) {
      EXPECT_NE(status, kExitPowerCycle);
    }
  }
}

TEST(PowerCycle, TheWaitEndsWhenTheDeviceWasGoneOrRunsTheWrittenVersion) {
  for (const bool unplugged : {true, false}) {
    SCOPED_TRACE(unplugged ? "unplugged" : "powered off and on between two enumerations");
    InstalledBridge devices(Qvb886(kDiskA, "133.1.0.3"));
    PowerCycleWatch process;
    auto run = [&](std::vector<std::string> args) {
      return RunCli(args, "", {}, Privileged, &process);
    };
    ASSERT_EQ(run({"update", "--yes"}).code, kExitOk);
    if (unplugged) {
      const virt::DeviceModel disk = devices.bridge.devices().front();
      devices.bridge.devices().clear();
      EXPECT_EQ(run({"status"}).code, kExitNoDevice);
      devices.bridge.devices().push_back(disk);
      // Back with its old version: the write did not take, and the update is offered again.
      EXPECT_EQ(run({"status"}).code, kExitOk);
      EXPECT_EQ(run({"update", "--yes"}).code, kExitOk);
      EXPECT_EQ(devices.Count("write_buffer"), 2 * 65);
    } else {
      auto& info = *devices.bridge.devices().front().info;
      info[15] = 6;  // 133.1.0.6
      EXPECT_EQ(run({"status"}).code, kExitUpToDate);
      info[15] = 3;
      EXPECT_EQ(run({"status"}).code, kExitOk) << "the wait ended with the written version";
    }
  }
}

TEST(Json, DeviceBytesOutsideAsciiSurviveTheRoundTrip) {
  ScenarioFile scenario(Qvb886(kDiskA, "133.1.0.3") + "vendor = Qu\xE9r\"v\\\n");
  const Result json = RunCli({"list", "--json", "--virtual", scenario.path()});
  EXPECT_EQ(json.Document()["disks"][0]["vendor"].text, "Qu\xE9r\"v\\");
  const Result text = RunCli({"list", "--virtual", scenario.path()});
  EXPECT_NE(text.out.find("Device:  Qu?r\"v\\ QVB886 NVMe\n"), std::string::npos) << text.out;
}

TEST(Json, EveryByteOutsidePrintableAsciiIsWrittenAsItsEscape) {
  DiskReport report;
  std::string expected = "\"path\": \"";
  for (int byte = 0; byte < 256; ++byte) {
    report.disk.path += static_cast<char>(byte);
    switch (byte) {
      case '"':
        expected += "\\\"";
        break;
      case '\\':
        expected += "\\\\";
        break;
      case '\n':
        expected += "\\n";
        break;
      case '\r':
        expected += "\\r";
        break;
      case '\t':
        expected += "\\t";
        break;
      default:
        if (byte < 0x20 || byte >= 0x7F) {
          char escaped[8];
          std::snprintf(escaped, sizeof escaped, "\\u%04x", static_cast<unsigned>(byte));
          expected += escaped;
        } else {
          expected += static_cast<char>(byte);
        }
    }
  }
  expected += "\",\n";
  const std::string text = JsonDocumentText(DiskJson(report));
  EXPECT_NE(text.find(expected), std::string::npos) << text;
  for (const char c : text) EXPECT_LT(static_cast<unsigned char>(c), 0x80) << text;
  Json document;
  ASSERT_TRUE(JsonReader::Parse(text, document)) << text;
  EXPECT_EQ(document["path"].text, report.disk.path);
}

TEST(Choice, SeveralDisksAreRefusedAndNothingIsWritten) {
  InstalledBridge devices(Qvb886(kDiskA, "133.1.0.3") + Qvb886(kDiskB, "133.1.0.3"));
  const Result result = RunCli({"update", "--yes"});
  EXPECT_EQ(result.code, kExitSeveralDevices);
  EXPECT_NE(result.out.find(std::string("  ") + kDiskA), std::string::npos);
  EXPECT_NE(result.out.find(std::string("  ") + kDiskB), std::string::npos);
  EXPECT_EQ(devices.Count("write_buffer"), 0);
}

// A test build writes a test device as ever and nothing at all to one without the mark; asked
// to update the unmarked one, the procedure itself also refuses before the first write.
TEST(TestBuild, WritesOnlyMarkedDevices) {
  ASSERT_TRUE(CarriesTestImages());
  for (const bool marked : {true, false}) {
    InstalledBridge devices(Qvb886(kDiskA, "133.1.0.3", marked ? "" : "test_device = no\n"));
    const Result result = RunCli({"update", "--yes"});
    EXPECT_EQ(result.code, marked ? kExitOk : kExitTestBuild) << result.out;
    EXPECT_EQ(devices.Count("write_buffer"), marked ? 65 : 0);
    EXPECT_EQ(devices.Count("control"), 0);
    if (!marked) {
      EXPECT_EQ(UpdateFirmware(nullptr, kDiskA), 0);
      EXPECT_EQ(devices.Count("write_buffer"), 0);
    }
  }
  EXPECT_NE(RunCli({"--version"}).out.find("Test build:"), std::string::npos);
}

TEST(Choice, DeviceOptionWritesOnlyTheChosenDisk) {
  InstalledBridge devices(Qvb886(kDiskA, "133.1.0.3") + Qvb886(kDiskB, "133.1.0.3"));
  // Any letter case names the disk: the window lower-cases paths.
  std::string upper = kDiskB;
  for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  const Result result = RunCli({"update", "--yes", "--device", upper});
  EXPECT_EQ(result.code, kExitOk) << result.out << result.err;
  int writes_a = 0, writes_b = 0;
  for (const auto& request : devices.bridge.requests()) {
    if (virt::CommandName(request.cdb) != "write_buffer") continue;
    (SamePath(request.path, kDiskA) ? writes_a : writes_b) += 1;
  }
  EXPECT_EQ(writes_a, 0);
  EXPECT_EQ(writes_b, 65);
}

TEST(Refusal, NoUnsupportedDeviceIsEverWritten) {
  // Whatever the command line says, only a QVB886 at 133.1.0.0-133.1.0.5 gets WRITE BUFFER.
  const std::vector<std::string> scenarios = {
      Qvb886(kDiskA, "133.1.0.6"), Qvb886(kDiskA, "133.1.0.7"),
      Qvb886(kDiskA, "133.2.0.3"), Qvb886(kDiskA, "133.1.0.3", "info = fail\n"),
      Bridge(kDiskA, "w767"),      Bridge(kDiskA, "w886") + "info_signature = no\n"};
  for (const auto& text : scenarios) {
    InstalledBridge devices(text);
    for (const auto& args : std::vector<std::vector<std::string>>{
             {"update", "--yes"}, {"update", "--yes", "--device", kDiskA}}) {
      const Result result = RunCli(args, "y\n", Terminal{true, true, true});
      EXPECT_NE(result.code, kExitOk) << text << "\n" << result.out;
    }
    EXPECT_EQ(devices.Count("write_buffer"), 0) << text;
  }
}

TEST(Confirmation, TerminalAnswerDecides) {
  struct Answer {
    const char* input;
    int code;
    int writes;
  };
  for (const Answer& answer :
       {Answer{"y\n", kExitOk, 65}, Answer{"YES\n", kExitOk, 65},
        Answer{"n\n", kExitUpdateFailed, 0}, Answer{"\n", kExitUpdateFailed, 0},
        Answer{"", kExitUpdateFailed, 0}}) {
    InstalledBridge devices(Qvb886(kDiskA, "133.1.0.3"));
    const Result result = RunCli({"update"}, answer.input, Terminal{true, true, true});
    EXPECT_EQ(result.code, answer.code) << answer.input;
    EXPECT_NE(result.out.find("to 133.1.0.6? [y/N] "), std::string::npos);
    EXPECT_EQ(devices.Count("write_buffer"), answer.writes) << answer.input;
  }
}

TEST(Confirmation, WithoutTerminalOnlyYesUpdates) {
  InstalledBridge devices(Qvb886(kDiskA, "133.1.0.3"));
  // Input that says yes is not enough when it does not come from a terminal.
  EXPECT_EQ(RunCli({"update"}, "y\n").code, kExitUpdateFailed);
  EXPECT_EQ(devices.Count("write_buffer"), 0);
  EXPECT_EQ(RunCli({"update", "--yes"}).code, kExitOk);
  EXPECT_EQ(devices.Count("write_buffer"), 65);
}

TEST(Progress, BarOnTerminalPlainLinesOtherwise) {
  ScenarioFile scenario(Qvb886(kDiskA, "133.1.0.3"));
  const std::vector<std::string> args = {"update", "--yes", "--virtual", scenario.path()};

  const Result plain = RunCli(args);
  EXPECT_EQ(plain.out.find('\r'), std::string::npos);
  EXPECT_NE(plain.out.find("Attempt 1 of 2: writing 65 pieces\n"
                           "Attempt 1 of 2: 65 of 65 pieces written\n"
                           "Attempt 1 of 2: reading back 65 pieces\n"
                           "Attempt 1 of 2: 65 of 65 pieces read back\n"),
            std::string::npos)
      << plain.out;

  const Result bar = RunCli(args, "", Terminal{false, true, false});
  EXPECT_NE(bar.out.find("\rAttempt 1 of 2, writing:      [" + std::string(40, '#') + "] 65/65\n"),
            std::string::npos)
      << bar.out;
  EXPECT_NE(bar.out.find("\rAttempt 1 of 2, reading back: [" + std::string(40, '#') + "] 65/65\n"),
            std::string::npos);
  EXPECT_NE(bar.out.find("\rAttempt 1 of 2, writing:      [" + std::string(20, '#') +
                         std::string(20, '.') + "] 33/65"),
            std::string::npos);
  EXPECT_EQ(bar.out.find("pieces written"), std::string::npos);

  // With --json the progress goes to standard error, drawn when that is the terminal.
  const Result json = RunCli({"update", "--yes", "--json", "--virtual", scenario.path()}, "",
                             Terminal{false, false, true});
  EXPECT_EQ(json.out.find('\r'), std::string::npos);
  EXPECT_NE(json.err.find("\rAttempt 1 of 2, writing:"), std::string::npos);
  json.Document();
}

TEST(Progress, FailedPieceThenSecondAttempt) {
  InstalledBridge devices(Qvb886(kDiskA, "133.1.0.3"));
  int writes = 0;
  devices.before_send = [&](const std::string& command) -> std::optional<ScsiResult> {
    if (command == "write_buffer" && ++writes == 10) return SystemFailure();
    return std::nullopt;
  };
  const Result result = RunCli({"update", "--yes", "--json"});
  EXPECT_EQ(result.code, kExitOk);
  EXPECT_NE(result.err.find("Attempt 1 of 2: writing stopped after 9 of 65 pieces\n"
                            "Attempt 1 failed; trying once more.\n"
                            "Attempt 2 of 2: writing 65 pieces\n"),
            std::string::npos)
      << result.err;
  EXPECT_EQ(result.Document()["attempts"].number, 2);
}

TEST(Progress, AttemptsAreCountedAsBegunAndASecondOneIsAnnounced) {
  struct Row {
    const char* name;
    int failing_from;  // the request from which the system fails every request; 0: none
    const char* fault;
    int code;
    int attempts;
  };
  const Row rows[] = {
      {"clean", 0, "", kExitOk, 1},
      {"writes always fail", 0, "fault = write_buffer check_condition\n", kExitUpdateFailed, 2},
      {"a write fails once", 0, "fault = write_buffer check_condition from=10 times=1\n", kExitOk,
       2},
      // The second attempt fails at its first request, before a piece moves.
      {"platform error from the 40th request of the writes on", 40, "", kExitUpdateFailed, 2},
  };
  for (const Row& row : rows) {
    for (const bool json : {false, true}) {
      SCOPED_TRACE(std::string(row.name) + (json ? ", --json" : ""));
      InstalledBridge devices(Qvb886(kDiskA, "133.1.0.3", row.fault));
      int requests = 0;
      bool counting = false;
      devices.before_send = [&](const std::string& command) -> std::optional<ScsiResult> {
        counting = counting || command == "write_buffer";
        if (counting && row.failing_from > 0 && ++requests >= row.failing_from)
          return SystemFailure();
        return std::nullopt;
      };
      const Result result =
          json ? RunCli({"update", "--yes", "--json"}) : RunCli({"update", "--yes"});
      EXPECT_EQ(result.code, row.code);
      if (json) {
        EXPECT_EQ(result.Document()["attempts"].number, row.attempts);
      } else {
        EXPECT_EQ(result.out.find("Attempt 1 failed; trying once more.\n") != std::string::npos,
                  row.attempts == 2)
            << result.out;
      }
    }
  }
}

TEST(Output, UnwritableStandardOutputHasACodeOfItsOwn) {
  InstalledBridge devices(Qvb886(kDiskA, "133.1.0.3"));
  for (const auto& args : std::vector<std::vector<std::string>>{{"list"},
                                                                {"list", "--json"},
                                                                {"status"},
                                                                {"--help"},
                                                                {"update", "--yes"},
                                                                {"update", "--yes", "--json"}}) {
    SCOPED_TRACE(::testing::PrintToString(args));
    std::ostream closed(nullptr);  // every write fails, as on a closed descriptor
    const Result result = RunCli(args, "", {}, Privileged, nullptr, "", nullptr, &closed);
    EXPECT_EQ(result.code, kExitOutputFailed);
    EXPECT_NE(result.err.find("standard output could not be written"), std::string::npos)
        << result.err;
  }
  // An update whose result could not be reported is not begun.
  EXPECT_EQ(devices.Count("write_buffer"), 0);
}

#ifdef _WIN32
constexpr uint32_t kDeniedOpenCode = ERROR_ACCESS_DENIED;
constexpr uint32_t kDeniedCode = ERROR_ACCESS_DENIED;
constexpr uint32_t kBusyOpenCode = ERROR_SHARING_VIOLATION;
#else
constexpr uint32_t kDeniedOpenCode = EACCES;
constexpr uint32_t kDeniedCode = EPERM;
constexpr uint32_t kBusyOpenCode = EBUSY;
#endif

// A disk whose open is refused is reported, not dropped: for lack of permission (more rights
// would help: exit 6), or because another program holds it (busy: as absent for this run, exit 3,
// with a note to close that program).
TEST(Permission, DiskThatCannotBeOpenedIsReported) {
  struct Case {
    const char* what;
    ScsiOutcome outcome;
    uint32_t code;
    const char* line;
    const char* reason;
    int exit_code;
    const char* outcome_word;
    bool privilege_note;
  };
  const Case cases[] = {
      {"permission", ScsiOutcome::Permission, kDeniedOpenCode,
       "Permission denied: ", "permission denied", kExitNoPermission, "no_permission", true},
      {"busy", ScsiOutcome::Busy, kBusyOpenCode, "Busy: ", "busy", kExitNoDevice, "no_device",
       false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    InstalledBridge devices(Qvb886(kDiskA, "133.1.0.3"));
    devices.before_open = [&c](const char*) -> std::optional<ScsiResult> {
      return ScsiResult::Fail(c.outcome, c.code);
    };
    // Privileged, so that the privilege note comes only from a refusal for lack of permission.
    const Result text = RunCli({"list"}, "", {}, Privileged);
    EXPECT_EQ(text.code, c.exit_code);
    EXPECT_NE(text.err.find(std::string(c.line) + kDiskA + "\n"), std::string::npos) << text.err;
    EXPECT_EQ(text.err.find(std::string("Note: ") + PrivilegeNote()) != std::string::npos,
              c.privilege_note)
        << text.err;
    EXPECT_EQ(text.err.find("Note: another program holds") != std::string::npos,
              c.outcome == ScsiOutcome::Busy)
        << text.err;
    EXPECT_NE(text.out.find(kNoDevice), std::string::npos);

    const Json doc = RunCli({"list", "--json"}, "", {}, Privileged).Document();
    EXPECT_EQ(doc["outcome"].text, c.outcome_word);
    ASSERT_EQ(doc["denied"].items.size(), 1u);
    EXPECT_EQ(doc["denied"][0]["path"].text, kDiskA);
    EXPECT_EQ(doc["denied"][0]["reason"].text, c.reason);

    const Result chosen = RunCli({"status", "--device", kDiskA}, "", {}, Privileged);
    EXPECT_EQ(chosen.code, c.exit_code);
    if (c.outcome == ScsiOutcome::Busy) {
      EXPECT_NE(chosen.err.find("another program holds it (busy)"), std::string::npos)
          << chosen.err;
    }
    const Json status = RunCli({"status", "--json"}, "", {}, Privileged).Document();
    EXPECT_EQ(status["exit_code"].number, c.exit_code);
    EXPECT_EQ(status["denied"][0]["reason"].text, c.reason);
    EXPECT_EQ(RunCli({"update", "--yes"}, "", {}, Privileged).code, c.exit_code);
    EXPECT_EQ(devices.Count("write_buffer"), 0);
  }
}

// A refused disk beside one that answers: update cannot be sure which disk was meant when
// more rights could have shown another bridge; a busy disk, which the window would not see
// either, leaves the answering one to be updated.
TEST(Permission, RefusedDiskBesideAnAnsweringOne) {
  struct Case {
    ScsiOutcome outcome;
    uint32_t code;
    int exit_code;
    int writes;
  };
  for (const Case& c : {Case{ScsiOutcome::Permission, kDeniedOpenCode, kExitNoPermission, 0},
                        Case{ScsiOutcome::Busy, kBusyOpenCode, kExitOk, 65}}) {
    SCOPED_TRACE(static_cast<int>(c.outcome));
    InstalledBridge devices(Qvb886(kDiskA, "133.1.0.3") + Qvb886(kDiskB, "133.1.0.3"));
    devices.before_open = [&c](const char* path) -> std::optional<ScsiResult> {
      if (!SamePath(path, kDiskB)) return std::nullopt;
      return ScsiResult::Fail(c.outcome, c.code);
    };
    const Result result = RunCli({"update", "--yes", "--no-wait"}, "", {}, Privileged);
    EXPECT_EQ(result.code, c.exit_code) << result.out << result.err;
    EXPECT_EQ(devices.Count("write_buffer"), c.writes);
  }
}

TEST(Permission, VendorCommandsRefusedOnAnOpenNode) {
  // The node opens and INQUIRY passes, but the system refuses the vendor commands.
  InstalledBridge devices(Qvb886(kDiskA, "133.1.0.3"));
  devices.before_send = [](const std::string& command) -> std::optional<ScsiResult> {
    if (command == "inquiry") return std::nullopt;
    return ScsiResult::Fail(ScsiOutcome::Permission, kDeniedCode);
  };
  const Result result = RunCli({"update", "--yes"}, "", {}, NotPrivileged);
  EXPECT_EQ(result.code, kExitNoPermission);
  EXPECT_NE(result.err.find("Permission denied: "), std::string::npos);
  EXPECT_EQ(devices.Count("write_buffer"), 0);
}

TEST(Permission, NoteWithoutPrivilegesOnlyForRealDevices) {
  InstalledBridge devices("");
  const Result real = RunCli({"list"}, "", {}, NotPrivileged);
  EXPECT_EQ(real.code, kExitNoDevice);
  EXPECT_NE(real.err.find(PrivilegeNote()), std::string::npos);
  EXPECT_EQ(RunCli({"list"}, "", {}, Privileged).err.find("Note: "), std::string::npos);

  ScenarioFile scenario(Qvb886(kDiskA, "133.1.0.3"));
  const Result virtual_run = RunCli({"list", "--virtual", scenario.path()}, "", {}, NotPrivileged);
  EXPECT_EQ(virtual_run.code, kExitOk);
  EXPECT_EQ(virtual_run.err, "");
}

TEST(Messages, IdentificationBoxBecomesALine) {
  // A code-8 bridge whose information block lacks the expected byte 11: the window's error box.
  ScenarioFile scenario(Bridge(kDiskA, "w758"));
  const Result result = RunCli({"list", "--virtual", scenario.path()});
  EXPECT_EQ(result.code, kExitOk);
  EXPECT_NE(result.err.find("Error: Get chip information fail !\n"), std::string::npos)
      << result.err;
}

}  // namespace
}  // namespace qvb::cli::test
