// A clock standing at a fixed local time, counting how often it is asked. Local time is UTC
// shifted by a fixed offset (a fraction of a day; 0 by default).
#pragma once

#include "platform/Platform.h"

namespace qv::test {

class FixedClock : public platform::Clock {
 public:
  explicit FixedClock(TDateTime now, TDateTime utcOffset = 0) : now_(now), offset_(utcOffset) {}
  TDateTime Now() override {
    ++calls;
    return now_;
  }
  TDateTime UtcToLocal(TDateTime utc) override { return utc + offset_; }
  int calls = 0;

 private:
  TDateTime now_;
  TDateTime offset_;
};

}  // namespace qv::test
