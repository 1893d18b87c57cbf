#include "monitor/id_parse.h"

namespace vorlin {

namespace {

int hex_digit_value(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

char lower_ascii(char c) {
  return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

bool name_matches_at(const char* text, const char* name) {
  for (; *name; ++name, ++text) {
    // A text that ends inside the name stops here: its zero never equals a name character.
    if (lower_ascii(*text) != lower_ascii(*name)) return false;
  }
  return true;
}

}  // namespace

bool parse_hex_digits(const char* text, std::uint32_t& value, int digit_count) {
  std::uint32_t result = 0;
  for (int i = 0; i < digit_count; ++i) {
    const int digit = hex_digit_value(text[i]);
    if (digit < 0) return false;  // also stops at the terminating zero
    result = result * 16 + static_cast<std::uint32_t>(digit);
  }
  value = result;
  return true;
}

std::size_t hex_run_length(const char* text) {
  std::size_t length = 0;
  while (hex_digit_value(text[length]) >= 0) ++length;
  return length;
}

bool find_hex_field(const char* text, const char* name, std::uint32_t& value, int digit_count,
                    const char** rest) {
  std::size_t name_length = 0;
  while (name[name_length]) ++name_length;
  for (const char* at = text; *at; ++at) {
    if (name_matches_at(at, name) && parse_hex_digits(at + name_length, value, digit_count)) {
      if (rest) *rest = at + name_length + digit_count;
      return true;
    }
  }
  if (rest) *rest = nullptr;
  return false;
}

bool string2guid(const char16_t* text, guid& out) {
  // Class texts are short; 511 units are plenty and bound the copy of an unterminated text.
  char narrow[512];
  std::size_t length = 0;
  while (length < sizeof narrow - 1 && text[length] != 0) {
    narrow[length] = static_cast<char>(text[length] & 0xFF);
    ++length;
  }
  narrow[length] = '\0';

  const char* p = narrow;
  while (*p == '{' || *p == ' ') ++p;
  std::size_t remaining = length - static_cast<std::size_t>(p - narrow);
  // Each group must be a run of exactly its width, so the character after it is a non-hex
  // separator (or the end after the last one). Checking the length first keeps every read inside
  // the text.
  static constexpr std::size_t group_start[] = {0, 9, 14, 19, 24};
  static constexpr std::size_t group_width[] = {8, 4, 4, 4, 12};
  for (int g = 0; g < 5; ++g) {
    if (remaining < group_start[g] + group_width[g] ||
        hex_run_length(p + group_start[g]) != group_width[g]) {
      out = guid{};
      return false;
    }
  }

  std::uint32_t data1 = 0, data2 = 0, data3 = 0, bytes01 = 0, bytes2_4 = 0, bytes5_7 = 0;
  parse_hex_digits(p, data1, 8);
  parse_hex_digits(p + 9, data2, 4);
  parse_hex_digits(p + 14, data3, 4);
  parse_hex_digits(p + 19, bytes01, 4);
  // The 12-digit group does not fit 32 bits: read it as two halves of 6 digits.
  parse_hex_digits(p + 24, bytes2_4, 6);
  parse_hex_digits(p + 30, bytes5_7, 6);
  guid g{};
  g.data1 = data1;
  g.data2 = static_cast<std::uint16_t>(data2);
  g.data3 = static_cast<std::uint16_t>(data3);
  g.data4[0] = static_cast<std::uint8_t>(bytes01 >> 8);
  g.data4[1] = static_cast<std::uint8_t>(bytes01);
  g.data4[2] = static_cast<std::uint8_t>(bytes2_4 >> 16);
  g.data4[3] = static_cast<std::uint8_t>(bytes2_4 >> 8);
  g.data4[4] = static_cast<std::uint8_t>(bytes2_4);
  g.data4[5] = static_cast<std::uint8_t>(bytes5_7 >> 16);
  g.data4[6] = static_cast<std::uint8_t>(bytes5_7 >> 8);
  g.data4[7] = static_cast<std::uint8_t>(bytes5_7);
  out = g;
  return true;
}

}  // namespace vorlin
