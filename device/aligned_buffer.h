// A zero-filled buffer allocated with 8192 bytes of slack whose usable part starts at the
// first multiple of 8192 inside the allocation. Direct pass-through needs aligned memory.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <new>

namespace qvb {

constexpr std::size_t kTransferAlignment = 8192;

class AlignedBuffer {
 public:
  AlignedBuffer() = default;
  explicit AlignedBuffer(std::size_t size) { Allocate(size); }

  // Returns false when the memory cannot be had; the buffer is then empty.
  bool Allocate(std::size_t size) {
    storage_.reset();
    data_ = nullptr;
    size_ = 0;
    if (size > SIZE_MAX - kTransferAlignment) return false;
    storage_.reset(new (std::nothrow) uint8_t[size + kTransferAlignment]());
    if (!storage_) return false;
    const auto address = reinterpret_cast<std::uintptr_t>(storage_.get());
    const std::uintptr_t offset =
        (kTransferAlignment - address % kTransferAlignment) % kTransferAlignment;
    data_ = storage_.get() + offset;
    size_ = size;
    return true;
  }

  uint8_t* data() { return data_; }
  const uint8_t* data() const { return data_; }
  std::size_t size() const { return size_; }
  bool valid() const { return data_ != nullptr; }

 private:
  std::unique_ptr<uint8_t[]> storage_;
  uint8_t* data_ = nullptr;
  std::size_t size_ = 0;
};

}  // namespace qvb
