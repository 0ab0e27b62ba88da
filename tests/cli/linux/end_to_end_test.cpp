// The built program, run as a user runs it: through pipes and on a pseudo-terminal.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "cli/exit_codes.h"
#include "tests/cli/cli_harness.h"

namespace qvb::cli::test {
namespace {

struct Finished {
  int code = -1;
  std::string output;  // standard output and error together
};

std::vector<char*> Argv(std::vector<std::string>& args) {
  std::vector<char*> argv;
  for (auto& arg : args) argv.push_back(arg.data());
  argv.push_back(nullptr);
  return argv;
}

int Wait(pid_t pid) {
  int status = 0;
  if (waitpid(pid, &status, 0) != pid) return -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

// Standard input from /dev/null, standard output and error into one pipe.
Finished ThroughPipe(std::vector<std::string> args) {
  args.insert(args.begin(), QVB_CLI_BINARY);
  int fds[2];
  if (pipe(fds) != 0) return {};
  const pid_t pid = fork();
  if (pid == 0) {
    const int null = open("/dev/null", O_RDONLY);
    dup2(null, 0);
    dup2(fds[1], 1);
    dup2(fds[1], 2);
    close(fds[0]);
    execv(QVB_CLI_BINARY, Argv(args).data());
    _exit(127);
  }
  close(fds[1]);
  Finished run;
  char buffer[4096];
  for (ssize_t n; (n = read(fds[0], buffer, sizeof buffer)) > 0;) run.output.append(buffer, n);
  close(fds[0]);
  run.code = Wait(pid);
  return run;
}

// Reads from the terminal's master side until `wanted` appears or the program ends.
bool ReadUntil(int master, std::string& output, const std::string& wanted) {
  char buffer[4096];
  while (wanted.empty() || output.find(wanted) == std::string::npos) {
    pollfd fd{master, POLLIN, 0};
    if (poll(&fd, 1, 20000) <= 0) return false;  // a hung program, not a timing assumption
    const ssize_t n = read(master, buffer, sizeof buffer);
    if (n <= 0) return wanted.empty();  // EIO once the program has closed the terminal
    output.append(buffer, n);
  }
  return true;
}

TEST(EndToEnd, ListAndStatusThroughAPipe) {
  ScenarioFile scenario(Qvb886(kDiskA, "133.1.0.4"));
  const Finished list = ThroughPipe({"list", "--virtual", scenario.path()});
  EXPECT_EQ(list.code, kExitOk);
  EXPECT_NE(list.output.find("  Firmware version: 133.01.00.04\n  Status: Update required\n"),
            std::string::npos)
      << list.output;

  ScenarioFile two(Qvb886(kDiskA, "133.1.0.4") + Qvb886(kDiskB, "133.1.0.4"));
  EXPECT_EQ(ThroughPipe({"status", "--virtual", two.path()}).code, kExitSeveralDevices);
  EXPECT_EQ(ThroughPipe({"update", "--force", "--virtual", two.path()}).code, kExitUsage);
}

TEST(EndToEnd, UpdateThroughAPipePrintsPlainLines) {
  ScenarioFile scenario(Qvb886(kDiskA, "133.1.0.4"));
  const Finished run = ThroughPipe({"update", "--yes", "--virtual", scenario.path()});
  EXPECT_EQ(run.code, kExitOk) << run.output;
  EXPECT_EQ(run.output.find('\r'), std::string::npos);
  EXPECT_NE(run.output.find("Attempt 1 of 2: 65 of 65 pieces read back\n"
                            "Successfully updated.\n"),
            std::string::npos)
      << run.output;
  // Without a terminal there is nobody to ask: --yes is required. (The updated bridge itself now
  // waits for its power cycle in every run.)
  ScenarioFile another(Qvb886(kDiskB, "133.1.0.4"));
  EXPECT_EQ(ThroughPipe({"update", "--virtual", scenario.path()}).code, kExitPowerCycle);
  EXPECT_EQ(ThroughPipe({"update", "--virtual", another.path()}).code, kExitUsage);
}

TEST(EndToEnd, UpdateOnATerminalAsksAndDrawsABar) {
  ScenarioFile scenario(Qvb886(kDiskA, "133.1.0.4"));
  std::vector<std::string> args = {QVB_CLI_BINARY, "update", "--no-wait", "--virtual",
                                   scenario.path()};
  int master = -1;
  const pid_t pid = forkpty(&master, nullptr, nullptr, nullptr);
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    execv(QVB_CLI_BINARY, Argv(args).data());
    _exit(127);
  }
  std::string output;
  ASSERT_TRUE(ReadUntil(master, output, "[y/N] ")) << output;
  ASSERT_EQ(write(master, "y\n", 2), 2);
  ReadUntil(master, output, "");
  close(master);
  EXPECT_EQ(Wait(pid), kExitOk) << output;
  EXPECT_NE(output.find("\rAttempt 1 of 2, writing:      [" + std::string(40, '#') + "] 65/65"),
            std::string::npos)
      << output;
  EXPECT_EQ(output.find("pieces written"), std::string::npos);
  EXPECT_NE(output.find("Successfully updated."), std::string::npos);
}

}  // namespace
}  // namespace qvb::cli::test
