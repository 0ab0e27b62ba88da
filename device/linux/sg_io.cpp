#include "device/linux/sg_io.h"

#include <fcntl.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "device/platform_host.h"

namespace qvb::linux_host {
namespace {

class RealSyscalls : public SgSyscalls {
 public:
  int Open(const char* path, int flags) override { return ::open(path, flags); }
  int Ioctl(int fd, sg_io_hdr_t* header) override { return ::ioctl(fd, SG_IO, header); }
  void Close(int fd) override { ::close(fd); }
};

uint32_t ErrnoCode(int error) {
  return static_cast<uint32_t>(error != 0 ? error : EIO);
}

// EACCES and EPERM are the kernel's "not allowed": no rights to the node, or no CAP_SYS_RAWIO
// for a command that the sg driver keeps for privileged callers.
ScsiOutcome ErrnoOutcome(int error) {
  return error == EACCES || error == EPERM ? ScsiOutcome::Permission : ScsiOutcome::OsError;
}

// A non-blocking open of a node that another process holds with O_EXCL (or, for our exclusive
// open, has open at all) fails with EBUSY: the disk is there, but busy.
ScsiOutcome OpenErrnoOutcome(int error) {
  return error == EBUSY ? ScsiOutcome::Busy : ErrnoOutcome(error);
}

class SgDevice : public ScsiDevice {
 public:
  SgDevice(SgSyscalls& syscalls, int fd) : syscalls_(syscalls), fd_(fd) {}
  ~SgDevice() override { syscalls_.Close(fd_); }
  SgDevice(const SgDevice&) = delete;
  SgDevice& operator=(const SgDevice&) = delete;

  ScsiResult Send(const ScsiRequest& request) override {
    sg_io_hdr_t header;
    std::memset(&header, 0, sizeof header);
    uint8_t cdb[kMaxCdbLength];
    std::memcpy(cdb, request.cdb, sizeof cdb);
    header.interface_id = 'S';
    header.cmd_len = request.cdb_length;
    header.cmdp = cdb;
    if (request.transfer_length == 0 || request.data == nullptr) {
      header.dxfer_direction = SG_DXFER_NONE;
      header.dxfer_len = 0;
      header.dxferp = nullptr;
    } else {
      header.dxfer_direction =
          request.direction == ScsiDirection::FromDevice ? SG_DXFER_FROM_DEV : SG_DXFER_TO_DEV;
      header.dxfer_len = request.transfer_length;
      header.dxferp = request.data;
    }
    header.timeout = request.timeout_seconds * 1000u;
    header.mx_sb_len = 0;  // no automatic sense data
    header.sbp = nullptr;

    if (syscalls_.Ioctl(fd_, &header) != 0) {
      // Refused before anything reached the device: the length stands as it was asked.
      const int error = errno;
      ScsiResult refused = ScsiResult::Fail(ErrnoOutcome(error), ErrnoCode(error));
      refused.transferred = request.transfer_length;
      return refused;
    }
    ScsiResult result;
    result.scsi_status = header.status;
    // The residue is the kernel's word: one beyond the length counts as nothing moved, a
    // negative one as nothing missing.
    const uint32_t residue = header.resid < 0 ? 0 : static_cast<uint32_t>(header.resid);
    result.transferred = residue < request.transfer_length ? request.transfer_length - residue : 0;
    if (header.host_status != 0 || header.driver_status != 0) {
      // The transport or the driver failed the command: an error of the system.
      result.outcome = ScsiOutcome::OsError;
      result.os_error =
          0x10000u | (static_cast<uint32_t>(header.host_status) << 8) | header.driver_status;
    } else if (header.status != kScsiStatusGood) {
      result.outcome = ScsiOutcome::ScsiStatus;
    }
    return result;
  }

 private:
  SgSyscalls& syscalls_;
  int fd_;
};

}  // namespace

SgSyscalls& RealSgSyscalls() {
  static RealSyscalls syscalls;
  return syscalls;
}

int SgOpenFlags(ShareMode share) {
  // O_NONBLOCK on every open: the sg driver otherwise waits in open() for as long as another
  // process holds the node with O_EXCL (or, for our exclusive open, has it open at all). It
  // does not make SG_IO asynchronous: that request always waits for its command.
  int flags = O_RDWR | O_CLOEXEC | O_NONBLOCK;
  if (share == ShareMode::Exclusive) flags |= O_EXCL;
  return flags;
}

ScsiOpen SgScsiHost::Open(const char* path, ShareMode share) {
  const int fd = syscalls_.Open(path, SgOpenFlags(share));
  if (fd < 0) {
    const int error = errno;
    return ScsiOpen::Failed(OpenErrnoOutcome(error), ErrnoCode(error));
  }
  return {std::make_unique<SgDevice>(syscalls_, fd), {}};
}

}  // namespace qvb::linux_host

namespace qvb {

ScsiHost& PlatformScsiHost() {
  static linux_host::SgScsiHost host(linux_host::RealSgSyscalls());
  return host;
}

}  // namespace qvb
