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

class SgDevice : public ScsiDevice {
 public:
  SgDevice(SgSyscalls& syscalls, int fd) : syscalls_(syscalls), fd_(fd) {}
  ~SgDevice() override { syscalls_.Close(fd_); }
  SgDevice(const SgDevice&) = delete;
  SgDevice& operator=(const SgDevice&) = delete;

  bool Send(ScsiPassThroughDirect& request, uint32_t& last_error) override {
    sg_io_hdr_t header;
    std::memset(&header, 0, sizeof header);
    header.interface_id = 'S';
    header.cmd_len = request.CdbLength;
    header.cmdp = request.Cdb;
    header.dxfer_len = request.DataTransferLength;
    header.dxferp = request.DataBuffer;
    if (request.DataTransferLength == 0 || request.DataBuffer == nullptr) {
      header.dxfer_direction = SG_DXFER_NONE;
      header.dxfer_len = 0;
      header.dxferp = nullptr;
    } else {
      header.dxfer_direction = request.DataIn ? SG_DXFER_FROM_DEV : SG_DXFER_TO_DEV;
    }
    header.timeout = request.TimeOutValue * 1000u;
    header.mx_sb_len = 0;  // no automatic sense data
    header.sbp = nullptr;

    const int rc = syscalls_.Ioctl(fd_, &header);
    last_error = rc == 0 ? 0 : static_cast<uint32_t>(errno ? errno : EIO);
    if (rc != 0) return false;
    request.ScsiStatus = header.status;
    // The kernel's host and driver status are this host's "error pending".
    if (header.host_status != 0 || header.driver_status != 0) {
      last_error =
          0x10000u | (static_cast<uint32_t>(header.host_status) << 8) | header.driver_status;
    }
    const int resid = header.resid < 0 ? 0 : header.resid;
    const uint32_t residue = static_cast<uint32_t>(resid);
    request.DataTransferLength =
        residue < request.DataTransferLength ? request.DataTransferLength - residue : 0;
    return true;
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

std::unique_ptr<ScsiDevice> SgScsiHost::Open(const char* path, ShareMode share) {
  const int fd = syscalls_.Open(path, SgOpenFlags(share));
  if (fd < 0) return nullptr;
  return std::make_unique<SgDevice>(syscalls_, fd);
}

}  // namespace qvb::linux_host

namespace qvb {

ScsiHost& PlatformScsiHost() {
  static linux_host::SgScsiHost host(linux_host::RealSgSyscalls());
  return host;
}

}  // namespace qvb
