// Ctrl-C and the other stop requests during an update: held back until the procedure ends,
// each refused with a message, and the signal state given back afterwards.
#include <gtest/gtest.h>
#include <signal.h>

#include "cli/exit_codes.h"
#include "cli/interrupt_guard.h"
#include "cli/progress.h"
#include "tests/cli/cli_harness.h"

namespace qvb::cli::test {
namespace {

bool Blocked(int signal_number) {
  sigset_t mask;
  sigprocmask(SIG_BLOCK, nullptr, &mask);
  return sigismember(&mask, signal_number) == 1;
}

bool Pending(int signal_number) {
  sigset_t pending;
  sigpending(&pending);
  return sigismember(&pending, signal_number) == 1;
}

class Interrupts : public ::testing::TestWithParam<int> {};

TEST_P(Interrupts, RefusedDuringTheUpdateAndTheUpdateCompletes) {
  const int signal_number = GetParam();
  InstalledBridge devices(Qvb886(kDiskA, "133.1.0.3"));
  int writes = 0;
  int reads = 0;
  devices.before_send = [&](const std::string& command) -> std::optional<ScsiResult> {
    // Mid-write and mid-read-back: the signal goes to this very thread, as a terminal's does.
    if (command == "write_buffer" && ++writes == 10) raise(signal_number);
    if (command == "read_buffer" && ++reads == 20) raise(signal_number);
    return std::nullopt;
  };
  const Result result = RunCli({"update", "--yes", "--json"});
  ASSERT_EQ(result.code, kExitOk) << result.err;
  EXPECT_EQ(devices.Count("write_buffer"), 65);
  EXPECT_EQ(devices.Count("read_buffer"), 65 + 2);  // the pieces and two descriptor reads

  std::size_t notices = 0;
  for (std::size_t at = result.err.find(kInterruptRefused); at != std::string::npos;
       at = result.err.find(kInterruptRefused, at + 1))
    ++notices;
  EXPECT_EQ(notices, 2u) << result.err;
  // The first notice comes while the pieces are still being written.
  EXPECT_LT(result.err.find(kInterruptRefused), result.err.find("65 of 65 pieces written"));
  EXPECT_NE(result.err.find("Ctrl-C was refused 2 times while the update ran.\n"),
            std::string::npos);
  EXPECT_NE(result.err.find("Successfully updated.\n"), std::string::npos);
  EXPECT_EQ(result.Document()["interrupts_refused"].number, 2);

  EXPECT_FALSE(Blocked(signal_number));
  EXPECT_FALSE(Pending(signal_number));
}

INSTANTIATE_TEST_SUITE_P(Cli, Interrupts,
                         ::testing::Values(SIGINT, SIGTERM, SIGHUP, SIGQUIT,
                                           // Each of these ends a program by
                                           // default as surely as Ctrl-C.
                                           SIGUSR1, SIGUSR2, SIGALRM, SIGVTALRM, SIGPROF, SIGIO,
                                           SIGXFSZ, SIGPWR, SIGRTMIN, SIGRTMAX));

TEST(InterruptGuard, KeepsTheCallersOwnMask) {
  sigset_t usr1, before, after;
  sigemptyset(&usr1);
  sigaddset(&usr1, SIGUSR1);
  sigprocmask(SIG_BLOCK, &usr1, &before);
  {
    InterruptGuard guard;
    EXPECT_TRUE(Blocked(SIGINT));
    raise(SIGINT);
    raise(SIGINT);  // two of a kind before a poll count once
    EXPECT_EQ(guard.Poll(), 1);
    EXPECT_EQ(guard.Poll(), 0);
    raise(SIGTERM);
    EXPECT_EQ(guard.Poll(), 1);
    raise(SIGINT);  // not polled: taken when the guard ends, not delivered
  }
  sigprocmask(SIG_SETMASK, &before, &after);
  EXPECT_TRUE(sigismember(&after, SIGUSR1));
  EXPECT_FALSE(sigismember(&after, SIGINT));
  EXPECT_FALSE(Pending(SIGINT));
}

TEST(InterruptGuard, OutsideTheUpdateNothingIsHeld) {
  // Before and after the procedure Ctrl-C keeps its usual effect: no guard during the scan, the
  // confirmation or the sleep inhibitor's request (which may wait on a stalled bus).
  InstalledBridge devices(Qvb886(kDiskA, "133.1.0.3"));
  bool blocked_during_scan = true;
  bool blocked_during_write = false;
  int inhibits = 0;
  bool blocked_during_inhibit = true;
  g_system_setup = [&](qvb::testing::FakeSystem& system) {
    system.on_inhibit = [&] {
      ++inhibits;
      blocked_during_inhibit = Blocked(SIGINT) || Blocked(SIGUSR1);
    };
  };
  devices.before_send = [&](const std::string& command) -> std::optional<ScsiResult> {
    if (command == "inquiry") blocked_during_scan = blocked_during_scan && Blocked(SIGINT);
    if (command == "write_buffer") blocked_during_write = Blocked(SIGINT);
    return std::nullopt;
  };
  EXPECT_EQ(RunCli({"update", "--yes"}).code, kExitOk);
  g_system_setup = nullptr;
  EXPECT_FALSE(blocked_during_scan);
  EXPECT_TRUE(blocked_during_write);
  EXPECT_EQ(inhibits, 1);
  EXPECT_FALSE(blocked_during_inhibit);
}

}  // namespace
}  // namespace qvb::cli::test
