// The whole update on the Windows services with a counting SetThreadExecutionState: the machine
// is kept awake from before the first write to after the last, then the state is put back.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "device/system_services.h"
#include "device/win32/system_services_win32.h"
#include "firmware/update.h"
#include "tests/support/fake_system.h"
#include "tests/support/watching_host.h"
#include "virtual_bridge/virtual_bridge.h"

namespace qvb {
namespace {

constexpr const char* kPath = "\\\\?\\usbstor#disk&ven_quorvel&prod_qvb886#1#{53f56307}";

// Everything the update sees, in order: "awake", "write", "asleep".
std::vector<std::string>* g_events = nullptr;

EXECUTION_STATE WINAPI CountingSetThreadExecutionState(EXECUTION_STATE flags) {
  if (flags == (ES_CONTINUOUS | ES_SYSTEM_REQUIRED))
    g_events->push_back("awake");
  else if (flags == ES_CONTINUOUS)
    g_events->push_back("asleep");
  else
    g_events->push_back("other");
  return ES_CONTINUOUS;
}

TEST(Win32SleepInhibition, HeldFromBeforeTheFirstWriteToAfterTheLast) {
  for (bool fails : {false, true}) {
    std::vector<std::string> events;
    g_events = &events;
    virt::VirtualBridge bridge({virt::MakeQvb886(kPath, {133, 1, 0, 3})});
    if (fails) {
      virt::Fault fault;
      fault.command = "write_buffer";
      fault.from_request = 2;  // the first piece of each attempt fails
      bridge.AddFault(fault);
    }
    testing::WatchingHost watching(bridge, [&](const ScsiRequest& request) {
      if (testing::IsWriteBuffer(request)) events.push_back("write");
    });
    ScopedSeams installed{HostSeams{.scsi = &watching}};
    win32_host::Win32SystemServices services(CountingSetThreadExecutionState);
    {
      ScopedSeams system{HostSeams{.system = &services}};
      EXPECT_EQ(fails ? 0 : 1, UpdateFirmware(nullptr, kPath));
    }
    g_events = nullptr;

    ASSERT_GE(events.size(), 3u) << fails;
    EXPECT_EQ("awake", events.front()) << fails;
    EXPECT_EQ("asleep", events.back()) << fails;
    const auto writes = std::count(events.begin(), events.end(), "write");
    EXPECT_EQ(static_cast<long>(events.size()) - 2, writes) << "nothing else in between";
    EXPECT_EQ(fails ? 2 : 65, writes);
  }
}

}  // namespace
}  // namespace qvb
