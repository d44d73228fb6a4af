#include "shared/win32/win32_shell.h"

#include <cstring>
#include <vector>

#include "shared/helpers/text.h"
#include "shared/helpers/windows_names.h"
#include "shared/win32/registry.h"
#include "shared/win32/this_process.h"
#include "shared/win32/win32_error.h"

namespace quillon {
namespace {

// A registry call's status: anything but success fails the operation, with
// the shell's text for it.
void Check(LONG status, const std::string& description) {
  if (status != ERROR_SUCCESS) {
    throw HostErrorFor(static_cast<DWORD>(status), ErrorSource::kShell, description);
  }
}

// Closes a registry key on every way out.
class OpenKey {
 public:
  OpenKey() = default;
  OpenKey(const OpenKey&) = delete;
  OpenKey& operator=(const OpenKey&) = delete;
  ~OpenKey() {
    if (key_ != nullptr) RegCloseKey(key_);
  }
  HKEY get() const { return key_; }
  HKEY* out() { return &key_; }

 private:
  HKEY key_ = nullptr;
};

struct SpecialFolder {
  const char* name;
  int csidl;
};

constexpr SpecialFolder kSpecialFolders[] = {
    {"ALLUSERSDESKTOP", CSIDL_COMMON_DESKTOPDIRECTORY},
    {"ALLUSERSSTARTMENU", CSIDL_COMMON_STARTMENU},
    {"ALLUSERSPROGRAMS", CSIDL_COMMON_PROGRAMS},
    {"ALLUSERSSTARTUP", CSIDL_COMMON_STARTUP},
    {"DESKTOP", CSIDL_DESKTOPDIRECTORY},
    {"FAVORITES", CSIDL_FAVORITES},
    {"FONTS", CSIDL_FONTS},
    {"MYDOCUMENTS", CSIDL_PERSONAL},
    {"NETHOOD", CSIDL_NETHOOD},
    {"PRINTHOOD", CSIDL_PRINTHOOD},
    {"PROGRAMS", CSIDL_PROGRAMS},
    {"RECENT", CSIDL_RECENT},
    {"SENDTO", CSIDL_SENDTO},
    {"STARTMENU", CSIDL_STARTMENU},
    {"STARTUP", CSIDL_STARTUP},
    {"TEMPLATES", CSIDL_TEMPLATES},
};

}  // namespace

std::string Win32Shell::Environment(const std::string& name) {
  if (name.empty()) return "";
  return VariableValue(name).value_or("");  // unset reads as the empty text
}

std::string Win32Shell::UserName() {
  char buffer[257] = {};  // the longest account name and its NUL
  DWORD size = sizeof buffer;
  if (!GetUserNameA(buffer, &size)) throw LastHostError(ErrorSource::kShell);
  return buffer;
}

bool Win32Shell::IsAdministrator() {
  SID_IDENTIFIER_AUTHORITY authority = SECURITY_NT_AUTHORITY;
  PSID administrators = nullptr;
  if (!AllocateAndInitializeSid(&authority, 2, SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_ADMINS,
                                0, 0, 0, 0, 0, 0, &administrators)) {
    throw LastHostError(ErrorSource::kShell);
  }
  BOOL member = FALSE;
  const BOOL checked = CheckTokenMembership(nullptr, administrators, &member);
  FreeSid(administrators);
  if (!checked) throw LastHostError(ErrorSource::kShell);
  return member != FALSE;
}

std::string Win32Shell::RegRead(const std::string& path) {
  const RegistryPath parsed = RegistryPathOrThrow(path);
  const std::string cannot_read = RegistryReadFailure(path);
  OpenKey key;
  Check(RegOpenKeyExA(RootKeyOf(parsed.root), parsed.key.c_str(), 0, KEY_QUERY_VALUE, key.out()),
        cannot_read);
  DWORD type = 0;
  DWORD size = 0;
  Check(RegQueryValueExA(key.get(), parsed.value.c_str(), nullptr, &type, nullptr, &size),
        cannot_read);
  std::vector<BYTE> data(size + 2, 0);
  Check(RegQueryValueExA(key.get(), parsed.value.c_str(), nullptr, &type, data.data(), &size),
        cannot_read);
  switch (type) {
    case REG_SZ:
    case REG_EXPAND_SZ:
      return std::string(reinterpret_cast<const char*>(data.data()));
    case REG_DWORD: {
      DWORD value = 0;
      std::memcpy(&value, data.data(), sizeof value);
      return std::to_string(value);
    }
    case REG_QWORD: {
      unsigned long long value = 0;
      std::memcpy(&value, data.data(), sizeof value);
      return std::to_string(value);
    }
    default:
      throw StandardError(error_number::kTypeMismatch);
  }
}

void Win32Shell::RegWrite(const std::string& path, const std::string& data,
                          const std::string& type) {
  const RegistryPath parsed = RegistryPathOrThrow(path);
  const RegistryType kind = RegistryTypeOrThrow(type);
  DWORD value_type = REG_DWORD;
  std::vector<BYTE> bytes;
  if (kind == RegistryType::kDword) {
    const DWORD value = ParseDwordData(data);
    bytes.resize(sizeof value);
    std::memcpy(bytes.data(), &value, sizeof value);
  } else {
    value_type = kind == RegistryType::kString ? REG_SZ : REG_EXPAND_SZ;
    bytes.assign(data.begin(), data.end());
    bytes.push_back(0);
  }
  const std::string cannot_write = RegistryWriteFailure(path);
  OpenKey key;
  Check(RegCreateKeyExA(RootKeyOf(parsed.root), parsed.key.c_str(), 0, nullptr,
                        REG_OPTION_NON_VOLATILE, KEY_SET_VALUE, nullptr, key.out(), nullptr),
        cannot_write);
  Check(RegSetValueExA(key.get(), parsed.value.c_str(), 0, value_type, bytes.data(),
                       static_cast<DWORD>(bytes.size())),
        cannot_write);
}

void Win32Shell::RegDelete(const std::string& path) {
  const RegistryPath parsed = RegistryPathOrThrow(path);
  const std::string cannot_delete = RegistryDeleteFailure(path);
  OpenKey key;
  Check(RegOpenKeyExA(RootKeyOf(parsed.root), parsed.key.c_str(), 0, KEY_SET_VALUE, key.out()),
        cannot_delete);
  Check(RegDeleteValueA(key.get(), parsed.value.c_str()), cannot_delete);
}

void Win32Shell::Run(const std::string& command, int style, bool wait) {
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESHOWWINDOW;
  startup.wShowWindow = static_cast<WORD>(style);
  PROCESS_INFORMATION process{};
  // A program path holding a character forbidden in names is an invalid name
  // before the system is asked, as the other hosts report it.
  const std::vector<std::string> arguments = SplitCommandLine(command);
  if (!arguments.empty() && PathHoldsForbiddenCharacter(arguments.front())) {
    throw StandardError(error_number::kInvalidName);
  }
  // CreateProcessA may write into the command line: hand it a copy.
  std::vector<char> command_line(command.begin(), command.end());
  command_line.push_back('\0');
  if (!CreateProcessA(nullptr, command_line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                      &startup, &process)) {
    throw LastHostError(ErrorSource::kShell);
  }
  CloseHandle(process.hThread);
  if (wait) WaitForSingleObject(process.hProcess, INFINITE);
  CloseHandle(process.hProcess);
}

std::string Win32Shell::SpecialFolders(const std::string& name) {
  const std::string upper = UpperCase(name);
  for (const SpecialFolder& folder : kSpecialFolders) {
    if (upper != folder.name) continue;
    char path[MAX_PATH + 1] = {};
    const HRESULT result =
        SHGetFolderPathA(nullptr, folder.csidl, nullptr, SHGFP_TYPE_CURRENT, path);
    // A known folder that cannot be found is an error, never "": callers
    // append a fixed part, and "" would turn that into a path at the root of
    // the current drive.
    if (FAILED(result)) {
      throw HostError(static_cast<long>(result),
                      "Unable to find the special folder \"" + name + "\".");
    }
    std::string text(path);
    while (text.size() > 3 && text.back() == '\\') text.pop_back();
    return text;
  }
  return "";
}

std::vector<UserProfile> Win32Shell::UserProfiles() {
  constexpr char kProfileList[] = "SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\ProfileList";
  const std::string cannot_read = RegistryReadFailure("HKLM\\" + std::string(kProfileList));
  OpenKey list;
  Check(RegOpenKeyExA(HKEY_LOCAL_MACHINE, kProfileList, 0, KEY_READ, list.out()), cannot_read);
  std::vector<UserProfile> profiles;
  for (DWORD index = 0;; ++index) {
    char sid_text[256] = {};
    DWORD sid_size = sizeof sid_text;
    const LONG status =
        RegEnumKeyExA(list.get(), index, sid_text, &sid_size, nullptr, nullptr, nullptr, nullptr);
    if (status == ERROR_NO_MORE_ITEMS) break;
    Check(status, cannot_read);
    PSID sid = nullptr;
    if (!ConvertStringSidToSidA(sid_text, &sid)) continue;
    char account[256] = {};
    char domain[256] = {};
    DWORD account_size = sizeof account;
    DWORD domain_size = sizeof domain;
    SID_NAME_USE use{};
    const BOOL known =
        LookupAccountSidA(nullptr, sid, account, &account_size, domain, &domain_size, &use);
    LocalFree(sid);
    if (!known) continue;
    std::string folder;
    if (const std::optional<std::string> image = ReadRegistryText(
            "HKLM\\" + std::string(kProfileList) + "\\" + sid_text + "\\ProfileImagePath")) {
      char expanded[MAX_PATH + 1] = {};
      const DWORD length = ExpandEnvironmentStringsA(image->c_str(), expanded, sizeof expanded);
      folder = length > 0 && length <= sizeof expanded ? std::string(expanded) : *image;
    }
    profiles.push_back({account, folder});
  }
  return profiles;
}

}  // namespace quillon
