// Fixed-point number text for the document's real numbers.
//
// FormatFixed writes `value` with exactly `decimals` fraction digits into
// `out` and returns the number of bytes written (no NUL is added). It cannot
// fail. The text is: an optional "-", the integer part without leading zeros
// ("0" when it is zero), ".", then the fraction digits. Rounding follows the
// document format, not printf: the value is first rounded half up to 17
// significant digits, then half up (away from zero) at the cut. Zero never
// carries a sign; a negative value that rounds to zero keeps its "-".
// Infinities and NaNs become the markers 1#INF, 1#IND, 1#QNAN and 1#SNAN,
// laid out like digits ("1.#INF", padded with "0" to `decimals`).
// `decimals` below 1 are treated as 1.
#pragma once

#include <cstddef>
#include <cstdint>

// Bytes `out` must hold for any double at the given count of decimals.
constexpr std::size_t FormatFixedBufferSize(int decimals) {
  return 320u + static_cast<std::size_t>(decimals < 1 ? 1 : decimals);
}

// Bytes `out` must hold for any widened float: at most 39 integer digits.
constexpr std::size_t FormatFixedFloatBufferSize(int decimals) {
  return 48u + static_cast<std::size_t>(decimals < 1 ? 1 : decimals);
}

std::size_t FormatFixed(double value, int decimals, char* out);

// The same text for the double that the float with these bits widens to.
// The converter passes floats this way so that no value ever passes through
// a floating-point register (x87 quietens signalling NaNs on load). `out`
// needs FormatFixedFloatBufferSize(decimals) bytes.
std::size_t FormatFixedFloatBits(std::uint32_t bits, int decimals, char* out);

// The decimal digits of `value` without leading zeros ("0" for 0), for the
// document's whole numbers; returns their count (at most 10). Only 32-bit
// divisions by constants, which a 32-bit build does without a helper call.
std::size_t FormatUnsigned(std::uint32_t value, char* out);

// The shortest text that reads back as the same float, exactly as
// std::to_chars writes it without a format, except that zero never carries a
// sign; the mesh formats' numbers. At most kShortestFloatMax bytes. Values
// that are exact with few fraction digits, as maps drawn on a grid have, are
// written here, at several times the library's speed; the rest go to it.
constexpr std::size_t kShortestFloatMax = 32;
std::size_t FormatShortestFloat(std::uint32_t bits, char* out);

// The slow, obviously correct path: exact big-integer arithmetic on the
// value's bits, following the rounding steps literally. The fast paths above
// are checked against it.
std::size_t FormatFixedExact(std::uint64_t bits, int decimals, char* out);
