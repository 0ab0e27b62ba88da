// SG_IO backend of the SCSI seam, with the system calls behind a small interface so that the
// request translation is tested without a kernel device.
#pragma once

#include <scsi/sg.h>

#include <memory>

#include "device/scsi_host.h"

namespace qvb::linux_host {

class SgSyscalls {
 public:
  virtual ~SgSyscalls() = default;
  virtual int Open(const char* path, int flags) = 0;   // returns a descriptor or -1, errno set
  virtual int Ioctl(int fd, sg_io_hdr_t* header) = 0;  // 0 on success, -1 with errno
  virtual void Close(int fd) = 0;
};

SgSyscalls& RealSgSyscalls();

// Open flags for a share mode: read-write and non-blocking, so that a node held by another
// process fails the open at once (EBUSY) instead of blocking the program; exclusive adds
// O_EXCL.
int SgOpenFlags(ShareMode share);

// Translates a request into an sg_io_hdr and the kernel's answer into a result.
class SgScsiHost : public ScsiHost {
 public:
  explicit SgScsiHost(SgSyscalls& syscalls) : syscalls_(syscalls) {}
  ScsiOpen Open(const char* path, ShareMode share) override;

 private:
  SgSyscalls& syscalls_;
};

}  // namespace qvb::linux_host
