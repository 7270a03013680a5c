#pragma once
// The integer at the start of a text, read the way the tool has always read
// a number from Config.ini or from an edit box: an optional sign ('-' or
// '+'), then decimal digits taken modulo 2^32; reading stops at the first
// other character, so "12abc" is 12 and "-1" is 0xFFFFFFFF. Nothing is
// skipped before the sign: each reader drops the blanks it allows. No value
// when no digit follows the sign.

#include <cstdint>
#include <optional>
#include <string_view>

namespace settings {

constexpr std::optional<std::uint32_t> LeadingInteger(std::string_view text) {
    std::size_t i = 0;
    const bool negative = !text.empty() && text[0] == '-';
    if (!text.empty() && (text[0] == '-' || text[0] == '+')) ++i;
    if (i == text.size() || text[i] < '0' || text[i] > '9') return std::nullopt;
    std::uint32_t number = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        number = number * 10u + static_cast<std::uint32_t>(text[i] - '0');
    }
    return negative ? 0u - number : number;
}

}  // namespace settings
