// Device enumeration: the disks on a USB mass-storage, USB Attached SCSI or (on request)
// IEEE 1394 SBP-2 stack whose bridge answers the vendor commands.
#pragma once

#include <cstddef>
#include <cstdint>

namespace qvb {

constexpr int kBridgeTestInquiryLength = 40;

// Walks the system's disk interfaces and writes the path of every disk that passes the bus
// filter and the bridge test into paths[0], paths[1], ... (each `buffer_size` bytes, path with
// its NUL, exactly as the system gave it). Returns the count written; 0 also when the list
// cannot be obtained, and then no buffer is touched.
// Capacity: the walk ends once `capacity` paths are kept, so later disks are neither tested
// nor returned. A path that does not fit its buffer is skipped untested, never truncated.
int EnumerateBridgeDisks(char* const* paths, int capacity, std::size_t buffer_size,
                         uint8_t include_sbp2);

// Nonzero when the disk answers an INQUIRY of 40 bytes and then ReadBridgeInfo of 16 bytes.
int IsSupportedBridge(const char* path);

// Whether a bus text holds one of the markers, searched case-sensitively in this order:
// "usbsto", "sbp2" (only when `include_sbp2` is nonzero), "scsi".
bool PassesBusFilter(const char* bus_text, uint8_t include_sbp2);

// The bus a kept disk sits on.
enum class Bus { Usb, Uasp, Ieee1394 };

// The bus of a kept path: IEEE 1394 when its bus text contains "sbp2", otherwise UASP when it
// contains "scsi", otherwise USB. Letter case is not significant (the list lower-cases the path
// first). The bus text comes from the active disk-interface seam, so a /dev/sgN node on Linux
// and a Windows interface path of the same kind of disk give the same bus.
Bus BusOfPath(const char* path);
// "USB", "UASP", "1394"
const char* BusName(Bus bus);
// The list-line prefix: "<<USB>> ", "<<UASP>> ", "<<1394>> ".
const char* BusPrefix(Bus bus);
// BusPrefix(BusOfPath(path)).
const char* BusPrefixForPath(const char* path);

}  // namespace qvb
