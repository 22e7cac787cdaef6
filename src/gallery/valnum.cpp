#include "gallery/valnum.h"

#include <charconv>
#include <cmath>
#include <limits>
#include <string>

namespace pictarre {

namespace {

bool isBlank(char c) { return c == ' ' || c == '\t' || c == '\n'; }
bool isDigit(char c) { return c >= '0' && c <= '9'; }

}  // namespace

double Val(std::string_view text)
{
    // Gather the number's characters with the blanks taken out, then convert once.
    std::string number;
    std::size_t i = 0;
    auto next = [&]() -> char {
        while (i < text.size() && isBlank(text[i]))
            ++i;
        return i < text.size() ? text[i] : '\0';
    };
    char c = next();
    // Appends the run of digits at the reading point to `into`; true when there was one.
    auto digitsInto = [&](std::string& into) {
        bool any = false;
        for (; isDigit(c); ++i, c = next()) {
            into += c;
            any = true;
        }
        return any;
    };
    if (c == '+' || c == '-') {
        if (c == '-')
            number += '-';
        ++i;
        c = next();
    }
    bool digits = digitsInto(number);
    if (c == '.') {
        number += '.';
        ++i;
        c = next();
        digits = digitsInto(number) || digits;
    }
    if (!digits)
        return 0.0;
    if (c == 'e' || c == 'E' || c == 'd' || c == 'D') {
        std::string exponent = "e";
        ++i;
        c = next();
        if (c == '+' || c == '-') {
            exponent += c;
            ++i;
            c = next();
        }
        if (digitsInto(exponent))
            number += exponent;
    }
    if (number.front() == '-' && number.size() > 1 && number[1] == '.')
        number.insert(1, 1, '0');
    else if (number.front() == '.')
        number.insert(0, 1, '0');
    double value = 0.0;
    const auto [end, ec] = std::from_chars(number.data(), number.data() + number.size(), value);
    if (ec == std::errc::result_out_of_range) {
        // Too large overflows (the caller's range check then fails); too small is zero.
        const bool large = number.find("e-") == std::string::npos;
        const double magnitude = large ? std::numeric_limits<double>::infinity() : 0.0;
        return number.front() == '-' ? -magnitude : magnitude;
    }
    return value;
}

std::optional<std::int32_t> wholeNumber(double value)
{
    if (!std::isfinite(value))
        return std::nullopt;
    double whole = std::floor(value);
    const double fraction = value - whole;
    if (fraction > 0.5 || (fraction == 0.5 && std::fmod(whole, 2.0) != 0.0))
        whole += 1.0;
    if (whole < -2147483648.0 || whole > 2147483647.0)
        return std::nullopt;
    return static_cast<std::int32_t>(whole);
}

}  // namespace pictarre
