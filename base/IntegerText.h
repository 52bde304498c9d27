// The program's one reader of numbers written as text (settings, the page limit, stored
// placements). It never consults the C locale.
#pragma once

#include <cstdint>
#include <string_view>

namespace qm {

// Whether a bare "x" or "X" also starts a hexadecimal number. The settings file takes
// only "$" and "0x"; the page limit is read as Pascal's StrToIntDef reads, which also
// takes the bare letter.
enum class THexPrefix : bool { DollarOr0x, AlsoBareX };

// The whole text as a 32-bit integer: leading blanks, an optional sign, then decimal
// digits, or hexadecimal after one of the prefixes; nothing may follow. Decimal stops at
// the int32 range; hexadecimal covers all 32 bits, so "$FFFFFFFF" is -1. False, with
// `value` untouched, when the text is not such a number.
bool TryParseInteger(std::string_view text, std::int32_t& value,
                     THexPrefix prefixes = THexPrefix::DollarOr0x);

// The number in `text`, or `fallback` when it is not one.
std::int32_t StrToIntDef(std::string_view text, std::int32_t fallback,
                         THexPrefix prefixes = THexPrefix::DollarOr0x);

}  // namespace qm
