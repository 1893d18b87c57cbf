// The identifier parsers on any text: what they report found is really there, what they turn
// away really is not, and an accepted GUID text gives the GUID that its canonical text gives.
#include <fuzzer/FuzzedDataProvider.h>

#include <cctype>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "fuzz_check.h"
#include "monitor/id_parse.h"
#include "platform/world/device_world.h"

using namespace vorlin;

namespace {

bool is_hex(char c) {
  return std::isxdigit(static_cast<unsigned char>(c)) != 0;
}

std::uint32_t hex_value(const char* text, int count) {
  std::uint32_t value = 0;
  for (int i = 0; i < count; ++i) {
    const char c = static_cast<char>(std::tolower(static_cast<unsigned char>(text[i])));
    value = value * 16 + static_cast<std::uint32_t>(c <= '9' ? c - '0' : c - 'a' + 10);
  }
  return value;
}

bool name_at(const char* text, const std::string& name) {
  for (std::size_t i = 0; i < name.size(); ++i) {
    if (text[i] == '\0' || std::tolower(static_cast<unsigned char>(text[i])) !=
                               std::tolower(static_cast<unsigned char>(name[i]))) {
      return false;
    }
  }
  return true;
}

bool digits_at(const char* text, int count) {
  for (int i = 0; i < count; ++i) {
    if (!is_hex(text[i])) return false;
  }
  return true;
}

void check_hex_digits(const std::string& text, int count) {
  std::uint32_t value = 0xDEADBEEF;
  const bool parsed = parse_hex_digits(text.c_str(), value, count);
  fuzz::check(parsed == digits_at(text.c_str(), count), "parse_hex_digits accepted wrongly");
  fuzz::check(parsed ? value == hex_value(text.c_str(), count) : value == 0xDEADBEEF,
              "parse_hex_digits gave the wrong value");

  const std::size_t run = hex_run_length(text.c_str());
  fuzz::check(run <= text.size() && digits_at(text.c_str(), static_cast<int>(run)) &&
                  !is_hex(text.c_str()[run]),
              "hex_run_length is not the length of the leading run");
}

void check_find_field(const std::string& text, const std::string& name, int count) {
  std::uint32_t value = 0xDEADBEEF;
  const char* rest = text.c_str();
  const bool found = find_hex_field(text.c_str(), name.c_str(), value, count, &rest);
  // The first place, scanning up to the text's first zero, where the name and the digits are.
  const char* expected = nullptr;
  for (const char* at = text.c_str(); *at != '\0'; ++at) {
    if (name_at(at, name) && digits_at(at + name.size(), count)) {
      expected = at;
      break;
    }
  }
  fuzz::check(found == (expected != nullptr), "find_hex_field missed or invented a field");
  if (!found) {
    fuzz::check(value == 0xDEADBEEF && rest == nullptr, "find_hex_field changed its outputs");
    return;
  }
  const char* digits = expected + name.size();
  fuzz::check(value == hex_value(digits, count), "find_hex_field gave digits that are not there");
  fuzz::check(rest == digits + count, "find_hex_field's rest is not after the digits");
}

void check_guid(const std::u16string& text) {
  guid parsed{};
  std::memset(&parsed, 0xA5, sizeof parsed);
  const bool accepted = string2guid(text.c_str(), parsed);
  if (!accepted) {
    fuzz::check(parsed == guid{}, "a refused GUID text did not give all zeros");
    return;
  }
  char canonical[64];
  std::snprintf(canonical, sizeof canonical, "{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}",
                static_cast<unsigned>(parsed.data1), parsed.data2, parsed.data3, parsed.data4[0],
                parsed.data4[1], parsed.data4[2], parsed.data4[3], parsed.data4[4], parsed.data4[5],
                parsed.data4[6], parsed.data4[7]);
  std::u16string wide(canonical, canonical + std::strlen(canonical));
  guid again{};
  fuzz::check(string2guid(wide.c_str(), again) && again == parsed,
              "an accepted GUID does not round-trip through its text");
  guid independent{};
  fuzz::check(world::parse_guid_text(canonical, independent) && independent == parsed,
              "the canonical text of an accepted GUID means another GUID");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzedDataProvider input(data, size);
  const int count = input.ConsumeIntegralInRange(1, 8);
  const std::string name = input.ConsumeRandomLengthString(8);
  switch (input.ConsumeIntegralInRange(0, 2)) {
    case 0:
      check_hex_digits(input.ConsumeRemainingBytesAsString(), count);
      break;
    case 1:
      // The monitor's field names never hold a zero; cut one where it does.
      check_find_field(input.ConsumeRemainingBytesAsString(), name.c_str(), count);
      break;
    default: {
      std::u16string text;
      while (input.remaining_bytes() >= 2) {
        text.push_back(static_cast<char16_t>(input.ConsumeIntegral<std::uint16_t>()));
      }
      check_guid(text);
      break;
    }
  }
  return 0;
}
