// The main window's refresh and status check (and the Update command when offered) on the
// headless toolkit, against disks whose every reply is fuzz input.
#include <string>

#include "app/tform1.h"
#include "app/toolkit/headless/headless_toolkit.h"
#include "firmware/device_status.h"
#include "firmware/screen.h"
#include "fuzz/fuzz_device.h"
#include "fuzz/harnesses.h"

namespace qvb::fuzz {
namespace {

constexpr int kMaxDisks = 20;  // more than the refresh's 16 path buffers

}  // namespace

int RefreshOne(const uint8_t* data, std::size_t size) {
  Input input(data, size);
  const uint8_t flags = input.Take();
  InputDisks disks;
  const int count = input.Take() % kMaxDisks;
  for (int i = 0; i < count; ++i) disks.Add(DiskPath(i, input.Take()));
  InputDevice device(input);
  device.marked = (flags & 8) == 0;
  QuietSystem system;
  system.windows10 = (flags & 1) != 0;
  Installed installed(&device, &system, &disks, (flags & 4) ? WithTestLoader : nullptr);
  UpdateBusy = 0;

  {
    tk::headless::HeadlessApplication app;
    TForm1 form(app);
    form.FormCreate(&form);

    Require(form.disk_count() >= 0 && form.disk_count() <= kScanPathBuffers,
            "no more disks than path buffers");
    const int items = form.cbb_DeviceList->Count();
    Require(items >= 1 && items <= kScanPathBuffers, "the list has a line per listed disk");
    Require(form.cbb_DeviceList->ItemIndex() == 0, "line 0 is selected");
    const std::string required = StatusLine(FirmwareStatus::UpdateRequired);
    Require(!form.btn_upd->Enabled() || form.pnl_Descript_4->Text() == required,
            "Update is enabled only with the update-required status");
    const bool offered = form.btn_upd->Visible() && form.btn_upd->Enabled();
    if (offered) {
      Require(form.pnl_Descript_4->Text() == required, "the offer's status");
      Require(form.bridge_model_code() == 22, "the update is offered for the QVB886 only");
      Require(items == 1, "the update is offered with one disk listed");
    }
    if (form.disk_count() == 0)
      Require(form.cbb_DeviceList->Item(0) == NoDeviceListLine(), "the no-device line");
    // One status check: the flash-ready wait (502 pauses of 10 ms at most) and the shell
    // prompt loop (101 pauses of 2 ms).
    Require(system.slept_ms <= 502 * 10 + 101 * 2, "bounded pauses of the status check");

    if (offered && (flags & 2)) {
      // The update runs against the same device; its requests start here.
      const int boxes = system.boxes;
      tk::headless::Click(form.btn_upd);
      // Time passes with the window idle: nothing may reach the device any more.
      device.CloseForGood();
      app.RunFor(60000);
      Require(device.opens_after_close() == 0, "nothing after the Update command returned");
      const bool success = form.pnl_Descript_4->Text() == ScreenFor(Outcome::Updated).lines[3];
      const bool failure = form.pnl_Descript_3->Text() == ScreenFor(Outcome::UpdateFailed).lines[2];
      // Or it never began: the test build's box, and nothing written.
      const bool refused = !success && !failure;
      Require(!refused || (system.boxes > boxes && !device.AnyWrite()),
              "the update ends in exactly one verdict, or is refused with nothing written");
      Require(device.marked || refused, "a device without the test mark is never updated");
      Require(UpdateBusy == 0, "UpdateBusy is cleared");
      Require(form.btn_Exit->Enabled(), "Exit is enabled again");
      bool echoed = false;
      CheckUpdateRequests(device, echoed);
      if (success && echoed)
        Require(MemoryHoldsImage(device), "success only when the image is in the device");
    }
  }
  UpdateBusy = 0;
  return 0;
}

}  // namespace qvb::fuzz
