// The built program, run as a user runs it: through pipes and on a pseudo-terminal.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
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

// Standard input from /dev/null, standard error into a pipe, and standard output to `target`:
// "pipe" (the same pipe), "closed", or a file such as "/dev/full" or "/dev/null".
Finished Spawn(std::vector<std::string> args, const std::string& target) {
  args.insert(args.begin(), QVB_CLI_BINARY);
  int fds[2];
  if (pipe(fds) != 0) return {};
  const pid_t pid = fork();
  if (pid == 0) {
    const int null = open("/dev/null", O_RDONLY);
    dup2(null, 0);
    if (target == "pipe") {
      dup2(fds[1], 1);
    } else if (target == "closed") {
      close(1);
    } else {
      const int out = open(target.c_str(), O_WRONLY);
      dup2(out, 1);
    }
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

Finished ThroughPipe(std::vector<std::string> args) {
  return Spawn(std::move(args), "pipe");
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

TEST(EndToEnd, StandardOutputFailsOrIsThrownAway) {
  ScenarioFile good(Qvb886(kDiskA, "133.1.0.4"));
  ScenarioFile failing(Qvb886(kDiskA, "133.1.0.4", "fault = write_buffer check_condition\n"));
  ScenarioFile none("");
  struct Row {
    const char* out;
    std::vector<std::string> args;
    int code;
    const char* err;  // must appear on standard error
  };
  const Row rows[] = {
      {"closed",
       {"--json", "list", "--virtual", good.path()},
       kExitOutputFailed,
       "standard output could not be written"},
      {"/dev/full",
       {"list", "--virtual", good.path()},
       kExitOutputFailed,
       "standard output could not be written"},
      {"/dev/full",
       {"update", "--yes", "--virtual", good.path()},
       kExitOutputFailed,
       "nothing was written to the device"},
      {"/dev/null", {"list", "--virtual", good.path()}, kExitOk, ""},
      // Failures reach standard error when standard output is thrown away.
      {"/dev/null",
       {"update", "--yes", "--virtual", failing.path()},
       kExitUpdateFailed,
       "Update Fail!\n"},
      {"/dev/null",
       {"update", "--assume-yes", "--virtual", none.path()},
       kExitNoDevice,
       "No compatible USB device were found.\n"},
      {"/dev/null",
       {"--json", "status", "--device=", "--virtual", good.path()},
       kExitUsage,
       "--device needs one device path"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(std::string(row.out) + " " + ::testing::PrintToString(row.args));
    const Finished run = Spawn(row.args, row.out);
    EXPECT_EQ(run.code, row.code) << run.output;
    EXPECT_NE(run.output.find(row.err), std::string::npos) << run.output;
    if (row.code == kExitOk) {
      EXPECT_EQ(run.output, "");
    }
  }
}

// Scenarios that cannot be used are refused at once with exit 2 and the reason: a pipe that
// nobody writes must not hang the program, /dev/zero must not be read without end, and a small
// file must not allocate a virtual flash per device without limit.
TEST(EndToEnd, UnusableScenariosAreRefusedWithTheirReason) {
  const std::string fifo =
      std::filesystem::temp_directory_path() / ("qvb-cli-fifo-" + std::to_string(getpid()));
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  std::string many;
  for (int i = 0; i <= 64; ++i) many += Qvb886(kDiskA, "133.1.0.3");
  ScenarioFile too_many(many);
  const struct {
    std::string path;
    const char* reason;
  } cases[] = {
      {"/dev/zero", "/dev/zero: is not a regular file"},
      {fifo, "is not a regular file"},
      {std::filesystem::temp_directory_path().string(), "is a folder, not a scenario file"},
      {too_many.path(), "more than 64 [device] sections"},
  };
  for (const auto& c : cases) {
    const Finished run = ThroughPipe({"list", "--virtual", c.path});
    EXPECT_EQ(run.code, kExitUsage) << c.path << ": " << run.output;
    EXPECT_NE(run.output.find(c.reason), std::string::npos) << run.output;
  }
  unlink(fifo.c_str());
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
  EXPECT_EQ(ThroughPipe({"update", "--virtual", another.path()}).code, kExitUpdateFailed);
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
