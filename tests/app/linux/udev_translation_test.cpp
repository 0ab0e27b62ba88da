// udev events in WM_DEVICECHANGE terms, one at a time and as recorded from real plug and
// unplug sequences.
#include "app/linux/udev_translation.h"

#include <gtest/gtest.h>

#include "app/toolkit/toolkit.h"
#include "tests/app/linux/udev_recording.h"

namespace qvb::hotplug {
namespace {

using Codes = std::vector<uintptr_t>;
constexpr uintptr_t k7 = tk::kDbtDevNodesChanged;
constexpr uintptr_t kRemoved = tk::kDbtDeviceRemoveComplete;

TEST(DeviceChangeCodesTest, EachKindOfEvent) {
  struct Case {
    UdevEvent event;
    Codes codes;
  };
  const Case cases[] = {
      // The removal of a USB device is the one removal-complete event.
      {{"remove", "usb", "usb_device"}, {kRemoved, k7}},
      // Arrivals: the 7 alone (Windows' own arrival event is ignored by the window anyway).
      {{"add", "usb", "usb_device"}, {k7}},
      {{"add", "usb", "usb_interface"}, {k7}},
      // Every other change of the USB tree.
      {{"remove", "usb", "usb_interface"}, {k7}},
      {{"bind", "usb", "usb_interface"}, {k7}},
      {{"unbind", "usb", "usb_device"}, {k7}},
      {{"change", "usb", "usb_device"}, {k7}},
      {{"remove", "usb", ""}, {k7}},
      // The /dev/sg nodes the refresh looks for, which come after the USB events.
      {{"add", "scsi_generic", ""}, {k7}},
      {{"remove", "scsi_generic", ""}, {k7}},
      // Not ours, or not an event.
      {{"add", "block", "disk"}, {}},
      {{"remove", "scsi", "scsi_device"}, {}},
      {{"", "usb", "usb_device"}, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.event.action + " " + c.event.subsystem + " " + c.event.devtype);
    EXPECT_EQ(c.codes, DeviceChangeCodes(c.event));
  }
}

Codes CodesOfRecording(const std::string& name) {
  Codes codes;
  for (const UdevEvent& event : testing::ReadUdevRecording(testing::Recording(name)))
    for (const uintptr_t code : DeviceChangeCodes(event)) codes.push_back(code);
  return codes;
}

TEST(DeviceChangeCodesTest, RecordedSequences) {
  struct Case {
    const char* recording;
    std::size_t events;
    Codes codes;
  };
  const Case cases[] = {
      // usb_device, usb_interface, bind, bind, sg1, and sdb (block: nothing).
      {"usb-storage-plug.txt", 6, {k7, k7, k7, k7, k7}},
      // sg1, sdb, unbind, interface gone, unbind, device gone: one removal-complete, last.
      {"usb-storage-unplug.txt", 6, {k7, k7, k7, k7, kRemoved, k7}},
      // A hub with a UAS disk behind it: two USB devices go, two removal-complete events.
      {"uas-hub-unplug.txt", 5, {k7, k7, kRemoved, k7, k7, kRemoved, k7}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.recording);
    EXPECT_EQ(c.events, testing::ReadUdevRecording(testing::Recording(c.recording)).size());
    EXPECT_EQ(c.codes, CodesOfRecording(c.recording));
  }
}

}  // namespace
}  // namespace qvb::hotplug
