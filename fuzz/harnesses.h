// The fuzz harnesses, one function each: run the operation once over one input. They return 0;
// a broken invariant or a sanitizer report stops the process. The libFuzzer entry points and
// the corpus replay test both call them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace qvb::fuzz {

// IdentifyBridge on one device whose every reply comes from the input.
int IdentifyOne(const uint8_t* data, std::size_t size);
// The main window's refresh with its status check on the headless toolkit, and the Update
// command when it is offered. Input: a flags byte (bit 0: the version query tells Windows 10,
// bit 1: press Update when offered, bit 2: a test loader image is carried), the disk count
// (modulo 20), one path variant byte per disk (see DiskPath), then the device replies.
int RefreshOne(const uint8_t* data, std::size_t size);
// UpdateFirmware. Input: a flags byte (bit 0: a test loader image is carried), then the replies.
int UpdateOne(const uint8_t* data, std::size_t size);
// The Linux sysfs disk list over a tree made from the input, then the enumeration over it.
int SysfsOne(const uint8_t* data, std::size_t size);

struct Harness {
  const char* name;  // also the folder of its corpus and regression inputs
  int (*run)(const uint8_t* data, std::size_t size);
};

// The harnesses this host builds.
const std::vector<Harness>& Harnesses();

}  // namespace qvb::fuzz
