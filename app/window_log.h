// The window programs' log of their last runs: the same request and step lines as the command
// line's --log, in a file of the user's (or, as root, the system's) that support can ask for.
// It is bounded and rotated, and it never stops the window: a folder that cannot be written
// just means no log.
#pragma once

#include <cstddef>
#include <cstdio>
#include <memory>
#include <ostream>
#include <streambuf>
#include <string>

#include "device/request_log.h"

namespace qvb {

// The file is moved to FILE.1 (replacing the one before) before it would pass this; the two
// together hold the last runs.
constexpr std::size_t kWindowLogMaxBytes = std::size_t{1024} * 1024;

// A file that grows by whole lines and never past `max_bytes`: a line that would pass it moves the
// file to FILE.1 first. What cannot be written is dropped; nothing here throws.
class RotatingFileBuffer : public std::streambuf {
 public:
  RotatingFileBuffer(std::string file, std::size_t max_bytes);
  ~RotatingFileBuffer() override;
  RotatingFileBuffer(const RotatingFileBuffer&) = delete;
  RotatingFileBuffer& operator=(const RotatingFileBuffer&) = delete;

  // Whether the file could be opened for appending.
  bool is_open() const { return file_ != nullptr; }

 protected:
  int_type overflow(int_type c) override;
  std::streamsize xsputn(const char* text, std::streamsize count) override;
  int sync() override;

 private:
  bool Open();
  void Rotate();
  // Not virtual: the destructor writes what is left through it.
  void WritePending();

  std::string path_;
  std::size_t max_bytes_;
  std::FILE* file_ = nullptr;
  std::size_t size_ = 0;
  std::string pending_;
};

// The window's log: `file` (empty: no log) opened for appending, a header line (program, version,
// build kind, host), and the request log put over the active SCSI host until it is destroyed.
class WindowLog {
 public:
  WindowLog(const std::string& file, const std::string& program,
            std::size_t max_bytes = kWindowLogMaxBytes);
  ~WindowLog();
  WindowLog(const WindowLog&) = delete;
  WindowLog& operator=(const WindowLog&) = delete;

  // Where the window's steps go; null when nothing is logged.
  RequestLog* requests() { return requests_.get(); }

 private:
  std::unique_ptr<RotatingFileBuffer> buffer_;
  std::unique_ptr<std::ostream> stream_;
  std::unique_ptr<RequestLog> requests_;
};

// The window's log file on this host, its folder made when missing; empty when there is none.
// Linux: /var/log/qvb886-fwupdate/qvb886-fwupdate-gui.log as root on the machine's disks, else
// the same name in $XDG_STATE_HOME/qvb886-fwupdate (by default ~/.local/state). Windows:
// QVB886FWUpdate\qvb886-fwupdate.log in the local application data folder.
std::string WindowLogFile(bool virtual_devices);

}  // namespace qvb
