// The fault matrix: one whole update of a virtual QVB886 is recorded, then run again once for
// every request index k of it and every kind of fault striking at k. Whatever the fault, the
// update must never report success over a flash that does not hold the image, must report a
// failure as "Update Fail!", must send nothing once the Update command has returned, must
// never ask for more than its buffers hold, and must end within a bounded number of requests
// and of simulated pause time.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/tform1.h"
#include "app/toolkit/headless/headless_toolkit.h"
#include "device/bridge_commands.h"
#include "device/firmware_image.h"
#include "device/guarded_scsi_host.h"
#include "firmware/update.h"
#include "tests/support/fake_system.h"
#include "tests/support/image_lookup.h"
#include "virtual_bridge/virtual_bridge.h"

namespace qvb {
namespace {

constexpr const char* kPath =
    "\\\\?\\usbstor#disk&ven_quorvel&prod_qvb886#0001&0#{53f56307-b6bf-11d0-94f2-00a0c91efb8b}";

// The compare window of the update: positions 0-511 and 1024-0x103FF.
constexpr uint32_t kWindowFirstEnd = 512;
constexpr uint32_t kWindowSecondStart = 1024;
constexpr uint32_t kWindowSecondEnd = 0x10400;
// The read-back area: the image size rounded up to 256.
constexpr uint32_t kReadBackArea = (kFirmwareImageSize + 255) / 256 * 256;

// Upper bounds of one update, from its structure: per attempt at most a descriptor, the loader,
// three tries of control, descriptor and 66 pieces, a descriptor and 66 read pieces, each
// failure followed by one REQUEST SENSE; two attempts and the information block.
constexpr int kMaxRequests = 600;
// Two attempts of the loader path: 2000 ms after the loader, 500 ms after each of three
// controls.
constexpr uint64_t kMaxPauseMs = 2 * (kLoaderSettleMs + kLoaderTries * kControlSettleMs);
// Past this many opens the run counts as runaway and every further open fails.
constexpr int kRunawayOpens = 5000;

uint32_t Get24(const uint8_t* at) {
  return (uint32_t{at[0]} << 16) | (uint32_t{at[1]} << 8) | at[2];
}

const std::vector<uint8_t>& CarriedImage();

// A piece carries the image's bytes at its offset, and zeros from `placed` on (the end of the
// image, or on the loader path the download length).
bool PieceIsImage(const uint8_t* data, uint32_t offset, uint32_t length, uint32_t placed) {
  const auto& image = CarriedImage();
  for (uint32_t i = 0; i < length; ++i) {
    const uint64_t at = uint64_t{offset} + i;
    if (data[i] != (at < placed && at < image.size() ? image[at] : 0)) return false;
  }
  return true;
}

// The virtual bridge behind a guard that checks every request before the bridge sees it and
// counts the opens that come after the Update command has returned.
class GuardedHost : public GuardedScsiHost {
 public:
  explicit GuardedHost(virt::VirtualBridge& bridge) : GuardedScsiHost(bridge) {
    before_open = [this](const char*, ShareMode) -> std::optional<ScsiResult> {
      ++opens_;
      if (returned_) ++opens_after_return_;
      if (opens_ > kRunawayOpens) {
        runaway_ = true;
        return ScsiResult::Fail(ScsiOutcome::OsError, 2);
      }
      return std::nullopt;
    };
    before_send = [this](const std::string&, const ScsiRequest& request) {
      Check(request);
      return std::optional<ScsiResult>();
    };
  }

  void MarkReturned() { returned_ = true; }
  // Sets the size the download may write up to (the descriptor capacity rounded up to 512).
  void SetDownloadBound(uint32_t bound) { download_bound_ = bound; }
  // Sets how much of the image the pieces carry before zeros.
  void SetPlaced(uint32_t placed) { placed_ = placed; }

  int opens_after_return() const { return opens_after_return_; }
  bool runaway() const { return runaway_; }
  const std::vector<std::string>& problems() const { return problems_; }

 private:
  void Problem(const std::string& what) {
    if (problems_.size() < 8) problems_.push_back(what);
  }

  void Check(const ScsiRequest& r) {
    const uint32_t length = r.transfer_length;
    if (r.cdb_length != 10 && r.cdb_length != 12) Problem("command block length");
    if ((length == 0) != (r.data == nullptr)) Problem("data buffer without length");
    if (r.data && reinterpret_cast<std::uintptr_t>(r.data) % 8192 != 0)
      Problem("unaligned data buffer");
    const uint8_t* cdb = r.cdb;
    if (cdb[0] == kOpReadBuffer || cdb[0] == kOpWriteBuffer) {
      const uint32_t offset = Get24(&cdb[3]);
      const uint32_t asked = Get24(&cdb[6]);
      if (asked != length) Problem("allocation length differs from the transfer");
      const int mode = cdb[1];
      if (cdb[0] == kOpWriteBuffer && mode == kBufferModeMicrocodeDeferred &&
          (offset % kPieceSize != 0 || length > kPieceSize ||
           uint64_t{offset} + length > download_bound_))
        Problem("firmware piece outside the download");
      if (cdb[0] == kOpWriteBuffer && mode == kBufferModeMicrocodeDeferred && r.data &&
          !PieceIsImage(static_cast<const uint8_t*>(r.data), offset, length, placed_))
        Problem("a firmware piece that is not the image");
      if (cdb[0] == kOpWriteBuffer && mode == kBufferModeMicrocodeActivate &&
          (offset != 0 || length != kLoaderImageSize))
        Problem("loader write of another size");
      if (cdb[0] == kOpReadBuffer && mode == kBufferModeVendor && cdb[2] == 0 &&
          (offset % kPieceSize != 0 || length > kPieceSize ||
           uint64_t{offset} + length > kReadBackArea))
        Problem("read-back piece beyond the read-back area");
      if (cdb[0] == kOpReadBuffer && mode == kBufferModeDescriptor && (offset != 0 || length != 4))
        Problem("descriptor read of another size");
      if (mode != kBufferModeVendor && mode != kBufferModeDescriptor &&
          mode != kBufferModeMicrocodeActivate && mode != kBufferModeMicrocodeDeferred)
        Problem("buffer mode " + std::to_string(mode));
    } else if (cdb[0] == kOpBridgeInfo && length > kBridgeInfoSize) {
      Problem("information block longer than its buffer");
    }
  }

  int opens_ = 0;
  int opens_after_return_ = 0;
  bool returned_ = false;
  bool runaway_ = false;
  uint32_t download_bound_ = kStagingAreaSize;
  uint32_t placed_ = kFirmwareImageSize;
  std::vector<std::string> problems_;
};

// The carried images and a 64 KiB test loader, so that the loader path runs to its end.
FirmwareResource WithTestLoader(CarriedImages& carried, const char* name) {
  static const std::vector<uint8_t> loader = [] {
    std::vector<uint8_t> bytes(kLoaderImageSize);
    for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<uint8_t>(i * 7 + 1);
    return bytes;
  }();
  if (std::string(name) == kLoaderImageName) return {true, loader.data(), kLoaderImageSize};
  return carried.Find(name);
}

const std::vector<uint8_t>& CarriedImage() {
  static const std::vector<uint8_t> image = [] {
    std::vector<uint8_t> bytes(kFirmwareImageSize);
    LoadFirmwareImage(bytes.data(), 0, 0);
    return bytes;
  }();
  return image;
}

bool HoldsImage(const std::vector<uint8_t>& flash) {
  const auto& image = CarriedImage();
  if (flash.size() < kWindowSecondEnd || image.size() < kWindowSecondEnd) return false;
  return std::equal(image.begin(), image.begin() + kWindowFirstEnd, flash.begin()) &&
         std::equal(image.begin() + kWindowSecondStart, image.begin() + kWindowSecondEnd,
                    flash.begin() + kWindowSecondStart);
}

bool Untouched(const std::vector<uint8_t>& flash) {
  return std::all_of(flash.begin(), flash.begin() + kWindowSecondEnd,
                     [](uint8_t b) { return b == 0xFF; });
}

enum class Kind { CheckOnce, CheckFromK, Vanish, ShortReply, CorruptRead, PlatformError };

constexpr std::array<Kind, 6> kKinds = {Kind::CheckOnce,  Kind::CheckFromK,  Kind::Vanish,
                                        Kind::ShortReply, Kind::CorruptRead, Kind::PlatformError};

const char* KindName(Kind kind) {
  switch (kind) {
    case Kind::CheckOnce:
      return "check condition once";
    case Kind::CheckFromK:
      return "fails from k on";
    case Kind::Vanish:
      return "vanishes at k";
    case Kind::ShortReply:
      return "short reply at k";
    case Kind::CorruptRead:
      return "corrupt read at k";
    case Kind::PlatformError:
      return "platform error at k";
  }
  return "?";
}

virt::Fault FaultAt(Kind kind, int k) {
  virt::Fault fault;
  fault.from_request = k;
  fault.times = 1;
  switch (kind) {
    case Kind::CheckOnce:
      fault.kind = virt::FaultKind::CheckCondition;
      break;
    case Kind::CheckFromK:
      fault.kind = virt::FaultKind::CheckCondition;
      fault.times = -1;
      break;
    case Kind::Vanish:
      fault.kind = virt::FaultKind::Vanish;
      fault.times = -1;
      break;
    case Kind::ShortReply:
      // One byte only: shorter than every reply the update reads (16, 4 and 1024 bytes).
      fault.kind = virt::FaultKind::ShortReply;
      fault.short_length = 1;
      break;
    case Kind::CorruptRead:
      fault.kind = virt::FaultKind::CorruptData;
      break;
    case Kind::PlatformError:
      fault.kind = virt::FaultKind::PlatformError;
      break;
  }
  return fault;
}

enum class Outcome {
  Success,           // "Successfully updated." over a flash holding the image
  FailedUntouched,   // "Update Fail!", nothing written
  Refused,           // the test build's box: not a test device, nothing written, lines kept
  FailedHoldsImage,  // "Update Fail!", although the image did land (a safe false alarm)
  FailedPartial,     // "Update Fail!" with the flash partly written: the user is told
  FalseSuccess,      // success shown over a flash without the image
  NoVerdict,         // neither text, or both
  Runaway,           // the run did not end within its bounds
};

struct Run {
  Outcome outcome = Outcome::NoVerdict;
  int requests = 0;
  uint64_t pause_ms = 0;
  std::vector<std::string> violations;
};

// One Update command on a fresh window and bridge, with `fault` striking the update's requests.
Run RunUpdate(bool loader_path, const virt::Fault* fault, bool marked = true) {
  virt::DeviceModel model = virt::MakeQvb886(kPath, {133, 1, 0, 3});
  if (loader_path) (*model.info)[6] = 0;
  virt::SetTestDeviceMark(model, marked);
  virt::VirtualBridge bridge({model});
  GuardedHost host(bridge);
  host.SetDownloadBound((model.capacity + 511) / 512 * 512);
  if (loader_path) host.SetPlaced(kDownloadLength);
  testing::FakeSystem system;
  auto lookup =
      std::make_unique<testing::ScopedImageLookup>(loader_path ? WithTestLoader : nullptr);
  auto installed = std::make_unique<ScopedSeams>(HostSeams{.scsi = &host, .disks = &bridge});
  UpdateBusy = 0;

  Run run;
  {
    tk::headless::HeadlessApplication app;
    TForm1 form(app);
    form.FormCreate(&form);
    if (!form.btn_upd->Visible() || !form.btn_upd->Enabled()) {
      run.violations.push_back("the update is not offered");
    } else {
      bridge.ClearRequests();  // request indexes count from the update's first command
      if (fault) bridge.AddFault(*fault);
      system.now_ms = 0;
      if (!tk::headless::Click(form.btn_upd)) run.violations.push_back("Update did not run");
      host.MarkReturned();
      run.requests = static_cast<int>(bridge.requests().size());
      run.pause_ms = system.now_ms;
      // Time passes with the window idle: nothing may reach the device any more.
      app.RunFor(60000);

      const bool success = form.pnl_Descript_4->Text() == "Successfully updated." &&
                           form.pnl_Descript_2->Text() == "Please power off/on your USB device";
      const bool failure = form.pnl_Descript_3->Text() == "Update Fail!";
      const bool refused = system.boxes.size() == 1 && system.boxes[0].text == TestBuildRefusal();
      const auto& flash = bridge.devices()[0].flash;
      const auto names = bridge.CommandNames();
      const bool written = std::count(names.begin(), names.end(), "write_buffer") +
                               std::count(names.begin(), names.end(), "control") >
                           0;
      if (host.runaway() || run.requests > kMaxRequests || run.pause_ms > kMaxPauseMs)
        run.outcome = Outcome::Runaway;
      else if (refused)
        run.outcome = success || failure || written ? Outcome::NoVerdict : Outcome::Refused;
      else if (success == failure)
        run.outcome = Outcome::NoVerdict;
      else if (success)
        run.outcome = HoldsImage(flash) ? Outcome::Success : Outcome::FalseSuccess;
      else if (Untouched(flash))
        run.outcome = Outcome::FailedUntouched;
      else
        run.outcome = HoldsImage(flash) ? Outcome::FailedHoldsImage : Outcome::FailedPartial;

      if (host.opens_after_return() != 0)
        run.violations.push_back(std::to_string(host.opens_after_return()) +
                                 " opens after the update returned");
      if (UpdateBusy != 0) run.violations.push_back("UpdateBusy still set");
      if (!form.btn_Exit->Enabled()) run.violations.push_back("Exit left disabled");
    }
  }
  for (const auto& problem : host.problems()) run.violations.push_back(problem);

  UpdateBusy = 0;
  installed.reset();
  lookup.reset();
  return run;
}

const char* OutcomeName(Outcome outcome) {
  switch (outcome) {
    case Outcome::Success:
      return "success";
    case Outcome::FailedUntouched:
      return "fail, untouched";
    case Outcome::Refused:
      return "refused, untouched";
    case Outcome::FailedHoldsImage:
      return "fail, image landed";
    case Outcome::FailedPartial:
      return "fail, partly written";
    case Outcome::FalseSuccess:
      return "FALSE SUCCESS";
    case Outcome::NoVerdict:
      return "NO VERDICT";
    case Outcome::Runaway:
      return "RUNAWAY";
  }
  return "?";
}

constexpr std::array<Outcome, 8> kOutcomes = {
    Outcome::Success,       Outcome::FailedUntouched, Outcome::Refused,   Outcome::FailedHoldsImage,
    Outcome::FailedPartial, Outcome::FalseSuccess,    Outcome::NoVerdict, Outcome::Runaway};

void RunMatrix(bool loader_path) {
  const char* path_name = loader_path ? "loader path" : "normal path";
  const Run clean = RunUpdate(loader_path, nullptr);
  ASSERT_EQ(Outcome::Success, clean.outcome) << path_name << ": the run without faults";
  ASSERT_TRUE(clean.violations.empty()) << clean.violations.front();
  const int n = clean.requests;
  ASSERT_GT(n, 100) << "the update writes and reads its pieces";

  std::map<Kind, std::map<Outcome, int>> counts;
  // QVB_FAULT_MATRIX_VERBOSE=1 lists every run that did not end in success.
  const bool verbose = std::getenv("QVB_FAULT_MATRIX_VERBOSE") != nullptr;
  int runs = 0;
  int max_requests = 0;
  uint64_t max_pause = 0;
  for (Kind kind : kKinds) {
    for (int k = 0; k < n; ++k) {
      const virt::Fault fault = FaultAt(kind, k);
      const Run run = RunUpdate(loader_path, &fault);
      ++runs;
      ++counts[kind][run.outcome];
      max_requests = std::max(max_requests, run.requests);
      max_pause = std::max(max_pause, run.pause_ms);
      if (verbose && run.outcome != Outcome::Success)
        std::printf("  %s, %s, k=%d: %s after %d requests\n", path_name, KindName(kind), k,
                    OutcomeName(run.outcome), run.requests);
      const bool bad = run.outcome == Outcome::FalseSuccess || run.outcome == Outcome::NoVerdict ||
                       run.outcome == Outcome::Runaway;
      EXPECT_FALSE(bad) << path_name << ", " << KindName(kind) << ", k=" << k << ": "
                        << OutcomeName(run.outcome);
      for (const auto& violation : run.violations)
        ADD_FAILURE() << path_name << ", " << KindName(kind) << ", k=" << k << ": " << violation;
    }
  }

  std::printf(
      "fault matrix, %s: %d requests in the clean run, %zu fault kinds, %d runs; "
      "at most %d requests and %llu ms of pauses in one run\n",
      path_name, n, kKinds.size(), runs, max_requests, static_cast<unsigned long long>(max_pause));
  std::printf("  %-22s", "");
  for (Outcome outcome : kOutcomes) std::printf(" %21s", OutcomeName(outcome));
  std::printf("\n");
  for (Kind kind : kKinds) {
    std::printf("  %-22s", KindName(kind));
    for (Outcome outcome : kOutcomes) std::printf(" %21d", counts[kind][outcome]);
    std::printf("\n");
  }
  std::fflush(stdout);
}

TEST(FaultMatrix, NormalPath) {
  RunMatrix(false);
}

TEST(FaultMatrix, LoaderPath) {
  RunMatrix(true);
}

// A test build and a bridge without the test-device mark: the box, and no write of any kind.
TEST(FaultMatrix, UnmarkedBridgeGetsNoWrite) {
  const struct Run run = RunUpdate(false, nullptr, false);
  EXPECT_EQ(Outcome::Refused, run.outcome) << OutcomeName(run.outcome);
  EXPECT_EQ(1, run.requests) << "one INQUIRY reads the mark";
  for (const auto& violation : run.violations) ADD_FAILURE() << violation;
}

// The guard itself must see what it is there to see, or a clean matrix proves nothing.
TEST(FaultMatrix, GuardSeesWhatItChecks) {
  virt::VirtualBridge bridge({virt::MakeQvb886(kPath, {133, 1, 0, 3})});
  GuardedHost host(bridge);
  auto installed = std::make_unique<ScopedSeams>(HostSeams{.scsi = &host});
  testing::FakeSystem system;
  std::vector<uint8_t> piece(kPieceSize);
  ReadBuffer(kPath, kBufferModeVendor, 0, kReadBackArea - 512, piece.data(), kPieceSize);
  WriteBuffer(kPath, 0, kBufferModeMicrocodeDeferred, piece.data(), 1000, kPieceSize);
  host.MarkReturned();
  std::array<uint8_t, 4> reply{};
  ReadBridgeConfig(kPath, reply.data());
  installed.reset();
  EXPECT_EQ((std::vector<std::string>{"read-back piece beyond the read-back area",
                                      "firmware piece outside the download",
                                      "a firmware piece that is not the image"}),
            host.problems());
  EXPECT_EQ(1, host.opens_after_return());
}

}  // namespace
}  // namespace qvb
