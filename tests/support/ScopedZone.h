// Puts the process in a time zone for the life of the object and restores the previous one.
// On Windows the zone is the system's, which a process cannot change: there the object only tells
// whether the system already is in that zone (Available), and tests skip otherwise. The windows
// test preset runs Wine in Europe/Berlin for them.
#pragma once

#include <cstdlib>
#include <ctime>
#include <optional>
#include <string>

#ifdef _WIN32
#include "platform/Win32.h"
#endif

namespace qv::test {

class ScopedZone {
 public:
  explicit ScopedZone(const char* zone) : zone_(zone) {
#ifdef _WIN32
    available_ = WindowsZoneIs(zone);
#else
    if (const char* tz = std::getenv("TZ")) saved_ = tz;
    ::setenv("TZ", zone, 1);
    ::tzset();
#endif
  }
  ~ScopedZone() {
#ifndef _WIN32
    if (saved_)
      ::setenv("TZ", saved_->c_str(), 1);
    else
      ::unsetenv("TZ");
    ::tzset();
#endif
  }
  ScopedZone(const ScopedZone&) = delete;
  ScopedZone& operator=(const ScopedZone&) = delete;

  bool Available() const {
    return available_;
  }
  std::string Why() const {
    return "the system's time zone is not " + zone_ + ", and a process cannot change it";
  }

 private:
#ifdef _WIN32
  // The offsets in minutes of the zones the tests use, in January and in July.
  static bool WindowsZoneIs(const std::string& zone) {
    struct Known {
      const char* name;
      int january, july;
    };
    static constexpr Known kKnown[] = {{"Europe/Berlin", 60, 120}, {"UTC", 0, 0}};
    for (const Known& k : kKnown)
      if (zone == k.name) return OffsetOn(1) == k.january && OffsetOn(7) == k.july;
    return false;
  }
  static int OffsetOn(WORD month) {
    SYSTEMTIME utc{2024, month, 0, 15, 12, 0, 0, 0}, local;
    FILETIME u, l;
    if (!::SystemTimeToTzSpecificLocalTime(nullptr, &utc, &local) ||
        !::SystemTimeToFileTime(&utc, &u) || !::SystemTimeToFileTime(&local, &l))
      return -100000;
    const auto value = [](const FILETIME& t) {
      return static_cast<long long>((static_cast<unsigned long long>(t.dwHighDateTime) << 32) |
                                    t.dwLowDateTime);
    };
    return static_cast<int>((value(l) - value(u)) / 600000000);
  }
#endif

  std::string zone_;
  bool available_ = true;
  std::optional<std::string> saved_;
};

}  // namespace qv::test
