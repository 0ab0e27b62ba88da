// What the commands found, and how it is written: as text for people, as JSON for scripts.
//
// Every JSON document is one object with the members "command" ("list", "status", "update"),
// "outcome" (a word, see below), "exit_code", "disks" (every disk the enumeration returned, as
// a disk object) and "denied" (the disks refused for lack of permission, {"path", "reason"}).
// "status" and "update" add "device" (the disk the command worked on, or null) and "lines"
// (the window's five description lines, as the window would show them); "update" adds
// "attempts" (attempts started) and "interrupts_refused".
//
// A usage error (a bad command line, an unreadable scenario) with --json among the words gives
// {"command" (null when the words did not parse), "outcome": "usage_error", "exit_code",
// "error" (what was wrong)}.
//
// A disk object: "path", "bus" ("USB", "UASP", "1394"), "vendor" and "product" (INQUIRY text,
// trailing blanks removed; null when INQUIRY failed), "model_code" (0 when not recognised),
// "model" (the model table's text, or null), "listed" (whether the window lists it) and
// "firmware": null unless the model code is the QVB886's, else {"read": false, "error"} or
// {"read": true, "version": "133.1.0.3", "version_text", "status" (the window's words),
// "updatable"}.
#pragma once

#include <ostream>
#include <string>
#include <string_view>
#include <vector>

#include <nlohmann/json_fwd.hpp>

#include "cli/access_monitor.h"
#include "firmware/device_status.h"
#include "firmware/run_steps.h"
#include "firmware/screen.h"

namespace qvb::cli {

struct DiskReport {
  ScannedDisk disk;
  bool firmware_asked = false;  // a QVB886: its version was read as the status check reads it
  DeviceStatus status;
  bool waiting = false;  // updated, and waiting for its power cycle
};

DiskReport DescribeDisk(const ScannedDisk& disk, bool read_firmware);
// The JSON values of the documents, members in the order written above. Texts are taken as
// bytes: each byte is one character, so that anything outside printable ASCII is written as
// \u00XX and the document stays plain ASCII whatever a device returned.
nlohmann::ordered_json DiskJson(const DiskReport& report);
// A device's bytes as a JSON string, each byte one character.
nlohmann::ordered_json ByteText(std::string_view bytes);
nlohmann::ordered_json DisksJson(const std::vector<DiskReport>& reports);
nlohmann::ordered_json DeniedJson(const std::vector<RefusedDisk>& refused);
nlohmann::ordered_json LinesJson(const ScreenLines& lines);
// The document as text: indented by two blanks, ending in a line feed.
std::string JsonDocumentText(const nlohmann::ordered_json& document);
// The usage error's document as text; `command` may be null.
std::string UsageErrorDocumentText(const char* command, const std::string& error);

// A block of indented lines about one disk.
void WriteDiskText(std::ostream& out, const DiskReport& report);
// The non-empty lines, top to bottom.
void WriteLinesText(std::ostream& out, const ScreenLines& lines);
// "Device: PATH (USB, Quorvel QVB886 NVMe)"
void WriteDeviceHeader(std::ostream& out, const DiskReport& report);

}  // namespace qvb::cli
