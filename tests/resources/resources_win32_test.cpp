// The resources the Windows program carries, read back from this test program, which links
// the same resource script.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "device/firmware_image.h"
#include "device/test_device.h"

namespace qvb {
namespace {

std::string ResourceText(LPCSTR name, LPCSTR type) {
  HRSRC info = FindResourceA(nullptr, name, type);
  if (!info) return {};
  const char* bytes = static_cast<const char*>(LockResource(LoadResource(nullptr, info)));
  return std::string(bytes, SizeofResource(nullptr, info));
}

TEST(Win32Resources, FirmwareImagesAreStringTypeFwInTraditionalChinese) {
  const WORD language = MAKELANGID(LANG_CHINESE, SUBLANG_CHINESE_TRADITIONAL);
  ASSERT_EQ(1028, language);
  for (const char* name : {"QVB886_FW", "QVB886_FW_133_01_00_02", "QVB886_FW_133_01_00_03",
                           "QVB886_FW_133_01_00_06"}) {
    HRSRC info = FindResourceExA(nullptr, "FW", name, language);
    ASSERT_NE(nullptr, info) << name;
    EXPECT_EQ(kFirmwareImageSize, SizeofResource(nullptr, info)) << name;
    EXPECT_EQ(nullptr,
              FindResourceExA(nullptr, "FW", name, MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US)))
        << name << " is carried in one language only";
  }
  EXPECT_EQ(QVB_TEST_LOADER_CARRIED != 0,
            FindResourceA(nullptr, "QVB886_ROM0_MFG", "FW") != nullptr);
}

TEST(Win32Resources, ManifestAsksForAdministratorAndListsNoSystems) {
  const std::string manifest =
      ResourceText(MAKEINTRESOURCEA(1), MAKEINTRESOURCEA(24));  // RT_MANIFEST
  ASSERT_FALSE(manifest.empty());
#if defined(_WIN64)
  const char* architecture = "processorArchitecture=\"amd64\"";
#else
  const char* architecture = "processorArchitecture=\"X86\"";
#endif
  for (const char* part : {"name=\"RunAsAdmin\"", "version=\"1.0.0.0\"", architecture,
                           "level=\"requireAdministrator\"", "uiAccess=\"false\""})
    EXPECT_NE(std::string::npos, manifest.find(part)) << part;
  EXPECT_EQ(std::string::npos, manifest.find("supportedOS"));
  EXPECT_EQ(std::string::npos, manifest.find("compatibility"));
}

TEST(Win32Resources, VersionResource) {
  char path[MAX_PATH] = {};
  ASSERT_NE(0u, GetModuleFileNameA(nullptr, path, MAX_PATH));
  // version.dll is loaded here rather than linked: only this test needs it.
  HMODULE version_dll = LoadLibraryA("version.dll");
  ASSERT_NE(nullptr, version_dll);
  using SizeFn = DWORD(WINAPI*)(LPCSTR, LPDWORD);
  using InfoFn = BOOL(WINAPI*)(LPCSTR, DWORD, DWORD, LPVOID);
  using QueryFn = BOOL(WINAPI*)(LPCVOID, LPCSTR, LPVOID*, PUINT);
  auto size_fn = reinterpret_cast<SizeFn>(
      reinterpret_cast<void*>(GetProcAddress(version_dll, "GetFileVersionInfoSizeA")));
  auto info_fn = reinterpret_cast<InfoFn>(
      reinterpret_cast<void*>(GetProcAddress(version_dll, "GetFileVersionInfoA")));
  auto query_fn = reinterpret_cast<QueryFn>(
      reinterpret_cast<void*>(GetProcAddress(version_dll, "VerQueryValueA")));
  ASSERT_TRUE(size_fn && info_fn && query_fn);

  DWORD ignored = 0;
  const DWORD size = size_fn(path, &ignored);
  ASSERT_NE(0u, size);
  std::vector<char> block(size);
  ASSERT_TRUE(info_fn(path, 0, size, block.data()));

  VS_FIXEDFILEINFO* fixed = nullptr;
  UINT length = 0;
  ASSERT_TRUE(query_fn(block.data(), "\\", reinterpret_cast<void**>(&fixed), &length));
  EXPECT_EQ(0x00010000u, fixed->dwFileVersionMS);
  EXPECT_EQ(0u, fixed->dwFileVersionLS);
  EXPECT_EQ(0x00010000u, fixed->dwProductVersionMS);
  EXPECT_EQ(0u, fixed->dwProductVersionLS);

  struct Text {
    const char* key;
    const char* value;
  };
  for (const Text& t :
       {Text{"CompanyName", "Quorvel"},
        Text{"FileDescription", CarriesTestImages()
                                    ? "QVB886 FW Updater - test build, test devices only"
                                    : "QVB886 FW Updater"},
        Text{"FileVersion", "1.0.0.0"}, Text{"ProductVersion", "1.0.0.0"}}) {
    const std::string key = std::string("\\StringFileInfo\\040904E4\\") + t.key;
    char* value = nullptr;
    ASSERT_TRUE(query_fn(block.data(), key.c_str(), reinterpret_cast<void**>(&value), &length))
        << t.key;
    EXPECT_STREQ(t.value, value) << t.key;
  }
  FreeLibrary(version_dll);
}

TEST(Win32Resources, MainIconHasFiveSizesOfFullColour) {
  const std::string group = ResourceText("MAINICON", MAKEINTRESOURCEA(14));  // RT_GROUP_ICON
  ASSERT_GE(group.size(), 6u);
  const auto word = [&](std::size_t at) {
    return static_cast<unsigned>(static_cast<uint8_t>(group[at]) |
                                 (static_cast<uint8_t>(group[at + 1]) << 8));
  };
  ASSERT_EQ(1u, word(2)) << "an icon group";
  const unsigned count = word(4);
  ASSERT_EQ(5u, count);
  ASSERT_GE(group.size(), 6u + 14u * count);
  std::vector<unsigned> widths;
  for (unsigned i = 0; i < count; ++i) {
    const std::size_t entry = 6 + 14 * i;
    const unsigned width = static_cast<uint8_t>(group[entry]);
    widths.push_back(width == 0 ? 256 : width);
    EXPECT_EQ(32u, word(entry + 6)) << "bits per pixel of image " << i;
    const std::string image = ResourceText(MAKEINTRESOURCEA(word(entry + 12)), MAKEINTRESOURCEA(3));
    ASSERT_FALSE(image.empty()) << "image " << i;  // RT_ICON
    if (width == 0) {
      // The large image is a PNG; it must be 8 bits a channel RGBA, which every system reads.
      ASSERT_GE(image.size(), 26u);
      EXPECT_EQ(0, image.compare(1, 3, "PNG"));
      EXPECT_EQ(8, image[24]) << "bit depth";
      EXPECT_EQ(6, image[25]) << "colour type";
    }
  }
  EXPECT_EQ(std::vector<unsigned>({256, 128, 48, 32, 16}), widths);
  EXPECT_NE(nullptr, LoadIconA(GetModuleHandleA(nullptr), "MAINICON"));
}

}  // namespace
}  // namespace qvb
