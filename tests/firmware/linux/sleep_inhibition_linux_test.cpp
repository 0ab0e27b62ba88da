// The logind inhibitor lock on a real D-Bus daemon: each test starts a private bus of its own,
// on which python3-dbusmock's logind template is started by bus activation as logind, and
// points the program at it through DBUS_SYSTEM_BUS_ADDRESS.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <systemd/sd-bus.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "device/linux/sleep_inhibitor_linux.h"
#include "device/platform_host.h"
#include "firmware/update.h"
#include "tests/support/fake_system.h"
#include "tests/support/watching_host.h"
#include "virtual_bridge/virtual_bridge.h"

extern char** environ;

namespace qvb {
namespace {
namespace fs = std::filesystem;

constexpr const char* kPath = "\\\\?\\usbstor#disk&ven_quorvel&prod_qvb886#1#{53f56307}";
constexpr const char* kDbusDaemon = "/usr/bin/dbus-daemon";
// Debian's python3-dbusmock is a module of the system's own interpreter.
constexpr const char* kSystemPython = "/usr/bin/python3";

// Sets an environment variable for the life of the object.
class ScopedEnv {
 public:
  ScopedEnv(const char* name, const std::string& value) : name_(name) {
    if (const char* old = getenv(name)) old_ = old;
    setenv(name, value.c_str(), 1);
  }
  ~ScopedEnv() {
    if (old_)
      setenv(name_, old_->c_str(), 1);
    else
      unsetenv(name_);
  }
  ScopedEnv(const ScopedEnv&) = delete;
  ScopedEnv& operator=(const ScopedEnv&) = delete;

 private:
  const char* name_;
  std::optional<std::string> old_;
};

// A dbus-daemon on a socket in a temporary folder, with logind (the dbusmock template) as an
// activatable service when asked for. DBUS_SYSTEM_BUS_ADDRESS names it while the object lives.
class PrivateSystemBus {
 public:
  explicit PrivateSystemBus(bool with_logind) {
    std::string pattern = (fs::temp_directory_path() / "qvb-bus-XXXXXX").string();
    if (!mkdtemp(pattern.data())) {
      error_ = "no temporary folder";
      return;
    }
    dir_ = pattern;
    address_ = "unix:path=" + (dir_ / "bus").string();
    fs::create_directories(dir_ / "services");
    std::ofstream(dir_ / "bus.conf")
        << "<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-BUS Bus Configuration 1.0//EN\"\n"
           " \"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">\n"
           "<busconfig>\n"
           "  <type>session</type>\n"
        << "  <listen>" << address_ << "</listen>\n"
        << "  <auth>EXTERNAL</auth>\n"
        << "  <servicedir>" << (dir_ / "services").string() << "</servicedir>\n"
        << "  <policy context=\"default\">\n"
           "    <allow send_destination=\"*\" eavesdrop=\"true\"/>\n"
           "    <allow eavesdrop=\"true\"/>\n"
           "    <allow own=\"*\"/>\n"
           "  </policy>\n"
           "</busconfig>\n";
    if (with_logind)
      std::ofstream(dir_ / "services" / "org.freedesktop.login1.service")
          << "[D-BUS Service]\nName=org.freedesktop.login1\nExec=" << kSystemPython
          << " -m dbusmock --template logind\n";
    if (access(kDbusDaemon, X_OK) != 0) {
      error_ = std::string(kDbusDaemon) + " is missing (scripts/install-deps.sh installs dbus)";
      return;
    }
    // The daemon and the mock it starts find the bus through the environment, as the program
    // under test does.
    env_.emplace("DBUS_SYSTEM_BUS_ADDRESS", address_);
    Start();
  }

  ~PrivateSystemBus() {
    if (daemon_ > 0) {
      // The mock quits when its bus goes away.
      kill(daemon_, SIGTERM);
      int status = 0;
      waitpid(daemon_, &status, 0);
    }
    std::error_code ignored;
    if (!dir_.empty()) fs::remove_all(dir_, ignored);
  }
  PrivateSystemBus(const PrivateSystemBus&) = delete;
  PrivateSystemBus& operator=(const PrivateSystemBus&) = delete;

  const std::string& error() const { return error_; }
  // What the daemon and the services it started printed.
  std::string Log() const {
    std::ifstream file(dir_ / "bus.log");
    return std::string(std::istreambuf_iterator<char>(file), {});
  }

 private:
  // Runs dbus-daemon and waits for the address it prints once it listens.
  void Start() {
    int out[2];
    if (pipe2(out, O_CLOEXEC) != 0) {
      error_ = "no pipe";
      return;
    }
    // The address comes on descriptor 3; what the daemon and the mock print goes to a log.
    const std::string log = (dir_ / "bus.log").string();
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], 3);
    posix_spawn_file_actions_addopen(&actions, 1, log.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0600);
    posix_spawn_file_actions_adddup2(&actions, 1, 2);
    const std::string config = "--config-file=" + (dir_ / "bus.conf").string();
    std::vector<std::string> words = {kDbusDaemon, config, "--nofork", "--print-address=3"};
    std::vector<char*> argv;
    for (auto& word : words) argv.push_back(word.data());
    argv.push_back(nullptr);
    const int spawned = posix_spawn(&daemon_, kDbusDaemon, &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(out[1]);
    if (spawned != 0) {
      daemon_ = 0;
      error_ = "dbus-daemon could not be started";
      close(out[0]);
      return;
    }
    std::string printed;
    char c = 0;
    while (read(out[0], &c, 1) == 1 && c != '\n') printed += c;
    close(out[0]);
    if (printed.empty()) error_ = "dbus-daemon did not start listening";
  }

  fs::path dir_;
  std::string address_;
  std::string error_;
  std::optional<ScopedEnv> env_;
  pid_t daemon_ = 0;
};

// A socket where a bus should be, that takes every connection and never says a word: what a
// stalled dbus-daemon looks like to a client. DBUS_SYSTEM_BUS_ADDRESS names it while it lives.
class SilentBus {
 public:
  SilentBus() {
    std::string pattern = (fs::temp_directory_path() / "qvb-silent-XXXXXX").string();
    if (!mkdtemp(pattern.data())) return;
    dir_ = pattern;
    const std::string path = (dir_ / "bus").string();
    listener_ = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (listener_ < 0 || path.size() >= sizeof address.sun_path) return;
    path.copy(address.sun_path, path.size());
    if (bind(listener_, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 ||
        listen(listener_, 4) != 0)
      return;
    env_.emplace("DBUS_SYSTEM_BUS_ADDRESS", "unix:path=" + path);
    accepter_ = std::thread([this] {
      // Accepted and kept open, never read from or written to.
      for (int fd; (fd = accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC)) >= 0;) {
        accepted_.push_back(fd);
        ++count_;
      }
    });
    ready_ = true;
  }
  ~SilentBus() {
    if (listener_ >= 0) shutdown(listener_, SHUT_RDWR);  // ends the accept
    if (accepter_.joinable()) accepter_.join();
    for (int fd : accepted_) close(fd);
    if (listener_ >= 0) close(listener_);
    std::error_code ignored;
    if (!dir_.empty()) fs::remove_all(dir_, ignored);
  }
  SilentBus(const SilentBus&) = delete;
  SilentBus& operator=(const SilentBus&) = delete;
  bool ready() const { return ready_; }
  int accepted() const { return count_.load(); }

 private:
  fs::path dir_;
  int listener_ = -1;
  bool ready_ = false;
  std::vector<int> accepted_;  // the accepting thread's until it is joined
  std::atomic<int> count_{0};
  std::thread accepter_;
  std::optional<ScopedEnv> env_;
};

struct Inhibitor {
  std::string what, who, why, mode;
};

// logind's ListInhibitors over a connection of the test's own. Empty with `error` set when
// the call fails.
std::vector<Inhibitor> ListInhibitors(std::string& error) {
  std::vector<Inhibitor> found;
  sd_bus* bus = nullptr;
  if (sd_bus_open_system(&bus) < 0) {
    error = "no bus";
    return found;
  }
  sd_bus_error call_error = SD_BUS_ERROR_NULL;
  sd_bus_message* reply = nullptr;
  int code = sd_bus_call_method(bus, "org.freedesktop.login1", "/org/freedesktop/login1",
                                "org.freedesktop.login1.Manager", "ListInhibitors", &call_error,
                                &reply, "");
  if (code < 0) {
    error = call_error.message ? call_error.message : "ListInhibitors failed";
  } else if (sd_bus_message_enter_container(reply, 'a', "(ssssuu)") >= 0) {
    const char *what, *who, *why, *mode;
    uint32_t uid, pid;
    while (sd_bus_message_read(reply, "(ssssuu)", &what, &who, &why, &mode, &uid, &pid) > 0)
      found.push_back({what, who, why, mode});
    sd_bus_message_exit_container(reply);
  }
  sd_bus_message_unref(reply);
  sd_bus_error_free(&call_error);
  sd_bus_flush_close_unref(bus);
  return found;
}

// Pipes this process has open: logind's lock is the write end of one.
int OpenPipes() {
  int pipes = 0;
  for (const auto& entry : fs::directory_iterator("/proc/self/fd")) {
    std::error_code ec;
    const fs::path target = fs::read_symlink(entry.path(), ec);
    if (!ec && target.string().rfind("pipe:", 0) == 0) ++pipes;
  }
  return pipes;
}

// Simulated pauses and the rest, but the platform's own sleep inhibition.
class RealSleepSystem : public testing::FakeSystem {
 public:
  bool InhibitSleep(std::string& reason) override {
    ++sleep_inhibits;
    return PlatformSystemServices().InhibitSleep(reason);
  }
  void AllowSleep() override {
    ++sleep_allows;
    PlatformSystemServices().AllowSleep();
  }
};

TEST(LogindSleepLock, HeldDuringTheWritesAndReleasedAfter) {
  PrivateSystemBus bus(true);
  ASSERT_EQ("", bus.error());
  std::string error;
  ASSERT_TRUE(ListInhibitors(error).empty());  // starts the mock logind
  ASSERT_EQ("", error) << bus.Log();
  const int pipes_before = OpenPipes();

  virt::VirtualBridge bridge({virt::MakeQvb886(kPath, {133, 1, 0, 3})});
  int writes = 0;
  std::vector<Inhibitor> during;
  int pipes_during = -1;
  testing::WatchingHost watching(bridge, [&](const ScsiRequest& request) {
    if (!testing::IsWriteBuffer(request) || writes++ > 0) return;
    during = ListInhibitors(error);
    pipes_during = OpenPipes();
  });
  ScopedSeams installed{HostSeams{.scsi = &watching}};
  RealSleepSystem system;

  ASSERT_EQ(1, UpdateFirmware(nullptr, kPath));
  EXPECT_EQ(65, writes);
  ASSERT_EQ(1u, during.size()) << error << "\n" << bus.Log();
  EXPECT_EQ("sleep:idle", during[0].what);
  EXPECT_EQ("block", during[0].mode);
  EXPECT_EQ(linux_host::kInhibitWho, during[0].who);
  EXPECT_EQ(linux_host::kInhibitWhy, during[0].why);
  EXPECT_EQ(pipes_before + 1, pipes_during) << "the lock is a descriptor the program holds";
  EXPECT_EQ(1, system.sleep_inhibits);
  EXPECT_EQ(1, system.sleep_allows);

  EXPECT_EQ(pipes_before, OpenPipes()) << "the lock's descriptor is closed";
  // The mock drops the lock once its main loop has seen the hang-up, which may take it a few
  // turns (it closes its own end of the pipe when idle): asked until then, for 5 s at most.
  std::vector<Inhibitor> after = ListInhibitors(error);
  for (int call = 0; call < 500 && !after.empty(); ++call) {
    usleep(10000);
    after = ListInhibitors(error);
  }
  EXPECT_TRUE(after.empty()) << error;
}

TEST(LogindSleepLock, WithoutLogindItIsRefusedWithAReason) {
  enum class Bus { None, WithoutLogind, Silent };
  struct Case {
    const char* what;
    Bus bus;
    const char* reason_part;
  };
  const Case cases[] = {
      {"no system bus", Bus::None, "no system bus"},
      {"a bus without logind", Bus::WithoutLogind, "logind refused"},
      // The handshake itself never ends: the request's own deadline gives up, not sd-bus's
      // 90 s handshake limit.
      {"a bus that accepts and never answers", Bus::Silent,
       "the system bus did not answer within 3 s"},
  };
  for (const Case& c : cases) {
    std::optional<PrivateSystemBus> bus;
    std::optional<SilentBus> silent;
    std::optional<ScopedEnv> nowhere;
    if (c.bus == Bus::WithoutLogind) {
      bus.emplace(false);
      ASSERT_EQ("", bus->error()) << c.what;
    } else if (c.bus == Bus::Silent) {
      silent.emplace();
      ASSERT_TRUE(silent->ready()) << c.what;
    } else {
      nowhere.emplace("DBUS_SYSTEM_BUS_ADDRESS", "unix:path=/nonexistent/qvb-no-bus");
    }
    linux_host::SleepInhibitor inhibitor;
    std::string reason;
    const auto started = std::chrono::steady_clock::now();
    EXPECT_FALSE(inhibitor.Take(reason)) << c.what;
    // Only a guard against a hang: the deadline's own reason above is what is checked.
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(30)) << c.what;
    EXPECT_FALSE(inhibitor.held()) << c.what;
    if (silent) {
      EXPECT_EQ(1, silent->accepted()) << "the program did reach the silent bus";
    }
    EXPECT_NE(std::string::npos, reason.find(c.reason_part)) << c.what << ": " << reason;
  }
}

}  // namespace
}  // namespace qvb
