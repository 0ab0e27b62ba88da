// The window's log: the same step lines as the command line's, nothing the window shows or sends
// changed by it, and a file that stays within its bound.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "app/tform1.h"
#include "app/window_log.h"
#include "tests/app/window_rig.h"

namespace qvb {
namespace {

namespace fs = std::filesystem;
using Texts = std::vector<std::string>;

class WindowLogTest : public testing::WindowRig {
 protected:
  struct Seen {
    Texts lines;
    bool update_visible = false, exit_visible = false;
    std::vector<std::string> commands;
  };
  // One update of a bridge that offers it, with the `fault` if any; logged when `logged`.
  Seen Update(const std::optional<virt::Fault>& fault, bool logged) {
    bridge.devices().clear();
    bridge.ClearFaults();
    bridge.ClearRequests();
    AttachQvb886(1, {133, 1, 0, 3});
    text.str("");
    std::unique_ptr<RequestLog> requests;
    if (logged) {
      requests = std::make_unique<RequestLog>(ActiveScsiHost(), &text, nullptr);
      requests->Install();
    }
    log = requests.get();
    auto& form = Start();
    if (fault) bridge.AddFault(*fault);
    EXPECT_TRUE(tk::headless::Click(form.btn_upd));
    Seen seen{Lines(), form.btn_upd->Visible(), form.btn_Exit->Visible(), bridge.CommandNames()};
    form_.reset();
    log = nullptr;
    return seen;
  }
  std::ostringstream text;
};

virt::Fault FaultOn(const char* command, virt::FaultKind kind) {
  virt::Fault fault;
  fault.command = command;
  fault.kind = kind;
  return fault;
}

TEST_F(WindowLogTest, StepsAreLoggedAndTheWindowShowsAndSendsTheSame) {
  struct Row {
    const char* name;
    std::optional<virt::Fault> fault;
    Texts says;  // in the log
  };
  const Row rows[] = {
      {"written",
       std::nullopt,
       {"step refresh: 1 disk(s) behind a supported bridge", "model code 22 (886)\n",
        "firmware 133.1.0.3, Update required", "step attempt 1 of 2 begins",
        "step attempt 1 write piece 1/", "step attempt 1 compare: the read-back equals the image",
        "step outcome of update: updated"}},
      {"every piece refused",
       FaultOn("write_buffer", virt::FaultKind::CheckCondition),
       {"step attempt 1 failed at piece 1: #", " write_buffer cdb=3B ", "; sense 70 00 05",
        "(to replay: fault = write_buffer check_condition from=",
        "step attempt 2 failed at piece 1", "step outcome of update: update_failed"}},
      {"the buffer descriptor garbled",
       FaultOn("read_buffer", virt::FaultKind::CorruptData),
       {" read_buffer cdb=3C 03 ",
        "step attempt 1 failed without a failed request (the bridge's descriptor was not the "
        "form expected)",
        "step attempt 2 failed without a failed request", "step outcome of update: update_failed"}},
  };
  for (const Row& row : rows) {
    const Seen plain = Update(row.fault, false);
    EXPECT_TRUE(text.str().empty());
    const Seen logged = Update(row.fault, true);
    const std::string log_text = text.str();
    EXPECT_EQ(plain.lines, logged.lines) << row.name;
    EXPECT_EQ(plain.update_visible, logged.update_visible) << row.name;
    EXPECT_EQ(plain.exit_visible, logged.exit_visible) << row.name;
    EXPECT_EQ(plain.commands, logged.commands) << row.name;
    for (const std::string& says : row.says)
      EXPECT_NE(log_text.find(says), std::string::npos) << row.name << ": " << says << "\n"
                                                        << log_text;
  }
  // The written image is nowhere in the log: the flash holds it, the log only command blocks.
  Update(std::nullopt, true);
  const auto& flash = bridge.devices().front().flash;
  const auto written =
      std::find_if(flash.begin(), flash.end(), [](uint8_t byte) { return byte != 0xFF; });
  ASSERT_LE(written + 16, flash.end());
  const std::string image_bytes = HexBytes(&*written, 16);
  EXPECT_EQ(text.str().find(image_bytes), std::string::npos) << image_bytes;
}

class RotatingFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    folder = fs::temp_directory_path() /
             ("qvb-window-log-" +
              std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()));
    fs::remove_all(folder);
    fs::create_directories(folder);
    file = (folder / "window.log").string();
  }
  void TearDown() override { fs::remove_all(folder); }
  static std::string Read(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream all;
    all << in.rdbuf();
    return all.str();
  }
  static void Write(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
  }
  fs::path folder;
  std::string file;
};

TEST_F(RotatingFileTest, LinesStayWithinTheBoundAndTheOlderOnesMoveToOneFile) {
  const std::string line(29, 'x');  // with its line feed, 30 bytes; the bound is 100
  struct Row {
    const char* name;
    std::string before, older_before;
    int lines;
    std::size_t size, older_size;  // after; older_size 0: no FILE.1
  };
  const Row rows[] = {
      {"fits", "", "", 3, 90, 0},
      {"the fourth line moves the three", "", "", 4, 30, 90},
      {"the older file is replaced", "", "old runs\n", 4, 30, 90},
      {"a file already past the bound moves at the first line", std::string(150, 'o'), "", 1, 30,
       150},
      {"lines after an existing one", "12345\n", "", 2, 66, 0},
  };
  for (const Row& row : rows) {
    fs::remove(file);
    fs::remove(file + ".1");
    if (!row.before.empty()) Write(file, row.before);
    if (!row.older_before.empty()) Write(file + ".1", row.older_before);
    {
      RotatingFileBuffer buffer(file, 100);
      ASSERT_TRUE(buffer.is_open()) << row.name;
      std::ostream out(&buffer);
      for (int i = 0; i < row.lines; ++i) out << line << "\n" << std::flush;
    }
    EXPECT_EQ(Read(file).size(), row.size) << row.name;
    EXPECT_EQ(fs::exists(file + ".1"), row.older_size != 0) << row.name;
    if (row.older_size != 0) {
      const std::string older = Read(file + ".1");
      EXPECT_EQ(older.size(), row.older_size) << row.name;
      EXPECT_EQ(older.find("old runs"), std::string::npos) << row.name;
    }
  }
}

TEST_F(RotatingFileTest, AFolderThatCannotBeWrittenMeansNoLogAndNoFailure) {
  const std::string missing = (folder / "no such folder" / "window.log").string();
  RotatingFileBuffer buffer(missing, 100);
  EXPECT_FALSE(buffer.is_open());
  std::ostream out(&buffer);
  out << "dropped\n" << std::flush;
  EXPECT_TRUE(out.good());
  EXPECT_FALSE(fs::exists(missing));

  ScsiHost* const before = &ActiveScsiHost();
  for (const std::string& where : {std::string(), missing}) {
    WindowLog log(where, "window");
    EXPECT_EQ(log.requests(), nullptr) << where;
    EXPECT_EQ(&ActiveScsiHost(), before) << where;
  }
}

TEST_F(RotatingFileTest, TheWindowLogStartsWithItsHeaderAndLeavesTheHostAsItWas) {
  ScsiHost* const before = &ActiveScsiHost();
  {
    WindowLog log(file, "the-window");
    ASSERT_NE(log.requests(), nullptr);
    EXPECT_NE(&ActiveScsiHost(), before);  // the requests pass through the log
    log.requests()->Step("refresh: 0 disk(s) behind a supported bridge");
  }
  EXPECT_EQ(&ActiveScsiHost(), before);
  const std::string text = Read(file);
  EXPECT_NE(text.find(" === the-window "), std::string::npos) << text;
  EXPECT_NE(text.find("(test build) on "), std::string::npos) << text;
  EXPECT_NE(text.find(" step refresh: 0 disk(s)"), std::string::npos) << text;
}

}  // namespace
}  // namespace qvb
