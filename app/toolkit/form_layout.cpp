// The main window as designed: client 475 x 203 at 96 dpi.
#include "app/toolkit/toolkit.h"

namespace qvb::tk {
namespace {

constexpr ControlLayout kControls[] = {
    // In the form's declaration order.
    {"btn_Refresh", ControlKind::Button, 80, 144, 97, 25, "Refresh", FontKind::Window, false, 1},
    {"cbb_DeviceList", ControlKind::ComboBox, 216, 144, 177, 21, "DeviceList", FontKind::Window,
     false, 0},
    {"pnl_Descript_2", ControlKind::Panel, 8, 35, 460, 25, "pnl_2", FontKind::Line, true, 2},
    {"pnl_Descript_1", ControlKind::Panel, 8, 5, 460, 25, "pnl_1", FontKind::Line, true, 3},
    {"btn_Exit", ControlKind::Button, 384, 160, 80, 33, "Exit", FontKind::Line, true, 4},
    {"pnl_Descript_3", ControlKind::Panel, 7, 65, 460, 25, "pnl_3", FontKind::Line, true, 5},
    {"btn_upd", ControlKind::Button, 208, 160, 80, 33, "Update", FontKind::Line, true, 6},
    {"pnl_Descript_4", ControlKind::Panel, 7, 95, 460, 25, "pnl_4", FontKind::Line, true, 7},
    {"pnl_Descript_5", ControlKind::Panel, 7, 125, 460, 25, "pnl_5", FontKind::Line, true, 8},
};

constexpr FormLayout kMainForm = {
    "Form1",
    475,
    203,
    {"MS Sans Serif", 11, 1},
    {"\xE5\xBE\xAE\xE8\xBB\x9F\xE6\xAD\xA3\xE9\xBB\x91\xE9\xAB\x94", 16, 0},  // 微軟正黑體
    13,
    kControls,
    sizeof kControls / sizeof kControls[0],
};

}  // namespace

const FormLayout& MainFormLayout() {
  return kMainForm;
}

std::string ExceptionDisplayText(const std::string& message) {
  if (!message.empty() && static_cast<unsigned char>(message.back()) > '.') return message + ".";
  return message;
}

}  // namespace qvb::tk
