// The resources compiled into LumoraVoiceInput.exe, read from the program
// file itself: what the shell, the tray and the dialogs will find there.

#include <windows.h>

#include <objidl.h>

#include <gdiplus.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <set>
#include <string>
#include <vector>

#include "base/scoped_win.h"
#include "tests/e2e/program_run_win.h"
#include "ui/contact_feedback_dialog_win.h"

namespace lumora {
namespace {

#pragma pack(push, 2)
// An icon group resource: a header and one entry per image.
struct GroupIconHeader {
  WORD reserved;
  WORD type;  // 1: icon
  WORD count;
};
struct GroupIconEntry {
  BYTE width;  // 0 means 256
  BYTE height;
  BYTE colour_count;
  BYTE reserved;
  WORD planes;
  WORD bit_count;
  DWORD bytes;
  WORD id;
};
#pragma pack(pop)

class ProgramResourcesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    path_ = testing::ProgramPath();
    module_ = std::make_unique<ScopedModule>(
        LoadLibraryExW(path_.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE));
    ASSERT_NE(module_->get(), nullptr) << "cannot open the program file";
  }

  std::string Bytes(const wchar_t* type, int id) const {
    HRSRC info = FindResourceW(module_->get(), MAKEINTRESOURCEW(id), type);
    if (info == nullptr) {
      return {};
    }
    const void* data = LockResource(LoadResource(module_->get(), info));
    return std::string(static_cast<const char*>(data), SizeofResource(module_->get(), info));
  }

  std::vector<ULONG_PTR> IdsOfType(const wchar_t* type) const {
    std::vector<ULONG_PTR> ids;
    EnumResourceNamesW(
        module_->get(), type,
        [](HMODULE, LPCWSTR, LPWSTR name, LONG_PTR param) -> BOOL {
          reinterpret_cast<std::vector<ULONG_PTR>*>(param)->push_back(reinterpret_cast<ULONG_PTR>(name));
          return TRUE;
        },
        reinterpret_cast<LONG_PTR>(&ids));
    return ids;
  }

  std::wstring VersionString(const std::vector<BYTE>& block, const wchar_t* name) const {
    const std::wstring key = std::wstring(L"\\StringFileInfo\\080404B0\\") + name;
    wchar_t* value = nullptr;
    UINT length = 0;
    if (!VerQueryValueW(block.data(), key.c_str(), reinterpret_cast<void**>(&value), &length) ||
        value == nullptr) {
      return L"<none>";
    }
    return value;
  }

  std::wstring path_;
  std::unique_ptr<ScopedModule> module_;
};

TEST_F(ProgramResourcesTest, IconsHoldEverySizeIn32Bits) {
  for (const int id : {101, 102, 104}) {
    SCOPED_TRACE(id);
    const std::string group = Bytes(RT_GROUP_ICON, id);
    ASSERT_GE(group.size(), sizeof(GroupIconHeader));
    const auto* header = reinterpret_cast<const GroupIconHeader*>(group.data());
    EXPECT_EQ(header->type, 1);
    ASSERT_EQ(group.size(), sizeof(GroupIconHeader) + header->count * sizeof(GroupIconEntry));
    const auto* entries = reinterpret_cast<const GroupIconEntry*>(group.data() + sizeof(GroupIconHeader));
    std::set<int> sizes;
    for (int i = 0; i < header->count; ++i) {
      const int side = entries[i].width == 0 ? 256 : entries[i].width;
      EXPECT_EQ(entries[i].height == 0 ? 256 : entries[i].height, side);
      EXPECT_EQ(entries[i].bit_count, 32) << side;
      sizes.insert(side);
    }
    EXPECT_EQ(sizes, (std::set<int>{16, 24, 32, 48, 64, 128, 256}));

    // The system loads each size as a colour icon with an alpha channel.
    for (const int side : sizes) {
      SCOPED_TRACE(side);
      HICON icon = static_cast<HICON>(
          LoadImageW(module_->get(), MAKEINTRESOURCEW(id), IMAGE_ICON, side, side, LR_DEFAULTCOLOR));
      ASSERT_NE(icon, nullptr);
      ICONINFO info{};
      ASSERT_TRUE(GetIconInfo(icon, &info));
      BITMAP colour{};
      ASSERT_NE(info.hbmColor, nullptr);
      GetObjectW(info.hbmColor, sizeof colour, &colour);
      EXPECT_EQ(colour.bmWidth, side);
      EXPECT_EQ(colour.bmBitsPixel, 32);
      DeleteObject(info.hbmColor);
      DeleteObject(info.hbmMask);
      DestroyIcon(icon);
    }
  }
}

TEST_F(ProgramResourcesTest, ContactPictureIsASquareRgbaPng) {
  const std::string png = Bytes(RT_RCDATA, 103);
  ASSERT_GE(png.size(), 33u);
  EXPECT_EQ(png.substr(0, 8), std::string("\x89PNG\r\n\x1A\n", 8));
  EXPECT_EQ(png.substr(12, 4), "IHDR");
  const auto be32 = [&](std::size_t at) {
    return (static_cast<std::uint32_t>(static_cast<unsigned char>(png[at])) << 24) |
           (static_cast<std::uint32_t>(static_cast<unsigned char>(png[at + 1])) << 16) |
           (static_cast<std::uint32_t>(static_cast<unsigned char>(png[at + 2])) << 8) |
           static_cast<unsigned char>(png[at + 3]);
  };
  EXPECT_EQ(be32(16), 820u);
  EXPECT_EQ(be32(20), 820u);
  EXPECT_EQ(png[24], 8) << "bit depth";
  EXPECT_EQ(png[25], 6) << "colour type: RGBA";
  const auto bitmap = detail::DecodeImage(png.data(), png.size());
  ASSERT_NE(bitmap, nullptr);
  EXPECT_EQ(bitmap->GetWidth(), 820u);
  EXPECT_EQ(bitmap->GetHeight(), 820u);
}

TEST_F(ProgramResourcesTest, ManifestAsksForTheInvokersLevelAndNothingElse) {
  EXPECT_EQ(IdsOfType(RT_MANIFEST), std::vector<ULONG_PTR>{1});
  const std::string manifest = Bytes(RT_MANIFEST, 1);
  EXPECT_NE(manifest.find("level=\"asInvoker\""), std::string::npos) << manifest;
  for (const char* absent : {"dpiAware", "dpiAwareness", "Common-Controls", "dependency", "compatibility"}) {
    EXPECT_EQ(manifest.find(absent), std::string::npos) << absent;
  }
}

TEST_F(ProgramResourcesTest, VersionBlockNamesTheProduct) {
  DWORD ignored = 0;
  const DWORD size = GetFileVersionInfoSizeW(path_.c_str(), &ignored);
  ASSERT_GT(size, 0u);
  std::vector<BYTE> block(size);
  ASSERT_TRUE(GetFileVersionInfoW(path_.c_str(), 0, size, block.data()));

  VS_FIXEDFILEINFO* fixed = nullptr;
  UINT length = 0;
  ASSERT_TRUE(VerQueryValueW(block.data(), L"\\", reinterpret_cast<void**>(&fixed), &length));
  EXPECT_EQ(fixed->dwFileVersionMS, MAKELONG(0, 1));
  EXPECT_EQ(fixed->dwFileVersionLS, 0u);
  EXPECT_EQ(fixed->dwProductVersionMS, MAKELONG(0, 1));
  EXPECT_EQ(fixed->dwProductVersionLS, 0u);
  EXPECT_EQ(fixed->dwFileType, static_cast<DWORD>(VFT_APP));

  EXPECT_EQ(VersionString(block, L"ProductName"), L"Lumora语音输入");
  EXPECT_EQ(VersionString(block, L"FileDescription"), L"Lumora语音输入 Windows 桌面端");
  EXPECT_EQ(VersionString(block, L"FileVersion"), L"1.0.0");
  EXPECT_EQ(VersionString(block, L"ProductVersion"), L"1.0.0");
}

}  // namespace
}  // namespace lumora
