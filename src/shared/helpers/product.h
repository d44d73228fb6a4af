// The product's fixed names that several programs and the hook library share:
// where the product lies below ProgramFiles, its programs and settings file
// there, and the separator of the checker's request.
#pragma once

#include <array>
#include <cstddef>
#include <initializer_list>

namespace quillon {

// The concatenation of string literals, made at compile time so that each
// fixed name is spelled once and the longer ones are built from it.
template <std::size_t... Sizes>
constexpr std::array<char, (Sizes + ... + 1) - sizeof...(Sizes)> JoinLiterals(
    const char (&... parts)[Sizes]) {
  std::array<char, (Sizes + ... + 1) - sizeof...(Sizes)> joined{};
  std::size_t at = 0;
  for (const char* part : {static_cast<const char*>(parts)...}) {
    while (*part != '\0') joined[at++] = *part++;
  }
  return joined;
}

// Folder of the product below ProgramFiles.
inline constexpr char kProductFolderSuffix[] = "\\Harlwick\\Zentrel";

inline constexpr auto kCheckerSuffixText = JoinLiterals(kProductFolderSuffix, "\\Zentrel.exe");
inline constexpr auto kMailerSuffixText = JoinLiterals(kProductFolderSuffix, "\\Corvane.exe");
inline constexpr auto kSettingsFileSuffixText = JoinLiterals(kProductFolderSuffix, "\\Zentrel.ini");

// The launch checker, the mailer it starts and the settings file, below
// ProgramFiles.
inline constexpr const char* kCheckerSuffix = kCheckerSuffixText.data();
inline constexpr const char* kMailerSuffix = kMailerSuffixText.data();
inline constexpr const char* kSettingsFileSuffix = kSettingsFileSuffixText.data();

// The registration Setup writes for the platform's list of installed programs
// and Uninstall removes.
inline constexpr char kUninstallRegistrationKey[] =
    "HKLM\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Zentrel";

// Joins the fields of the hook library's request to the checker.
inline constexpr char kRequestSeparator[] = "_|_";

// Separates the path, the decision and the user name in a line of
// Access.log (the same three characters as the request's separator, but a
// file format of its own).
inline constexpr char kAccessLogSeparator[] = "_|_";

}  // namespace quillon
