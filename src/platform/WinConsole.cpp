// The console program's services on Windows, and its command line.
#include <fcntl.h>
#include <io.h>
#include <process.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <ctime>
#include <string>
#include <vector>

#include "base/DateTime.h"
#include "base/Errors.h"
#include "platform/WinPlatform.h"
#include "platform/WinShared.h"

// The Win32 header comes last.
#include "platform/Win32.h"

namespace qv::platform {

namespace {

// Local time by the C runtime's reading of TZ ("UTC", "EST5EDT"), which ZoneClock sets.
class RuntimeClock : public Clock {
 public:
  TDateTime Now() override {
    const __time64_t now = ::_time64(nullptr);
    std::tm t{};
    return ::_localtime64_s(&t, &now) == 0 ? FromTm(t) : 0;
  }
  TDateTime UtcToLocal(TDateTime utc) override {
    // As the system's clock does: whole seconds through the zone, rounded to the millisecond
    // first.
    const double secs = std::round((utc - 25569.0) * 86400000.0) / 1000.0;
    if (!std::isfinite(secs) || std::fabs(secs) > 4e11) return utc;
    const auto whole = static_cast<__time64_t>(std::floor(secs));
    std::tm t{};
    if (::_localtime64_s(&t, &whole) != 0) return utc;
    const __time64_t local = ::_mkgmtime64(&t);
    if (local == -1) return utc;
    return IncMilliseconds(utc, static_cast<std::int64_t>(local - whole) * 1000);
  }

 private:
  static TDateTime FromTm(const std::tm& t) {
    TDateTime d = 0, time = 0;
    TryEncodeDate(t.tm_year + 1900, t.tm_mon + 1, t.tm_mday, d);
    TryEncodeTime(t.tm_hour, t.tm_min, t.tm_sec > 59 ? 59 : t.tm_sec, 0, time);
    return d + time;
  }
};

bool IsBlank(wchar_t c) {
  return c == L' ' || c == L'\t';
}

// One argument from `at` on, by the C runtime's rules; `at` ends after it.
std::wstring NextArgument(std::wstring_view line, std::size_t& at) {
  std::wstring arg;
  bool quoted = false;
  while (at < line.size() && (quoted || !IsBlank(line[at]))) {
    const wchar_t c = line[at];
    if (c == L'\\') {
      std::size_t end = at;
      while (end < line.size() && line[end] == L'\\')
        ++end;
      const std::size_t n = end - at;
      at = end;
      if (end == line.size() || line[end] != L'"') {
        arg.append(n, L'\\');
      } else if (n % 2 == 0) {
        arg.append(n / 2, L'\\');  // the quote that follows opens or closes
      } else if (quoted && (end + 1 == line.size() || IsBlank(line[end + 1]))) {
        // "C:\Mail\": the quote closes the argument, and the backslash before it stays.
        arg.append(n / 2 + 1, L'\\');
        quoted = false;
        ++at;
      } else {
        arg.append(n / 2, L'\\');
        arg += L'"';
        ++at;
      }
    } else if (c == L'"') {
      if (quoted && at + 1 < line.size() && line[at + 1] == L'"') {
        arg += L'"';  // "" inside quotes is one quote
        ++at;
      } else {
        quoted = !quoted;
      }
      ++at;
    } else {
      arg += c;
      ++at;
    }
  }
  return arg;
}

}  // namespace

std::vector<std::string> SplitCommandLine(std::wstring_view line) {
  std::vector<std::string> args;
  // The program's name ends at the next quote when it begins with one, else at a blank.
  std::size_t at = 0;
  if (!line.empty() && line[0] == L'"') {
    const std::size_t end = line.find(L'"', 1);
    args.push_back(win::Narrow(line.substr(1, end == std::wstring_view::npos ? end : end - 1)));
    at = end == std::wstring_view::npos ? line.size() : end + 1;
  } else {
    while (at < line.size() && !IsBlank(line[at]))
      ++at;
    args.push_back(win::Narrow(line.substr(0, at)));
  }
  for (;;) {
    while (at < line.size() && IsBlank(line[at]))
      ++at;
    if (at == line.size()) break;
    args.push_back(win::Narrow(NextArgument(line, at)));
  }
  return args;
}

std::vector<std::string> ProgramArguments(int, char**) {
  return SplitCommandLine(::GetCommandLineW());
}

void WinConsole::SetUpStandardStreams() {
  // Bytes pass unchanged: no CR added before LF, no CTRL-Z taken as the end of the input. The
  // messages on standard error end their lines the same way on every system.
  ::_setmode(::_fileno(stdin), _O_BINARY);
  ::_setmode(::_fileno(stdout), _O_BINARY);
  ::_setmode(::_fileno(stderr), _O_BINARY);
  // Errors go out when they are written, as the C standard has standard error do (Wine's runtime
  // buffers it when it is not a console).
  std::setvbuf(stderr, nullptr, _IONBF, 0);
}

namespace {
// The console window a stream reaches, or null.
HANDLE ConsoleOf(std::FILE* stream) {
  const auto h = reinterpret_cast<HANDLE>(::_get_osfhandle(::_fileno(stream)));
  DWORD mode = 0;
  return h != INVALID_HANDLE_VALUE && ::GetConsoleMode(h, &mode) ? h : nullptr;
}
}  // namespace

bool WinConsole::IsTerminal(std::FILE* stream) {
  return ConsoleOf(stream) != nullptr;
}

bool WinConsole::Write(std::FILE* stream, std::string_view text) {
  const HANDLE console = ConsoleOf(stream);
  if (!console) return std::fwrite(text.data(), 1, text.size(), stream) == text.size();
  // What the stream holds goes first; then the text as UTF-16, in pieces the console takes
  // (older systems refuse a write of 64 KiB), never parting the two halves of a surrogate pair.
  if (std::fflush(stream) != 0) return false;
  const std::wstring wide = win::Wide(text);
  constexpr std::size_t kPiece = 8192;
  for (std::size_t at = 0; at < wide.size();) {
    std::size_t n = std::min(kPiece, wide.size() - at);
    if (at + n < wide.size() && wide[at + n - 1] >= 0xD800 && wide[at + n - 1] <= 0xDBFF) --n;
    DWORD written = 0;
    if (!::WriteConsoleW(console, wide.data() + at, static_cast<DWORD>(n), &written, nullptr) ||
        written == 0)
      return false;
    at += written;
  }
  return true;
}

void WinConsole::RedrawLine(std::FILE* stream, const std::string& line) {
  const std::size_t pad = drawn_ > line.size() ? drawn_ - line.size() : 0;
  std::string text = "\r" + line + std::string(pad, ' ');
  if (pad > 0) text += "\r" + line;
  Write(stream, text);
  drawn_ = line.size();
}

std::FILE* WinConsole::TemporaryFile() {
  // The user's temporary folder, a name of this process's own, and the file removed when it is
  // closed (the C runtime's tmpfile makes its files in the drive's root, where a user may not
  // write).
  static int made = 0;
  std::wstring folder(MAX_PATH + 1, L'\0');
  DWORD n = ::GetTempPathW(static_cast<DWORD>(folder.size()), folder.data());
  if (n >= folder.size()) {
    folder.resize(n);
    n = ::GetTempPathW(static_cast<DWORD>(folder.size()), folder.data());
  }
  folder.resize(n < folder.size() ? n : 0);
  DWORD error = ERROR_PATH_NOT_FOUND;
  for (int attempt = 0; attempt < 100 && !folder.empty(); ++attempt) {
    const std::string name = win::Narrow(folder) + "qvrepair-" + std::to_string(::_getpid()) + "-" +
                             std::to_string(++made) + ".tmp";
    const HANDLE h =
        ::CreateFileW(win::WidePath(name).c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                      CREATE_NEW, FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
      error = ::GetLastError();
      if (error == ERROR_FILE_EXISTS) continue;
      break;
    }
    const int fd = ::_open_osfhandle(reinterpret_cast<intptr_t>(h), _O_RDWR | _O_BINARY);
    if (fd < 0) {
      ::CloseHandle(h);
      error = ERROR_TOO_MANY_OPEN_FILES;
      break;
    }
    if (std::FILE* file = ::_fdopen(fd, "w+b")) return file;
    ::_close(fd);  // closes the handle too
    error = ERROR_TOO_MANY_OPEN_FILES;
    break;
  }
  throw EFCreateError("Cannot create a temporary file. " + win::SystemText(error));
}

std::unique_ptr<Clock> WinConsole::ZoneClock(const std::string& zone) {
  ::_putenv_s("TZ", zone.c_str());
  ::_tzset();
  return std::make_unique<RuntimeClock>();
}

}  // namespace qv::platform
