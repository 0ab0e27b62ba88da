#include "device/image_digest.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "device/firmware_image.h"
#include "host/host.h"

namespace qvb {
namespace {

std::string Hex(const Sha256Digest& digest) {
  static const char kDigits[] = "0123456789abcdef";
  std::string text;
  for (uint8_t b : digest) {
    text += kDigits[b >> 4];
    text += kDigits[b & 15];
  }
  return text;
}

std::string HashOf(const std::string& text) {
  return Hex(Sha256(reinterpret_cast<const uint8_t*>(text.data()), text.size()));
}

TEST(Sha256, StandardVectors) {
  EXPECT_EQ("e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855", HashOf(""));
  EXPECT_EQ("ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad", HashOf("abc"));
  EXPECT_EQ("248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1",
            HashOf("abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq"));
  EXPECT_EQ("cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0",
            HashOf(std::string(1000000, 'a')));
}

// Lengths around the padding's edges: the length field fits after the tail (55), just does not
// (56), and the tail fills or just passes a block. Reference values from another implementation.
TEST(Sha256, LengthsAroundTheBlockEdges) {
  struct Case {
    std::size_t length;
    const char* digest;
  };
  const Case cases[] = {
      {55, "16fa57a0a3423a715d594516339f36189d6b5f93754a9714fef202616a9fabfe"},
      {56, "c37b44e5f1b18554b36966f4f8e08bfbf3164c4b6c10374d12d89850892073c5"},
      {63, "bbba992d2c85af960fb2987a1fd05e0aa82a3db3c740dd8982a9e273b75e36a3"},
      {64, "66bd4633ed6f71c4ecfa4763bf7ba1c8ec7612de9aa6c0578a7b675207c71e0b"},
      {65, "9f7dc47107b750a1f3d35db5d9547f24ef40da5b731b9540d4f43710a154f6c9"},
      {119, "a3ed307b730fa77c07531300c6e4a282330011d4d4caf6bb7b63ae05950f4b66"},
      {120, "8e3b15d9fea7472655aa069620b7f8c2e55ee1499f763200a7515fe826e99d20"},
  };
  for (const Case& c : cases) {
    std::vector<uint8_t> bytes(c.length);
    for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<uint8_t>(i * 7 + 1);
    EXPECT_EQ(c.digest, Hex(Sha256(bytes.data(), bytes.size()))) << c.length;
  }
}

// Every image the program carries has its digest recorded by the build, and the image as
// carried matches it.
TEST(RecordedImageDigest, EveryCarriedImageMatchesItsRecord) {
  for (const char* name :
       {"QVB886_FW", "QVB886_FW_133_01_00_02", "QVB886_FW_133_01_00_03", kFirmwareImageName}) {
    const FirmwareResource image = BuildImages().Find(name);
    ASSERT_TRUE(image.found && image.bytes) << name;
    ASSERT_NE(nullptr, RecordedImageDigest(name)) << name;
    EXPECT_TRUE(MatchesRecordedDigest(name, image.bytes, image.size)) << name;
  }
  EXPECT_EQ(nullptr, RecordedImageDigest("QVB886_FW_133_01_00_07"));
  EXPECT_EQ(QVB_TEST_LOADER_CARRIED != 0, RecordedImageDigest(kLoaderImageName) != nullptr);
}

TEST(RecordedImageDigest, AnyChangeOrAnotherImageIsRefused) {
  const FirmwareResource image = BuildImages().Find(kFirmwareImageName);
  ASSERT_TRUE(image.found && image.bytes);
  const std::vector<uint8_t> carried(image.bytes, image.bytes + image.size);
  for (std::size_t position : {std::size_t{0}, std::size_t{0x8000}, carried.size() - 1}) {
    std::vector<uint8_t> damaged = carried;
    damaged[position] ^= 0x01;
    EXPECT_FALSE(MatchesRecordedDigest(kFirmwareImageName, damaged.data(), damaged.size()))
        << position;
  }
  EXPECT_FALSE(MatchesRecordedDigest(kFirmwareImageName, carried.data(), carried.size() - 1))
      << "one byte short";
  const FirmwareResource other = BuildImages().Find("QVB886_FW_133_01_00_03");
  ASSERT_TRUE(other.found && other.bytes);
  EXPECT_FALSE(MatchesRecordedDigest(kFirmwareImageName, other.bytes, other.size))
      << "another carried image under the update image's name";
  EXPECT_FALSE(MatchesRecordedDigest("QVB886_FW_133_01_00_07", carried.data(), carried.size()))
      << "no record, no match";
}

}  // namespace
}  // namespace qvb
