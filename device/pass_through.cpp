#include "device/pass_through.h"

#include <cstring>

#include "device/aligned_buffer.h"
#include "device/scsi_host.h"

namespace qvb {
namespace {

// The request lives at the start of its own aligned, zero-filled block.
struct RequestBlock {
  AlignedBuffer storage;
  bool Make() {
    static_assert(sizeof(ScsiPassThroughDirect) <= kPassThroughRequestBlockSize);
    return storage.Allocate(kPassThroughRequestBlockSize);
  }
  ScsiPassThroughDirect& request() {
    return *reinterpret_cast<ScsiPassThroughDirect*>(storage.data());
  }
};

void FillRequest(ScsiPassThroughDirect& request, const uint8_t* cdb, int cdb_length,
                 uint8_t data_in, uint32_t transfer_length, uint32_t timeout) {
  request.Length = static_cast<uint16_t>(sizeof(ScsiPassThroughDirect));
  request.ScsiStatus = 0;
  request.PathId = 0;
  request.TargetId = 1;
  request.Lun = 0;
  request.CdbLength = static_cast<uint8_t>(cdb_length);
  request.SenseInfoLength = 0;
  request.DataIn = data_in;
  request.DataTransferLength = transfer_length;
  request.TimeOutValue = timeout;
  request.DataBuffer = nullptr;
  request.SenseInfoOffset = kSenseInfoOffset;
  // The Cdb field holds 16 bytes; a longer block cannot be carried.
  const int copied = cdb_length < 0 ? 0 : (cdb_length > 16 ? 16 : cdb_length);
  if (copied > 0) std::memcpy(request.Cdb, cdb, static_cast<std::size_t>(copied));
}

// A length of 1 goes to the device as 2; every other length is sent unchanged.
uint32_t TransferLength(uint32_t length) {
  return length == 1 ? 2 : length;
}

bool Succeeded(bool accepted, uint32_t last_error, uint8_t scsi_status) {
  return accepted && last_error == 0 && scsi_status == kScsiStatusGood;
}

}  // namespace

uint32_t PassThroughOutTimeout(const uint8_t* cdb, int cdb_length) {
  if (cdb_length > 2 && cdb[2] == 0x13) return kTimeoutOutLong;
  if (cdb_length == 12 && cdb[1] == 0x03 && cdb[11] == 0xFB) return kTimeoutOutLong;
  return kTimeoutOut;
}

int PassThroughIn(const char* path, const uint8_t* cdb, int cdb_length, uint8_t* buffer, int length,
                  int* transferred) {
  if (length < 0 || cdb_length < 1 || cdb_length > 16) return 0;
  std::unique_ptr<ScsiDevice> device = ActiveScsiHost().Open(path, ShareMode::ReadWrite);
  if (!device) return 0;

  const uint32_t transfer_length = TransferLength(static_cast<uint32_t>(length));
  RequestBlock block;
  if (!block.Make()) return 0;
  ScsiPassThroughDirect& request = block.request();
  FillRequest(request, cdb, cdb_length, kScsiIoctlDataIn, transfer_length, kTimeoutIn);

  AlignedBuffer data;
  if (transfer_length != 0) {
    if (!data.Allocate(transfer_length)) return 0;
    request.DataBuffer = data.data();
  }

  uint32_t last_error = 0;
  const bool accepted = device->Send(request, last_error);

  // Copied whatever the outcome: what the device did not deliver reaches the caller as zeros.
  if (length > 0) std::memcpy(buffer, data.data(), static_cast<std::size_t>(length));
  if (transferred) *transferred = static_cast<int>(request.DataTransferLength);
  const uint8_t scsi_status = request.ScsiStatus;
  device.reset();
  return Succeeded(accepted, last_error, scsi_status) ? 1 : 0;
}

int PassThroughOut(const char* path, const uint8_t* cdb, int cdb_length, const uint8_t* data,
                   uint32_t length, int* transferred) {
  if (cdb_length < 1 || cdb_length > 16) return 0;
  std::unique_ptr<ScsiDevice> device = ActiveScsiHost().Open(path, ShareMode::Exclusive);
  if (!device) return 0;

  const uint32_t transfer_length = TransferLength(length);
  RequestBlock block;
  if (!block.Make()) return 0;
  ScsiPassThroughDirect& request = block.request();
  FillRequest(request, cdb, cdb_length, kScsiIoctlDataOut, transfer_length,
              PassThroughOutTimeout(cdb, cdb_length));

  AlignedBuffer buffer;
  if (transfer_length != 0) {
    if (!buffer.Allocate(transfer_length)) return 0;
    if (data && length > 0) std::memcpy(buffer.data(), data, length);
    request.DataBuffer = buffer.data();
  }

  uint32_t last_error = 0;
  const bool accepted = device->Send(request, last_error);
  if (transferred) *transferred = static_cast<int>(request.DataTransferLength);
  const uint8_t scsi_status = request.ScsiStatus;
  device.reset();
  return Succeeded(accepted, last_error, scsi_status) ? 1 : 0;
}

}  // namespace qvb
