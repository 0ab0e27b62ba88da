// record, --virtual on the recording, update --dry-run, and the log of a failed update.
#include <gtest/gtest.h>

#include <fstream>
#include <regex>
#include <sstream>

#include "cli/exit_codes.h"
#include "device/request_log.h"
#include "tests/cli/cli_harness.h"
#include "virtual_bridge/virtual_bridge.h"

namespace qvb::cli::test {
namespace {

std::string ReadText(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

// A temporary file name, removed with the object.
class TempFile {
 public:
  explicit TempFile(const char* suffix) {
    static int serial = 0;
    path_ = (std::filesystem::temp_directory_path() /
             ("qvb-record-test-" + std::to_string(++serial) + suffix))
                .string();
  }
  ~TempFile() {
    std::error_code ignored;
    std::filesystem::remove(path_, ignored);
  }
  TempFile(const TempFile&) = delete;
  TempFile& operator=(const TempFile&) = delete;
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

constexpr const char* kUas =
    "\\\\?\\scsi#disk&ven_quorvel&prod_qvb886#0003#{53f56307-b6bf-11d0-94f2-00a0c91efb8b}";

std::string Device(const std::string& path, const std::string& keys) {
  return "[device]\npath = " + path + "\n" + keys;
}

struct RecordCase {
  const char* name;
  std::string scenario;  // the text, or a file under the source tree with `file`
  bool file = false;
};

std::vector<RecordCase> RecordCases() {
  std::vector<RecordCase> cases = {
      {"update_required", Qvb886(kDiskA, "133.1.0.3")},
      {"up_to_date", Qvb886(kDiskA, "133.1.0.6")},
      {"not_supported", Qvb886(kDiskA, "133.1.0.9")},
      {"unmarked", Qvb886(kDiskA, "133.1.0.3", "test_device = no\n")},
      {"two_disks", Qvb886(kDiskA, "133.1.0.3") + Qvb886(kDiskB, "133.1.0.6")},
      {"uas_and_usb", Qvb886(kUas, "133.1.0.2") + Device(kDiskB, "preset = blank\n")},
      {"flash_busy", Qvb886(kDiskA, "133.1.0.3", "flash_busy_reads = 4\n")},
      {"config_without_flash_id", Qvb886(kDiskA, "133.1.0.3", "config = 02 00 00 00\n")},
      {"info_fails", Qvb886(kDiskA, "133.1.0.3", "info = fail\n")},
      {"inquiry_fails_name_755", Device(kDiskA, "preset = bridge\ninquiry = fail\nname = w755B\n")},
      {"model_from_info_block", Device(kDiskA, "preset = qvb886\ninquiry_model = none\n")},
      {"model_from_info_alt",
       Device(kDiskA, "preset = qvb886\ninquiry_model = none\ninfo_via = info_alt\n")},
      {"no_signature", Device(kDiskA,
                              "preset = qvb886\ninquiry_model = none\n"
                              "info_signature = no\nprobe = 40 00\n")},
      {"code_12_vendor_page",
       Device(kDiskA, "preset = bridge\ninquiry_model = w829\nvendor_page = ok\n")},
      {"code_12_flag", Device(kDiskA, "preset = bridge\ninquiry_model = w829\nflag_byte = 200\n")},
      {"buffer1_page_841",
       Device(kDiskA,
              "preset = bridge\nprobe = fail\nbuffer1_descriptor = 03 00 00 08\n"
              "buffer1_page = 00 00 00 38 34 31 00 00\n")},
      {"blank_disk", Device(kDiskA, "preset = blank\n")},
      {"vendor_bytes_outside_ascii",
       Qvb886(kDiskA, "133.1.0.3", "vendor = Qu\xC3\xB6rvel\nproduct = N\x01VMe\n")},
  };
  for (const char* file :
       {"demo/qvb886-133.1.0.3.scenario", "tests/cli/scenarios/one-qvb886.scenario",
        "tests/cli/scenarios/two-qvb886.scenario", "usb_rig/scenarios/update-required.scenario",
        "usb_rig/scenarios/up-to-date.scenario", "usb_rig/scenarios/unmarked.scenario",
        "usb_rig/scenarios/flash-busy.scenario", "usb_rig/scenarios/short-replies.scenario",
        "usb_rig/scenarios/piece-fails.scenario"})
    cases.push_back({file, std::string(QVB_SOURCE_DIR) + "/" + file, true});
  return cases;
}

class RecordReplay : public ::testing::TestWithParam<RecordCase> {};

TEST_P(RecordReplay, ReplayShowsTheSameListAndStatusAndRecordingWritesNothing) {
  const RecordCase& row = GetParam();
  std::optional<ScenarioFile> inline_file;
  std::string source = row.scenario;
  if (!row.file) {
    inline_file.emplace(row.scenario);
    source = inline_file->path();
  }
  TempFile recording(".scn");
  {
    // The bridge behind the seams as real disks are, so every request it gets is seen.
    InstalledBridge devices(row.file ? ReadText(source) : row.scenario);
    const Result recorded = RunCli({"record", recording.path()});
    EXPECT_TRUE(recorded.code == kExitOk || recorded.code == kExitNoDevice)
        << recorded.out << recorded.err;
    for (const auto& request : devices.bridge.requests()) {
      EXPECT_EQ(request.data_in, 1) << virt::CommandName(request.cdb);
      EXPECT_NE(virt::CommandName(request.cdb), "write_buffer");
    }
  }
  const std::string text = ReadText(recording.path());
  ASSERT_FALSE(text.empty());
  for (const char* command : {"list", "status"}) {
    const Result original = RunCli({"--virtual", source, "--json", command});
    const Result replayed = RunCli({"--virtual", recording.path(), "--json", command});
    EXPECT_EQ(replayed.code, original.code) << command;
    EXPECT_EQ(replayed.out, original.out) << command << "\nrecording:\n" << text;
  }
}

INSTANTIATE_TEST_SUITE_P(Scenarios, RecordReplay, ::testing::ValuesIn(RecordCases()),
                         [](const ::testing::TestParamInfo<RecordCase>& info) {
                           std::string name = info.param.name;
                           for (char& c : name)
                             if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
                           return name;
                         });

TEST(Record, MarksOnlyWhatTheDeviceSays) {
  for (const bool marked : {true, false}) {
    InstalledBridge devices(Qvb886(kDiskA, "133.1.0.3", marked ? "" : "test_device = no\n"));
    TempFile recording(".scn");
    ASSERT_EQ(RunCli({"record", recording.path()}).code, kExitOk);
    const std::string text = ReadText(recording.path());
    EXPECT_NE(text.find(marked ? "test_device = yes" : "test_device = no"), std::string::npos)
        << text;
    // A recording of a real bridge is no test device: a test build refuses it as it would the
    // bridge.
    const Result update = RunCli({"--virtual", recording.path(), "update", "--yes"});
    EXPECT_EQ(update.code, marked ? kExitOk : kExitTestBuild);
  }
}

TEST(Record, DeviceOptionRecordsOnlyThatDisk) {
  InstalledBridge devices(Qvb886(kDiskA, "133.1.0.3") + Qvb886(kDiskB, "133.1.0.6"));
  TempFile recording(".scn");
  ASSERT_EQ(RunCli({"record", recording.path(), "--device", kDiskB}).code, kExitOk);
  const Result list = RunCli({"--virtual", recording.path(), "--json", "list"});
  EXPECT_EQ(list.Document()["disks"].items.size(), 1u) << list.out;
  EXPECT_EQ(RunCli({"record", recording.path(), "--device", "no-such-disk"}).code, kExitNoDevice);
}

struct DryRunCase {
  const char* name;
  std::string extra;
  int code;
  const char* says;
};

TEST(DryRun, ReportsWhatWouldBeWrittenAndSendsNoWrite) {
  const std::vector<DryRunCase> cases = {
      {"normal", "", kExitOk, "in 65 WRITE BUFFER commands"},
      {"capacity 65100", "descriptor = 0A 00FE4C\n", kExitOk, "65536 bytes to buffer 0"},
      {"capacity 0", "descriptor = 0A 000000\n", kExitUpdateFailed, "download size"},
      {"boundary 09", "descriptor = 09 010400\n", kExitUpdateFailed, "is not 0x0A"},
      {"no descriptor", "descriptor = fail\n", kExitUpdateFailed, "could not be read"},
      {"loader", "loader = yes\n", kExitUpdateFailed, "carries no loader image"},
      {"info fails", "fault = info check_condition from=8\n", kExitUpdateFailed,
       "information block"},
  };
  for (const auto& row : cases) {
    InstalledBridge devices(Qvb886(kDiskA, "133.1.0.3", row.extra));
    // No --yes and no terminal: a dry run has nothing to confirm.
    const Result result = RunCli({"update", "--dry-run"});
    EXPECT_EQ(result.code, row.code) << row.name << "\n" << result.out;
    EXPECT_NE(result.out.find(row.says), std::string::npos) << row.name << "\n" << result.out;
    EXPECT_EQ(devices.Count("write_buffer"), 0) << row.name;
    EXPECT_EQ(devices.Count("control"), 0) << row.name;
  }
  InstalledBridge devices(Qvb886(kDiskA, "133.1.0.3"));
  const Json document = RunCli({"update", "--dry-run", "--json"}).Document();
  EXPECT_EQ(document["outcome"].text, "dry_run");
  EXPECT_EQ(document["dry_run"]["pieces"].number, 65);
  EXPECT_EQ(document["dry_run"]["descriptor"]["capacity"].number, 0x10400);
}

TEST(Log, FailedPieceIsNamedWithItsSenseAndItsFaultReplaysIt) {
  // Piece 5 of the first attempt fails, and every write after it.
  ScenarioFile scenario(
      Qvb886(kDiskA, "133.1.0.3", "fault = write_buffer check_condition from=17\n"));
  TempFile log(".log");
  const Result failed =
      RunCli({"--virtual", scenario.path(), "update", "--yes", "--log", log.path()});
  ASSERT_EQ(failed.code, kExitUpdateFailed);
  const std::string text = ReadText(log.path());
  EXPECT_NE(text.find("=== qvb886-fwupdate"), std::string::npos);
  EXPECT_NE(text.find("(test build)"), std::string::npos);
  EXPECT_NE(text.find("step attempt 1 failed at piece 5: #17 "), std::string::npos) << text;
  EXPECT_NE(text.find("; sense 70 00 05 00 00 00 00 0A 00 00 00 00 24"), std::string::npos);
  EXPECT_NE(text.find("sense=70 00 05"), std::string::npos);
  EXPECT_NE(text.find("(key 5 asc 24 ascq 00)"), std::string::npos);
  std::smatch fault;
  ASSERT_TRUE(std::regex_search(text, fault, std::regex("to replay: (fault = [^)]*)")));
  EXPECT_EQ(fault[1].str(), "fault = write_buffer check_condition from=17 times=1");

  // The device recorded, the fault from the log added: the same piece fails the same way.
  TempFile recording(".scn");
  {
    ScenarioFile healthy(Qvb886(kDiskA, "133.1.0.3"));
    ASSERT_EQ(RunCli({"--virtual", healthy.path(), "record", recording.path()}).code, kExitOk);
  }
  std::ofstream(recording.path(), std::ios::app) << fault[1].str() << "\n";
  TempFile replay_log(".log");
  const Result replayed =
      RunCli({"--virtual", recording.path(), "update", "--yes", "--log", replay_log.path()});
  // Once: the second attempt writes the whole image.
  EXPECT_EQ(replayed.code, kExitOk) << replayed.out;
  EXPECT_NE(ReadText(replay_log.path()).find("step attempt 1 failed at piece 5: #17 "),
            std::string::npos);
}

TEST(Log, VerboseWritesTheStepsOnStandardError) {
  ScenarioFile scenario(Qvb886(kDiskA, "133.1.0.3"));
  const Result result = RunCli({"--virtual", scenario.path(), "status", "--verbose"});
  EXPECT_EQ(result.code, kExitOk);
  EXPECT_NE(result.err.find("step status "), std::string::npos) << result.err;
  EXPECT_NE(result.err.find("model code 22, firmware 133.1.0.3, Update required"),
            std::string::npos);
  EXPECT_EQ(result.err.find("cdb="), std::string::npos);  // requests only in the file
  EXPECT_EQ(RunCli({"list", "--log", "/nonexistent/folder/x.log"}).code, kExitUsage);
}

TEST(Log, RequestLineCarriesEveryFieldAndNoData) {
  virt::VirtualBridge bridge;
  ASSERT_TRUE(
      virt::LoadScenarioText(
          Qvb886(kDiskA, "133.1.0.3", "fault = read_buffer short=3 from=1 times=1\n"), bridge)
          .ok);
  std::ostringstream file;
  RequestLog log(bridge, &file, nullptr);
  uint64_t now = 0;
  log.SetClocks([&] { return now += 1500; }, [] { return std::string("T"); });
  ScsiOpen open = log.host().Open(kDiskA, ShareMode::ReadWrite);
  ASSERT_TRUE(open.device);
  uint8_t data[1024] = {};
  ScsiRequest request;
  request.cdb_length = 12;
  request.cdb[0] = 0x12;
  request.cdb[4] = 40;
  request.data = data;
  request.transfer_length = 40;
  open.device->Send(request);
  const uint8_t descriptor[10] = {0x3C, 0x03, 0, 0, 0, 0, 0, 0, 4, 0};
  std::copy(std::begin(descriptor), std::end(descriptor), request.cdb);
  request.cdb_length = 10;
  request.transfer_length = 4;
  open.device->Send(request);
  EXPECT_EQ(file.str(),
            std::string("T #0 ") + kDiskA +
                " inquiry cdb=12 00 00 00 28 00 00 00 00 00 00 00 in 40 -> done status=00 "
                "residue=0 os_error=0 1.500ms\n"
                "T #1 " +
                kDiskA +
                " read_buffer cdb=3C 03 00 00 00 00 00 00 04 00 in 4 -> done status=00 "
                "residue=1 os_error=0 1.500ms [replay: fault = read_buffer short=3 from=1 "
                "times=1]\n");
}

}  // namespace
}  // namespace qvb::cli::test
