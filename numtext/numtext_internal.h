// Pieces shared by the fast and the exact paths.
#pragma once

#include <cstddef>
#include <cstdint>

// The text of an infinity or NaN (biased exponent all ones) from its double
// bits: the marker laid out like digits, "0"-padded to `decimals`.
std::size_t FormatMarker(std::uint64_t bits, int decimals, char* out);

// The double bits a float widens to, computed on the bits alone.
std::uint64_t WidenFloatBits(std::uint32_t bits);
