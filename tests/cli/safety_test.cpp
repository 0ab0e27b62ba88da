// What the command line says when the update cannot be made safe: a damaged carried image
// (nothing is written) and a sleep that cannot be held back (the update goes on).
#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "cli/console_services.h"
#include "cli/exit_codes.h"
#include "cli/progress.h"
#include "device/firmware_image.h"
#include "tests/cli/cli_harness.h"
#include "tests/support/damaged_image.h"

namespace qvb::cli::test {
namespace {

using ScopedLookup = qvb::testing::ScopedImageLookup;

TEST(ImageIntegrity, DamagedImageFailsTheUpdateWithItsReasonAndWritesNothing) {
  for (bool json : {false, true}) {
    InstalledBridge installed(Qvb886(kDiskA, "133.1.0.3"));
    ScopedLookup damaged(qvb::testing::DamagedImage);
    std::vector<std::string> args = {"update", "--yes"};
    if (json) args.push_back("--json");
    const Result run = RunCli(args);
    EXPECT_EQ(kExitUpdateFailed, run.code) << json;
    // The report for people: standard output, or standard error beside a JSON document.
    const std::string& human = json ? run.err : run.out;
    const std::size_t reason = human.find(kImageDamaged);
    EXPECT_NE(std::string::npos, reason) << human;
    EXPECT_NE(std::string::npos, human.find("Update Fail!", reason)) << human;
    EXPECT_EQ(std::string::npos, human.find("pieces")) << human;
    EXPECT_EQ(0, installed.Count("write_buffer")) << json;
    if (json) {
      EXPECT_EQ("failed", run.Document()["outcome"].text) << run.out;
    }
  }
}

TEST(SleepNote, ToldOnceOnStandardErrorWhenSleepCannotBeHeldBack) {
  struct Case {
    const char* refusal;
    int notes;
  };
  const Case cases[] = {{"", 0}, {"no system bus: No such file or directory", 1}};
  for (const Case& c : cases) {
    qvb::testing::FakeSystem system;
    system.sleep_refusal = c.refusal;
    std::ostringstream err;
    {
      ConsoleServices services(err);
      for (int update = 0; update < 2; ++update) {
        std::string reason;
        if (System().InhibitSleep(reason)) System().AllowSleep();
      }
    }
    EXPECT_EQ(2, system.sleep_inhibits) << "asked for each time";
    EXPECT_EQ(c.notes == 0 ? 2 : 0, system.sleep_allows);
    const std::string text = err.str();
    int notes = 0;
    for (std::size_t at = text.find("Note: sleep could not be inhibited"); at != std::string::npos;
         at = text.find("Note: sleep could not be inhibited", at + 1))
      ++notes;
    EXPECT_EQ(c.notes, notes) << text;
    if (c.notes) {
      EXPECT_NE(std::string::npos, text.find(c.refusal)) << text;
    }
  }
}

}  // namespace
}  // namespace qvb::cli::test
