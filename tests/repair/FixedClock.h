// The fixed clock is shared by the suites; this keeps the repair tests' include working.
#pragma once

#include "support/FixedClock.h"
