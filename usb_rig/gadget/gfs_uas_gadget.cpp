// qvb-uas-gadget: the virtual bridge as a USB Attached SCSI device, through GadgetFS. FunctionFS
// refuses the pipe-usage descriptors that the uas driver looks for; GadgetFS takes the
// configuration descriptors as written. One interface: alternate setting 0 Bulk-Only (described
// only: with the uas driver loaded the host switches to setting 1 at once), alternate setting 1
// UAS with a command, a status, a data-in and a data-out pipe. Without streams (high speed):
// command unit in, READ or WRITE READY on the status pipe, the data, then the status unit with
// the sense data inside.
//
//   qvb-uas-gadget --gadgetfs DIR --scenario FILE [--udc NAME] [--ready FILE]
//                  [--flash-out FILE] [--log FILE] [--blocks N] [--reply-length NAME=N]
//                  [--disconnect FILE]
//
// --reply-length makes the reply to the vendor read NAME (a name of the command log, such as
// flash_status) N bytes long, zero-padded: a bridge whose reply is longer than the updater
// reads. Through uas, which cannot tell the device how much it wants, that is what shows.
// Writing the descriptors to DIR/NAME (default dummy_udc) binds the gadget: --ready is created
// then. On SIGTERM or SIGINT the flash goes to --flash-out, the command log to --log, and the
// gadget leaves the bus as the program ends. --disconnect names the UDC's soft_connect file:
// when the scenario makes the device vanish, the gadget pulls itself off the bus there, so the
// host sees a real disconnect; without it a vanished device just stops answering.
#include <fcntl.h>
#include <linux/usb/ch9.h>
#include <linux/usb/gadgetfs.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "usb_rig/gadget/storage_target.h"
#include "usb_rig/gadget/uas.h"
#include "virtual_bridge/live_scenario.h"
#include "virtual_bridge/scenario.h"

namespace {

using qvb::rig::Direction;

constexpr uint32_t kMaxTransfer = 1u << 20;
// Room for a reply whose length the command block does not give.
constexpr uint32_t kNaturalReply = 64u << 10;
constexpr uint32_t kChunk = 16u << 10;
constexpr uint8_t kGetMaxLun = 0xFE;
constexpr uint8_t kPipeUsage = 0x24;
constexpr uint8_t kScsiGood = 0x00;
constexpr uint8_t kScsiCheckCondition = 0x02;

// The pipes of setting 1 (and the two of setting 0, which share the data pipes' addresses), with
// the dummy UDC's endpoint files that serve them.
enum Pipe { kCommand, kStatus, kDataIn, kDataOut, kPipes };
struct PipeInfo {
  uint8_t address;
  uint8_t usage;  // pipe ID of the pipe-usage descriptor
  const char* file;
};
constexpr PipeInfo kPipeInfo[kPipes] = {
    {0x07, 1, "ep7out-bulk"},
    {0x86, 2, "ep6in-bulk"},
    {0x81, 3, "ep1in-bulk"},
    {0x02, 4, "ep2out-bulk"},
};

struct Options {
  std::string gadgetfs, udc = "dummy_udc", scenario, ready, flash_out, log, disconnect;
  uint32_t blocks = 2048;
  std::string padded_reply;  // --reply-length NAME
  uint32_t padded_length = 0;
};

bool ParseOptions(int argc, char** argv, Options& options) {
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (i + 1 >= argc) return false;
    const std::string value = argv[++i];
    if (arg == "--gadgetfs")
      options.gadgetfs = value;
    else if (arg == "--udc")
      options.udc = value;
    else if (arg == "--scenario")
      options.scenario = value;
    else if (arg == "--ready")
      options.ready = value;
    else if (arg == "--flash-out")
      options.flash_out = value;
    else if (arg == "--log")
      options.log = value;
    else if (arg == "--disconnect")
      options.disconnect = value;
    else if (arg == "--blocks")
      options.blocks = static_cast<uint32_t>(std::strtoul(value.c_str(), nullptr, 0));
    else if (arg == "--reply-length") {
      const std::size_t equals = value.find('=');
      if (equals == std::string::npos || equals == 0) return false;
      options.padded_reply = value.substr(0, equals);
      options.padded_length =
          static_cast<uint32_t>(std::strtoul(value.c_str() + equals + 1, nullptr, 0));
      if (options.padded_length == 0 || options.padded_length > kNaturalReply) return false;
    } else
      return false;
  }
  return !options.gadgetfs.empty() && !options.scenario.empty();
}

class Fd {
 public:
  explicit Fd(int fd = -1) : fd_(fd) {}
  ~Fd() { reset(); }
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  void reset(int fd = -1) {
    if (fd_ >= 0) ::close(fd_);
    fd_ = fd;
  }
  int release() {
    const int fd = fd_;
    fd_ = -1;
    return fd;
  }
  int get() const { return fd_; }
  bool ok() const { return fd_ >= 0; }

 private:
  int fd_;
};

void Append(std::vector<uint8_t>& out, std::initializer_list<uint8_t> bytes) {
  out.insert(out.end(), bytes.begin(), bytes.end());
}

void AppendEndpoint(std::vector<uint8_t>& out, uint8_t address, uint16_t packet) {
  Append(out, {USB_DT_ENDPOINT_SIZE, USB_DT_ENDPOINT, address, USB_ENDPOINT_XFER_BULK,
               static_cast<uint8_t>(packet), static_cast<uint8_t>(packet >> 8), 0});
}

// One configuration at one speed: settings 0 and 1 of interface 0.
std::vector<uint8_t> Configuration(uint16_t packet, uint8_t type) {
  std::vector<uint8_t> c;
  Append(c, {USB_DT_CONFIG_SIZE, type, 0, 0, 1, 1, 0, 0xC0, 1});
  Append(c,
         {USB_DT_INTERFACE_SIZE, USB_DT_INTERFACE, 0, 0, 2, USB_CLASS_MASS_STORAGE, 0x06, 0x50, 0});
  AppendEndpoint(c, kPipeInfo[kDataIn].address, packet);
  AppendEndpoint(c, kPipeInfo[kDataOut].address, packet);
  Append(c,
         {USB_DT_INTERFACE_SIZE, USB_DT_INTERFACE, 0, 1, 4, USB_CLASS_MASS_STORAGE, 0x06, 0x62, 0});
  for (const PipeInfo& pipe : kPipeInfo) {
    AppendEndpoint(c, pipe.address, packet);
    Append(c, {4, kPipeUsage, pipe.usage, 0});
  }
  c[2] = static_cast<uint8_t>(c.size());
  c[3] = static_cast<uint8_t>(c.size() >> 8);
  return c;
}

bool WriteDeviceDescriptors(int ep0) {
  std::vector<uint8_t> block = {0, 0, 0, 0};  // tag 0: the device's descriptors
  const auto full = Configuration(64, USB_DT_CONFIG);
  const auto high = Configuration(512, USB_DT_CONFIG);
  block.insert(block.end(), full.begin(), full.end());
  block.insert(block.end(), high.begin(), high.end());
  // No strings: the updater reads its names from INQUIRY, not from the USB descriptors.
  Append(block, {USB_DT_DEVICE_SIZE, USB_DT_DEVICE, 0x00, 0x02, 0, 0, 0, 64, 0x21, 0x7E, 0x86, 0x08,
                 0x00, 0x01, 0, 0, 0, 1});
  return ::write(ep0, block.data(), block.size()) == static_cast<ssize_t>(block.size());
}

struct Gadget {
  qvb::virt::VirtualBridge bridge;
  qvb::rig::StorageTarget target{bridge, 2048};
  std::mutex lock;
  Fd pipes[kPipes];
  std::atomic<bool> running{false};
  std::atomic<int> task_units{0};
  std::atomic<int> alt_setting{0};
  std::atomic<bool> disconnected{false};
  Options options;
};

// GadgetFS unbinds only when ep0 is closed, which the control thread's read holds open: the
// UDC's soft switch takes the device off the bus instead, the gadget still registered.
void Disconnect(Gadget& gadget) {
  if (gadget.options.disconnect.empty() || gadget.disconnected.exchange(true)) return;
  std::thread([&gadget] {
    std::ofstream soft_connect(gadget.options.disconnect);
    soft_connect << "disconnect\n";
    soft_connect.flush();
    if (!soft_connect)
      std::fprintf(stderr, "qvb-uas-gadget: cannot disconnect through %s\n",
                   gadget.options.disconnect.c_str());
  }).detach();
}

// Opens and enables the endpoint files of the UAS pipes (tag 1, then the full- and high-speed
// endpoint descriptors); once done, the bulk side may run.
bool EnablePipes(Gadget& gadget) {
  for (int p = 0; p < kPipes; ++p) {
    if (gadget.pipes[p].ok()) continue;
    const std::string file = gadget.options.gadgetfs + "/" + kPipeInfo[p].file;
    Fd fd(::open(file.c_str(), O_RDWR));
    if (!fd.ok()) {
      std::fprintf(stderr, "qvb-uas-gadget: %s: %s\n", file.c_str(), std::strerror(errno));
      return false;
    }
    std::vector<uint8_t> block = {1, 0, 0, 0};
    AppendEndpoint(block, kPipeInfo[p].address, 64);
    AppendEndpoint(block, kPipeInfo[p].address, 512);
    if (::write(fd.get(), block.data(), block.size()) != static_cast<ssize_t>(block.size())) {
      std::fprintf(stderr, "qvb-uas-gadget: enabling %s: %s\n", file.c_str(), std::strerror(errno));
      return false;
    }
    gadget.pipes[p].reset(fd.release());
  }
  return true;
}

// A write the host took only part of (it asked for less than the reply) ends the transfer: a
// device sends its packets once, and the rest must not turn up in the next command's data.
bool WriteAll(int fd, const uint8_t* data, uint32_t length) {
  uint32_t done = 0;
  while (done < length) {
    const uint32_t chunk = std::min(length - done, kChunk);
    const ssize_t n = ::write(fd, data + done, chunk);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    if (static_cast<uint32_t>(n) < chunk) return true;
    done += static_cast<uint32_t>(n);
  }
  return true;
}

bool ReadAll(int fd, uint8_t* data, uint32_t length) {
  uint32_t done = 0;
  while (done < length) {
    const ssize_t n = ::read(fd, data + done, std::min(length - done, kChunk));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<uint32_t>(n);
  }
  return true;
}

template <typename Bytes>
bool Send(int fd, const Bytes& bytes) {
  return WriteAll(fd, bytes.data(), static_cast<uint32_t>(bytes.size()));
}

// One command after another, the way a bridge without streams serves them.
void ServeUas(Gadget& gadget) {
  const int command = gadget.pipes[kCommand].get();
  const int status = gadget.pipes[kStatus].get();
  const int data_in = gadget.pipes[kDataIn].get();
  const int data_out = gadget.pipes[kDataOut].get();
  std::vector<uint8_t> unit(512);
  std::vector<uint8_t> data(kMaxTransfer);
  for (;;) {
    const ssize_t n = ::read(command, unit.data(), unit.size());
    if (n < 0) {
      if (errno != EINTR) usleep(10000);  // reset or disconnect: wait for the next command
      continue;
    }
    qvb::rig::CommandIu iu;
    bool task = false;
    if (!qvb::rig::ParseCommandIu(unit.data(), static_cast<std::size_t>(n), iu, task)) {
      std::fprintf(stderr, "qvb-uas-gadget: ignored %zd bytes that are no command unit\n", n);
      continue;
    }
    if (task) {
      // Abort, reset: nothing runs in the background here, so every one is complete.
      ++gadget.task_units;
      Send(status, qvb::rig::MakeResponseIu(iu.tag));
      continue;
    }
    const qvb::rig::Transfer transfer = qvb::rig::TransferOf(iu.cb.data(), iu.cb_length);
    if (!iu.lun_zero) {
      if (iu.cb[0] == 0x12 && transfer.length > 0) {
        const uint32_t send = std::min<uint32_t>(transfer.length, sizeof qvb::rig::kNoUnitInquiry);
        if (!Send(status, qvb::rig::MakeReadyIu(qvb::rig::kIuReadReady, iu.tag)) ||
            !WriteAll(data_in, qvb::rig::kNoUnitInquiry, send))
          continue;
        Send(status, qvb::rig::MakeStatusIu(iu.tag, kScsiGood, nullptr, 0));
      } else {
        Send(status, qvb::rig::MakeStatusIu(iu.tag, kScsiCheckCondition, qvb::rig::kNoUnitSense,
                                            sizeof qvb::rig::kNoUnitSense));
      }
      continue;
    }
    qvb::rig::Cbw cbw;
    cbw.tag = iu.tag;
    cbw.cb = iu.cb;
    cbw.cb_length = iu.cb_length;
    cbw.data_in = transfer.direction == Direction::In;
    cbw.data_length = transfer.direction == Direction::None ? 0
                      : transfer.known                      ? transfer.length
                                                            : kNaturalReply;
    if (cbw.data_length > kMaxTransfer) {
      Send(status, qvb::rig::MakeStatusIu(iu.tag, kScsiCheckCondition, nullptr, 0));
      continue;
    }
    if (transfer.direction == Direction::Out) {
      if (!Send(status, qvb::rig::MakeReadyIu(qvb::rig::kIuWriteReady, iu.tag)) ||
          !ReadAll(data_out, data.data(), cbw.data_length))
        continue;
    } else {
      std::memset(data.data(), 0, cbw.data_length);
    }
    qvb::rig::Outcome outcome;
    bool vanished = false;
    uint8_t sense[qvb::rig::kMaxSenseInIu] = {};
    uint32_t sense_length = 0;
    {
      std::lock_guard<std::mutex> hold(gadget.lock);
      outcome = gadget.target.Execute(cbw, data.data(), vanished);
      if (!outcome.good && !vanished) sense_length = gadget.target.Sense(sense, sizeof sense);
      // The buffer is zero-filled beyond the reply, so the padding is zeros.
      if (outcome.good && cbw.data_in && !transfer.known && !gadget.options.padded_reply.empty() &&
          gadget.target.log().back().name == gadget.options.padded_reply)
        outcome.transferred = std::max(outcome.transferred, gadget.options.padded_length);
    }
    if (vanished) {
      Disconnect(gadget);  // no status: the device is gone
      continue;
    }
    if (outcome.good && cbw.data_in) {
      const uint32_t send = std::min(outcome.transferred, cbw.data_length);
      if (!Send(status, qvb::rig::MakeReadyIu(qvb::rig::kIuReadReady, iu.tag))) continue;
      if (send > 0 && !WriteAll(data_in, data.data(), send)) continue;
      // A short reply that ends on a packet boundary (or is empty) needs a zero-length packet
      // to end the host's transfer; a reply of unknown length ends where it ends.
      const bool short_on_boundary =
          send == 0 || (transfer.known && send < cbw.data_length && send % 512 == 0);
      if (short_on_boundary && ::write(data_in, data.data(), 0) < 0) continue;
    }
    if (outcome.good)
      Send(status, qvb::rig::MakeStatusIu(iu.tag, kScsiGood, nullptr, 0));
    else
      Send(status, qvb::rig::MakeStatusIu(iu.tag, kScsiCheckCondition, sense, sense_length));
  }
}

void StartBulk(Gadget& gadget) {
  if (gadget.running.load()) return;
  if (!EnablePipes(gadget)) return;
  gadget.running = true;
  std::thread(ServeUas, std::ref(gadget)).detach();
}

void Acknowledge(int ep0) {
  if (::read(ep0, nullptr, 0) < 0 && errno != EL2HLT)
    std::fprintf(stderr, "qvb-uas-gadget: status stage: %s\n", std::strerror(errno));
}

void Stall(int ep0, bool in) {
  uint8_t none = 0;
  // A transfer in the wrong direction is GadgetFS's way of stalling ep0.
  if (in) {
    [[maybe_unused]] ssize_t r = ::read(ep0, &none, 0);
  } else {
    [[maybe_unused]] ssize_t r = ::write(ep0, &none, 0);
  }
}

void ServeControl(Gadget& gadget, int ep0) {
  usb_gadgetfs_event events[4];
  for (;;) {
    const ssize_t n = ::read(ep0, events, sizeof events);
    if (n < 0) {
      if (errno == EINTR || errno == EAGAIN) continue;
      std::fprintf(stderr, "qvb-uas-gadget: ep0: %s\n", std::strerror(errno));
      usleep(10000);
      continue;
    }
    for (ssize_t i = 0; i < n / static_cast<ssize_t>(sizeof events[0]); ++i) {
      if (events[i].type != GADGETFS_SETUP) continue;
      const usb_ctrlrequest& setup = events[i].u.setup;
      const bool in = (setup.bRequestType & USB_DIR_IN) != 0;
      const uint8_t type = setup.bRequestType & USB_TYPE_MASK;
      if (type == USB_TYPE_STANDARD && setup.bRequest == USB_REQ_SET_CONFIGURATION) {
        if ((le16toh(setup.wValue) & 0xFF) != 0) StartBulk(gadget);
        Acknowledge(ep0);
      } else if (type == USB_TYPE_STANDARD && setup.bRequest == USB_REQ_SET_INTERFACE) {
        const int alt = le16toh(setup.wValue);
        if (alt > 1) {
          Stall(ep0, in);
          continue;
        }
        gadget.alt_setting = alt;
        StartBulk(gadget);
        Acknowledge(ep0);
      } else if (type == USB_TYPE_STANDARD && setup.bRequest == USB_REQ_GET_INTERFACE && in) {
        const uint8_t alt = static_cast<uint8_t>(gadget.alt_setting.load());
        [[maybe_unused]] ssize_t r = ::write(ep0, &alt, 1);
      } else if (type == USB_TYPE_STANDARD && setup.bRequest == USB_REQ_GET_STATUS && in) {
        const uint8_t zero[2] = {0, 0};
        [[maybe_unused]] ssize_t r =
            ::write(ep0, zero, std::min<std::size_t>(2, le16toh(setup.wLength)));
      } else if (type == USB_TYPE_STANDARD && setup.bRequest == USB_REQ_CLEAR_FEATURE && !in) {
        Acknowledge(ep0);
      } else if (type == USB_TYPE_CLASS && setup.bRequest == kGetMaxLun && in) {
        const uint8_t max_lun = 0;
        [[maybe_unused]] ssize_t r = ::write(ep0, &max_lun, 1);
      } else {
        Stall(ep0, in);
      }
    }
  }
}

void Dump(Gadget& gadget) {
  std::lock_guard<std::mutex> hold(gadget.lock);
  if (!gadget.options.flash_out.empty() &&
      !qvb::virt::WriteFlashFile(gadget.bridge, 0, gadget.options.flash_out))
    std::fprintf(stderr, "qvb-uas-gadget: cannot write %s\n", gadget.options.flash_out.c_str());
  if (gadget.options.log.empty()) return;
  std::ofstream log(gadget.options.log);
  gadget.target.WriteLog(log);  // the length is 65536 where a block gives none
  log << "# alt " << gadget.alt_setting.load() << '\n';
  log << "# task-units " << gadget.task_units.load() << '\n';
  log << "# disconnected " << (gadget.disconnected.load() ? 1 : 0) << '\n';
}

}  // namespace

int main(int argc, char** argv) {
  static Gadget gadget;
  if (!ParseOptions(argc, argv, gadget.options)) {
    std::fprintf(stderr,
                 "usage: qvb-uas-gadget --gadgetfs DIR --scenario FILE [--udc NAME] "
                 "[--ready FILE] [--flash-out FILE] [--log FILE] [--blocks N] "
                 "[--reply-length NAME=N] [--disconnect FILE]\n");
    return 2;
  }
  const qvb::virt::ScenarioResult loaded =
      qvb::virt::LoadScenarioFile(gadget.options.scenario, gadget.bridge);
  if (!loaded.ok || gadget.bridge.devices().empty()) {
    std::fprintf(stderr, "qvb-uas-gadget: %s: %s\n", gadget.options.scenario.c_str(),
                 loaded.ok ? "no device" : loaded.error.c_str());
    return 2;
  }
  gadget.target.set_blocks(gadget.options.blocks);

  sigset_t signals;
  sigemptyset(&signals);
  sigaddset(&signals, SIGTERM);
  sigaddset(&signals, SIGINT);
  pthread_sigmask(SIG_BLOCK, &signals, nullptr);

  const std::string device = gadget.options.gadgetfs + "/" + gadget.options.udc;
  Fd ep0(::open(device.c_str(), O_RDWR));
  if (!ep0.ok() || !WriteDeviceDescriptors(ep0.get())) {
    std::fprintf(stderr, "qvb-uas-gadget: %s: %s\n", device.c_str(), std::strerror(errno));
    return 1;
  }
  if (!gadget.options.ready.empty()) std::ofstream(gadget.options.ready) << "ready\n";
  std::thread(ServeControl, std::ref(gadget), ep0.get()).detach();

  int received = 0;
  sigwait(&signals, &received);
  Dump(gadget);
  std::fflush(nullptr);
  _exit(0);
}
