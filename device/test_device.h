// A build without the vendor's images carries generated test images. Such a build must never
// write a real bridge: it writes only to test devices (the virtual bridge and the test rigs'
// gadgets), which carry a mark in the vendor-specific bytes 40-55 of their INQUIRY data. No
// real bridge carries those 16 bytes by accident; identification reads only bytes 0-39.
#pragma once

#include <cstdint>

namespace qvb {

constexpr int kTestDeviceInquiryLength = 56;
constexpr int kTestDeviceMarkAt = 40;
constexpr int kTestDeviceMarkSize = 16;
constexpr char kTestDeviceMark[kTestDeviceMarkSize + 1] = "QVB-TEST-DEVICE!";

// Whether this build carries generated test images instead of the vendor's.
bool CarriesTestImages();

// 1 when the device answers INQUIRY with the test-device mark; one INQUIRY of 56 bytes, nothing
// written. A failed INQUIRY or a short reply counts as unmarked.
int IsTestDevice(const char* path);

// 1 when this build may write firmware to the device: a release build always, a test build
// only to a test device.
int MayWriteFirmware(const char* path);

}  // namespace qvb
