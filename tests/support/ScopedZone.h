// Puts the process in a time zone for the life of the object and restores the previous one.
#pragma once

#include <cstdlib>
#include <ctime>
#include <optional>
#include <string>

namespace qv::test {

class ScopedZone {
 public:
  explicit ScopedZone(const char* zone) {
    if (const char* tz = std::getenv("TZ")) saved_ = tz;
    ::setenv("TZ", zone, 1);
    ::tzset();
  }
  ~ScopedZone() {
    if (saved_)
      ::setenv("TZ", saved_->c_str(), 1);
    else
      ::unsetenv("TZ");
    ::tzset();
  }
  ScopedZone(const ScopedZone&) = delete;
  ScopedZone& operator=(const ScopedZone&) = delete;

 private:
  std::optional<std::string> saved_;
};

}  // namespace qv::test
