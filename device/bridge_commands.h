// The bridge's command vocabulary: standard INQUIRY, REQUEST SENSE, READ/WRITE BUFFER and the
// vendor commands, each one command block sent through the pass-through transport.
#pragma once

#include <cstdint>

namespace qvb {

// Bridge information block layout.
constexpr int kBridgeInfoSize = 16;
constexpr uint8_t kBridgeInfoSignature0 = 0xF4;
constexpr uint8_t kBridgeInfoSignature1 = 0xE7;

// READ BUFFER / WRITE BUFFER modes in use.
constexpr int kBufferModeVendor = 0x01;
constexpr int kBufferModeDescriptor = 0x03;
constexpr int kBufferModeMicrocodeActivate = 0x06;
constexpr int kBufferModeMicrocodeDeferred = 0x0E;

// Opcodes and selectors.
constexpr uint8_t kOpInquiry = 0x12;
constexpr uint8_t kOpRequestSense = 0x03;
constexpr uint8_t kOpReadBuffer = 0x3C;
constexpr uint8_t kOpWriteBuffer = 0x3B;
constexpr uint8_t kOpBridgeMemory = 0xDF;
constexpr uint8_t kOpBridgeInfo = 0xE0;
constexpr uint8_t kOpBridgeInfoAlt = 0xFE;
constexpr uint8_t kOpFlash = 0xFF;
constexpr uint8_t kOpVendorPage = 0xB5;
constexpr uint8_t kSelectorProbe = 0xFF;
constexpr uint8_t kSelectorMemory = 0xFD;
constexpr uint8_t kSelectorControl = 0xFB;
constexpr uint8_t kFlashStatus = 0x12;
constexpr uint8_t kFlashId = 0x15;
constexpr uint8_t kBridgeConfig = 0x23;
constexpr uint8_t kBridgeName = 0x30;

constexpr int kRequestSenseLength = 18;
constexpr int kFlashReadyPollLimit = 500;
constexpr uint32_t kFlashReadyPauseMs = 10;
constexpr uint16_t kBridgeFlagAddress = 0xFDB0;

int Inquiry(const char* path, uint8_t* buffer, int length);
int RequestSense(const char* path);
int ReadBuffer(const char* path, int mode, uint8_t buffer_id, uint32_t offset, uint8_t* buffer,
               int length);
int WriteBuffer(const char* path, uint8_t buffer_id, int mode, const uint8_t* data, uint32_t offset,
                uint32_t length);
int ProbeBridge(const char* path, uint8_t* reply2);
int ReadBridgeMemory(const char* path, uint8_t* buffer, uint16_t address, int length);
int BridgeControl(const char* path, uint32_t address, const uint8_t* data, uint32_t length,
                  uint8_t sub_code);
int ReadBridgeInfo(const char* path, uint8_t* buffer, int length, int* transferred);
int ReadBridgeInfoAlt(const char* path, uint8_t* buffer, int length, int* transferred);
int ReadFlashStatus(const char* path, uint8_t* status);
int ReadFlashId(const char* path, uint8_t* reply4);
int ReadBridgeConfig(const char* path, uint8_t* reply4);
int ReadBridgeName(const char* path, uint8_t* buffer, int length);
int ReadVendorPage(const char* path, uint8_t argument_a, uint8_t argument_b, uint8_t* buffer,
                   int length);

// Polls the flash status until bit 0 reads 0: 1 when ready, 0 after the poll limit.
int WaitFlashReady(const char* path);
// 1 when byte 1 of the 4 bytes at bridge address 0xFDB0 is 180 or more.
int TestBridgeFlag(const char* path);

}  // namespace qvb
