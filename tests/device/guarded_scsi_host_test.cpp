#include "device/guarded_scsi_host.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "device/scsi_host.h"

namespace qvb {
namespace {

// An inner host that counts what reaches it and answers with a fixed result.
struct CountingHost : ScsiHost {
  int opens = 0;
  int sends = 0;
  int closes = 0;
  ScsiResult answer;
  struct Device : ScsiDevice {
    CountingHost& host;
    explicit Device(CountingHost& h) : host(h) {}
    ~Device() override { ++host.closes; }
    ScsiResult Send(const ScsiRequest&) override {
      ++host.sends;
      return host.answer;
    }
  };
  ScsiOpen Open(const char*, ShareMode) override {
    ++opens;
    return {std::make_unique<Device>(*this), {}};
  }
};

TEST(GuardedScsiHost, WatchesSeeEveryOutcomeAndVetoesStopAtTheGuard) {
  CountingHost inner;
  inner.answer.outcome = ScsiOutcome::ScsiStatus;
  inner.answer.scsi_status = kScsiStatusCheckCondition;
  inner.answer.transferred = 3;
  GuardedScsiHost guard(inner);
  std::vector<std::string> seen;
  bool refuse_open = false;
  bool refuse_send = false;
  guard.before_open = [&](const char*, ShareMode) -> std::optional<ScsiResult> {
    if (refuse_open) return ScsiResult::Fail(ScsiOutcome::Permission, 13);
    return std::nullopt;
  };
  guard.after_open = [&](const char* path, ShareMode, const ScsiResult& result) {
    seen.push_back(std::string("open ") + path + " " +
                   std::to_string(static_cast<int>(result.outcome)));
  };
  guard.before_send = [&](const std::string&, const ScsiRequest&) -> std::optional<ScsiResult> {
    if (refuse_send) return ScsiResult::Fail(ScsiOutcome::OsError, 31);
    return std::nullopt;
  };
  guard.after_send = [&](const std::string& path, const ScsiRequest& request,
                         const ScsiResult& result) {
    seen.push_back("send " + path + " " + std::to_string(request.cdb[0]) + " " +
                   std::to_string(static_cast<int>(result.outcome)) + " " +
                   std::to_string(result.os_error));
  };

  ScsiRequest request;
  request.cdb[0] = 0x12;
  request.cdb_length = 6;
  {
    ScsiOpen opened = guard.Open("/dev/sg1", ShareMode::ReadWrite);
    ASSERT_NE(nullptr, opened.device);
    const ScsiResult passed = opened.device->Send(request);
    EXPECT_EQ(ScsiOutcome::ScsiStatus, passed.outcome);
    EXPECT_EQ(kScsiStatusCheckCondition, passed.scsi_status);
    EXPECT_EQ(3u, passed.transferred);
    refuse_send = true;
    const ScsiResult vetoed = opened.device->Send(request);
    EXPECT_EQ(ScsiOutcome::OsError, vetoed.outcome);
    EXPECT_EQ(1, inner.sends) << "a vetoed request must not reach the inner host";
  }
  EXPECT_EQ(1, inner.closes) << "the guarded device owns the inner one";

  refuse_open = true;
  const ScsiOpen refused = guard.Open("/dev/sg2", ShareMode::Exclusive);
  EXPECT_EQ(nullptr, refused.device);
  EXPECT_EQ(ScsiOutcome::Permission, refused.result.outcome);
  EXPECT_EQ(13u, refused.result.os_error);
  EXPECT_EQ(1, inner.opens);

  EXPECT_EQ((std::vector<std::string>{"open /dev/sg1 0", "send /dev/sg1 18 1 0",
                                      "send /dev/sg1 18 2 31", "open /dev/sg2 3"}),
            seen);
}

}  // namespace
}  // namespace qvb
