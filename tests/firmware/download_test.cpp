#include <gtest/gtest.h>

#include <numeric>
#include <string>
#include <vector>

#include "firmware/update.h"
#include "tests/support/fake_system.h"
#include "virtual_bridge/virtual_bridge.h"

namespace qvb {
namespace {

constexpr const char* kPath = "\\\\?\\usbstor#disk&ven_quorvel&prod_qvb886#1#{53f56307}";

std::vector<uint8_t> Pattern(std::size_t size, uint8_t seed) {
  std::vector<uint8_t> bytes(size);
  for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<uint8_t>(i * 7 + seed + (i >> 10));
  return bytes;
}

uint32_t Offset(const virt::Request& r) {
  return (uint32_t{r.cdb[3]} << 16) | (uint32_t{r.cdb[4]} << 8) | r.cdb[5];
}

struct Counting : UpdateObserver {
  int messages = 0;
  void ProcessMessages() override { ++messages; }
};

class DownloadTest : public ::testing::Test {
 protected:
  DownloadTest() : bridge({virt::MakeQvb886(kPath, {133, 1, 0, 3})}) {}
  virt::DeviceModel& model() { return bridge.devices()[0]; }
  std::vector<const virt::Request*> Commands(const std::string& name, int mode = -1) {
    std::vector<const virt::Request*> found;
    for (const auto& r : bridge.requests())
      if (virt::CommandName(r.cdb) == name && (mode < 0 || r.cdb[1] == mode)) found.push_back(&r);
    return found;
  }
  virt::VirtualBridge bridge;
  ScopedSeams installed{HostSeams{.scsi = &bridge}};
  testing::FakeSystem system;
  std::vector<uint8_t> staging = [] {
    auto s = Pattern(0x10600, 3);
    s.resize(kStagingAreaSize, 0);
    return s;
  }();
};

TEST_F(DownloadTest, PieceCountFollowsTheCapacityRoundedTo512) {
  struct Case {
    uint32_t capacity;
    std::size_t pieces;
  };
  const Case cases[] = {{0x10400, 65}, {65100, 64}, {67584, 66}, {512, 1}};
  for (const auto& c : cases) {
    bridge.ClearRequests();
    model().capacity = c.capacity;
    Counting observer;
    ASSERT_EQ(1, DownloadFirmware(kPath, 0, staging.data(), kStagingAreaSize, kDownloadLength, 0,
                                  &observer))
        << c.capacity;
    const auto writes = Commands("write_buffer", 0x0E);
    ASSERT_EQ(c.pieces, writes.size()) << c.capacity;
    for (std::size_t k = 0; k < writes.size(); ++k) {
      EXPECT_EQ(k * 1024, Offset(*writes[k]));
      EXPECT_EQ(50u, writes[k]->timeout);
    }
    EXPECT_EQ(static_cast<int>(c.pieces), observer.messages) << "messages after every piece";
    EXPECT_TRUE(Commands("write_buffer", 0x0F).empty()) << "never activate";
  }
}

TEST_F(DownloadTest, LastNormalPieceCarriesImageTailThenZeros) {
  model().capacity = 67584;
  ASSERT_EQ(1, DownloadFirmware(kPath, 0, staging.data(), kStagingAreaSize, kDownloadLength, 0));
  const auto writes = Commands("write_buffer", 0x0E);
  ASSERT_EQ(66u, writes.size());
  const auto& last = writes.back()->data_out;
  ASSERT_EQ(1024u, last.size());
  EXPECT_TRUE(std::equal(last.begin(), last.begin() + 512, staging.begin() + 0x10400));
  EXPECT_TRUE(std::all_of(last.begin() + 512, last.end(), [](uint8_t b) { return b == 0; }));
}

TEST_F(DownloadTest, HalfPieceAtTheEndIsSentAsHalfAPiece) {
  model().capacity = 1536;  // rounds to 1536: one piece and a half
  ASSERT_EQ(1, DownloadFirmware(kPath, 0, staging.data(), kStagingAreaSize, kDownloadLength, 0));
  const auto writes = Commands("write_buffer", 0x0E);
  ASSERT_EQ(2u, writes.size());
  EXPECT_EQ(512u, writes[1]->transfer_length);
  EXPECT_EQ(1024u, Offset(*writes[1]));
}

TEST_F(DownloadTest, DescriptorsThatAreRefusedBeforeAnyWrite) {
  struct Case {
    const char* what;
    uint8_t boundary;
    uint32_t capacity;
    bool loader;
  };
  const Case cases[] = {
      {"capacity 0", 0x0A, 0, false},
      {"boundary 0x09", 0x09, 0x10400, false},
      {"capacity beyond the staging area", 0x0A, kStagingAreaSize + 512, false},
      {"largest capacity a descriptor holds", 0x0A, 0xFFFFFF, false},
  };
  for (const auto& c : cases) {
    bridge.ClearRequests();
    model().descriptor_boundary = c.boundary;
    model().capacity = c.capacity;
    EXPECT_EQ(
        0, DownloadFirmware(kPath, 0, staging.data(), kStagingAreaSize, kDownloadLength, c.loader))
        << c.what;
    EXPECT_TRUE(Commands("write_buffer").empty()) << c.what;
  }
}

TEST_F(DownloadTest, LoaderPathRefusesAReadyDescriptorOrAWrongCapacity) {
  (*model().info)[6] = 0;  // the bridge now answers the loader descriptor 0xFF / 0xC400
  model().descriptor_boundary = 0x0A;
  // The bridge asks for the loader, so the normal path is refused...
  EXPECT_EQ(0, DownloadFirmware(kPath, 0, staging.data(), kStagingAreaSize, kDownloadLength, 0));
  // ...and without a carried loader image the loader path stops after the descriptor.
  bridge.ClearRequests();
  EXPECT_EQ(0, DownloadFirmware(kPath, 0, staging.data(), kStagingAreaSize, kDownloadLength, 1));
  EXPECT_EQ(std::vector<std::string>{"read_buffer"}, bridge.CommandNames());
}

TEST_F(DownloadTest, FailedPieceEndsTheNormalDownload) {
  bridge.AddFault({virt::FaultKind::CheckCondition, "write_buffer", 10, 1});
  EXPECT_EQ(0, DownloadFirmware(kPath, 0, staging.data(), kStagingAreaSize, kDownloadLength, 0));
  // descriptor, 9 pieces, the failing piece and its REQUEST SENSE
  EXPECT_EQ(12u, bridge.requests().size());
  EXPECT_EQ("request_sense", bridge.CommandNames().back());
}

TEST_F(DownloadTest, ReadBackReadsTheCapacityAndZeroFillsTheRest) {
  model().flash.assign(0x80000, 0xAB);
  std::vector<uint8_t> dest(0x10600, 0x11);
  ASSERT_EQ(1, ReadBackFirmware(kPath, 0, dest.data(), 0x10600));
  const auto reads = Commands("read_buffer", 1);
  ASSERT_EQ(65u, reads.size());
  for (std::size_t k = 0; k < reads.size(); ++k) EXPECT_EQ(k * 1024, Offset(*reads[k]));
  EXPECT_EQ(0xAB, dest[0x103FF]);
  EXPECT_EQ(0x00, dest[0x10400]) << "not read: zero";
}

TEST_F(DownloadTest, ReadBackNeverReadsPastTheDestination) {
  model().capacity = 0x20000;  // more than the 67072-byte area
  std::vector<uint8_t> dest(0x10600);
  ASSERT_EQ(1, ReadBackFirmware(kPath, 0, dest.data(), 0x10600));
  uint64_t covered = 0;
  for (const auto* r : Commands("read_buffer", 1))
    covered = std::max<uint64_t>(covered, Offset(*r) + r->transfer_length);
  EXPECT_EQ(0x10600u, covered);
}

TEST_F(DownloadTest, ReadBackFailures) {
  std::vector<uint8_t> dest(0x10600, 0x11);
  model().capacity = 0;
  EXPECT_EQ(0, ReadBackFirmware(kPath, 0, dest.data(), 0x10600));
  EXPECT_TRUE(Commands("read_buffer", 1).empty());

  model().capacity = 0x10400;
  model().descriptor_boundary = 0x09;
  dest.assign(dest.size(), 0x11);
  bridge.ClearRequests();
  EXPECT_EQ(0, ReadBackFirmware(kPath, 0, dest.data(), 0x10600));
  EXPECT_EQ(0x11, dest[0]) << "a refused descriptor leaves the destination untouched";

  model().descriptor_boundary = 0x0A;
  model().flash.assign(0x80000, 0xCD);
  bridge.AddFault({virt::FaultKind::CheckCondition, "read_buffer", 3, 1});  // the third piece
  bridge.ClearRequests();
  EXPECT_EQ(0, ReadBackFirmware(kPath, 0, dest.data(), 0x10600));
  EXPECT_EQ(0xCD, dest[1023]);
  EXPECT_EQ(0x00, dest[2048]) << "the failed piece and everything after it are zeros";
}

}  // namespace
}  // namespace qvb
