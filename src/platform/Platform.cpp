// What every system's services share.
#include "platform/Platform.h"

namespace qv::platform {

const LocaleNames& EnglishNames() {
  static const LocaleNames names{
      {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"},
      {"Sunday", "Monday", "Tuesday", "Wednesday", "Thursday", "Friday", "Saturday"},
      {"Jan", "Feb", "Mar", "Apr", "May", "Jun", "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"},
      {"January", "February", "March", "April", "May", "June", "July", "August", "September",
       "October", "November", "December"}};
  return names;
}

}  // namespace qv::platform
