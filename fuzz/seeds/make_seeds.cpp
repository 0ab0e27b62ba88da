// Writes the seed corpus of the fuzz harnesses from the virtual scenarios: each operation runs
// once against the virtual bridge, and every answer the bridge gives is written down in the
// harnesses' input format. Each seed is then run again from its bytes and must give the same
// outcome as on the virtual bridge.
//   fuzz_seeds <fuzz folder>      (writes <fuzz folder>/corpus/<harness>/<seed>)
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/tform1.h"
#include "app/toolkit/headless/headless_toolkit.h"
#include "device/bridge_commands.h"
#include "device/enumeration.h"
#include "device/guarded_scsi_host.h"
#include "device/identification.h"
#include "device/linux/disk_interfaces_linux.h"
#include "firmware/update.h"
#include "fuzz/fuzz_device.h"
#include "fuzz/harnesses.h"
#include "fuzz/sysfs_tree.h"
#include "virtual_bridge/scenario.h"
#include "virtual_bridge/virtual_bridge.h"

namespace qvb::fuzz {
namespace {
namespace fs = std::filesystem;

uint32_t Get24(const uint8_t* at) {
  return (uint32_t{at[0]} << 16) | (uint32_t{at[1]} << 8) | at[2];
}

// The virtual bridge, with every answer written down as the input device would read it.
class Recorder : public GuardedScsiHost {
 public:
  Recorder(virt::VirtualBridge& bridge, std::vector<uint8_t>& out)
      : GuardedScsiHost(bridge), out_(out), memory_(kDeviceMemorySize, 0xFF) {
    after_open = [this](const char*, ShareMode, const ScsiResult& result) {
      if (!result.ok()) out_.push_back(kOpenFails);
    };
    before_send = [this](const std::string&, const ScsiRequest& request) {
      Keep(request);
      return std::optional<ScsiResult>();
    };
    after_send = [this](const std::string&, const ScsiRequest& request, const ScsiResult& result) {
      Answer(request, result);
    };
  }

 private:
  static bool Buffer0(const ScsiRequest& request) {
    return request.cdb_length == 10 && request.cdb[2] == 0;
  }

  // The input device keeps every piece it is sent, whatever it answers.
  void Keep(const ScsiRequest& request) {
    const uint8_t* cdb = request.cdb;
    auto* buffer = static_cast<const uint8_t*>(request.data);
    if (request.direction == ScsiDirection::ToDevice && Buffer0(request) &&
        cdb[0] == kOpWriteBuffer && cdb[1] == kBufferModeMicrocodeDeferred && buffer) {
      const uint32_t offset = Get24(&cdb[3]);
      if (offset < memory_.size())
        std::memcpy(memory_.data() + offset, buffer,
                    std::min<std::size_t>(request.transfer_length, memory_.size() - offset));
    }
  }

  void Answer(const ScsiRequest& request, const ScsiResult& result) {
    const uint32_t length = request.transfer_length;
    const uint8_t* cdb = request.cdb;
    auto* buffer = static_cast<const uint8_t*>(request.data);
    uint8_t status = kStatusGood;
    if (result.outcome == ScsiOutcome::OsError || result.outcome == ScsiOutcome::Permission ||
        result.outcome == ScsiOutcome::Busy)
      status = kStatusRejected;
    else if (result.outcome == ScsiOutcome::ScsiStatus)
      status = kStatusCheckCondition;
    if (request.direction == ScsiDirection::ToDevice) {
      out_.push_back(status);
      return;
    }
    const uint32_t delivered = std::min(result.transferred, length);
    const bool echo_form =
        Buffer0(request) && cdb[0] == kOpReadBuffer && cdb[1] == kBufferModeVendor;
    const uint32_t offset = Get24(&cdb[3]);
    if (echo_form && delivered == length && offset < memory_.size() &&
        length <= memory_.size() - offset &&
        std::memcmp(buffer, memory_.data() + offset, length) == 0) {
      out_.push_back(static_cast<uint8_t>(status | kEcho));
      return;
    }
    out_.push_back(status);
    if (delivered == length || delivered >= kLengthLying) {
      out_.push_back(kLengthAll);  // what was not delivered is zeros in the buffer already
      out_.insert(out_.end(), buffer, buffer + length);
    } else {
      out_.push_back(static_cast<uint8_t>(delivered));
      out_.insert(out_.end(), buffer, buffer + delivered);
    }
  }

  std::vector<uint8_t>& out_;
  std::vector<uint8_t> memory_;
};

int g_failures = 0;

void Check(bool same, const std::string& seed, const std::string& what) {
  if (same) return;
  std::fprintf(stderr, "seed %s: %s differs when run from its bytes\n", seed.c_str(), what.c_str());
  ++g_failures;
}

void WriteSeed(const fs::path& folder, const std::string& name, const std::vector<uint8_t>& bytes,
               int (*harness)(const uint8_t*, std::size_t), const std::string& outcome) {
  harness(bytes.data(), bytes.size());  // its invariants hold on the seed
  fs::create_directories(folder);
  std::ofstream out(folder / name, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
  std::printf("%s/%s: %zu bytes, %s\n", folder.filename().string().c_str(), name.c_str(),
              bytes.size(), outcome.c_str());
}

virt::VirtualBridge FromScenario(const std::string& text) {
  virt::VirtualBridge bridge;
  const virt::ScenarioResult result = virt::LoadScenarioText(text, bridge);
  if (!result.ok) {
    std::fprintf(stderr, "scenario: %s\n", result.error.c_str());
    ++g_failures;
  }
  return bridge;
}

std::string ReadFile(const fs::path& file) {
  std::ifstream in(file, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

// --- IdentifyBridge ---

void IdentifySeed(const fs::path& out, const std::string& name, const std::string& device) {
  virt::VirtualBridge bridge =
      FromScenario("[device]\npath = " + std::string(kDevicePath) + "\n" + device);
  std::vector<uint8_t> bytes;
  Recorder recorder(bridge, bytes);
  QuietSystem system;
  uint8_t recorded = 0;
  {
    Installed installed(&recorder, &system);
    recorded = IdentifyBridge(kDevicePath);
  }
  Input input(bytes.data(), bytes.size());
  InputDevice replay(input);
  QuietSystem quiet;
  uint8_t replayed = 0;
  {
    Installed installed(&replay, &quiet);
    replayed = IdentifyBridge(kDevicePath);
  }
  Check(recorded == replayed, name, "the model code");
  WriteSeed(out / "identify", name, bytes, IdentifyOne,
            "model code " + std::to_string(recorded) + ", " + std::to_string(system.boxes) +
                " message boxes");
}

// --- UpdateFirmware ---

void UpdateSeed(const fs::path& out, const std::string& name, const std::string& device,
                bool loader) {
  virt::VirtualBridge bridge =
      FromScenario("[device]\npath = " + std::string(kDevicePath) + "\n" + device);
  std::vector<uint8_t> bytes{static_cast<uint8_t>(loader ? 1 : 0)};
  Recorder recorder(bridge, bytes);
  QuietSystem system;
  int recorded = 0;
  {
    Installed installed(&recorder, &system, nullptr, loader ? WithTestLoader : nullptr);
    recorded = UpdateFirmware(nullptr, kDevicePath);
  }
  Input input(bytes.data() + 1, bytes.size() - 1);
  InputDevice replay(input);
  QuietSystem quiet;
  int replayed = 0;
  {
    Installed installed(&replay, &quiet, nullptr, loader ? WithTestLoader : nullptr);
    replayed = UpdateFirmware(nullptr, kDevicePath);
  }
  Check(recorded == replayed, name, "the update's result");
  WriteSeed(out / "update", name, bytes, UpdateOne, "result " + std::to_string(recorded));
}

// --- the refresh, the status check and the Update command ---

uint8_t VariantOf(const std::string& path) {
  if (path.find("sbp2") != std::string::npos) return 2;
  if (path.find("scsi") != std::string::npos) return 1;
  return 0;
}

std::vector<std::string> RunWindow(ScsiHost& host, DiskInterfaces& disks, uint8_t flags) {
  QuietSystem system;
  system.windows10 = (flags & 1) != 0;
  Installed installed(&host, &system, &disks, (flags & 4) ? WithTestLoader : nullptr);
  UpdateBusy = 0;
  tk::headless::HeadlessApplication app;
  TForm1 form(app);
  form.FormCreate(&form);
  std::vector<std::string> seen;
  for (int i = 0; i < form.cbb_DeviceList->Count(); ++i)
    seen.push_back(form.cbb_DeviceList->Item(i));
  if ((flags & 2) && form.btn_upd->Visible() && form.btn_upd->Enabled())
    tk::headless::Click(form.btn_upd);
  for (tk::Panel* panel : {form.pnl_Descript_1, form.pnl_Descript_2, form.pnl_Descript_3,
                           form.pnl_Descript_4, form.pnl_Descript_5})
    seen.push_back(panel->Text());
  UpdateBusy = 0;
  return seen;
}

void RefreshSeed(const fs::path& out, const std::string& name, const std::string& scenario,
                 uint8_t flags) {
  virt::VirtualBridge bridge = FromScenario(scenario);
  std::vector<uint8_t> bytes{flags, static_cast<uint8_t>(bridge.devices().size())};
  InputDisks disks;
  for (std::size_t i = 0; i < bridge.devices().size(); ++i) {
    const uint8_t variant = VariantOf(bridge.devices()[i].path);
    bytes.push_back(variant);
    bridge.devices()[i].path = DiskPath(static_cast<int>(i), variant);
    disks.Add(bridge.devices()[i].path);
  }
  const std::size_t header = bytes.size();
  Recorder recorder(bridge, bytes);
  const auto recorded = RunWindow(recorder, disks, flags);
  Input input(bytes.data() + header, bytes.size() - header);
  InputDevice replay(input);
  const auto replayed = RunWindow(replay, disks, flags);
  Check(recorded == replayed, name, "what the window shows");
  std::string shown;
  for (const auto& text : recorded)
    if (!text.empty()) shown += (shown.empty() ? "" : " | ") + text;
  WriteSeed(out / "refresh", name, bytes, RefreshOne, shown);
}

// --- the sysfs disk list and the enumeration over it ---

void SysfsSeed(const fs::path& out, const std::string& name, std::vector<uint8_t> tree_bytes) {
  const fs::path tree = SysfsScratch() / "seed";
  Input tree_input(tree_bytes.data(), tree_bytes.size());
  std::string asked;
  MakeSysfsTree(tree_input, tree, asked);
  linux_host::SysfsDiskInterfaces interfaces(tree.string(), "/dev");
  std::vector<linux_host::SysfsDisk> disks;
  interfaces.ListDisks(disks);
  // Every listed node is a QVB886 bridge.
  virt::VirtualBridge bridge;
  for (const auto& disk : disks)
    bridge.devices().push_back(virt::MakeQvb886(disk.device_path, {133, 1, 0, 3}));
  std::vector<uint8_t> bytes = tree_bytes;
  Recorder recorder(bridge, bytes);
  QuietSystem system;
  Installed installed(&recorder, &system, &interfaces);
  std::vector<std::array<char, 256>> buffers(16);
  std::array<char*, 16> paths{};
  for (std::size_t i = 0; i < paths.size(); ++i) paths[i] = buffers[i].data();
  const int kept = EnumerateBridgeDisks(paths.data(), 16, 256, 1);
  WriteSeed(out / "sysfs", name, bytes, SysfsOne,
            std::to_string(disks.size()) + " disks listed, " + std::to_string(kept) + " kept");
}

int Main(const fs::path& top) {
  const fs::path out = top / "corpus";
  const fs::path source = top.parent_path();

  // IdentifyBridge over the bridge family.
  IdentifySeed(out, "qvb886-inquiry", "preset = qvb886\n");
  IdentifySeed(out, "qvb886-info-block", "preset = qvb886\ninquiry_model = none\n");
  IdentifySeed(out, "w761", "preset = bridge\ninquiry_model = w761\n");
  IdentifySeed(out, "ids-7e21-6a4c", "preset = bridge\ninfo_ids = 7E21 6A4C\n");
  IdentifySeed(out, "no-signature", "preset = bridge\ninfo_signature = no\nprobe = 40 00\n");
  IdentifySeed(out, "older-command", "preset = bridge\ninfo_via = info_alt\ninfo_model = 7551\n");
  IdentifySeed(out, "name-only", "preset = blank\ninquiry = fail\nname = w755B\n");
  IdentifySeed(out, "code8-quiet", "preset = bridge\ninfo_model = 7581\n");
  IdentifySeed(out, "code8-box", "preset = bridge\ninfo_model = 7583\n");
  IdentifySeed(out, "code12-page", "preset = bridge\ninfo_model = 8291\nvendor_page = ok\n");
  IdentifySeed(out, "code12-flag",
               "preset = bridge\ninfo_model = 8291\nvendor_page = fail\nflag_byte = 180\n");
  IdentifySeed(out, "buffer-page-863",
               "preset = bridge\nprobe = fail\nbuffer1_descriptor = 04 00 00 10\n"
               "buffer1_page = 00 00 00 00 08 63 00 00 00 00 00 00 00 00 00 00\n");
  IdentifySeed(out, "buffer-page-841",
               "preset = bridge\nprobe = fail\nbuffer1_descriptor = 03 00 00 08\n"
               "buffer1_page = 00 00 00 38 34 31 00 00\n");
  IdentifySeed(out, "blank", "preset = blank\n");

  // The update: normal path, loader path, a larger capacity, a retry, a corrupt read-back.
  const std::string qvb = "preset = qvb886\nversion = 133.1.0.3\n";
  UpdateSeed(out, "normal", qvb, false);
  UpdateSeed(out, "loader", qvb + "loader = yes\n", true);
  UpdateSeed(out, "loader-not-carried", qvb + "loader = yes\n", false);
  UpdateSeed(out, "capacity-67584", qvb + "descriptor = 0A 010800\n", false);
  UpdateSeed(out, "retry-after-piece",
             qvb + "fault = write_buffer check_condition from=20 times=1\n", false);
  UpdateSeed(out, "corrupt-read-back", qvb + "fault = read_buffer corrupt from=80 times=1\n",
             false);

  // The window, from the demo's and the command line's scenario files.
  const std::string demo = ReadFile(source / "demo" / "qvb886-133.1.0.3.scenario");
  const std::string one = ReadFile(source / "tests" / "cli" / "scenarios" / "one-qvb886.scenario");
  const std::string two = ReadFile(source / "tests" / "cli" / "scenarios" / "two-qvb886.scenario");
  RefreshSeed(out, "demo-update", demo, 0x03);
  RefreshSeed(out, "one-qvb886", one, 0x01);
  RefreshSeed(out, "two-qvb886", two, 0x01);
  RefreshSeed(out, "no-disk", "", 0x00);
  RefreshSeed(out, "up-to-date",
              "[device]\npath = \\\\?\\usbstor#disk#1\npreset = qvb886\nversion = 133.1.0.6\n",
              0x00);
  RefreshSeed(out, "loader-update",
              "[device]\npath = \\\\?\\scsi#disk#1\npreset = qvb886\nversion = 133.1.0.2\n"
              "loader = yes\n",
              0x07);
  RefreshSeed(out, "bridge-and-blank",
              "[device]\npath = \\\\?\\sbp2#disk#1\npreset = bridge\n"
              "[device]\npath = \\\\?\\usbstor#disk#2\npreset = blank\n",
              0x00);

  // The sysfs list: entry count, four bytes per entry, the asked path.
  SysfsSeed(out, "usb-storage", {1, 0x00, 0, 0, 0x00, 0});
  SysfsSeed(out, "uas-deep", {1, 0x00, 3, 3, 0x12, 0});
  SysfsSeed(out, "firewire-cdrom-dangling",
            {3, 0x00, 1, 0, 0x20, 0x00, 2, 1, 0x00, 0x00, 4, 0, 0x04, 0});
  SysfsSeed(out, "odd-names-and-links",
            {4,    0x01, 5, 0,    0x00, 0x02, 6,   0,   0x50, 0x04, 7,   0,  0x60,
             0x00, 8,    0, 0x0C, 7,    '/',  'd', 'e', 'v',  '/',  's', 'g'});
  return g_failures == 0 ? 0 : 1;
}

}  // namespace
}  // namespace qvb::fuzz

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: fuzz_seeds <fuzz folder>\n");
    return 2;
  }
  return qvb::fuzz::Main(std::filesystem::absolute(argv[1]));
}
