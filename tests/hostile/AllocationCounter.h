// The largest single allocation through operator new since the last reset, for checking that a
// reader does not allocate what a length field claims before it has the bytes.
#pragma once

#include <cstddef>

namespace qv::test {

void ResetLargestAllocation() noexcept;
std::size_t LargestAllocation() noexcept;

}  // namespace qv::test
