// Parsers for the numbers inside device-management texts: hexadecimal fields of hardware ids
// and interface paths ("vid_16c0", "&mi_02") and setup-class GUID texts. Pure functions: they
// allocate nothing and write only their output arguments.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/device_api.h"

namespace vorlin {

// Reads exactly `digit_count` (1 to 8) hex digits from the start of `text`. false, with `value`
// untouched, when any of them is not a hex digit (the terminating zero included). The character
// after the digits is not looked at: "16C0A" with 4 digits gives 0x16C0.
bool parse_hex_digits(const char* text, std::uint32_t& value, int digit_count);

// The number of hex digits at the start of `text`.
std::size_t hex_run_length(const char* text);

// Finds the first place where `name` (compared without regard to ASCII case) is followed by
// `digit_count` hex digits, stores their value and, when `rest` is given, the position just after
// the digits. An occurrence without the digits is passed over. false when there is none: `value`
// untouched, `*rest` null.
bool find_hex_field(const char* text, const char* name, std::uint32_t& value, int digit_count,
                    const char** rest = nullptr);

// Parses a setup-class text such as {4D36E978-E325-11CE-BFC1-08002BE10318}, given as UTF-16
// the way the device-node property service returns it (each unit narrowed to its low 8 bits).
// Leading "{" and " " are skipped; any non-hex character separates the groups. false, with `out`
// all zeros, when the text is not a GUID, so the result can be stored straight into a class list.
bool string2guid(const char16_t* text, guid& out);

}  // namespace vorlin
