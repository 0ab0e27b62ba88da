// The bridges that wait for their power cycle, kept in a small file so that every later run of
// either front end knows them: the command line runs one command per process, and a bridge
// written by one run still reports its old version to the next until it has been powered off
// and on. A record never blocks a bridge for good: it ends with the next start of the machine
// and after kWaitingRecordMaxAgeSeconds.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "firmware/version_policy.h"

namespace qvb {

// A day: a power cycle is asked for at once, and a record must outlive a user who does it the
// next morning; anything older is stale (the bridge may well have lost power unseen, say while
// the machine slept), and a stale record would refuse an update the bridge may need.
constexpr int64_t kWaitingRecordMaxAgeSeconds = int64_t{24} * 60 * 60;
// Boot times derived from two clocks (Windows) differ by a little from one reading to the next.
constexpr int64_t kBootTimeToleranceSeconds = 120;
// A file that holds more than this is not ours, or is damaged: it is not read.
constexpr std::size_t kWaitingFileMaxBytes = std::size_t{64} * 1024;
constexpr std::size_t kWaitingFileMaxRecords = 32;

// What the host can tell of a written bridge, taken just before the write.
struct WaitingBridge {
  std::string path;            // lower-cased
  std::string serial;          // the USB serial number; empty when the host tells none
  std::string identification;  // INQUIRY vendor and product (24 bytes); empty when unknown
  uint8_t model_code = 0;      // the bridge model code read before the write
  FirmwareVersion previous{};  // the version it ran before the write
  FirmwareVersion written{};   // the version written into it
  int64_t recorded_at = 0;     // seconds since 1970 (the wall clock)
  std::string boot;            // the machine's start it was written in (HostMoment::boot)
};

// Now, as the record file needs it.
struct HostMoment {
  int64_t now = 0;  // seconds since 1970
  // Linux: the kernel's boot id. Windows: the boot time in seconds since 1970, as digits.
  std::string boot;
};

// The host's own moment (per host: firmware/linux, firmware/win32).
HostMoment CurrentMoment();
// The folder of the record file: for the machine's disks, Linux /var/lib/qvb886-fwupdate as
// root and the user's state folder ($XDG_STATE_HOME, by default ~/.local/state) otherwise,
// Windows the program data folder; for the virtual bridge the user's state folder on either
// host. Empty when there is none.
std::string WaitingRecordFolder(bool virtual_devices);
// The file in that folder; empty when there is no folder.
std::string WaitingRecordFile(bool virtual_devices);

// Whether two HostMoment::boot values name the same start of the machine.
bool SameBoot(const std::string& recorded, const std::string& now);
// Whether a record still holds at `moment`: same start of the machine, not too old, and not
// from the future (a clock set back makes its age unknown).
bool RecordHolds(const WaitingBridge& record, const HostMoment& moment);

// The file's text and back. Parsing refuses the whole file on any malformed line.
std::string FormatWaitingRecords(const std::vector<WaitingBridge>& records);
bool ParseWaitingRecords(const std::string& text, std::vector<WaitingBridge>& records);

class WaitingRecordStore {
 public:
  using Clock = std::function<HostMoment()>;
  explicit WaitingRecordStore(std::string file, Clock clock = CurrentMoment);

  // The records that still hold. A missing, unreadable or malformed file holds none.
  std::vector<WaitingBridge> Load() const;
  // Writes a temporary file beside the record file and renames it over it, so that a reader
  // never sees half a file. Creates the folder. False, with `error` set, when it cannot.
  bool Save(const std::vector<WaitingBridge>& records, std::string& error) const;

  const std::string& file() const { return file_; }
  HostMoment Now() const { return clock_(); }

 private:
  std::string file_;
  Clock clock_;
};

}  // namespace qvb
