// The built program: a copy of it whose carried image has one byte changed refuses to write,
// and a machine without logind gets its update with one note on standard error.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "cli/exit_codes.h"
#include "cli/progress.h"
#include "tests/cli/cli_harness.h"

namespace qvb::cli::test {
namespace {
namespace fs = std::filesystem;

struct Finished {
  int code = -1;
  std::string out;
  std::string err;
};

std::string ReadAll(const fs::path& file) {
  std::ifstream in(file, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

// Runs `program` with `args`, standard input from /dev/null, `env` added to the environment.
Finished RunProgram(const std::string& program, const std::vector<std::string>& args,
                    const std::vector<std::string>& env = {}) {
  const fs::path out = fs::temp_directory_path() / ("qvb-safety-" + std::to_string(getpid()));
  const std::string out_file = out.string() + ".out", err_file = out.string() + ".err";
  const pid_t pid = fork();
  if (pid == 0) {
    for (const auto& setting : env) putenv(const_cast<char*>(setting.c_str()));
    const int null = open("/dev/null", O_RDONLY);
    const int o = open(out_file.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    const int e = open(err_file.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    dup2(null, 0);
    dup2(o, 1);
    dup2(e, 2);
    std::vector<std::string> words = {program};
    words.insert(words.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (auto& word : words) argv.push_back(word.data());
    argv.push_back(nullptr);
    execv(program.c_str(), argv.data());
    _exit(127);
  }
  Finished run;
  int status = 0;
  if (pid > 0 && waitpid(pid, &status, 0) == pid)
    run.code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  run.out = ReadAll(out_file);
  run.err = ReadAll(err_file);
  std::error_code ignored;
  fs::remove(out_file, ignored);
  fs::remove(err_file, ignored);
  return run;
}

// A copy of the built program in a temporary folder, removed with the object.
class ProgramCopy {
 public:
  ProgramCopy() {
    std::string pattern = (fs::temp_directory_path() / "qvb-copy-XXXXXX").string();
    if (mkdtemp(pattern.data())) dir_ = pattern;
    path_ = (dir_ / "qvb886-fwupdate").string();
    bytes_ = ReadAll(QVB_CLI_BINARY);
  }
  ~ProgramCopy() {
    std::error_code ignored;
    if (!dir_.empty()) fs::remove_all(dir_, ignored);
  }
  ProgramCopy(const ProgramCopy&) = delete;
  ProgramCopy& operator=(const ProgramCopy&) = delete;

  std::string& bytes() { return bytes_; }
  const std::string& path() const { return path_; }
  bool Write() const {
    std::ofstream(path_, std::ios::binary | std::ios::trunc) << bytes_;
    fs::permissions(path_, fs::perms::owner_all);
    return fs::file_size(path_) == bytes_.size();
  }

 private:
  fs::path dir_;
  std::string path_;
  std::string bytes_;
};

TEST(SafetyEndToEnd, ACopyWithOneByteOfItsImageChangedWritesNothing) {
  const std::string image = ReadAll(QVB_FIRMWARE_IMAGE_FILE);
  ASSERT_EQ(67072u, image.size());
  ScenarioFile scenario(Qvb886(kDiskA, "133.1.0.3"));
  const std::vector<std::string> args = {"update", "--yes", "--virtual", scenario.path()};

  ProgramCopy copy;
  const std::size_t at = copy.bytes().find(image);
  ASSERT_NE(std::string::npos, at) << "the image is carried as it was made";
  ASSERT_EQ(std::string::npos, copy.bytes().find(image, at + 1)) << "and only once";

  // The copy as built updates: the copying itself changes nothing.
  ASSERT_TRUE(copy.Write());
  const Finished intact = RunProgram(copy.path(), args);
  EXPECT_EQ(kExitOk, intact.code) << intact.out << intact.err;

  // The bridge written above waits for its power cycle; this one starts afresh.
  std::filesystem::remove_all(TestStateFolder());
  copy.bytes()[at + 0x4321] ^= 0x04;
  ASSERT_TRUE(copy.Write());
  const Finished damaged = RunProgram(copy.path(), args);
  EXPECT_EQ(kExitUpdateFailed, damaged.code) << damaged.out << damaged.err;
  EXPECT_NE(std::string::npos, damaged.out.find(std::string(kImageDamaged) + "\nUpdate Fail!\n"))
      << damaged.out;
  EXPECT_EQ(std::string::npos, damaged.out.find("pieces")) << "no piece was written";
}

TEST(SafetyEndToEnd, WithoutLogindTheUpdateGoesOnAndSaysSoOnce) {
  ScenarioFile scenario(Qvb886(kDiskA, "133.1.0.3"));
  const Finished run = RunProgram(QVB_CLI_BINARY, {"update", "--yes", "--virtual", scenario.path()},
                                  {"DBUS_SYSTEM_BUS_ADDRESS=unix:path=/nonexistent/qvb-no-bus"});
  EXPECT_EQ(kExitOk, run.code) << run.out << run.err;
  EXPECT_NE(std::string::npos, run.out.find("Successfully updated.")) << run.out;
  const std::string note = "Note: sleep could not be inhibited (no system bus: ";
  const std::size_t first = run.err.find(note);
  EXPECT_NE(std::string::npos, first) << run.err;
  EXPECT_EQ(std::string::npos, run.err.find(note, first + 1)) << run.err;
  EXPECT_EQ(std::string::npos, run.out.find("sleep")) << "standard error only";
}

}  // namespace
}  // namespace qvb::cli::test
