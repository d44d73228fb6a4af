// What the file permission tool (cacls) and the registry permission tool
// (regini) are asked to do. The portable machine changes no POSIX
// permissions; the stand-ins parse their input strictly and record it.
#pragma once

#include <string>
#include <vector>

namespace quillon::machine {

struct CaclsRequest {
  std::string path;
  bool tree = false;                  // /T
  bool edit = false;                  // /E: edit the list instead of replacing it
  bool continue_on_error = false;     // /C
  std::vector<std::string> grants;    // /G user:perm (perm R, W, C or F)
  std::vector<std::string> revokes;   // /R user
  std::vector<std::string> replaces;  // /P user:perm (perm N, R, W, C or F)
  std::vector<std::string> denies;    // /D user

  // Without /E the tool replaces the list and asks for confirmation first.
  bool NeedsConfirmation() const { return !edit; }
};

// Parses "PATH [/T] [/E] [/C] [/G user:perm ...] [/R user ...] [/P user:perm
// ...] [/D user ...]" (flags in any case). Throws UsageError for anything
// else, for a right the flag does not take, and when no change is asked
// (showing a list is not supported).
CaclsRequest ParseCaclsArguments(const std::vector<std::string>& arguments);

// An answer read from standard input confirms when it begins with Y or y.
bool IsConfirmation(const std::string& answer);

struct ReginiGrant {
  std::string key;  // full key path as the script names it
  std::string acl;  // the numbers between the brackets, single blanks apart
};

// Parses a registry permission script: lines naming a key ("\Registry\..."
// or "HKEY_..."), each with an optional "[n n ...]" access list; an indented
// key name that is not absolute is a subkey of the nearest key above it with
// less indentation. Blank lines and lines starting with ";" are skipped.
// Throws UsageError for value lines ("name = ..."), which this tool does not
// carry out, and for malformed access lists.
std::vector<ReginiGrant> ParseReginiScript(const std::string& text);

}  // namespace quillon::machine
