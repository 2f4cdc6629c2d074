// Typed exceptions of the program. Each carries its message text exactly as the user will see it;
// the driver turns them into reports, library code only raises them.
#pragma once

#include <exception>
#include <string>
#include <utility>

namespace qv {

// An error carries the system's text and, where a file or the operating system is involved, a
// detail line that names the file and gives the system's reason. what() is both, on two lines.
class Exception : public std::exception {
 public:
  explicit Exception(std::string message) : message_(std::move(message)), text_(message_) {}
  Exception(std::string message, std::string detail)
      : message_(std::move(message)), detail_(std::move(detail)) {
    text_ = detail_.empty() ? message_ : message_ + "\n" + detail_;
  }
  const char* what() const noexcept override { return text_.c_str(); }
  // The system's text alone.
  const std::string& Message() const noexcept { return message_; }
  // The file and the system's reason ("" when there is none).
  const std::string& Detail() const noexcept { return detail_; }

 private:
  std::string message_;
  std::string detail_;
  std::string text_;
};

#define QV_DECLARE_EXCEPTION(Name, Base) \
  class Name : public Base {             \
   public:                               \
    using Base::Base;                    \
  };

QV_DECLARE_EXCEPTION(EStreamError, Exception)
QV_DECLARE_EXCEPTION(EFilerError, EStreamError)
QV_DECLARE_EXCEPTION(EReadError, EFilerError)
QV_DECLARE_EXCEPTION(EWriteError, EFilerError)
QV_DECLARE_EXCEPTION(EFOpenError, EStreamError)
QV_DECLARE_EXCEPTION(EFCreateError, EStreamError)
// The system could not read a file it had opened (a device error, no memory, a file that is not
// data): its detail names the file and gives the system's reason. Not an EReadError, which says
// what the bytes read hold (a damaged or truncated file).
QV_DECLARE_EXCEPTION(EInOutError, EStreamError)
QV_DECLARE_EXCEPTION(EComponentError, Exception)
QV_DECLARE_EXCEPTION(EConvertError, Exception)
QV_DECLARE_EXCEPTION(EListError, Exception)

#undef QV_DECLARE_EXCEPTION

// Whether an error is the system's refusal to open or read a file, as opposed to what a file's
// bytes hold: a file that may be whole but could not be read.
inline bool IsSystemReadError(const std::exception& e) noexcept {
  return dynamic_cast<const EFOpenError*>(&e) != nullptr ||
         dynamic_cast<const EInOutError*>(&e) != nullptr;
}

// Message texts shared by several units.
inline constexpr const char* kStreamReadError = "Stream read error";
inline constexpr const char* kStreamWriteError = "Stream write error";
inline constexpr const char* kListIndexError = "List index out of bounds (%d)";
inline constexpr const char* kAssignError = "Cannot assign a %s to a %s";
inline constexpr const char* kFOpenError = "Cannot open file \"%s\". %s";
inline constexpr const char* kFCreateError = "Cannot create file \"%s\". %s";
inline constexpr const char* kInvalidInteger = "'%s' is not a valid integer value";

// The detail line of an error about a file: "<file>": <reason>.
inline std::string FileDetail(const std::string& file, const std::string& reason) {
  return "\"" + file + "\": " + reason;
}

}  // namespace qv
