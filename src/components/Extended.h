// The 80-bit extended-precision float of component streams: a 64-bit significand with an explicit
// leading bit (bytes 0 to 7, little-endian), then a 16-bit word holding the sign in its top bit and
// the exponent biased by 16383.
#pragma once

#include <array>
#include <cstdint>

namespace qv {

using TExtended80 = std::array<std::uint8_t, 10>;

// Widens a double; every double, special values included, has an exact extended form.
TExtended80 DoubleToExtended(double value) noexcept;

// Rounds an extended value to the nearest double (ties to even). Values beyond the double range
// become infinities, values below it subnormals or zeros; infinities and NaNs stay what they are.
double ExtendedToDouble(const TExtended80& bytes) noexcept;

}  // namespace qv
