// Val and wholeNumber on arbitrary text and arbitrary doubles.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <limits>
#include <string>
#include <string_view>

#include "fuzz/fuzzcheck.h"
#include "gallery/valnum.h"

namespace {

// wholeNumber's contract, stated through the C library: the nearest integer with ties to even
// (nearbyint in the default rounding mode), present exactly when it fits 32 bits.
void checkWholeNumber(double value)
{
    const auto whole = pictarre::wholeNumber(value);
    if (!std::isfinite(value)) {
        FUZZ_CHECK(!whole);
        return;
    }
    const double nearest = std::nearbyint(value);
    const bool fits = nearest >= -2147483648.0 && nearest <= 2147483647.0;
    FUZZ_CHECK(whole.has_value() == fits);
    if (whole) {
        FUZZ_CHECK(static_cast<double>(*whole) == nearest);
        FUZZ_CHECK(std::fabs(static_cast<double>(*whole) - value) <= 0.5);
    }
}

bool isBlank(char c) { return c == ' ' || c == '\t' || c == '\n'; }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const double value = pictarre::Val(text);
    FUZZ_CHECK(!std::isnan(value));
    checkWholeNumber(value);

    // Blanks anywhere are skipped, so taking them out first changes nothing.
    std::string packed;
    for (const char c : text)
        if (!isBlank(c))
            packed += c;
    const double packedValue = pictarre::Val(packed);
    FUZZ_CHECK(packedValue == value || (value == 0.0 && packedValue == 0.0));

    // A number that does not start the text gives 0; a leading minus never gives a positive value.
    if (!packed.empty() && packed.front() != '-' && packed.front() != '+' && packed.front() != '.' &&
        (packed.front() < '0' || packed.front() > '9'))
        FUZZ_CHECK(value == 0.0);
    if (!packed.empty() && packed.front() == '-')
        FUZZ_CHECK(value <= 0.0);

    // The same bytes taken as a double reach every value wholeNumber can meet, NaN and the
    // infinities included.
    if (size >= sizeof(double)) {
        double raw;
        std::memcpy(&raw, data, sizeof raw);
        checkWholeNumber(raw);
    }
    return 0;
}
