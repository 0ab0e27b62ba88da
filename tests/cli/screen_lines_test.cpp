// The command line's lines of each outcome are the shared model's lines, the ones the window
// shows for the same outcome.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "cli/exit_codes.h"
#include "firmware/power_cycle.h"
#include "firmware/screen.h"
#include "tests/cli/cli_harness.h"

namespace qvb::cli::test {
namespace {

using Texts = std::vector<std::string>;

Texts LinesOf(const Json& document) {
  Texts lines;
  for (const auto& line : document["lines"].items) lines.push_back(line.text);
  return lines;
}

// The non-empty lines, top to bottom, one a line: how the window's lines are printed.
std::string Printed(const ScreenLines& lines) {
  std::string text;
  for (const auto& line : lines)
    if (!line.empty()) text += line + "\n";
  return text;
}

struct Case {
  const char* what;
  std::string scenario;
  std::vector<std::string> args;
  bool updated_before = false;  // an earlier command of the process updated the disk
  bool only_printed = false;    // the lines are printed on the way, not the document's
  Screen expected;
};

// The case's command in a process of its own, against the case's devices.
Result RunCase(const Case& c, bool json) {
  InstalledBridge devices(c.scenario);
  PowerCycleWatch process;
  if (c.updated_before) {
    const Result update = RunCli({"update", "--yes"}, "", {}, Privileged, &process);
    EXPECT_EQ(update.code, kExitOk) << update.out;
  }
  std::vector<std::string> args = c.args;
  if (json) args.push_back("--json");
  return RunCli(args, "", {}, Privileged, &process);
}

TEST(ScreenLines, EveryOutcomePrintsTheModelsLines) {
  const std::string old = Qvb886(kDiskA, "133.1.0.3");
  const Case cases[] = {
      {"no disk", "", {"status"}, false, false, ScreenFor(Outcome::NoDevice)},
      {"two disks",
       old + Qvb886(kDiskB, "133.1.0.3"),
       {"status"},
       false,
       false,
       ScreenFor(Outcome::SeveralDevices)},
      {"not a QVB886",
       "[device]\npath = " + std::string(kDiskA) + "\npreset = bridge\ninquiry_model = w880\n",
       {"status"},
       false,
       false,
       ScreenFor(Outcome::Blank)},
      {"133.1.0.0",
       Qvb886(kDiskA, "133.1.0.0"),
       {"status"},
       false,
       false,
       ScreenFor(Outcome::UpdateRequired, {133, 1, 0, 0})},
      {"133.1.0.5",
       Qvb886(kDiskA, "133.1.0.5"),
       {"status"},
       false,
       false,
       ScreenFor(Outcome::UpdateRequired, {133, 1, 0, 5})},
      {"133.1.0.6",
       Qvb886(kDiskA, "133.1.0.6"),
       {"status"},
       false,
       false,
       ScreenFor(Outcome::UpToDate, {133, 1, 0, 6})},
      {"133.1.0.7",
       Qvb886(kDiskA, "133.1.0.7"),
       {"status"},
       false,
       false,
       ScreenFor(Outcome::NotSupported, {133, 1, 0, 7})},
      {"5.0.12.255",
       Qvb886(kDiskA, "5.0.12.255"),
       {"status"},
       false,
       false,
       ScreenFor(Outcome::NotSupported, {5, 0, 12, 255})},
      {"during the update", old, {"update", "--yes"}, false, true, ScreenFor(Outcome::Updating)},
      {"updated", old, {"update", "--yes"}, false, false, ScreenFor(Outcome::Updated)},
      {"update failed",
       old + "fault = write_buffer check_condition\n",
       {"update", "--yes"},
       false,
       false,
       ScreenFor(Outcome::UpdateFailed)},
      {"before the power cycle",
       old,
       {"status"},
       true,
       false,
       ScreenFor(Outcome::PowerCyclePending)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const Result text = RunCase(c, false);
    if (c.only_printed) {
      EXPECT_NE(text.out.find(Printed(c.expected.lines)), std::string::npos) << text.out;
      continue;
    }
    for (const auto& line : c.expected.lines)
      if (!line.empty()) {
        EXPECT_NE(text.out.find(line + "\n"), std::string::npos) << text.out;
      }
    const Json document = RunCase(c, true).Document();
    EXPECT_EQ(Texts(c.expected.lines.begin(), c.expected.lines.end()), LinesOf(document));
  }
}

}  // namespace
}  // namespace qvb::cli::test
