#include "firmware/update_plan.h"

#include <array>
#include <vector>

#include "device/bridge_commands.h"
#include "device/firmware_image.h"
#include "device/image_digest.h"
#include "firmware/update.h"

namespace qvb {

UpdatePlan PlanUpdate(const char* path) {
  UpdatePlan plan;
  const FirmwareResource image = LookUpFirmwareResource(kFirmwareImageName);
  plan.image_size = image.found && image.bytes ? image.size : 0;
  if (plan.image_size == 0 || plan.image_size > kStagingAreaSize) {
    plan.stop = UpdatePlan::Stop::ImageMissing;
    return plan;
  }
  std::vector<uint8_t> staging(kStagingAreaSize, 0);
  if (LoadFirmwareImage(staging.data(), 0, 0) != plan.image_size ||
      !MatchesRecordedDigest(kFirmwareImageName, staging.data(), plan.image_size)) {
    plan.stop = UpdatePlan::Stop::ImageDamaged;
    return plan;
  }

  std::array<uint8_t, kBridgeInfoSize> info{};
  int transferred = 0;
  if (!ReadBridgeInfo(path, info.data(), kBridgeInfoSize, &transferred)) {
    plan.stop = UpdatePlan::Stop::InfoFailed;
    return plan;
  }
  plan.loader = info[6] == 0;

  std::array<uint8_t, 4> descriptor{};
  if (!ReadBuffer(path, kBufferModeDescriptor, 0, 0, descriptor.data(), 4)) {
    plan.stop = UpdatePlan::Stop::DescriptorFailed;
    return plan;
  }
  plan.boundary = descriptor[0];
  plan.capacity =
      (uint32_t{descriptor[1]} << 16) | (uint32_t{descriptor[2]} << 8) | uint32_t{descriptor[3]};
  if (plan.loader) {
    if (plan.boundary != kBoundaryLoader || plan.capacity != kLoaderCapacity) {
      plan.stop = UpdatePlan::Stop::DescriptorRefused;
      return plan;
    }
    // The sizes of the pieces come from a descriptor the bridge shows only once the loader runs.
    const FirmwareResource loader = LookUpFirmwareResource(kLoaderImageName);
    if (!loader.found || !loader.bytes || loader.size != kLoaderImageSize)
      plan.stop = UpdatePlan::Stop::NoLoaderImage;
    return plan;
  }
  if (plan.boundary != kBoundaryReady) {
    plan.stop = UpdatePlan::Stop::DescriptorRefused;
    return plan;
  }
  plan.download_size = (plan.capacity + 511) / 512 * 512;
  plan.pieces = (plan.download_size + kPieceSize - 1) / kPieceSize;
  if (plan.download_size == 0 || plan.download_size > kStagingAreaSize)
    plan.stop = UpdatePlan::Stop::SizeRefused;
  return plan;
}

std::string PlanStopText(const UpdatePlan& plan) {
  switch (plan.stop) {
    case UpdatePlan::Stop::None:
      return "";
    case UpdatePlan::Stop::ImageDamaged:
      return "the carried firmware image is damaged (its SHA-256 is not the recorded one)";
    case UpdatePlan::Stop::ImageMissing:
      return "the carried firmware image is missing";
    case UpdatePlan::Stop::InfoFailed:
      return "the bridge information block could not be read";
    case UpdatePlan::Stop::DescriptorFailed:
      return "the buffer descriptor could not be read";
    case UpdatePlan::Stop::DescriptorRefused:
      return plan.loader ? "the bridge asks for its loader but its descriptor is not 0xFF/0xC400"
                         : "the buffer descriptor's offset boundary is not 0x0A";
    case UpdatePlan::Stop::SizeRefused:
      return "the download size from the bridge's capacity is 0 or larger than the image area";
    case UpdatePlan::Stop::NoLoaderImage:
      return "the bridge asks for a loader, and this program carries no loader image";
  }
  return "";
}

}  // namespace qvb
