#include "shared/backend/registry_path.h"

#include "shared/helpers/text.h"

namespace quillon {

namespace {

struct RootName {
  const char* name;
  RegistryRoot root;
};

constexpr RootName kRootNames[] = {
    {"HKEY_LOCAL_MACHINE", RegistryRoot::kLocalMachine},
    {"HKLM", RegistryRoot::kLocalMachine},
    {"HKEY_CURRENT_USER", RegistryRoot::kCurrentUser},
    {"HKCU", RegistryRoot::kCurrentUser},
    {"HKEY_CLASSES_ROOT", RegistryRoot::kClassesRoot},
    {"HKCR", RegistryRoot::kClassesRoot},
    {"HKEY_USERS", RegistryRoot::kUsers},
    {"HKEY_CURRENT_CONFIG", RegistryRoot::kCurrentConfig},
};

std::string Quoted(std::string_view text) {
  return "\"" + std::string(text) + "\"";
}

bool IsBlank(char c) {
  return c == ' ' || c == '\t';
}

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

}  // namespace

const char* RegistryPath::RootName() const {
  for (const auto& entry : kRootNames) {
    if (entry.root == root) return entry.name;  // the spelled-out name comes first
  }
  return "";
}

std::string RegistryPath::FullKey() const {
  return key.empty() ? std::string(RootName()) : std::string(RootName()) + "\\" + key;
}

std::optional<RegistryPath> ParseRegistryPath(std::string_view path) {
  const std::size_t root_end = path.find('\\');
  if (root_end == std::string_view::npos) return std::nullopt;
  const std::string root = UpperCase(path.substr(0, root_end));
  for (const auto& entry : kRootNames) {
    if (root != entry.name) continue;
    RegistryPath parsed;
    parsed.root = entry.root;
    const std::size_t last = path.rfind('\\');
    if (last > root_end) parsed.key = std::string(path.substr(root_end + 1, last - root_end - 1));
    parsed.value = std::string(path.substr(last + 1));
    return parsed;
  }
  return std::nullopt;
}

RegistryPath RegistryPathOrThrow(std::string_view path) {
  std::optional<RegistryPath> parsed = ParseRegistryPath(path);
  if (!parsed) {
    throw HostError(error_number::kSystemFileNotFound,
                    "Invalid root in registry key " + Quoted(path) + ".");
  }
  return *parsed;
}

RegistryType RegistryTypeOrThrow(std::string_view type) {
  const std::string upper = UpperCase(type);
  if (upper == "REG_SZ") return RegistryType::kString;
  if (upper == "REG_EXPAND_SZ") return RegistryType::kExpandString;
  if (upper == "REG_DWORD") return RegistryType::kDword;
  throw StandardError(error_number::kInvalidProcedureCall);
}

std::uint32_t ParseDwordData(std::string_view data) {
  std::size_t begin = 0;
  std::size_t end = data.size();
  while (begin < end && IsBlank(data[begin])) ++begin;
  while (end > begin && IsBlank(data[end - 1])) --end;
  std::string_view text = data.substr(begin, end - begin);

  if (text.size() >= 2 && text[0] == '&' && (text[1] == 'H' || text[1] == 'h')) {
    const std::string_view digits = text.substr(2);
    // As with decimal digits: a text that is no number fails as such, even
    // when its digits before the first stray character already overflow.
    if (digits.empty() ||
        digits.find_first_not_of("0123456789abcdefABCDEF") != std::string_view::npos) {
      throw StandardError(error_number::kTypeMismatch);
    }
    std::uint64_t value = 0;
    for (char c : digits) {
      value = value * 16 + static_cast<std::uint64_t>(HexValue(c));
      if (value > UINT32_MAX) throw StandardError(error_number::kOverflow);
    }
    return static_cast<std::uint32_t>(value);
  }

  bool negative = false;
  if (!text.empty() && (text[0] == '+' || text[0] == '-')) {
    negative = text[0] == '-';
    text.remove_prefix(1);
  }
  // Any character other than a digit makes the text no number, however long
  // it is; only a text of digits alone can overflow.
  if (text.empty() || text.find_first_not_of("0123456789") != std::string_view::npos) {
    throw StandardError(error_number::kTypeMismatch);
  }
  const std::uint64_t limit = negative ? 2147483648ull : 2147483647ull;
  std::uint64_t value = 0;
  for (char c : text) {
    value = value * 10 + static_cast<std::uint64_t>(c - '0');
    if (value > limit) throw StandardError(error_number::kOverflow);
  }
  return negative ? static_cast<std::uint32_t>(0u - static_cast<std::uint32_t>(value))
                  : static_cast<std::uint32_t>(value);
}

std::string RegistryReadFailure(std::string_view path) {
  return "Unable to open registry key " + Quoted(path) + " for reading.";
}

std::string RegistryWriteFailure(std::string_view path) {
  return "Unable to write registry value " + Quoted(path) + ".";
}

std::string RegistryDeleteFailure(std::string_view path) {
  return "Unable to remove registry key " + Quoted(path) + ".";
}

}  // namespace quillon
