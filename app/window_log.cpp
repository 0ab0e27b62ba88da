#include "app/window_log.h"

#include <algorithm>
#include <utility>

#include "device/host_description.h"
#include "device/test_device.h"
#include "firmware/run_steps.h"

#ifndef QVB_VERSION
#define QVB_VERSION "0.0.0"
#endif

namespace qvb {

RotatingFileBuffer::RotatingFileBuffer(std::string file, std::size_t max_bytes)
    : path_(std::move(file)), max_bytes_(max_bytes) {
  Open();
}

RotatingFileBuffer::~RotatingFileBuffer() {
  WritePending();
  if (file_) (void)std::fclose(file_);  // nothing more to tell anyone at this point
}

bool RotatingFileBuffer::Open() {
  file_ = std::fopen(path_.c_str(), "ab");
  if (!file_) return false;
  size_ = 0;
  if (std::fseek(file_, 0, SEEK_END) == 0) {
    const long end = std::ftell(file_);
    if (end > 0) size_ = static_cast<std::size_t>(end);
  }
  return true;
}

void RotatingFileBuffer::Rotate() {
  (void)std::fclose(file_);
  file_ = nullptr;
  const std::string older = path_ + ".1";
  (void)std::remove(older.c_str());  // absent the first time; the rename below says the rest
  if (std::rename(path_.c_str(), older.c_str()) != 0) {
    // The file could not be moved aside (another program holds it open): start it again
    // rather than let it grow.
    file_ = std::fopen(path_.c_str(), "wb");
    size_ = 0;
    return;
  }
  Open();
}

RotatingFileBuffer::int_type RotatingFileBuffer::overflow(int_type c) {
  if (!traits_type::eq_int_type(c, traits_type::eof())) pending_ += traits_type::to_char_type(c);
  return traits_type::not_eof(c);
}

std::streamsize RotatingFileBuffer::xsputn(const char* text, std::streamsize count) {
  if (count > 0) pending_.append(text, static_cast<std::size_t>(count));
  return count;
}

int RotatingFileBuffer::sync() {
  WritePending();
  return 0;
}

void RotatingFileBuffer::WritePending() {
  // Whatever happens here, the window goes on: a failure only loses lines.
  if (pending_.empty()) return;
  if (file_ && size_ > 0 && size_ + pending_.size() > max_bytes_) Rotate();
  if (file_) {
    const std::size_t length = std::min(pending_.size(), max_bytes_);
    const std::size_t written = std::fwrite(pending_.data(), 1, length, file_);
    std::fflush(file_);
    size_ += written;
    // In append mode the end is where the file ends, another run's lines included.
    const long end = std::ftell(file_);
    if (end > 0) size_ = static_cast<std::size_t>(end);
  }
  pending_.clear();
}

WindowLog::WindowLog(const std::string& file, const std::string& program, std::size_t max_bytes) {
  if (file.empty()) return;
  buffer_ = std::make_unique<RotatingFileBuffer>(file, max_bytes);
  if (!buffer_->is_open()) {
    buffer_.reset();
    return;
  }
  stream_ = std::make_unique<std::ostream>(buffer_.get());
  requests_ = std::make_unique<RequestLog>(ActiveScsiHost(), stream_.get(), nullptr);
  requests_->Note("=== " + program + " " + QVB_VERSION + " (" +
                  (CarriesTestImages() ? "test build" : "release build") + ") on " +
                  Printable(HostDescription()));
  requests_->Install();
}

WindowLog::~WindowLog() {
  requests_.reset();  // off the SCSI host before the file goes
  stream_.reset();
}

}  // namespace qvb
