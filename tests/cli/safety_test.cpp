// What the command line says when the update cannot be made safe: a sleep that cannot be held
// back (the update goes on).
#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "cli/console_services.h"
#include "tests/cli/cli_harness.h"

namespace qvb::cli::test {
namespace {

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
