// The real services of the system the program is built for, under one neutral name: front ends,
// benchmarks and tests name these, never the implementation of one system.
#pragma once

#ifdef _WIN32
#include "platform/WinPlatform.h"
#else
#include "platform/PosixPlatform.h"
#endif

namespace qv::platform {

// Each system's classes are named alike: <System>FileSystem, <System>Clock, <System>Locale,
// <System>InstanceProbe, <System>Beeper, gathered in <System>Platform, and <System>Console for
// the console program.
#ifdef _WIN32
using SystemPlatform = WinPlatform;
using SystemFileSystem = WinFileSystem;
using SystemClock = WinClock;
using SystemLocale = WinLocale;
using SystemConsole = WinConsole;
#else
using SystemPlatform = PosixPlatform;
using SystemFileSystem = PosixFileSystem;
using SystemClock = PosixClock;
using SystemLocale = PosixLocale;
using SystemConsole = PosixConsole;
#endif

}  // namespace qv::platform
