#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

namespace pictarre {

// Reads a decimal number from the start of a text. Blanks, tabs and line feeds are skipped
// wherever they stand ("1 2" reads 12); then come an optional sign, digits with an optional
// decimal point, and an optional exponent written with E or D ("1D2" reads 100). Reading stops
// at the first other character ("1,024" reads 1); a text without a leading number gives 0.
double Val(std::string_view text);

// The nearest 32-bit integer, halfway values going to the even neighbour; nothing when the value
// is not finite or lies outside the 32-bit signed range.
std::optional<std::int32_t> wholeNumber(double value);

}  // namespace pictarre
