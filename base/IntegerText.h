// The program's one reader of numbers written as text (settings, the page limit, stored
// placements). It never consults the C locale.
#pragma once

#include <cstdint>
#include <string_view>

namespace qm {

// The whole text as a 32-bit integer: leading blanks, an optional sign, then decimal
// digits, or hexadecimal after "$" or "0x"/"0X"; nothing may follow. Decimal stops at the
// int32 range; hexadecimal covers all 32 bits, so "$FFFFFFFF" is -1. False, with `value`
// untouched, when the text is not such a number. The settings file reads numbers so.
bool TryParseInteger(std::string_view text, std::int32_t& value);

// The number in `text`, or `fallback` when it is not one.
std::int32_t StrToIntDef(std::string_view text, std::int32_t fallback);

// Decimal digits alone, up to 2147483647: no blank, sign or prefix. False, with `value`
// untouched, otherwise. The page limit reads its setting so.
bool TryParseDecimal(std::string_view text, std::int32_t& value);

}  // namespace qm
