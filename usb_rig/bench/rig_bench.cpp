// qvb-rig-bench: what one update costs through the kernel's SCSI stack, against baselines that
// send the very same command blocks. Prints one table; asserts nothing.
//
//   qvb-rig-bench [--sg-raw PATH] [--latency-count N] [--rounds N] [--work DIR]
//
// It runs the updater's `status` and `update --yes` in process behind a recorder, which yields
// the command blocks, their order, directions, lengths and data, and the time spent in the
// transport (opens and requests) apart from the rest (the sysfs scan above all); then it
// replays the blocks with a minimal SG_IO loop on one open descriptor, and with one sg_raw
// process per command.
#include <fcntl.h>
#include <scsi/sg.h>
#include <spawn.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "cli/cli.h"
#include "device/bridge_commands.h"
#include "device/guarded_scsi_host.h"
#include "device/seams.h"
#include "host/host.h"

extern char** environ;

namespace {

struct Recorded {
  std::string path;
  std::vector<uint8_t> cdb;
  bool data_in = false;
  uint32_t length = 0;
  std::vector<uint8_t> data_out;
  uint32_t timeout = 0;
};

double Now(clockid_t clock) {
  timespec t{};
  clock_gettime(clock, &t);
  return t.tv_sec + t.tv_nsec * 1e-9;
}

// The updater's host behind a guard that records each request before it goes out, and adds up
// the time spent in the machine's transport (each open and each request).
class RecordingHost : public qvb::GuardedScsiHost {
 public:
  explicit RecordingHost(qvb::ScsiHost& next) : GuardedScsiHost(next) {
    before_open = [this](const char*, qvb::ShareMode) {
      started_ = Now(CLOCK_MONOTONIC);
      return std::optional<qvb::ScsiResult>();
    };
    after_open = [this](const char*, qvb::ShareMode, const qvb::ScsiResult&) {
      transport += Now(CLOCK_MONOTONIC) - started_;
    };
    after_send = [this](const std::string&, const qvb::ScsiRequest&, const qvb::ScsiResult&) {
      transport += Now(CLOCK_MONOTONIC) - started_;
    };
    before_send = [this](const std::string& path, const qvb::ScsiRequest& request) {
      Recorded r;
      r.path = path;
      r.cdb.assign(request.cdb,
                   request.cdb + std::min<std::size_t>(request.cdb_length, qvb::kMaxCdbLength));
      r.data_in = request.direction == qvb::ScsiDirection::FromDevice;
      r.length = request.data ? request.transfer_length : 0;
      r.timeout = request.timeout_seconds;
      if (!r.data_in && r.length)
        r.data_out.assign(static_cast<uint8_t*>(request.data),
                          static_cast<uint8_t*>(request.data) + r.length);
      requests.push_back(std::move(r));
      started_ = Now(CLOCK_MONOTONIC);  // after the recording, which is not the transport's
      return std::optional<qvb::ScsiResult>();
    };
  }
  std::vector<Recorded> requests;
  double transport = 0;  // seconds

 private:
  double started_ = 0;
};

double ChildrenCpu() {
  rusage usage{};
  getrusage(RUSAGE_CHILDREN, &usage);
  return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec +
         (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) * 1e-6;
}

struct Cost {
  double wall = 0, cpu = 0;
  int commands = 0;
  int failed = 0;
  double transport = -1;  // of `wall`, the time in opens and requests; -1: not measured
};

// Runs the updater in process, recording what it sends.
Cost RunCli(const std::vector<const char*>& args, RecordingHost& recorder, int& exit_code) {
  std::ostringstream out, err;
  std::istringstream in;
  qvb::cli::Console console{out, err, in};
  qvb::ScopedSeams installed(qvb::HostSeams{.scsi = &recorder});
  const std::size_t before = recorder.requests.size();
  const double transport_before = recorder.transport;
  Cost cost;
  const double wall = Now(CLOCK_MONOTONIC), cpu = Now(CLOCK_PROCESS_CPUTIME_ID);
  exit_code = qvb::cli::Run(static_cast<int>(args.size()), args.data(), console);
  cost.wall = Now(CLOCK_MONOTONIC) - wall;
  cost.cpu = Now(CLOCK_PROCESS_CPUTIME_ID) - cpu;
  cost.commands = static_cast<int>(recorder.requests.size() - before);
  cost.transport = recorder.transport - transport_before;
  return cost;
}

bool SgIo(int fd, const Recorded& r, uint8_t* buffer) {
  sg_io_hdr_t header;
  std::memset(&header, 0, sizeof header);
  header.interface_id = 'S';
  header.cmd_len = static_cast<unsigned char>(r.cdb.size());
  header.cmdp = const_cast<uint8_t*>(r.cdb.data());
  header.dxfer_direction =
      r.length == 0 ? SG_DXFER_NONE : (r.data_in ? SG_DXFER_FROM_DEV : SG_DXFER_TO_DEV);
  header.dxfer_len = r.length;
  header.dxferp = r.length ? buffer : nullptr;
  if (!r.data_in && r.length) std::memcpy(buffer, r.data_out.data(), r.length);
  header.timeout = (r.timeout ? r.timeout : 10) * 1000u;
  return ioctl(fd, SG_IO, &header) == 0 && header.status == 0 && header.host_status == 0 &&
         header.driver_status == 0;
}

// The same command blocks on one open descriptor, nothing else in between; with `reopen`, the
// device is opened and closed around every command, as the program's transport does.
Cost Replay(const std::vector<Recorded>& requests, bool reopen = false) {
  Cost cost;
  std::vector<uint8_t> buffer(1 << 17);
  std::string path;
  int fd = -1;
  const double wall = Now(CLOCK_MONOTONIC), cpu = Now(CLOCK_PROCESS_CPUTIME_ID);
  for (const auto& r : requests) {
    if (r.path != path || reopen) {
      if (fd >= 0) close(fd);
      path = r.path;
      fd = open(path.c_str(), O_RDWR | O_CLOEXEC);
    }
    if (fd < 0 || r.length > buffer.size() || !SgIo(fd, r, buffer.data())) ++cost.failed;
    ++cost.commands;
  }
  cost.wall = Now(CLOCK_MONOTONIC) - wall;
  cost.cpu = Now(CLOCK_PROCESS_CPUTIME_ID) - cpu;
  if (fd >= 0) close(fd);
  return cost;
}

std::string Hex(uint8_t b) {
  char text[4];
  std::snprintf(text, sizeof text, "%02x", b);
  return text;
}

// One sg_raw process per command, each waited for before the next.
Cost ReplaySgRaw(const std::vector<Recorded>& requests, const std::string& sg_raw,
                 const std::string& work) {
  Cost cost;
  const std::string payload = work + "/sg_raw-data.bin";
  std::vector<uint32_t> skip(requests.size(), 0);
  {
    std::ofstream data(payload, std::ios::binary);
    uint32_t at = 0;
    for (std::size_t i = 0; i < requests.size(); ++i) {
      skip[i] = at;
      data.write(reinterpret_cast<const char*>(requests[i].data_out.data()),
                 static_cast<std::streamsize>(requests[i].data_out.size()));
      at += static_cast<uint32_t>(requests[i].data_out.size());
    }
  }
  const double wall = Now(CLOCK_MONOTONIC), cpu = ChildrenCpu();
  for (std::size_t i = 0; i < requests.size(); ++i) {
    const Recorded& r = requests[i];
    std::vector<std::string> words = {sg_raw, "-n", "-b", "-o", "/dev/null"};
    if (r.length && r.data_in) words.push_back("-r" + std::to_string(r.length));
    if (r.length && !r.data_in) {
      words.push_back("-s" + std::to_string(r.length));
      words.push_back("-i" + payload);
      words.push_back("-k" + std::to_string(skip[i]));
    }
    words.push_back("-t" + std::to_string(r.timeout ? r.timeout : 10));
    words.push_back(r.path);
    for (uint8_t b : r.cdb) words.push_back(Hex(b));
    std::vector<char*> argv;
    for (auto& w : words) argv.push_back(w.data());
    argv.push_back(nullptr);
    pid_t pid = 0;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    int status = 0;
    if (posix_spawn(&pid, sg_raw.c_str(), &actions, nullptr, argv.data(), environ) != 0 ||
        waitpid(pid, &status, 0) != pid || !WIFEXITED(status) || WEXITSTATUS(status) != 0)
      ++cost.failed;
    posix_spawn_file_actions_destroy(&actions);
    ++cost.commands;
  }
  cost.wall = Now(CLOCK_MONOTONIC) - wall;
  cost.cpu = ChildrenCpu() - cpu;
  return cost;
}

void Row(const char* what, const Cost& cost) {
  const double per = cost.commands ? cost.wall * 1e3 / cost.commands : 0;
  std::printf("%-44s %6d %10.1f %10.1f %10.3f %6d\n", what, cost.commands, cost.wall * 1e3,
              cost.cpu * 1e3, per, cost.failed);
  if (cost.transport < 0) return;
  // The in-process runs split: what the replays below compare with, and what they leave out.
  const double per_command = cost.commands ? cost.transport * 1e3 / cost.commands : 0;
  std::printf("  %-42s %6d %10.1f %10s %10.3f\n", "of which transport (opens + requests)",
              cost.commands, cost.transport * 1e3, "", per_command);
  std::printf("  %-42s %6s %10.1f\n", "of which the rest (sysfs scan, checks)", "",
              (cost.wall - cost.transport) * 1e3);
}

}  // namespace

int main(int argc, char** argv) {
  // The machine's disks, as every program's main installs them: without them no disk is found.
  qvb::ScopedSeams platform(qvb::ThisHost());
  std::string sg_raw, work = "/tmp";
  int latency_count = 200;
  int rounds = 3;
  for (int i = 1; i + 1 < argc; i += 2) {
    const std::string arg = argv[i];
    if (arg == "--sg-raw")
      sg_raw = argv[i + 1];
    else if (arg == "--latency-count")
      latency_count = std::max(1, std::atoi(argv[i + 1]));
    else if (arg == "--rounds")
      rounds = std::max(1, std::atoi(argv[i + 1]));
    else if (arg == "--work")
      work = argv[i + 1];
  }

  RecordingHost recorder(qvb::ActiveScsiHost());
  int code = 0;
  const Cost status = RunCli({"qvb886-fwupdate", "status"}, recorder, code);
  if (code != 0 || recorder.requests.empty()) {
    std::fprintf(stderr, "qvb-rig-bench: `status` found no QVB886 (exit %d)\n", code);
    return 1;
  }
  const std::string path = recorder.requests.back().path;
  const std::size_t status_requests = recorder.requests.size();
  recorder.requests.clear();
  // The first update also gives the command blocks every other measure replays.
  Cost first = RunCli({"qvb886-fwupdate", "update", "--yes"}, recorder, code);
  if (code != 0) {
    std::fprintf(stderr, "qvb-rig-bench: the update failed (exit %d)\n", code);
    return 1;
  }
  const std::vector<Recorded> update_requests = recorder.requests;
  std::vector<Recorded> info_only, pieces;
  for (const auto& r : update_requests) {
    if (r.cdb.size() == 12 && r.cdb[0] == 0xE0 && info_only.empty())
      info_only.assign(latency_count, r);
    if (r.cdb.size() == 10 && r.cdb[0] == 0x3B && r.cdb[1] == 0x0E && pieces.size() < 65)
      pieces.push_back(r);
  }
  if (info_only.empty() || pieces.size() != 65) {
    std::fprintf(stderr, "qvb-rig-bench: the update sent no information read or not 65 pieces\n");
    return 1;
  }

  // Each measure by the program's own transport (a fresh open, aligned buffers and a close per
  // call) and by bare SG_IO, interleaved over several rounds; the best round counts, since the
  // emulated machine is shared with whatever else runs on the host.
  auto info_ours = [&] {
    Cost cost;
    const double wall = Now(CLOCK_MONOTONIC), cpu = Now(CLOCK_PROCESS_CPUTIME_ID);
    for (int i = 0; i < latency_count; ++i) {
      uint8_t block[qvb::kBridgeInfoSize] = {};
      int moved = 0;
      if (!qvb::ReadBridgeInfo(path.c_str(), block, sizeof block, &moved)) ++cost.failed;
      ++cost.commands;
    }
    cost.wall = Now(CLOCK_MONOTONIC) - wall;
    cost.cpu = Now(CLOCK_PROCESS_CPUTIME_ID) - cpu;
    return cost;
  };
  auto pieces_ours = [&] {
    Cost cost;
    const double wall = Now(CLOCK_MONOTONIC), cpu = Now(CLOCK_PROCESS_CPUTIME_ID);
    for (const auto& r : pieces) {
      const uint32_t offset = (uint32_t{r.cdb[3]} << 16) | (uint32_t{r.cdb[4]} << 8) | r.cdb[5];
      if (!qvb::WriteBuffer(path.c_str(), 0, qvb::kBufferModeMicrocodeDeferred, r.data_out.data(),
                            offset, r.length))
        ++cost.failed;
      ++cost.commands;
    }
    cost.wall = Now(CLOCK_MONOTONIC) - wall;
    cost.cpu = Now(CLOCK_PROCESS_CPUTIME_ID) - cpu;
    return cost;
  };
  auto update_ours = [&] {
    RecordingHost quiet(qvb::ActiveScsiHost());
    int rc = 0;
    Cost cost = RunCli({"qvb886-fwupdate", "update", "--yes"}, quiet, rc);
    if (rc != 0) ++cost.failed;
    return cost;
  };
  struct Measure {
    const char* name;
    std::function<Cost()> run;
    Cost best;
    bool taken = false;
  };
  std::vector<Measure> measures;
  measures.push_back({"update --yes, in process", update_ours});
  measures.push_back(
      {"update blocks, minimal SG_IO loop", [&] { return Replay(update_requests); }});
  measures.push_back({"update blocks, SG_IO loop, open per command",
                      [&] { return Replay(update_requests, true); }});
  measures.push_back({"ReadBridgeInfo, program transport", info_ours});
  measures.push_back({"ReadBridgeInfo, minimal SG_IO loop", [&] { return Replay(info_only); }});
  measures.push_back(
      {"ReadBridgeInfo, SG_IO loop, open per command", [&] { return Replay(info_only, true); }});
  measures.push_back({"65 WRITE BUFFER pieces, program transport", pieces_ours});
  measures.push_back(
      {"65 WRITE BUFFER pieces, minimal SG_IO loop", [&] { return Replay(pieces); }});
  for (int round = 0; round < rounds; ++round) {
    for (auto& m : measures) {
      const Cost cost = m.run();
      if (!m.taken || cost.wall < m.best.wall) m.best = cost;
      m.taken = true;
    }
  }

  std::printf("device %s; best of %d rounds\n", path.c_str(), rounds);
  std::printf("%-44s %6s %10s %10s %10s %6s\n", "measure", "cmds", "wall ms", "cpu ms", "ms/cmd",
              "failed");
  Row("status, in process (one refresh + check)", status);
  Row("first update --yes, in process", first);
  for (const auto& m : measures) Row(m.name, m.best);
  if (!sg_raw.empty())
    Row("update blocks, one sg_raw per command", ReplaySgRaw(update_requests, sg_raw, work));
  std::printf("requests per refresh with one QVB886: %zu (status: refresh and check)\n",
              status_requests);
  if (measures[1].best.wall > 0) {
    std::printf("ratio update ours / minimal SG_IO loop: %.2f (whole run)\n",
                measures[0].best.wall / measures[1].best.wall);
    // Like with like: the same command blocks, the scan left out.
    std::printf("ratio update transport / minimal SG_IO loop: %.2f\n",
                measures[0].best.transport / measures[1].best.wall);
  }
  return 0;
}
