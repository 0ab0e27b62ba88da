// qvb-usb-gadget: the virtual bridge as a USB mass-storage device. It serves one FunctionFS
// function of a configfs gadget (Bulk-Only Transport, interface 08/06/50) and answers every
// command block from a scenario file, so that the kernel's own usb-storage, SCSI and sg drivers
// sit between the updater and the model.
//
//   qvb-usb-gadget --ffs DIR --scenario FILE [--ready FILE] [--flash-out FILE] [--log FILE]
//                  [--udc FILE] [--blocks N]
//
// --ready is created once the descriptors are written (the gadget may then be bound to a UDC);
// on SIGTERM or SIGINT the first device's flash goes to --flash-out and the command log to
// --log. --udc names the gadget's UDC file: when the scenario makes the device vanish, the
// gadget unbinds itself there, so the host sees a real disconnect.
#include <fcntl.h>
#include <linux/usb/ch9.h>
#include <linux/usb/functionfs.h>
#include <signal.h>
#include <unistd.h>

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

#include "usb_rig/gadget/bulk_only.h"
#include "usb_rig/gadget/storage_target.h"
#include "virtual_bridge/live_scenario.h"
#include "virtual_bridge/scenario.h"

namespace {

using qvb::rig::Cbw;

constexpr uint32_t kHighSpeedPacket = 512;
constexpr uint32_t kMaxTransfer = 1u << 20;
constexpr uint8_t kGetMaxLun = 0xFE;
constexpr uint8_t kBulkOnlyReset = 0xFF;

struct Options {
  std::string ffs, scenario, ready, flash_out, log, udc;
  uint32_t blocks = 2048;
};

bool ParseOptions(int argc, char** argv, Options& options) {
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (i + 1 >= argc) return false;
    const std::string value = argv[++i];
    if (arg == "--ffs")
      options.ffs = value;
    else if (arg == "--scenario")
      options.scenario = value;
    else if (arg == "--ready")
      options.ready = value;
    else if (arg == "--flash-out")
      options.flash_out = value;
    else if (arg == "--log")
      options.log = value;
    else if (arg == "--udc")
      options.udc = value;
    else if (arg == "--blocks")
      options.blocks = static_cast<uint32_t>(std::strtoul(value.c_str(), nullptr, 0));
    else
      return false;
  }
  return !options.ffs.empty() && !options.scenario.empty();
}

// An owned file descriptor.
class Fd {
 public:
  explicit Fd(int fd = -1) : fd_(fd) {}
  ~Fd() {
    if (fd_ >= 0) ::close(fd_);
  }
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  int get() const { return fd_; }
  bool ok() const { return fd_ >= 0; }

 private:
  int fd_;
};

struct __attribute__((packed)) SpeedDescriptors {
  usb_interface_descriptor interface;
  usb_endpoint_descriptor_no_audio in;
  usb_endpoint_descriptor_no_audio out;
};

struct __attribute__((packed)) DescriptorBlock {
  usb_functionfs_descs_head_v2 header;
  __le32 fs_count;
  __le32 hs_count;
  SpeedDescriptors fs;
  SpeedDescriptors hs;
};

SpeedDescriptors MakeSpeed(uint16_t packet) {
  SpeedDescriptors d{};
  d.interface.bLength = USB_DT_INTERFACE_SIZE;
  d.interface.bDescriptorType = USB_DT_INTERFACE;
  d.interface.bNumEndpoints = 2;
  d.interface.bInterfaceClass = USB_CLASS_MASS_STORAGE;
  d.interface.bInterfaceSubClass = 0x06;  // SCSI transparent command set
  d.interface.bInterfaceProtocol = 0x50;  // Bulk-Only Transport
  d.interface.iInterface = 1;
  // IN first: FunctionFS names the endpoint files in descriptor order (ep1 IN, ep2 OUT).
  d.in.bLength = USB_DT_ENDPOINT_SIZE;
  d.in.bDescriptorType = USB_DT_ENDPOINT;
  d.in.bEndpointAddress = 1 | USB_DIR_IN;
  d.in.bmAttributes = USB_ENDPOINT_XFER_BULK;
  d.in.wMaxPacketSize = htole16(packet);
  d.out = d.in;
  d.out.bEndpointAddress = 2 | USB_DIR_OUT;
  return d;
}

bool WriteDescriptors(int ep0) {
  DescriptorBlock block{};
  block.header.magic = htole32(FUNCTIONFS_DESCRIPTORS_MAGIC_V2);
  block.header.length = htole32(sizeof block);
  block.header.flags = htole32(FUNCTIONFS_HAS_FS_DESC | FUNCTIONFS_HAS_HS_DESC);
  block.fs_count = htole32(3);
  block.hs_count = htole32(3);
  block.fs = MakeSpeed(64);
  block.hs = MakeSpeed(kHighSpeedPacket);
  if (::write(ep0, &block, sizeof block) != static_cast<ssize_t>(sizeof block)) return false;

  static const char kName[] = "QVB886 virtual bridge";
  struct __attribute__((packed)) {
    usb_functionfs_strings_head header;
    __le16 language;
    char text[sizeof kName];
  } strings{};
  strings.header.magic = htole32(FUNCTIONFS_STRINGS_MAGIC);
  strings.header.length = htole32(sizeof strings);
  strings.header.str_count = htole32(1);
  strings.header.lang_count = htole32(1);
  strings.language = htole16(0x0409);
  std::memcpy(strings.text, kName, sizeof kName);
  return ::write(ep0, &strings, sizeof strings) == static_cast<ssize_t>(sizeof strings);
}

// Everything the threads share. The bulk thread holds `lock` while it runs a command, so the
// flash and the log are never dumped half-way through one.
struct Gadget {
  qvb::virt::VirtualBridge bridge;
  qvb::rig::StorageTarget target{bridge, 2048};
  std::mutex lock;
  std::atomic<int> resets{0};
  std::atomic<bool> unbinding{false};
  Options options;
};

void Unbind(Gadget& gadget) {
  if (gadget.options.udc.empty() || gadget.unbinding.exchange(true)) return;
  // From a thread of its own: the unbind waits for the function's I/O, which this very
  // command's thread would hold.
  std::thread([&gadget] {
    std::ofstream udc(gadget.options.udc);
    udc << "\n";
  }).detach();
}

void ServeControl(Gadget& gadget, int ep0) {
  usb_functionfs_event events[4];
  for (;;) {
    const ssize_t n = ::read(ep0, events, sizeof events);
    if (n < 0) {
      if (errno == EINTR) continue;
      return;
    }
    for (ssize_t i = 0; i < n / static_cast<ssize_t>(sizeof events[0]); ++i) {
      if (events[i].type != FUNCTIONFS_SETUP) continue;
      const usb_ctrlrequest& setup = events[i].u.setup;
      const bool in = (setup.bRequestType & USB_DIR_IN) != 0;
      const bool class_request = (setup.bRequestType & USB_TYPE_MASK) == USB_TYPE_CLASS;
      if (class_request && setup.bRequest == kGetMaxLun && in) {
        const uint8_t max_lun = 0;
        if (::write(ep0, &max_lun, 1) < 0) std::perror("qvb-usb-gadget: GET MAX LUN");
      } else if (class_request && setup.bRequest == kBulkOnlyReset && !in) {
        ++gadget.resets;
        if (::read(ep0, nullptr, 0) < 0) std::perror("qvb-usb-gadget: reset");
      } else {
        // The transfer in the wrong direction is FunctionFS's way of stalling ep0.
        uint8_t none = 0;
        if (in) {
          [[maybe_unused]] ssize_t r = ::read(ep0, &none, 0);
        } else {
          [[maybe_unused]] ssize_t r = ::write(ep0, &none, 0);
        }
      }
    }
  }
}

bool WriteAll(int fd, const uint8_t* data, uint32_t length) {
  uint32_t done = 0;
  while (done < length) {
    const ssize_t n = ::write(fd, data + done, length - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<uint32_t>(n);
  }
  return true;
}

bool ReadAll(int fd, uint8_t* data, uint32_t length) {
  uint32_t done = 0;
  while (done < length) {
    const ssize_t n = ::read(fd, data + done, length - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<uint32_t>(n);
  }
  return true;
}

// One Bulk-Only command after another. Any failed transfer (the host reset the device, the
// gadget was unbound) drops the command and waits for the next wrapper: reads block until the
// function is enabled again.
void ServeBulk(Gadget& gadget, int in, int out) {
  std::vector<uint8_t> wrapper(kHighSpeedPacket);
  std::vector<uint8_t> data(kMaxTransfer + kHighSpeedPacket);
  for (;;) {
    const ssize_t n = ::read(out, wrapper.data(), wrapper.size());
    if (n < 0) {
      if (errno != EINTR && errno != ESHUTDOWN && errno != ECONNRESET && errno != EAGAIN)
        usleep(10000);  // an unexpected error: do not spin on it
      continue;
    }
    Cbw cbw;
    if (!qvb::rig::ParseCbw(wrapper.data(), static_cast<std::size_t>(n), cbw)) {
      std::fprintf(stderr, "qvb-usb-gadget: ignored %zd bytes that are no command wrapper\n", n);
      continue;
    }
    if (cbw.data_length > kMaxTransfer) {
      // Too big for this gadget: refuse it without a data phase.
      if (cbw.data_in) {
        uint8_t none = 0;
        [[maybe_unused]] ssize_t r = ::read(in, &none, 1);  // halts IN
      }
      const auto csw = qvb::rig::MakeCsw(cbw.tag, cbw.data_length, qvb::rig::kCswFailed);
      WriteAll(in, csw.data(), csw.size());
      continue;
    }
    if (!cbw.data_in && cbw.data_length > 0 && !ReadAll(out, data.data(), cbw.data_length))
      continue;
    if (cbw.data_in) std::memset(data.data(), 0, cbw.data_length);

    qvb::rig::Outcome outcome;
    bool vanished = false;
    {
      std::lock_guard<std::mutex> hold(gadget.lock);
      outcome = gadget.target.Execute(cbw, data.data(), vanished);
    }
    if (vanished) {
      Unbind(gadget);  // no status: the device is gone
      continue;
    }
    qvb::rig::DataInPlan plan = cbw.data_in ? qvb::rig::PlanDataIn(cbw, outcome, kHighSpeedPacket)
                                            : qvb::rig::PlanNoDataIn(cbw, outcome);
    bool sent = true;
    if (plan.stall) {
      uint8_t none = 0;
      // A read on the IN endpoint halts it; FunctionFS answers EBADMSG when it did.
      [[maybe_unused]] ssize_t r = ::read(in, &none, 1);
    } else if (plan.send > 0) {
      sent = WriteAll(in, data.data(), plan.send);
    }
    if (sent && plan.zero_length) sent = ::write(in, data.data(), 0) == 0;
    if (!sent) continue;
    const auto csw = qvb::rig::MakeCsw(cbw.tag, plan.residue, plan.status);
    WriteAll(in, csw.data(), csw.size());
  }
}

void Dump(Gadget& gadget) {
  std::lock_guard<std::mutex> hold(gadget.lock);
  if (!gadget.options.flash_out.empty() &&
      !qvb::virt::WriteFlashFile(gadget.bridge, 0, gadget.options.flash_out))
    std::fprintf(stderr, "qvb-usb-gadget: cannot write %s\n", gadget.options.flash_out.c_str());
  if (gadget.options.log.empty()) return;
  std::ofstream log(gadget.options.log);
  gadget.target.WriteLog(log);
  log << "# resets " << gadget.resets.load() << '\n';
}

}  // namespace

int main(int argc, char** argv) {
  static Gadget gadget;
  if (!ParseOptions(argc, argv, gadget.options)) {
    std::fprintf(stderr,
                 "usage: qvb-usb-gadget --ffs DIR --scenario FILE [--ready FILE] "
                 "[--flash-out FILE] [--log FILE] [--udc FILE] [--blocks N]\n");
    return 2;
  }
  const qvb::virt::ScenarioResult loaded =
      qvb::virt::LoadScenarioFile(gadget.options.scenario, gadget.bridge);
  if (!loaded.ok || gadget.bridge.devices().empty()) {
    std::fprintf(stderr, "qvb-usb-gadget: %s: %s\n", gadget.options.scenario.c_str(),
                 loaded.ok ? "no device" : loaded.error.c_str());
    return 2;
  }
  gadget.target.set_blocks(gadget.options.blocks);

  // The signals are taken by sigwait below, not by whichever thread they happen to hit.
  sigset_t signals;
  sigemptyset(&signals);
  sigaddset(&signals, SIGTERM);
  sigaddset(&signals, SIGINT);
  pthread_sigmask(SIG_BLOCK, &signals, nullptr);

  Fd ep0(::open((gadget.options.ffs + "/ep0").c_str(), O_RDWR));
  if (!ep0.ok() || !WriteDescriptors(ep0.get())) {
    std::perror("qvb-usb-gadget: ep0");
    return 1;
  }
  Fd in(::open((gadget.options.ffs + "/ep1").c_str(), O_RDWR));
  Fd out(::open((gadget.options.ffs + "/ep2").c_str(), O_RDWR));
  if (!in.ok() || !out.ok()) {
    std::perror("qvb-usb-gadget: endpoints");
    return 1;
  }
  if (!gadget.options.ready.empty()) std::ofstream(gadget.options.ready) << "ready\n";

  std::thread(ServeControl, std::ref(gadget), ep0.get()).detach();
  std::thread(ServeBulk, std::ref(gadget), in.get(), out.get()).detach();

  int received = 0;
  sigwait(&signals, &received);
  Dump(gadget);
  // The threads still block in their reads: leave without unwinding them.
  std::fflush(nullptr);
  _exit(0);
}
