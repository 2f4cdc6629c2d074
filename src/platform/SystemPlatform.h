// The real services of the system the program is built for, under one neutral name: front ends,
// benchmarks and tests name these, never the implementation of one system.
#pragma once

#include "platform/PosixPlatform.h"

namespace qv::platform {

using SystemPlatform = PosixPlatform;
using SystemFileSystem = PosixFileSystem;
using SystemInstanceProbe = PosixInstanceProbe;

}  // namespace qv::platform
