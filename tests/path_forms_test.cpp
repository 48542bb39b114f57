// The path the Windows file layer gives the system, worked out as text: here
// on every system, since Wine takes paths of any length and so cannot show a
// path measured before it was resolved. Under Wine the full paths are also
// compared with the system's own GetFullPathNameW.
#include "platform/path_forms.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#ifdef _WIN32
#include <windows.h>
#endif

namespace larkspool::testing {
namespace {

std::string Shown(const std::wstring& text) { return std::string(text.begin(), text.end()); }

TEST(PathFormsTest, PathsAreMadeFullThenGivenInTheFormTheirFullLengthNeeds) {
  // 233 characters: a name of 13 brings the full path to 247, the longest
  // plain one; a name of 14 to 248.
  const std::wstring deep = L"C:\\" + std::wstring(230, L'd');
  const std::wstring share = L"\\\\server\\share\\" + std::wstring(218, L's');  // 233 too
  const std::wstring device = L"\\\\.\\C:\\" + std::wstring(250, L'v');
  struct Case {
    const char* label;
    std::wstring current;
    std::wstring path;
    std::wstring given;  // what the system is given
  };
  const std::vector<Case> cases = {
      {"relative", L"C:\\work", L"a.wav", L"C:\\work\\a.wav"},
      {"relative, full path at the longest plain length", deep, L"1234567890123", deep + L"\\1234567890123"},
      {"relative, full path one longer", deep, L"12345678901234", L"\\\\?\\" + deep + L"\\12345678901234"},
      {"relative, a short name under a long folder", deep, L"message-0001.wav",
       L"\\\\?\\" + deep + L"\\message-0001.wav"},
      {"relative under a long folder on a share", share, L"message-0001.wav",
       L"\\\\?\\UNC\\server\\share\\" + std::wstring(218, L's') + L"\\message-0001.wav"},
      {"relative under a current directory in the \\\\?\\ form", L"\\\\?\\" + deep, L"a.wav",
       L"\\\\?\\" + deep + L"\\a.wav"},
      {"root-relative, against the current drive", L"D:\\work", L"\\music\\a.wav", L"D:\\music\\a.wav"},
      {"root-relative, under a long folder", deep, L"\\a.wav", L"C:\\a.wav"},
      {"root-relative, against the current share", share, L"\\a.wav", L"\\\\server\\share\\a.wav"},
      {"drive-relative, the current drive", L"C:\\work", L"C:a.wav", L"C:\\work\\a.wav"},
      {"drive-relative, the current drive in lower case", L"C:\\work", L"c:sub\\a.wav",
       L"C:\\work\\sub\\a.wav"},
      {"drive-relative, under a long folder", deep, L"C:message-0001.wav",
       L"\\\\?\\" + deep + L"\\message-0001.wav"},
      {"drive-relative, another drive at its root", L"C:\\work", L"E:a.wav", L"E:\\a.wav"},
      {"drive-relative, another drive's current directory", L"C:\\work", L"D:a.wav", L"D:\\music\\a.wav"},
      {"a drive alone", L"C:\\work", L"C:", L"C:\\work"},
      {"UNC", L"C:\\work", L"\\\\server\\share\\dir\\a.wav", L"\\\\server\\share\\dir\\a.wav"},
      {"UNC, long", L"C:\\work", share + L"\\message-0001.wav",
       L"\\\\?\\UNC\\server\\share\\" + std::wstring(218, L's') + L"\\message-0001.wav"},
      {"UNC, .. stops at the share", L"C:\\work", L"\\\\server\\share\\..\\..\\a.wav",
       L"\\\\server\\share\\a.wav"},
      {"forward slashes", L"C:\\work", L"C:/music/sub/a.wav", L"C:\\music\\sub\\a.wav"},
      {"forward slashes, relative", L"C:\\work", L"sub/a.wav", L"C:\\work\\sub\\a.wav"},
      {"forward slashes, UNC", L"C:\\work", L"//server/share/a.wav", L"\\\\server\\share\\a.wav"},
      {"doubled separators", L"C:\\work", L"sub\\\\\\a.wav", L"C:\\work\\sub\\a.wav"},
      {"..", L"C:\\work\\sub", L"..\\a.wav", L"C:\\work\\a.wav"},
      {".. past the root", L"C:\\work", L"..\\..\\..\\a.wav", L"C:\\a.wav"},
      {". and .. inside", L"C:\\work", L"sub\\.\\x\\..\\a.wav", L"C:\\work\\sub\\a.wav"},
      {"a final ..", L"C:\\work\\sub", L"..", L"C:\\work"},
      {"a final .", L"C:\\work", L"sub\\.", L"C:\\work\\sub"},
      {"trailing dots and blanks", L"C:\\work", L"a.wav. . ", L"C:\\work\\a.wav"},
      {"trailing dots, long: dropped before the long form, where they would stay", deep,
       L"message-0001.wav..", L"\\\\?\\" + deep + L"\\message-0001.wav"},
      {"a folder's final dot", L"C:\\work", L"sub.\\a.wav", L"C:\\work\\sub\\a.wav"},
      {"a folder's blanks stay", L"C:\\work", L"sub \\a.wav", L"C:\\work\\sub \\a.wav"},
      {"a trailing separator stays", L"C:\\work", L"sub\\", L"C:\\work\\sub\\"},
      {"\\\\?\\ as given", L"C:\\work", L"\\\\?\\C:\\work\\..\\a.wav. ", L"\\\\?\\C:\\work\\..\\a.wav. "},
      {"\\\\?\\UNC as given", L"C:\\work", L"\\\\?\\UNC\\server\\share\\a.wav",
       L"\\\\?\\UNC\\server\\share\\a.wav"},
      {"a device", L"C:\\work", L"\\\\.\\COM1", L"\\\\.\\COM1"},
      {"a long device path", L"C:\\work", device, device},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    const PathBase base{c.current, [](wchar_t drive) { return drive == L'D' ? L"D:\\music" : L""; }};
    EXPECT_EQ(Shown(SystemPathForm(c.path, base)), Shown(c.given));
  }
}

#ifdef _WIN32
// The same rules as the system's, for every path it resolves against the
// process's own current directory.
TEST(PathFormsTest, FullPathsAreTheSystemsOwn) {
  wchar_t current[MAX_PATH];
  const DWORD length = ::GetCurrentDirectoryW(MAX_PATH, current);
  ASSERT_GT(length, 0u);
  ASSERT_LT(length, static_cast<DWORD>(MAX_PATH));
  const PathBase base{current, nullptr};
  const std::wstring drive(current, 2);
  const std::vector<std::wstring> paths = {L"a.wav",
                                           L"sub\\a.wav",
                                           L"..\\a.wav",
                                           L"..\\..\\..\\..\\..\\..\\..\\..\\a.wav",
                                           L"sub\\.\\x\\..\\a.wav",
                                           L"..",
                                           L"sub\\.",
                                           L"a.wav. . ",
                                           L"sub.\\a.wav",
                                           L"sub \\a.wav",
                                           L"sub\\",
                                           L"sub/a.wav",
                                           L"sub\\\\\\a.wav",
                                           L"\\a.wav",
                                           drive + L"a.wav",
                                           drive + L"sub\\..\\a.wav",
                                           L"\\\\server\\share\\dir\\a.wav",
                                           L"\\\\server\\share\\..\\..\\a.wav",
                                           L"//server/share/a.wav",
                                           L"C:/music/sub/../a.wav",
                                           L"C:\\work\\.",
                                           L"C:\\work\\..\\..",
                                           L"\\\\.\\COM1"};
  for (const std::wstring& path : paths) {
    SCOPED_TRACE(Shown(path));
    wchar_t system[4 * MAX_PATH];
    const DWORD size = ::GetFullPathNameW(path.c_str(), 4 * MAX_PATH, system, nullptr);
    ASSERT_GT(size, 0u);
    EXPECT_EQ(Shown(FullPathName(path, base)), Shown(std::wstring(system, size)));
  }
}
#endif

}  // namespace
}  // namespace larkspool::testing
