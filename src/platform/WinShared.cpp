#include "platform/WinShared.h"

#include <algorithm>
#include <cstdint>
#include <utility>
#include <vector>

#include "base/Errors.h"
#include "platform/CodePage.h"

// The Win32 header comes last.
#include "platform/Win32.h"

namespace qv::platform::win {

std::wstring Wide(std::string_view utf8) {
  const std::u16string wide = Utf8ToUtf16(utf8);
  return std::wstring(wide.begin(), wide.end());
}

std::string Narrow(std::wstring_view wide) {
  return Utf16ToUtf8(
      std::u16string_view(reinterpret_cast<const char16_t*>(wide.data()), wide.size()));
}

namespace {
// The longest path the functions take without the prefix: CreateDirectoryW's, the lowest
// (MAX_PATH less room for an 8.3 file name).
constexpr std::size_t kPlainPathLimit = MAX_PATH - 12;

std::wstring FullPath(const std::wstring& path) {
  std::wstring full(MAX_PATH, L'\0');
  for (;;) {
    const DWORD n =
        ::GetFullPathNameW(path.c_str(), static_cast<DWORD>(full.size()), full.data(), nullptr);
    if (n == 0) return path;
    if (n < full.size()) {
      full.resize(n);
      return full;
    }
    full.resize(n);
  }
}
}  // namespace

std::wstring WidePath(const std::string& path) {
  std::wstring wide = Wide(path);
  if (wide.size() < kPlainPathLimit || wide.starts_with(L"\\\\?\\")) return wide;
  wide = FullPath(wide);
  if (wide.starts_with(L"\\\\?\\")) return wide;
  if (wide.starts_with(L"\\\\")) return L"\\\\?\\UNC\\" + wide.substr(2);
  return L"\\\\?\\" + wide;
}

std::string SystemText(unsigned long code) {
  wchar_t* text = nullptr;
  const DWORD n = ::FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, code, 0, reinterpret_cast<LPWSTR>(&text), 0, nullptr);
  std::string s =
      n > 0 && text ? Narrow(std::wstring_view(text, n)) : "Error " + std::to_string(code);
  if (text) ::LocalFree(text);
  while (!s.empty() && (s.back() == '\r' || s.back() == '\n' || s.back() == ' '))
    s.pop_back();
  return s;
}

namespace {

// Reads and writes of one call are cut into pieces the system takes (a DWORD of bytes).
constexpr std::size_t kMaxTransfer = std::size_t{1} << 30;

class FileHandleStream : public TStream {
 public:
  FileHandleStream(HANDLE handle, std::string name, std::size_t bufferSize)
      : handle_(handle), name_(std::move(name)), capacity_(bufferSize) {
    buffer_.reserve(capacity_);
  }
  ~FileHandleStream() override {
    if (handle_ != INVALID_HANDLE_VALUE) {
      WriteOut();  // closing silently, as a destructor must
      ::CloseHandle(handle_);
    }
  }

  std::size_t Read(void* buffer, std::size_t n) override {
    if (handle_ == INVALID_HANDLE_VALUE || n == 0) return 0;
    Flush();
    auto* out = static_cast<char*>(buffer);
    std::size_t got = 0;
    while (got < n) {
      DWORD k = 0;
      const auto want = static_cast<DWORD>(std::min(n - got, kMaxTransfer));
      // A failing device must not look like the end of the file.
      if (!::ReadFile(handle_, out + got, want, &k, nullptr))
        throw EReadError(kStreamReadError, FileDetail(name_, SystemText(::GetLastError())));
      if (k == 0) break;
      got += k;
    }
    return got;
  }

  std::size_t Write(const void* buffer, std::size_t n) override {
    if (handle_ == INVALID_HANDLE_VALUE || n == 0 || error_ != 0) return 0;
    const auto* in = static_cast<const char*>(buffer);
    if (buffer_.size() + n <= capacity_) {
      buffer_.insert(buffer_.end(), in, in + n);
      return n;
    }
    if (!WriteOut()) return 0;
    if (n < capacity_) {
      buffer_.assign(in, in + n);
      return n;
    }
    return Put(in, n);
  }

  std::int64_t Seek(std::int64_t offset, SeekOrigin origin) override {
    if (handle_ == INVALID_HANDLE_VALUE) return 0;
    LARGE_INTEGER to, at;
    to.QuadPart = offset;
    if (!(origin == SeekOrigin::Current && offset == 0)) Flush();
    const DWORD how = origin == SeekOrigin::Begin     ? FILE_BEGIN
                      : origin == SeekOrigin::Current ? FILE_CURRENT
                                                      : FILE_END;
    if (!::SetFilePointerEx(handle_, to, &at, how)) {
      to.QuadPart = 0;
      ::SetFilePointerEx(handle_, to, &at, FILE_CURRENT);
    }
    // Bytes still in the buffer stand after the system's position.
    return at.QuadPart + static_cast<std::int64_t>(buffer_.size());
  }

  std::int64_t Size() override {
    if (handle_ == INVALID_HANDLE_VALUE) return 0;
    Flush();
    LARGE_INTEGER size;
    return ::GetFileSizeEx(handle_, &size) ? size.QuadPart : 0;
  }

  void SetSize(std::int64_t size) override {
    if (handle_ == INVALID_HANDLE_VALUE) return;
    const std::int64_t position = Position();
    LARGE_INTEGER to;
    to.QuadPart = size;
    if (!::SetFilePointerEx(handle_, to, nullptr, FILE_BEGIN) || !::SetEndOfFile(handle_))
      Fail(::GetLastError());
    to.QuadPart = std::min(position, size);
    ::SetFilePointerEx(handle_, to, nullptr, FILE_BEGIN);
  }

  void Flush() override {
    if (!WriteOut()) Fail(error_);
  }

  void Commit() override {
    if (handle_ == INVALID_HANDLE_VALUE) return;
    const bool written = WriteOut();
    const bool closed = ::CloseHandle(handle_) != 0;
    if (!closed && error_ == 0) error_ = ::GetLastError();
    handle_ = INVALID_HANDLE_VALUE;
    if (!written || !closed) Fail(error_);
  }

 protected:
  [[noreturn]] void RaiseWriteError() override { Fail(error_); }

 private:
  [[noreturn]] void Fail(DWORD code) {
    throw EWriteError(kStreamWriteError,
                      FileDetail(name_, SystemText(code ? code : ERROR_WRITE_FAULT)));
  }

  // Hands the buffered bytes to the system; false (the code in error_) when it refuses them.
  bool WriteOut() {
    if (error_ != 0) return false;
    if (buffer_.empty()) return true;
    const std::size_t n = buffer_.size();
    const bool whole = Put(buffer_.data(), n) == n;
    buffer_.clear();
    return whole;
  }

  // Writes straight to the system; returns how many bytes it took.
  std::size_t Put(const char* data, std::size_t n) {
    std::size_t put = 0;
    while (put < n) {
      DWORD k = 0;
      const auto want = static_cast<DWORD>(std::min(n - put, kMaxTransfer));
      if (!::WriteFile(handle_, data + put, want, &k, nullptr)) {
        error_ = ::GetLastError();
        break;
      }
      if (k == 0) {
        error_ = ERROR_DISK_FULL;  // the system took nothing and said nothing
        break;
      }
      put += k;
    }
    return put;
  }

  HANDLE handle_;
  std::string name_;
  std::size_t capacity_;
  std::vector<char> buffer_;
  DWORD error_ = 0;  // the system's code of the first write that failed
};

}  // namespace

std::unique_ptr<TStream> HandleStream(void* handle, std::string name, std::size_t bufferSize) {
  return std::make_unique<FileHandleStream>(static_cast<HANDLE>(handle), std::move(name),
                                            bufferSize);
}

Handle::~Handle() {
  if (ok()) ::CloseHandle(h_);
}

bool Handle::ok() const {
  return h_ != INVALID_HANDLE_VALUE && h_ != nullptr;
}

}  // namespace qv::platform::win
