// Serial-number decoding on any text: only the leading digits count, the boot loader's number is
// read in hexadecimal and every other device's in decimal, and the result follows the decoding
// rules from the number alone.
#include <fuzzer/FuzzedDataProvider.h>

#include <string>

#include "boards/board_id.h"
#include "fuzz_check.h"

using namespace vorlin;

namespace {

// The leading number in `base`, saturated at 32 bits; false when there is no leading digit.
bool leading_number(const std::string& text, unsigned base, std::uint32_t& value) {
  unsigned long long total = 0;
  std::size_t i = 0;
  for (; i < text.size() && text[i] != '\0'; ++i) {
    const char c = text[i];
    unsigned digit = 99;
    if (c >= '0' && c <= '9') digit = static_cast<unsigned>(c - '0');
    if (c >= 'a' && c <= 'f') digit = static_cast<unsigned>(c - 'a' + 10);
    if (c >= 'A' && c <= 'F') digit = static_cast<unsigned>(c - 'A' + 10);
    if (digit >= base) break;
    total = total * base + digit;
    if (total > 0xFFFFFFFFull) total = 0x100000000ull;
  }
  if (i == 0) return false;
  value = total > 0xFFFFFFFFull ? 0xFFFFFFFFu : static_cast<std::uint32_t>(total);
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzedDataProvider input(data, size);
  const bool boot_loader = input.ConsumeBool();
  const std::uint32_t vid = boot_loader ? family_vendor_id : input.ConsumeIntegral<std::uint16_t>();
  const std::uint32_t pid =
      boot_loader ? bootloader_product_id : input.ConsumeIntegral<std::uint16_t>();
  const std::string text = input.ConsumeRemainingBytesAsString();
  const std::uint32_t serial = serial_number_from_string(text.c_str(), vid, pid);

  std::uint32_t number = 0;
  if (is_family_bootloader(vid, pid)) {
    const bool any = leading_number(text, 16, number);
    fuzz::check(serial == (any ? number : 0), "a boot loader's serial is not its hex number");
    return 0;
  }
  if (!leading_number(text, 10, number) || number == 0xFFFFFFFFu || number == 12345) {
    fuzz::check(serial == 0, "a text without a usable number gave a serial number");
    return 0;
  }
  std::uint32_t expected = 0;
  if (number <= 99999990u && number % 10 == 0) {
    expected = number / 10;  // older firmware's number times ten
  } else if (number > 9999999u) {
    expected = number;
  }
  fuzz::check(serial == expected, "the serial number does not follow from the leading number");
  // What follows the number never matters.
  const std::string digits = text.substr(0, text.find_first_not_of("0123456789"));
  fuzz::check(serial_number_from_string((digits + "#x").c_str(), vid, pid) == serial,
              "text after the digits changed the serial number");
  return 0;
}
