// Installation points of the host seams, and what stands behind them when nothing is installed.
#include "device/seams.h"

#include <chrono>
#include <cstdio>
#include <thread>

namespace qvb {
namespace {

class NoScsiHost : public ScsiHost {
 public:
  // As for a path that names nothing (ENOENT, ERROR_FILE_NOT_FOUND).
  ScsiOpen Open(const char*, ShareMode) override {
    return ScsiOpen::Failed(ScsiOutcome::OsError, 2);
  }
};

class NoDiskInterfaces : public DiskInterfaces {
 public:
  std::unique_ptr<DiskInterfaceWalk> Walk() override { return nullptr; }
  const char* BusText(const char*) override { return ""; }
};

class PortableSystemServices : public SystemServices {
 public:
  void Sleep(uint32_t milliseconds) override {
    std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
  }
  void DebugOutput(const char* text) override { std::fputs(text, stderr); }
  int MessageBox(const char* text, const char* caption, uint32_t) override {
    std::fprintf(stderr, "[%s] %s\n", caption, text);
    return kIdOk;
  }
  bool InhibitSleep(std::string& reason) override {
    reason = "no system services installed";
    return false;
  }
  void AllowSleep() override {}
};

class NoShellServices : public ShellServices {
 public:
  bool GetWindowsVersion(uint32_t&, uint32_t&) override { return false; }
  void* FindTopLevelWindow(const char*, const char*) override { return nullptr; }
  bool PostMessage(void*, uint32_t, uintptr_t, intptr_t) override { return false; }
};

class NoCarriedImages : public CarriedImages {
 public:
  FirmwareResource Find(const char*) override { return {}; }
  const Sha256Digest* RecordedDigest(const char*) override { return nullptr; }
  // Nothing can be written without an image; should one be installed later, the safe answer.
  bool AreTestImages() override { return true; }
};

NoScsiHost g_no_scsi_host;
NoDiskInterfaces g_no_disk_interfaces;
PortableSystemServices g_portable_system;
NoShellServices g_no_shell;
NoCarriedImages g_no_images;

HostSeams g_seams = {&g_no_scsi_host, &g_no_disk_interfaces, &g_portable_system, &g_no_shell,
                     &g_no_images};

template <typename Seam>
void Swap(Seam*& slot, Seam* replacement, Seam*& previous) {
  if (!replacement) return;
  previous = slot;
  slot = replacement;
}

template <typename Seam>
void Restore(Seam*& slot, Seam* installed, Seam* previous) {
  if (installed) slot = previous;
}

}  // namespace

ScsiHost& ActiveScsiHost() {
  return *g_seams.scsi;
}

DiskInterfaces& ActiveDiskInterfaces() {
  return *g_seams.disks;
}

SystemServices& System() {
  return *g_seams.system;
}

ShellServices& Shell() {
  return *g_seams.shell;
}

CarriedImages& Images() {
  return *g_seams.images;
}

ScopedSeams::ScopedSeams(const HostSeams& seams) : installed_(seams) {
  Swap(g_seams.scsi, seams.scsi, previous_.scsi);
  Swap(g_seams.disks, seams.disks, previous_.disks);
  Swap(g_seams.system, seams.system, previous_.system);
  Swap(g_seams.shell, seams.shell, previous_.shell);
  Swap(g_seams.images, seams.images, previous_.images);
}

ScopedSeams::~ScopedSeams() {
  // In reverse, as nested scopes expect.
  Restore(g_seams.images, installed_.images, previous_.images);
  Restore(g_seams.shell, installed_.shell, previous_.shell);
  Restore(g_seams.system, installed_.system, previous_.system);
  Restore(g_seams.disks, installed_.disks, previous_.disks);
  Restore(g_seams.scsi, installed_.scsi, previous_.scsi);
}

}  // namespace qvb
