// What Windows reads from the programs' files: who makes them (the version information), the
// icon at every size Explorer asks for, and a manifest that takes long paths.
#define NOMINMAX
#include <windows.h>
#include <winver.h>

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

namespace {

std::wstring Wide(const std::string& s) {
  return std::wstring(s.begin(), s.end());  // the paths and names here are ASCII
}

// A value of the version information's string table (language 0409, Unicode).
std::wstring VersionString(const std::wstring& file, const wchar_t* name) {
  DWORD handle = 0;
  const DWORD size = ::GetFileVersionInfoSizeW(file.c_str(), &handle);
  if (size == 0) return L"(no version information)";
  std::vector<char> data(size);
  if (!::GetFileVersionInfoW(file.c_str(), 0, size, data.data())) return L"(unreadable)";
  void* value = nullptr;
  UINT length = 0;
  const std::wstring path = std::wstring(L"\\StringFileInfo\\040904B0\\") + name;
  if (!::VerQueryValueW(data.data(), path.c_str(), &value, &length) || length == 0) return L"";
  return static_cast<const wchar_t*>(value);
}

class ProgramResources : public ::testing::TestWithParam<const char*> {
 protected:
  void SetUp() override {
    path_ = Wide(GetParam());
    module_ = ::LoadLibraryExW(path_.c_str(), nullptr,
                               LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
    ASSERT_NE(module_, nullptr) << GetParam();
  }
  void TearDown() override {
    if (module_) ::FreeLibrary(module_);
  }
  std::string Resource(LPCSTR type, int id) const {
    HRSRC found = ::FindResourceA(module_, MAKEINTRESOURCEA(id), type);
    if (!found) return "";
    const auto* bytes = static_cast<const char*>(::LockResource(::LoadResource(module_, found)));
    return std::string(bytes, ::SizeofResource(module_, found));
  }

  std::wstring path_;
  HMODULE module_ = nullptr;
};

TEST_P(ProgramResources, NameWhoMakesThemAndTheirOwnFileName) {
  EXPECT_EQ(VersionString(path_, L"CompanyName"), Wide(QV_VENDOR));
  EXPECT_NE(VersionString(path_, L"LegalCopyright").find(Wide(QV_VENDOR)), std::wstring::npos);
  EXPECT_EQ(VersionString(path_, L"FileVersion"), Wide(QV_VERSION));
  const std::wstring name = path_.substr(path_.find_last_of(L"/\\") + 1);
  EXPECT_EQ(VersionString(path_, L"OriginalFilename"), name);
}

TEST_P(ProgramResources, IconHasEverySizeFrom16To256) {
  // The icon group: a 6-byte header, then 14 bytes per image: its width (0 meaning 256) first,
  // the identifier of its icon resource last.
  const std::string group = Resource(RT_GROUP_ICON, 1);
  ASSERT_GE(group.size(), 6u);
  std::set<int> sizes;
  for (std::size_t at = 6; at + 14 <= group.size(); at += 14) {
    const int width = static_cast<unsigned char>(group[at]);
    const int size = width == 0 ? 256 : width;
    sizes.insert(size);
    const int id = static_cast<unsigned char>(group[at + 12]) |
                   static_cast<unsigned char>(group[at + 13]) << 8;
    std::string image = Resource(RT_ICON, id);
    if (size == 256) {
      EXPECT_EQ(image.substr(0, 4), "\x89PNG");
    }
    // The system makes an icon of the image at its own size.
    HICON icon = ::CreateIconFromResourceEx(reinterpret_cast<BYTE*>(image.data()),
                                            static_cast<DWORD>(image.size()), TRUE, 0x00030000,
                                            size, size, LR_DEFAULTCOLOR);
    ASSERT_NE(icon, nullptr) << size;
    ICONINFO info{};
    ASSERT_TRUE(::GetIconInfo(icon, &info));
    BITMAP bitmap{};
    ::GetObjectW(info.hbmColor ? info.hbmColor : info.hbmMask, sizeof bitmap, &bitmap);
    EXPECT_EQ(bitmap.bmWidth, size);
    if (info.hbmColor) ::DeleteObject(info.hbmColor);
    ::DeleteObject(info.hbmMask);
    ::DestroyIcon(icon);
  }
  EXPECT_EQ(sizes, (std::set<int>{16, 24, 32, 48, 64, 128, 256}));
}

TEST_P(ProgramResources, ManifestTakesLongPaths) {
  const std::string manifest = Resource(RT_MANIFEST, 1);
  const std::size_t at = manifest.find("<longPathAware");
  ASSERT_NE(at, std::string::npos);
  EXPECT_EQ(manifest.compare(manifest.find('>', at) + 1, 4, "true"), 0);
}

INSTANTIATE_TEST_SUITE_P(Programs, ProgramResources,
                         ::testing::Values(QV_CLI_PATH, QV_DIALOG_PATH));

}  // namespace
