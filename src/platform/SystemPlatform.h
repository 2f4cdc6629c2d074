// The real services of the system the program is built for, under one neutral name: front ends,
// benchmarks and tests name these, never the implementation of one system.
#pragma once

#ifdef _WIN32
#include "platform/WinPlatform.h"
#else
#include "platform/PosixPlatform.h"
#endif

namespace qv::platform {

#ifdef _WIN32
using SystemPlatform = WinPlatform;
using SystemFileSystem = WinFileSystem;
using SystemClock = WinClock;
#else
using SystemPlatform = PosixPlatform;
using SystemFileSystem = PosixFileSystem;
#endif

}  // namespace qv::platform
