// The registry operations' own parsers, fed what a program's caller or an
// installer's data may hold: value paths split into root, key and value and
// build the same path again; DWORD data agrees with the C++ library's own
// number reading and every 32-bit pattern written in decimal or "&H" form
// reads back; type texts are one of three or fail as documented.
#include "shared/backend/registry_path.h"

#include <charconv>
#include <cstdio>
#include <string>

#include "fuzz_check.h"
#include "shared/helpers/text.h"
#include "shared/host_error.h"

using namespace quillon;

namespace {

// The DWORD a text gives by the standard library's conversions, or the
// error number it must fail with.
struct Expected {
  std::uint32_t value = 0;
  long error = 0;
};

Expected ReferenceDword(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
  if (text.size() >= 2 && text[0] == '&' && (text[1] == 'H' || text[1] == 'h')) {
    const std::string_view digits = text.substr(2);
    if (digits.empty() || digits.find_first_not_of("0123456789abcdefABCDEF") != std::string::npos) {
      return {0, error_number::kTypeMismatch};
    }
    std::uint64_t value = 0;
    const auto [end, error] =
        std::from_chars(digits.data(), digits.data() + digits.size(), value, 16);
    if (error == std::errc::result_out_of_range || value > UINT32_MAX) {
      return {0, error_number::kOverflow};
    }
    return {static_cast<std::uint32_t>(value), 0};
  }
  std::string_view digits = text;
  if (!digits.empty() && (digits[0] == '+' || digits[0] == '-')) digits.remove_prefix(1);
  if (digits.empty() || digits.find_first_not_of("0123456789") != std::string::npos) {
    return {0, error_number::kTypeMismatch};
  }
  // from_chars takes "-" but no "+".
  const std::string number = text[0] == '+' ? std::string(text.substr(1)) : std::string(text);
  std::int64_t value = 0;
  const auto [end, error] = std::from_chars(number.data(), number.data() + number.size(), value);
  if (error == std::errc::result_out_of_range || value < INT32_MIN || value > INT32_MAX) {
    return {0, error_number::kOverflow};
  }
  return {static_cast<std::uint32_t>(static_cast<std::int32_t>(value)), 0};
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text = fuzz::Text(data, size);

  // Value paths.
  if (const std::optional<RegistryPath> path = ParseRegistryPath(text)) {
    FUZZ_CHECK(text.find('\\') != std::string_view::npos);
    FUZZ_CHECK(path->value.find('\\') == std::string::npos);
    FUZZ_CHECK(path->key.size() + path->value.size() < text.size());
    const std::optional<RegistryPath> again =
        ParseRegistryPath(path->FullKey() + "\\" + path->value);
    FUZZ_CHECK(again && again->root == path->root && again->key == path->key &&
               again->value == path->value);
  } else {
    try {
      RegistryPathOrThrow(text);
      FUZZ_FAIL("an unparsed path passed");
    } catch (const HostError& error) {
      FUZZ_CHECK(error.number() == error_number::kSystemFileNotFound);
    }
  }

  // Type texts.
  try {
    const RegistryType type = RegistryTypeOrThrow(text);
    const std::string upper = UpperCase(text);
    FUZZ_CHECK(upper == (type == RegistryType::kString         ? "REG_SZ"
                         : type == RegistryType::kExpandString ? "REG_EXPAND_SZ"
                                                               : "REG_DWORD"));
  } catch (const HostError& error) {
    FUZZ_CHECK(error.number() == error_number::kInvalidProcedureCall);
  }

  // DWORD data, against the reference.
  const Expected expected = ReferenceDword(text);
  try {
    const std::uint32_t value = ParseDwordData(text);
    FUZZ_CHECK(expected.error == 0 && value == expected.value);
  } catch (const HostError& error) {
    FUZZ_CHECK(error.number() == expected.error);
  }

  // Every bit pattern, written both ways, reads back.
  std::uint32_t pattern = 0;
  for (std::size_t i = 0; i < size && i < 4; ++i) pattern = pattern << 8 | data[i];
  char hex[16];
  std::snprintf(hex, sizeof hex, "&h%X", pattern);
  FUZZ_CHECK(ParseDwordData(hex) == pattern);
  FUZZ_CHECK(ParseDwordData(" \t" + std::to_string(static_cast<std::int32_t>(pattern)) + "\t ") ==
             pattern);
  return 0;
}
