#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

namespace pictarre {

// Reads a decimal number from the start of a text the way the classic BASIC Val does: blanks,
// tabs and line feeds anywhere are skipped; sign, digits, decimal point and exponent are read;
// reading stops at the first other character; no leading number gives 0.
double Val(std::string_view text);

// The nearest 32-bit integer, halfway values going to the even neighbour; nothing when the value
// is not finite or lies outside the 32-bit signed range.
std::optional<std::int32_t> wholeNumber(double value);

}  // namespace pictarre
