// The portable machine's registry: one text file in the registry editor's
// export format (version 5.00), UTF-8 on disk, system code page in memory.
//
//   Windows Registry Editor Version 5.00
//
//   [HKEY_LOCAL_MACHINE\SOFTWARE\Microsoft\Windows NT\CurrentVersion\Windows]
//   "AppInit_DLLs"="Zentrel.dll"
//
// Key and value names match without regard to letter case; keys and values
// keep their order; a key without values is a bare [key] line. Strings escape
// "\" and "\"" with a backslash; a string holding a line break or a NUL is
// written as hex(1) (UTF-16LE) so that it cannot break the file's lines.
// Value kinds other than strings and DWORDs, and lines that are not
// understood, are kept verbatim. Key names, value names and data that no
// program changes are written back exactly as the file spelled them, so text
// that the code page cannot hold survives every rewrite.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace quillon {

enum class RegistryKind {
  kString,    // REG_SZ: data is the text
  kDword,     // REG_DWORD: data is the number in decimal digits
  kVerbatim,  // anything else: data is the text after "=" as in the file
};

struct RegistryValue {
  std::string name;  // "" is the key's default value, written as @
  RegistryKind kind = RegistryKind::kString;
  std::string data;
  // How the file spells the name (with its quotes, or @) and the data (the
  // text after "="); empty for what a program wrote. A value a program
  // changes keeps its name's spelling and loses the data's.
  std::string stored_name{};
  std::string stored_data{};
};

struct RegistryKey {
  std::string name;  // full name, e.g. HKEY_LOCAL_MACHINE\SOFTWARE
  std::vector<RegistryValue> values;
  // Lines inside the key's block that are not values (comments and the
  // like), kept so that rewriting the file loses nothing.
  std::vector<std::string> other_lines;
  // The name as the file spells it between [ and ] (UTF-8); empty for a key
  // a program added.
  std::string stored_name{};
};

// The whole registry, as parsed from (and formatted back to) the file text.
// Names and string data are in the system code page; keys are found through
// an index of their names, so reading a large registry takes linear time.
class RegistryContent {
 public:
  static RegistryContent Parse(std::string_view file_text);
  std::string Format() const;

  const std::vector<RegistryKey>& keys() const { return keys_; }
  const RegistryKey* FindKey(std::string_view key_name) const;
  const RegistryValue* FindValue(std::string_view key_name, std::string_view value_name) const;
  // Creates the key (at the end) when it is missing and returns it.
  RegistryKey& AddKey(std::string_view key_name);
  // Creates the key if needed and replaces a value of the same name in place
  // (keeping the stored name's spelling), or appends it.
  void SetValue(std::string_view key_name, RegistryValue value);
  // Removes a value; the key stays. False when there was no such value.
  bool DeleteValue(std::string_view key_name, std::string_view value_name);

 private:
  RegistryKey* FindKeyToChange(std::string_view key_name);

  std::vector<std::string> preamble_;  // lines before the first key, header excluded
  std::vector<RegistryKey> keys_;
  // The index of each key in keys_ by its name's matching form (NameKey).
  std::unordered_map<std::string, std::size_t> key_index_;
  bool crlf_ = true;  // line end to write: the file's own, CR LF for a new one
};

// An expandable string (REG_EXPAND_SZ) is kept verbatim as hex(2) UTF-16LE
// bytes, so that one the programs do not change is written back as it was.
// The verbatim data for a text, and the text of such data (nullopt for data
// that is no expandable string).
std::string ExpandStringData(std::string_view text);
std::optional<std::string> ExpandStringText(std::string_view verbatim_data);

// The registry file of a machine, read without a lock (a write replaces the
// file whole, so a reader sees either the old or the new file) and changed
// under an exclusive lock on "<file>.lock". The registry and its lock file
// must be regular files of their own: a link, a FIFO or a device in their
// place is refused (access denied) without waiting for it.
class RegistryFile {
 public:
  explicit RegistryFile(std::string path) : path_(std::move(path)) {}

  // The current content; an absent file is an empty registry. Throws
  // HostError (access denied) when the file exists but cannot be read.
  RegistryContent Load() const;

  // Takes the lock, loads the content, lets change edit it and, when change
  // returns true, writes it to a new temporary file (made exclusively, under
  // a name nobody can guess) that then replaces the
  // registry file. Exceptions from change propagate and leave the file
  // alone. Throws HostError (access denied) when the file or its folder
  // cannot be written.
  void Update(const std::function<bool(RegistryContent&)>& change);

 private:
  std::string path_;
};

}  // namespace quillon
