// What the driver needs to work the program's window from another process: start it with an
// environment, find its windows, read its controls, answer its message boxes, take pictures.
#pragma once

#include <windows.h>

#include <chrono>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace qvb::wine {

// The driver's settings, from the environment the test script gives it.
struct Settings {
  std::string program;          // the shipped program
  std::string virtual_program;  // the variant on virtual devices
  std::string work;             // a scratch folder
  std::string shots;            // where screenshots go
};
const Settings& DriverSettings();

// A program the driver started; ended (by its handle) if it is still running at the end.
class Program {
 public:
  Program() = default;
  ~Program();
  Program(const Program&) = delete;
  Program& operator=(const Program&) = delete;

  // Starts `exe` with these variables added to the driver's environment.
  bool Start(const std::string& exe,
             const std::vector<std::pair<std::string, std::string>>& environment = {});
  DWORD id() const { return info_.dwProcessId; }
  bool Running() const;
  // Waits for the end; false when it is still running after `milliseconds`.
  bool WaitForExit(DWORD milliseconds, DWORD& exit_code);

 private:
  PROCESS_INFORMATION info_{};
};

// How much longer every wait for the programs may take: QVB_WINE_WAIT_SCALE (default 1), for
// an emulated CPU, where a window takes many times longer to come up. Only bounds of waits for
// something that must happen are scaled.
DWORD WaitScale();

// Polls `done` every 10 ms until it holds or `milliseconds` (scaled) have passed.
template <typename Predicate>
bool WaitUntil(Predicate done, DWORD milliseconds = 5000) {
  const auto end =
      std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds * WaitScale());
  for (;;) {
    if (done()) return true;
    if (std::chrono::steady_clock::now() > end) return false;
    Sleep(10);
  }
}

// A top-level window of the process with this class (and title, unless null).
HWND FindProcessWindow(DWORD process, const char* window_class, const char* title = nullptr);
// The child windows in their sibling order, which is the tab order.
std::vector<HWND> Children(HWND parent);
std::string ClassOf(HWND window);
std::string TextOf(HWND window);
bool HasStyle(HWND window, LONG style);
// The window's rectangle in its parent's client coordinates.
RECT RectInParent(HWND control);

// A message box (#32770 with an OK button) of the process; null when none is open.
HWND FindMessageBox(DWORD process);
// The box's text (its static control 0xFFFF).
std::string MessageBoxText(HWND box);
// Presses OK; posted, since the program is blocked in the box until it returns.
void PressOk(HWND box);
// Clicks a button of the program; posted, since the handler may block in a message box.
void Click(HWND button);
// Sets a control's text from outside: a marker that the next refresh empties.
void SetText(HWND control, const std::string& text);

// Asks the test script for a picture of the whole screen, named `name`.png, and waits for it.
bool Screenshot(const std::string& name);

// Writes `text` to `file` whole (the program reads it at its next enumeration).
bool WriteTextFile(const std::string& file, const std::string& text);
std::vector<uint8_t> ReadBinaryFile(const std::string& file);
// A resource of type "FW" from an executable, read as data.
std::vector<uint8_t> ExecutableResource(const std::string& exe, const char* name);

}  // namespace qvb::wine
