// Where the Qt window's device-change codes come from: a source made for each registration.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>

namespace qvb::tk::qt {

// Receives the codes of one registration, in order.
using DeviceEventSink = std::function<void(uintptr_t code)>;

// A source of device-change codes; it delivers them to its sink for as long as it lives.
class DeviceEventSource {
 public:
  virtual ~DeviceEventSource() = default;
};

// Makes the source of a new registration; null when none can be had (the registration fails).
using DeviceEventSourceFactory =
    std::function<std::unique_ptr<DeviceEventSource>(DeviceEventSink sink)>;

}  // namespace qvb::tk::qt
