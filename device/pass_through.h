// SCSI pass-through transport: one command block, one optional data phase, one open/close.
#pragma once

#include <cstdint>

namespace qvb {

constexpr uint32_t kTimeoutIn = 10;
constexpr uint32_t kTimeoutOut = 50;
constexpr uint32_t kTimeoutOutLong = 100;

// Data from the device into `buffer` (`length` bytes). Returns 1 on success, 0 on failure.
// The buffer is overwritten from the zero-filled transfer buffer also after a failure.
int PassThroughIn(const char* path, const uint8_t* cdb, int cdb_length, uint8_t* buffer, int length,
                  int* transferred);

// Data to the device from `data` (may be null when `length` is 0).
int PassThroughOut(const char* path, const uint8_t* cdb, int cdb_length, const uint8_t* data,
                   uint32_t length, int* transferred);

// The write time-out for a command block: long for CDB byte 2 = 0x13 and for the
// 12-byte BridgeControl sub-code 3 form.
uint32_t PassThroughOutTimeout(const uint8_t* cdb, int cdb_length);

}  // namespace qvb
