// The sysfs tree of the sysfs harness, for the harness and the seed maker.
#pragma once

#include <filesystem>
#include <string>

#include "fuzz/fuzz_device.h"

namespace qvb::fuzz {

// Lays out `tree` anew from the input's tree description (see sysfs_harness.cpp); `asked` gets
// the path whose bus text is asked for. Returns the number of entries made.
int MakeSysfsTree(Input& input, const std::filesystem::path& tree, std::string& asked);
// A folder of this process's own, removed when the process ends.
const std::filesystem::path& SysfsScratch();

}  // namespace qvb::fuzz
