// What an update would do, found without writing: the image check, the path the bridge asks for,
// the descriptor and the sizes the download would use. `update --dry-run` reports it.
#pragma once

#include <cstdint>
#include <string>

namespace qvb {

struct UpdatePlan {
  enum class Stop {
    None,               // everything up to the first write went as an update needs it
    ImageDamaged,       // the carried image is not the one the build recorded
    ImageMissing,       // no image, or one larger than the staging area
    InfoFailed,         // the bridge information block could not be read
    DescriptorFailed,   // the buffer descriptor could not be read
    DescriptorRefused,  // the descriptor is not the form this path takes
    SizeRefused,        // the download size is 0 or beyond the image area
    NoLoaderImage,      // the loader path needs a loader image this build does not carry
  };
  Stop stop = Stop::None;
  uint32_t image_size = 0;
  bool loader = false;  // information block byte 6 is 0
  uint8_t boundary = 0;
  uint32_t capacity = 0;
  uint32_t download_size = 0;  // capacity rounded up to 512 (normal path)
  uint32_t pieces = 0;         // 1024-byte WRITE BUFFER commands per attempt (normal path)
};

// Reads, never writes: one ReadBridgeInfo and one READ BUFFER descriptor read (a failed one is
// followed by its REQUEST SENSE). The test-device check is the caller's.
UpdatePlan PlanUpdate(const char* path);

// One sentence on why the plan stops, or "" when it does not.
std::string PlanStopText(const UpdatePlan& plan);

}  // namespace qvb
