// The updater's main job against the virtual bridge: the window's own logic on the headless
// toolkit, printed line by line as the window would show it.
#include <cstdio>
#include <string>
#include <vector>

#include "app/tform1.h"
#include "app/toolkit/headless/headless_toolkit.h"
#include "device/firmware_image.h"
#include "device/seams.h"
#include "firmware/screen.h"
#include "host/host.h"
#include "virtual_bridge/virtual_devices.h"

namespace {

// Pauses pass at once: the demo shows the procedure, not its waiting.
class DemoSystem : public qvb::SystemServices {
 public:
  void Sleep(uint32_t) override {}
  void DebugOutput(const char* text) override { std::fprintf(stderr, "debug: %s", text); }
  int MessageBox(const char* text, const char* caption, uint32_t) override {
    std::printf("[message box \"%s\"]\n%s\n", caption, text);
    return qvb::kIdOk;
  }
  // Virtual devices only: nothing real is written, so there is no sleep to hold back.
  bool InhibitSleep(std::string&) override { return true; }
  void AllowSleep() override {}
};

void Show(const char* moment, qvb::TForm1& form) {
  std::printf("--- %s ---\n", moment);
  const qvb::tk::Panel* lines[] = {form.pnl_Descript_1, form.pnl_Descript_2, form.pnl_Descript_3,
                                   form.pnl_Descript_4, form.pnl_Descript_5};
  for (const auto* line : lines)
    if (!line->Text().empty()) std::printf("  %s\n", line->Text().c_str());
  for (int i = 0; i < form.cbb_DeviceList->Count(); ++i)
    std::printf("  list %d: \"%s\"\n", i, form.cbb_DeviceList->Item(i).c_str());
  std::printf(
      "  [Update: %s] [Exit: %s]\n",
      form.btn_upd->Visible() ? (form.btn_upd->Enabled() ? "offered" : "disabled") : "hidden",
      form.btn_Exit->Visible() ? "shown" : "hidden");
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s SCENARIO\n", argv[0]);
    return 2;
  }
  qvb::virt::VirtualDevices devices(argv[1]);
  std::string error;
  if (!devices.Load(error)) {
    std::fprintf(stderr, "%s\n", error.c_str());
    return 2;
  }
  qvb::virt::VirtualBridge& bridge = devices.bridge();
  DemoSystem system;
  qvb::ScopedSeams services(qvb::HostSeams{.system = &system, .images = &qvb::BuildImages()});

  qvb::tk::headless::HeadlessApplication app;
  app.SetTitle("Quorvel FW Update Utility");
  qvb::TForm1 form(app);
  form.FormCreate(&form);
  std::printf("%s\n", form.window().Caption().c_str());
  Show("after the refresh", form);

  int result = 0;
  if (form.btn_upd->Visible() && form.btn_upd->Enabled()) {
    const std::size_t before = bridge.requests().size();
    qvb::tk::headless::Click(form.btn_upd);
    Show("after Update", form);
    std::size_t writes = 0, reads = 0;
    for (std::size_t i = before; i < bridge.requests().size(); ++i) {
      const auto name = qvb::virt::CommandName(bridge.requests()[i].cdb);
      const int mode = bridge.requests()[i].cdb[1];
      if (name == "write_buffer" && mode == 0x0E) ++writes;
      if (name == "read_buffer" && mode == 0x01) ++reads;
    }
    std::vector<uint8_t> image(qvb::kFirmwareImageSize);
    qvb::LoadFirmwareImage(image.data(), 0, 0);
    const auto& flash = bridge.devices().at(0).flash;
    const bool equal = std::equal(image.begin(), image.begin() + 0x10400, flash.begin());
    std::printf("bridge: %zu pieces written, %zu read back; flash %s the image\n", writes, reads,
                equal ? "holds" : "does NOT hold");
    const bool updated =
        form.pnl_Descript_4->Text() == qvb::ScreenFor(qvb::Outcome::Updated).lines[3];
    result = updated && equal ? 0 : 1;
  }
  return result;
}
