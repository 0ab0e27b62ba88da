#include "tests/wine/driver/probe.h"

#include <cstdlib>
#include <fstream>
#include <iterator>

namespace qvb::wine {
namespace {

std::string Variable(const char* name) {
  const char* value = std::getenv(name);
  return value ? value : "";
}

bool Exists(const std::string& file) {
  return GetFileAttributesA(file.c_str()) != INVALID_FILE_ATTRIBUTES;
}

struct Search {
  DWORD process;
  const char* window_class;
  const char* title;
  HWND found;
};

BOOL CALLBACK Match(HWND window, LPARAM parameter) {
  auto* search = reinterpret_cast<Search*>(parameter);
  DWORD process = 0;
  GetWindowThreadProcessId(window, &process);
  if (process != search->process) return TRUE;
  if (ClassOf(window) != search->window_class) return TRUE;
  if (search->title && TextOf(window) != search->title) return TRUE;
  search->found = window;
  return FALSE;
}

}  // namespace

const Settings& DriverSettings() {
  static const Settings settings = {Variable("QVB_DRIVER_PROGRAM"), Variable("QVB_DRIVER_VIRTUAL"),
                                    Variable("QVB_DRIVER_WORK"), Variable("QVB_DRIVER_SHOTS")};
  return settings;
}

Program::~Program() {
  if (!info_.hProcess) return;
  if (Running()) {
    TerminateProcess(info_.hProcess, 99);
    WaitForSingleObject(info_.hProcess, 5000);
  }
  CloseHandle(info_.hThread);
  CloseHandle(info_.hProcess);
}

bool Program::Start(const std::string& exe,
                    const std::vector<std::pair<std::string, std::string>>& environment) {
  // The child inherits the driver's environment as it stands when it is made.
  std::vector<std::pair<std::string, std::string>> saved;
  for (const auto& [name, value] : environment) {
    saved.emplace_back(name, Variable(name.c_str()));
    SetEnvironmentVariableA(name.c_str(), value.c_str());
  }
  std::string command = "\"" + exe + "\"";
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  const BOOL started = CreateProcessA(exe.c_str(), command.data(), nullptr, nullptr, FALSE, 0,
                                      nullptr, nullptr, &startup, &info_);
  for (const auto& [name, value] : saved)
    SetEnvironmentVariableA(name.c_str(), value.empty() ? nullptr : value.c_str());
  if (!started) info_ = PROCESS_INFORMATION{};
  return started != FALSE;
}

bool Program::Running() const {
  return info_.hProcess && WaitForSingleObject(info_.hProcess, 0) == WAIT_TIMEOUT;
}

DWORD WaitScale() {
  static const DWORD scale = [] {
    const unsigned long value = std::strtoul(Variable("QVB_WINE_WAIT_SCALE").c_str(), nullptr, 10);
    return value >= 1 && value <= 100 ? static_cast<DWORD>(value) : DWORD{1};
  }();
  return scale;
}

bool Program::WaitForExit(DWORD milliseconds, DWORD& exit_code) {
  if (!info_.hProcess ||
      WaitForSingleObject(info_.hProcess, milliseconds * WaitScale()) != WAIT_OBJECT_0)
    return false;
  GetExitCodeProcess(info_.hProcess, &exit_code);
  return true;
}

HWND FindProcessWindow(DWORD process, const char* window_class, const char* title) {
  Search search{process, window_class, title, nullptr};
  EnumWindows(&Match, reinterpret_cast<LPARAM>(&search));
  return search.found;
}

std::vector<HWND> Children(HWND parent) {
  std::vector<HWND> children;
  for (HWND child = GetWindow(parent, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT))
    children.push_back(child);
  return children;
}

std::string ClassOf(HWND window) {
  char name[128] = {};
  GetClassNameA(window, name, sizeof name);
  return name;
}

std::string TextOf(HWND window) {
  // Sent with a time-out: a program that hangs fails the test instead of stopping the driver.
  char text[512] = {};
  DWORD_PTR copied = 0;
  if (!SendMessageTimeoutA(window, WM_GETTEXT, sizeof text, reinterpret_cast<LPARAM>(text),
                           SMTO_ABORTIFHUNG, 2000, &copied))
    return "<no answer>";
  return std::string(text, std::min<std::size_t>(copied, sizeof text - 1));
}

bool HasStyle(HWND window, LONG style) {
  return (GetWindowLongA(window, GWL_STYLE) & style) == style;
}

RECT RectInParent(HWND control) {
  RECT rect;
  GetWindowRect(control, &rect);
  MapWindowPoints(HWND_DESKTOP, GetParent(control), reinterpret_cast<POINT*>(&rect), 2);
  return rect;
}

HWND FindMessageBox(DWORD process) {
  HWND box = FindProcessWindow(process, "#32770");
  return box && GetDlgItem(box, IDOK) && IsWindowVisible(box) ? box : nullptr;
}

std::string MessageBoxText(HWND box) {
  return TextOf(GetDlgItem(box, 0xFFFF));
}

void PressOk(HWND box) {
  PostMessageA(GetDlgItem(box, IDOK), BM_CLICK, 0, 0);
}

void Click(HWND button) {
  PostMessageA(button, BM_CLICK, 0, 0);
}

void SetText(HWND control, const std::string& text) {
  DWORD_PTR result = 0;
  SendMessageTimeoutA(control, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()),
                      SMTO_ABORTIFHUNG, 2000, &result);
}

bool Screenshot(const std::string& name) {
  const std::string& shots = DriverSettings().shots;
  if (shots.empty()) return false;
  Sleep(250);  // let the program paint what it has just changed
  const std::string picture = shots + "\\" + name + ".png";
  const std::string request = shots + "\\" + name + ".request";
  DeleteFileA(picture.c_str());
  if (!WriteTextFile(request, name)) return false;
  return WaitUntil([&] { return !Exists(request) && Exists(picture); }, 10000);
}

bool WriteTextFile(const std::string& file, const std::string& text) {
  // Written aside and moved into place, so the program never reads half a file.
  const std::string part = file + ".part";
  {
    std::ofstream out(part, std::ios::binary | std::ios::trunc);
    out << text;
    if (!out) return false;
  }
  return MoveFileExA(part.c_str(), file.c_str(), MOVEFILE_REPLACE_EXISTING) != FALSE;
}

std::vector<uint8_t> ReadBinaryFile(const std::string& file) {
  std::ifstream in(file, std::ios::binary);
  return std::vector<uint8_t>((std::istreambuf_iterator<char>(in)), {});
}

std::vector<uint8_t> ExecutableResource(const std::string& exe, const char* name) {
  HMODULE module = LoadLibraryExA(exe.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
  if (!module) return {};
  std::vector<uint8_t> bytes;
  HRSRC resource = FindResourceA(module, name, "FW");
  HGLOBAL loaded = resource ? LoadResource(module, resource) : nullptr;
  const auto* data = loaded ? static_cast<const uint8_t*>(LockResource(loaded)) : nullptr;
  if (data) bytes.assign(data, data + SizeofResource(module, resource));
  FreeLibrary(module);
  return bytes;
}

}  // namespace qvb::wine
