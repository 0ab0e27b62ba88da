#include "device/firmware_image.h"
#include "host/host.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

namespace qvb {
namespace {

const char* const kCarriedImages[] = {"QVB886_FW", "QVB886_FW_133_01_00_02",
                                      "QVB886_FW_133_01_00_03", "QVB886_FW_133_01_00_06"};

// Destination larger than any image, filled with a marker so that untouched bytes show.
std::vector<uint8_t> Marked(uint8_t marker) {
  return std::vector<uint8_t>(kFirmwareImageSize + 4096, marker);
}

TEST(FirmwareImageTest, CarriesFourDistinctImagesOfTheFixedSize) {
  std::vector<FirmwareResource> found;
  for (const char* name : kCarriedImages) {
    const FirmwareResource r = BuildImages().Find(name);
    ASSERT_TRUE(r.found) << name;
    ASSERT_NE(nullptr, r.bytes) << name;
    EXPECT_EQ(kFirmwareImageSize, r.size) << name;
    // Not a constant fill: a read-back must be able to tell bytes apart.
    bool varied = false;
    for (uint32_t i = 1; i < r.size && !varied; ++i) varied = r.bytes[i] != r.bytes[0];
    EXPECT_TRUE(varied) << name;
    found.push_back(r);
  }
  for (std::size_t a = 0; a < found.size(); ++a)
    for (std::size_t b = a + 1; b < found.size(); ++b)
      EXPECT_NE(0, std::memcmp(found[a].bytes, found[b].bytes, kFirmwareImageSize))
          << kCarriedImages[a] << " and " << kCarriedImages[b];
  EXPECT_FALSE(BuildImages().Find("QVB886_FW_133_01_00_07").found);
}

TEST(FirmwareImageTest, OffsetAndLengthDecideTheCountButNotTheResult) {
  const FirmwareResource image = BuildImages().Find(kFirmwareImageName);
  ASSERT_TRUE(image.found);
  ASSERT_EQ(kFirmwareImageSize, image.size);
  struct Case {
    uint32_t offset;
    uint32_t length;
    uint32_t copied;
  };
  const Case cases[] = {
      {0, 0, 67072},            // the whole image
      {100, 0, 66972},          // from the offset to the end
      {0, 1024, 1024},          // exactly the length
      {67000, 1024, 72},        // the range runs past the end: only the rest
      {66048, 1024, 1024},      // the last piece, ending on the end
      {67072, 0, 0},            // offset at the end
      {70000, 16, 0},           // offset past the end copies nothing
      {0xFFFFFF00u, 0x200, 0},  // offset + length wraps round in 32 bits
  };
  for (const Case& c : cases) {
    // Two markers: a copied byte cannot equal both, so the copied count is exact.
    for (uint8_t marker : {uint8_t{0x5A}, uint8_t{0xA5}}) {
      std::vector<uint8_t> dest = Marked(marker);
      EXPECT_EQ(kFirmwareImageSize, LoadFirmwareImage(dest.data(), c.offset, c.length))
          << c.offset << "+" << c.length;
      if (c.copied) {
        EXPECT_EQ(0, std::memcmp(dest.data(), image.bytes + c.offset, c.copied))
            << c.offset << "+" << c.length;
      }
      EXPECT_EQ(marker, dest[c.copied]) << c.offset << "+" << c.length << ": copied too much";
    }
  }
}

TEST(FirmwareImageTest, LoaderImage) {
  std::vector<uint8_t> dest = Marked(0x5A);
#if QVB_TEST_LOADER_CARRIED
  EXPECT_EQ(kLoaderImageSize, LoadLoaderImage(dest.data(), 0, 0));
  const FirmwareResource loader = BuildImages().Find(kLoaderImageName);
  ASSERT_TRUE(loader.found);
  EXPECT_EQ(0, std::memcmp(dest.data(), loader.bytes, kLoaderImageSize));
#else
  // Not carried: the loader path must fail, and nothing may be written.
  EXPECT_EQ(0u, LoadLoaderImage(dest.data(), 0, 0));
  EXPECT_EQ(std::vector<uint8_t>(dest.size(), 0x5A), dest);
#endif
}

TEST(FirmwareImageTest, MissingOrUnreadableResourceGivesZeroAndTouchesNothing) {
  const uint8_t bytes[8] = {1, 2, 3, 4, 5, 6, 7, 8};
  struct Case {
    const char* what;
    FirmwareResource resource;
  };
  const Case cases[] = {
      {"missing", {false, nullptr, 0}},
      {"found, bytes not to be had", {true, nullptr, 8}},
      {"found, empty", {true, bytes, 0}},
  };
  for (const Case& c : cases) {
    uint8_t dest[8] = {9, 9, 9, 9, 9, 9, 9, 9};
    EXPECT_EQ(0u, CopyFirmwareResource(c.resource, dest, 0, 0)) << c.what;
    for (uint8_t b : dest) EXPECT_EQ(9, b) << c.what;
  }
  uint8_t dest[8] = {};
  EXPECT_EQ(8u, CopyFirmwareResource({true, bytes, 8}, dest, 6, 0));
  EXPECT_EQ(7, dest[0]);
  EXPECT_EQ(8, dest[1]);
  EXPECT_EQ(0, dest[2]);
}

}  // namespace
}  // namespace qvb
