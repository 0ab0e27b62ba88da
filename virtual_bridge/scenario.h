// Scenario files: the virtual disks a test or the demo attaches, one [device] section each.
//
//   # comment
//   [device]                   # a '#' after a space or tab ends the line's text: a comment

//   path = \\?\usbstor#disk&ven_quorvel&prod_qvb886#0001#{53f56307-b6bf-11d0-94f2-00a0c91efb8b}
//   preset = qvb886            (qvb886: a QVB886 bridge; bridge: a bridge that answers the
//                               bridge test but tells no model; blank: a disk that answers
//                               nothing)
//   version = 133.1.0.3        (information block bytes 12-15)
//   vendor = Quorvel           product = QVB886 NVMe   (INQUIRY text, blank padded)
//   inquiry_model = w886       (INQUIRY bytes 36-39; "none" clears them)
//   inquiry = fail
//   inquiry_bytes = 00 00 ...  (the INQUIRY data as recorded, up to 56 hex bytes, zeros after)
//   bus = USB | UASP | 1394    (the bus the interface list tells; otherwise the path's own text)
//   test_device = yes          (INQUIRY bytes 40-55 carry the test-device mark "QVB-TEST-DEVICE!",
//                               the only devices a test build writes to; "no" clears them, so
//                               the disk stands for a real, unmarked bridge)
//   probe = 20 00 | fail       info = F4 E7 ... (16 hex bytes) | fail   info_alt = ... | fail
//   loader = yes               (information block byte 6 = 0: the loader path)
//   descriptor = 0A 010400 | fail  (buffer 0 descriptor: boundary, capacity; fail: buffer 0
//                               answers no READ or WRITE BUFFER)
//   config = 01 00 00 00 | fail   flash_id = ... | fail   flag_memory = 00 B4 00 00 | fail
//   name = w755B | fail        vendor_page = ok | fail
//   name_bytes = 77 37 ...     (the bridge name reply as recorded, up to 40 hex bytes)
//   buffer1_descriptor = 04 00 00 10 | fail   buffer1_page = 00 00 00 38 34 31 ...
//   flash_busy_reads = 3
//   detail = fail              (the interface list's detail call fails here: this device and
//                               every one after it are not listed)
// The information block, edited in every block present (ReadBridgeInfo's and the older
// ReadBridgeInfoAlt's); info_via moves the block between the two commands:
//   info_via = info | info_alt | both | none
//   info_signature = yes | no  (bytes 0-1 F4 E7, or 00 00)
//   info_ids = 7E21 6A4C       (bytes 2-5: USB vendor and product ID)
//   info_model = 8861 | none   (bytes 8-11, up to four characters, zero-padded)
//   flag_byte = 180            (byte 1 at bridge address 0xFDB0; decimal or 0x..)
//   fault = write_buffer check_condition [from=N] [times=N]  (check_condition, short=N,
//           corrupt, platform_error, vanish)
//
// Limits (`--virtual` ships in the programs, and may run under sudo): a scenario file is a
// regular file (not a folder, pipe or device) of at most 256 KiB, with at most 64 [device]
// sections; each device holds 512 KiB of virtual flash, so a scenario allocates 32 MiB of it
// at most. The project's own scenarios are a few hundred bytes with one or two devices.
#pragma once

#include <cstddef>
#include <string>

#include "virtual_bridge/virtual_bridge.h"

namespace qvb::virt {

struct ScenarioResult {
  bool ok = false;
  std::string error;  // "line N: what was wrong"
};

constexpr std::size_t kMaxScenarioBytes = std::size_t{256} * 1024;
constexpr std::size_t kMaxScenarioDevices = 64;

// Replaces the bridge's devices and faults with the scenario's.
ScenarioResult LoadScenarioText(const std::string& text, VirtualBridge& bridge);
ScenarioResult LoadScenarioFile(const std::string& file, VirtualBridge& bridge);

enum class FileRead {
  Read,
  Missing,  // cannot be opened (absent, no permission)
  Refused,  // there, but a folder, a pipe, a device, or larger than kMaxScenarioBytes
};
// Reads a scenario file whole, never waiting on a pipe and never reading past the limit.
// `reason` says what was wrong unless the file was read.
FileRead ReadScenarioFile(const std::string& file, std::string& text, std::string& reason);

}  // namespace qvb::virt
