// The portable machine's registry file. Any file text parses; formatting
// what was parsed and parsing it again gives the same keys and values back
// (a round trip), and formatting settles after one rewrite. A value
// a program sets reads back after the file is written and read again.
//
// Input: the file text, then (after NUL bytes) a key name, a value name and
// the value's data for the write.
#include "shared/posix/registry_file.h"

#include <string>

#include "fuzz_check.h"
#include "shared/helpers/text.h"
#include "shared/host_error.h"

using namespace quillon;

namespace {

bool SameValue(const RegistryValue& a, const RegistryValue& b) {
  return a.name == b.name && a.kind == b.kind && a.data == b.data;
}

void CheckSameKeys(const RegistryContent& a, const RegistryContent& b) {
  FUZZ_CHECK(a.keys().size() == b.keys().size());
  for (std::size_t k = 0; k < a.keys().size(); ++k) {
    const RegistryKey& x = a.keys()[k];
    const RegistryKey& y = b.keys()[k];
    FUZZ_CHECK(x.name == y.name);
    FUZZ_CHECK(x.values.size() == y.values.size());
    for (std::size_t v = 0; v < x.values.size(); ++v) {
      FUZZ_CHECK(SameValue(x.values[v], y.values[v]));
    }
  }
}

std::string WithoutTrailingNuls(std::string text) {
  while (!text.empty() && text.back() == '\0') text.pop_back();
  return text;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::vector<std::string> parts = fuzz::Parts(fuzz::Text(data, size), 4);

  // Parse, format, parse: the same keys and values.
  RegistryContent content = RegistryContent::Parse(parts[0]);
  const std::string formatted = content.Format();
  const RegistryContent again = RegistryContent::Parse(formatted);
  CheckSameKeys(content, again);
  // Formatting settles: a line that is no value and ends in a stray CR
  // (CR CR LF) loses that CR as a line end when read back, once.
  const std::string settled = again.Format();
  FUZZ_CHECK(RegistryContent::Parse(settled).Format() == settled);
  // Every key whose name the code page holds is found by that name (one
  // with other characters is not, as on Windows through the 8-bit calls).
  for (const RegistryKey& key : content.keys()) {
    if (Cp1252ToUtf8(key.name) == key.stored_name) FUZZ_CHECK(again.FindKey(key.name) != nullptr);
  }

  // A program's write reads back: a string, and a DWORD beside it.
  const std::string& key_name = parts[1];
  const std::string& value_name = parts[2];
  const std::string& text = parts[3];
  try {
    content.SetValue(key_name, RegistryValue{value_name, RegistryKind::kString, text});
    content.SetValue(
        key_name,
        RegistryValue{value_name + "#", RegistryKind::kDword,
                      std::to_string(static_cast<std::uint32_t>(text.size() * 2654435761u))});
  } catch (const HostError& error) {
    // Names that would break the file's lines are refused.
    FUZZ_CHECK(error.number() == error_number::kInvalidProcedureCall);
    FUZZ_CHECK((key_name + value_name).find_first_of(std::string_view("\r\n\0", 3)) !=
               std::string::npos);
    return 0;
  }
  const RegistryContent written = RegistryContent::Parse(content.Format());
  const RegistryValue* string_value = written.FindValue(key_name, value_name);
  FUZZ_CHECK(string_value != nullptr);
  FUZZ_CHECK(string_value->kind == RegistryKind::kString);
  FUZZ_CHECK(string_value->data == WithoutTrailingNuls(text));
  const RegistryValue* dword_value = written.FindValue(key_name, value_name + "#");
  FUZZ_CHECK(dword_value != nullptr);
  FUZZ_CHECK(dword_value->kind == RegistryKind::kDword);
  FUZZ_CHECK(dword_value->data ==
             std::to_string(static_cast<std::uint32_t>(text.size() * 2654435761u)));
  return 0;
}
