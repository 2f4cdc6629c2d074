// What the source files of the Windows services share, without the Win32 header: the conversions
// between the program's UTF-8 and the system's UTF-16, the system's texts for its error codes,
// and streams over the system's file handles.
#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>

#include "base/Stream.h"

namespace qv::platform::win {

std::wstring Wide(std::string_view utf8);
std::string Narrow(std::wstring_view wide);

// A path for the wide functions: UTF-16; a long one made absolute (backslashes, no "." or ".."
// parts) and given the "\\?\" prefix, with which the functions take it as it is and beyond
// MAX_PATH characters.
std::wstring WidePath(const std::string& path);

// The system's text for an error code (GetLastError's), in UTF-8, without its line break.
std::string SystemText(unsigned long code);

// A stream that owns a file handle (HANDLE) opened under the given name: reads and writes go to
// the system as they are (writes through a buffer of bufferSize bytes when it is not 0), and a
// failure carries the file and the system's text. Positions are 64 bits.
std::unique_ptr<TStream> HandleStream(void* handle, std::string name, std::size_t bufferSize);

// Closes a system handle (HANDLE) when it goes; an invalid one (null or INVALID_HANDLE_VALUE) is
// not ok().
class Handle {
 public:
  explicit Handle(void* h) : h_(h) {}
  ~Handle();
  Handle(const Handle&) = delete;
  Handle& operator=(const Handle&) = delete;
  bool ok() const;
  void* get() const { return h_; }

 private:
  void* h_;
};

}  // namespace qv::platform::win
