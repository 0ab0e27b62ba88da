// The Linux disk list over a sysfs tree made from the fuzz input, then the enumeration over it
// with bridge replies from the rest of the input.
//
// Input: the entry count (modulo 9), then per entry four bytes:
//   name    bits 0-1: "sgN", "sgNx", "sg" and ten digits, "sg0N"; bit 2: upper case
//   number  N
//   type    modulo 8: the peripheral types 0, 5, 7, 14, 20, 31, a text that is no number, no file
//   chain   bits 0-1: how many folders lie between the USB interface and the SCSI host;
//           bits 2-3: the class link (a link to the device, a dangling link, a plain folder, a
//           link to itself); bits 4-6: the driver bound to the interface (usb-storage, uas,
//           firewire_sbp2, sd, none, a dangling driver link, a driver link that is a folder)
// then a path byte count and that many bytes of a path to ask the bus text of, then the
// bridge replies of the enumeration.
#include <unistd.h>

#include <array>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "device/enumeration.h"
#include "device/linux/disk_interfaces_linux.h"
#include "fuzz/fuzz_device.h"
#include "fuzz/harnesses.h"
#include "fuzz/sysfs_tree.h"

namespace qvb::fuzz {
namespace fs = std::filesystem;
namespace {

constexpr int kMaxEntries = 9;
constexpr int kPathBuffers = 16;
constexpr std::size_t kPathBufferSize = 256;

// A folder of this process's own, removed when the process ends.
class Scratch {
 public:
  // In memory where the system offers it: every run lays out a whole tree.
  Scratch() {
    const char* tmp = std::getenv("TMPDIR");
    std::string folder = tmp && *tmp ? tmp : "/tmp";
    if (access("/dev/shm", W_OK) == 0) folder = "/dev/shm";
    std::string pattern = folder + "/qvb-fuzz-sysfs-XXXXXX";
    if (mkdtemp(pattern.data())) root_ = pattern;
  }
  ~Scratch() {
    std::error_code ec;
    if (!root_.empty()) fs::remove_all(root_, ec);
  }
  Scratch(const Scratch&) = delete;
  Scratch& operator=(const Scratch&) = delete;
  const fs::path& root() const { return root_; }

 private:
  fs::path root_;
};

std::string EntryName(uint8_t kind, uint8_t number) {
  std::string name;
  switch (kind & 0x03) {
    case 0:
      name = "sg" + std::to_string(number);
      break;
    case 1:
      name = "sg" + std::to_string(number) + "x";
      break;
    case 2:
      name = "sg" + std::to_string(1000000000u + number);
      break;
    default:
      name = "sg0" + std::to_string(number);
      break;
  }
  if (kind & 0x04)
    for (char& c : name) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return name;
}

void Link(const fs::path& target, const fs::path& link) {
  std::error_code ec;
  fs::create_symlink(target, link, ec);
}

void Write(const fs::path& file, const std::string& text) {
  std::ofstream(file) << text;
}

// One SCSI device below a USB interface, with its generic node and class entry.
void AddEntry(const fs::path& tree, int index, const std::array<uint8_t, 4>& spec) {
  std::error_code ec;
  const std::string name = EntryName(spec[0], spec[1]);
  const uint8_t chain = spec[3];
  fs::path interface = tree / "devices" / "pci0000:00" / ("usb" + std::to_string(index)) /
                       ("1-" + std::to_string(index) + ":1.0");
  fs::path at = interface;
  for (int i = 0; i < (chain & 0x03); ++i) at /= "level" + std::to_string(i);
  const std::string host = "host" + std::to_string(index);
  const std::string hctl = std::to_string(index) + ":0:0:0";
  const fs::path device = at / host / ("target" + std::to_string(index) + ":0:0") / hctl;
  fs::create_directories(device / "scsi_generic" / name, ec);

  static const char* const kTypes[] = {"0\n", "5\n", "7\n", "14\n", "20\n", "31\n", "disk\n"};
  const uint8_t type = spec[2] % 8;
  if (type < 7) Write(device / "type", kTypes[type]);

  static const char* const kDrivers[] = {"usb-storage", "uas", "firewire_sbp2", "sd"};
  const int driver = (chain >> 4) & 0x07;
  if (driver < 4) {
    const fs::path drivers = tree / "bus" / "usb" / "drivers" / kDrivers[driver];
    fs::create_directories(drivers, ec);
    Link(fs::relative(drivers, interface, ec), interface / "driver");
  } else if (driver == 5) {
    Link("../../../bus/usb/drivers/gone", interface / "driver");
  } else if (driver == 6) {
    fs::create_directories(interface / "driver", ec);
  }

  const fs::path node = device / "scsi_generic" / name;
  Link("../..", node / "device");
  const fs::path entry = tree / "class" / "scsi_generic" / name;
  switch ((chain >> 2) & 0x03) {
    case 0:
      Link(fs::relative(node, entry.parent_path(), ec), entry);
      break;
    case 1:
      Link("../../devices/nowhere/" + name, entry);
      break;
    case 2:
      fs::create_directories(entry / "device", ec);
      Write(entry / "device" / "type", kTypes[type % 7]);
      break;
    default:
      Link(name, entry);
      break;
  }
}

}  // namespace

int MakeSysfsTree(Input& input, const fs::path& tree, std::string& asked) {
  std::error_code ec;
  fs::remove_all(tree, ec);
  fs::create_directories(tree / "class" / "scsi_generic", ec);
  const int entries = input.Take() % kMaxEntries;
  for (int i = 0; i < entries; ++i) {
    std::array<uint8_t, 4> spec{};
    for (uint8_t& byte : spec) byte = input.Take();
    AddEntry(tree, i, spec);
  }
  asked.assign(input.Take(), '\0');
  for (char& c : asked) c = static_cast<char>(input.Take('x') | 1);  // no NUL inside
  return entries;
}

const fs::path& SysfsScratch() {
  static Scratch scratch;
  Require(!scratch.root().empty(), "a scratch folder");
  return scratch.root();
}

namespace {

bool KnownMarker(const char* marker) {
  return marker && (std::strcmp(marker, "usbsto") == 0 || std::strcmp(marker, "scsi") == 0 ||
                    std::strcmp(marker, "sbp2") == 0 || marker[0] == '\0');
}

}  // namespace

int SysfsOne(const uint8_t* data, std::size_t size) {
  const fs::path tree = SysfsScratch() / "sys";
  Input input(data, size);
  std::string asked;
  const int entries = MakeSysfsTree(input, tree, asked);

  linux_host::SysfsDiskInterfaces interfaces(tree.string(), "/dev");
  std::vector<linux_host::SysfsDisk> disks;
  Require(interfaces.ListDisks(disks), "the class folder exists, so the list can be read");
  Require(disks.size() <= static_cast<std::size_t>(entries), "one disk per entry at most");
  for (std::size_t i = 0; i < disks.size(); ++i) {
    Require(KnownMarker(disks[i].marker), "a disk's marker is one of ours");
    Require(disks[i].device_path.rfind("/dev/sg", 0) == 0, "disks are generic nodes");
    if (i > 0) Require(disks[i - 1].sg_number <= disks[i].sg_number, "by rising sg number");
    Require(KnownMarker(interfaces.BusText(disks[i].device_path.c_str())), "the bus text");
    std::string upper = disks[i].device_path;
    for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    Require(KnownMarker(interfaces.BusText(upper.c_str())), "the bus text of an upper-case path");
  }
  Require(interfaces.BusText(asked.c_str()) != nullptr, "a bus text for any path");

  // The enumeration over this list, the bridges answering from the rest of the input.
  InputDevice device(input);
  QuietSystem system;
  Installed installed(&device, &system, &interfaces);
  std::vector<std::array<char, kPathBufferSize>> buffers(kPathBuffers);
  std::array<char*, kPathBuffers> paths{};
  for (std::size_t i = 0; i < paths.size(); ++i) {
    buffers[i].fill('\x7F');
    paths[i] = buffers[i].data();
  }
  const int kept = EnumerateBridgeDisks(paths.data(), kPathBuffers, kPathBufferSize, 1);
  Require(kept >= 0 && kept <= kPathBuffers && static_cast<std::size_t>(kept) <= disks.size(),
          "no more paths than buffers or disks");
  for (int i = 0; i < kept; ++i) {
    const auto& buffer = buffers[static_cast<std::size_t>(i)];
    Require(std::memchr(buffer.data(), '\0', buffer.size()) != nullptr, "paths end in a NUL");
  }
  for (int i = kept; i < kPathBuffers; ++i)
    Require(buffers[static_cast<std::size_t>(i)][0] == '\x7F', "unused buffers are untouched");
  return 0;
}

}  // namespace qvb::fuzz
