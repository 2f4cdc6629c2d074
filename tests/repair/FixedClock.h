// A clock standing at a fixed local time, counting how often it is asked.
#pragma once

#include "platform/Platform.h"

namespace qv::test {

class FixedClock : public platform::Clock {
 public:
  explicit FixedClock(TDateTime now) : now_(now) {}
  TDateTime Now() override {
    ++calls;
    return now_;
  }
  TDateTime UtcToLocal(TDateTime utc) override { return utc; }
  int calls = 0;

 private:
  TDateTime now_;
};

}  // namespace qv::test
