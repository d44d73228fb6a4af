#include "fakes/fake_host.h"

#include <algorithm>
#include <stdexcept>
#include <type_traits>

#include "shared/backend/registry_path.h"
#include "shared/helpers/text.h"
#include "shared/helpers/windows_names.h"

namespace quillon::testing {

namespace {

std::string Quoted(const std::string& text) {
  return "\"" + text + "\"";
}

// Runs one fake operation after its fault switch and journals it, marked
// " [failed]" when the switch or the operation itself throws.
template <typename Operation>
auto Journaled(Journal& journal, const FaultSwitches& faults, const std::string& operation,
               const std::string& target, const std::string& entry, Operation body)
    -> std::invoke_result_t<Operation> {
  try {
    faults.Check(operation, target);
    if constexpr (std::is_void_v<std::invoke_result_t<Operation>>) {
      body();
      journal.Add(entry);
    } else {
      auto result = body();
      journal.Add(entry);
      return result;
    }
  } catch (const HostError&) {
    journal.Add(entry + " [failed]");
    throw;
  }
}

bool Contains(const std::string& haystack, const std::string& needle) {
  return UpperCase(haystack).find(UpperCase(needle)) != std::string::npos;
}

// The stored name of a registry type text: its upper-case form.
std::string TypeName(RegistryType type) {
  switch (type) {
    case RegistryType::kString:
      return "REG_SZ";
    case RegistryType::kExpandString:
      return "REG_EXPAND_SZ";
    case RegistryType::kDword:
      return "REG_DWORD";
  }
  return "";
}

HostError FileNotFound() {
  return StandardError(error_number::kFileNotFound);
}
HostError PathNotFound() {
  return StandardError(error_number::kPathNotFound);
}
HostError AlreadyExists() {
  return StandardError(error_number::kFileAlreadyExists);
}
HostError PermissionDenied() {
  return StandardError(error_number::kPermissionDenied);
}

// A path with a character Windows forbids in names names no file.
void RefuseBadName(const std::string& path) {
  if (PathHoldsForbiddenCharacter(path)) {
    throw StandardError(error_number::kBadFileName);
  }
}

bool EndsWithBackslash(const std::string& path) {
  return !path.empty() && path.back() == '\\';
}

std::string JoinPath(const std::string& folder, const std::string& name) {
  return EndsWithBackslash(folder) ? folder + name : folder + "\\" + name;
}

std::string LastElement(const std::string& path) {
  std::string trimmed = path;
  while (EndsWithBackslash(trimmed)) trimmed.pop_back();
  const std::size_t last = trimmed.rfind('\\');
  return last == std::string::npos ? trimmed : trimmed.substr(last + 1);
}

}  // namespace

std::vector<std::string> Journal::Starting(const std::string& prefix) const {
  std::vector<std::string> found;
  for (const auto& entry : entries_) {
    if (entry.compare(0, prefix.size(), prefix) == 0) found.push_back(entry);
  }
  return found;
}

void FaultSwitches::Fail(const std::string& operation, const std::string& target, long number,
                         const std::string& description) {
  faults_.push_back({operation, target, number, description});
}

void FaultSwitches::FailAfter(std::size_t passing, const std::string& operation,
                              const std::string& target, long number,
                              const std::string& description) {
  faults_.push_back({operation, target, number, description, passing});
}

void FaultSwitches::Check(const std::string& operation, const std::string& target) const {
  for (const auto& fault : faults_) {
    if (fault.operation == operation && Contains(target, fault.target) &&
        fault.seen++ >= fault.passing) {
      throw fault.description.empty() ? StandardError(fault.number)
                                      : HostError(fault.number, fault.description);
    }
  }
}

// ---------------------------------------------------------------- environment

void FakeEnvironment::Set(const std::string& name, const std::string& value) {
  values_[UpperCase(name)] = value;
}

std::optional<std::string> FakeEnvironment::Get(const std::string& name) const {
  auto found = values_.find(UpperCase(name));
  if (found == values_.end()) return std::nullopt;
  return found->second;
}

std::string FakeEnvironment::Read(const std::string& name, std::size_t buffer_size) {
  auto value = Get(name);
  if (!value || value->size() >= buffer_size) return "";
  return value->substr(0, value->find('\0'));
}

// ---------------------------------------------------------------------- shell

std::string FakeShell::Environment(const std::string& name) {
  return environment_.Get(name).value_or("");
}

FakeShell::RegistryValue* FakeShell::FindValue(const std::string& path) {
  const RegistryPath where = RegistryPathOrThrow(path);
  auto found = keys_.find(UpperCase(where.FullKey()));
  if (found == keys_.end()) return nullptr;
  for (auto& value : found->second.values) {
    if (UpperCase(value.name) == UpperCase(where.value)) return &value;
  }
  return nullptr;
}

const FakeShell::RegistryValue* FakeShell::FindValue(const std::string& path) const {
  return const_cast<FakeShell*>(this)->FindValue(path);
}

std::string FakeShell::RegRead(const std::string& path) {
  return Journaled(journal_, faults_, "RegRead", path, "RegRead " + path, [&] {
    const RegistryValue* value = FindValue(path);
    if (value == nullptr) {
      throw HostError(error_number::kSystemFileNotFound, RegistryReadFailure(path));
    }
    // Only text and numbers read as text; other kinds set up by a test do not.
    const std::string type = UpperCase(value->type);
    if (type != "REG_SZ" && type != "REG_EXPAND_SZ" && type != "REG_DWORD") {
      throw StandardError(error_number::kTypeMismatch);
    }
    return value->data;
  });
}

void FakeShell::RegWrite(const std::string& path, const std::string& data,
                         const std::string& type) {
  return Journaled(
      journal_, faults_, "RegWrite", path, "RegWrite " + path + " = " + Quoted(data) + " " + type,
      [&] {
        RegistryPathOrThrow(path);
        const RegistryType kind = RegistryTypeOrThrow(type);
        // A DWORD holds a number: it reads back as its decimal digits.
        SetValue(path, kind == RegistryType::kDword ? std::to_string(ParseDwordData(data)) : data,
                 TypeName(kind));
      });
}

void FakeShell::RegDelete(const std::string& path) {
  return Journaled(journal_, faults_, "RegDelete", path, "RegDelete " + path, [&] {
    const RegistryPath where = RegistryPathOrThrow(path);
    if (FindValue(path) == nullptr) {
      throw HostError(error_number::kSystemFileNotFound, RegistryDeleteFailure(path));
    }
    auto& values = keys_.at(UpperCase(where.FullKey())).values;
    std::erase_if(values, [&](const RegistryValue& v) {
      return UpperCase(v.name) == UpperCase(where.value);
    });
  });
}

void FakeShell::Run(const std::string& command, int style, bool wait) {
  Journaled(
      journal_, faults_, "Run", command,
      "Run " + command + " style=" + std::to_string(style) + " wait=" + (wait ? "true" : "false"),
      [&] {
        const std::vector<std::string> arguments = SplitCommandLine(command);
        if (!arguments.empty() && PathHoldsForbiddenCharacter(arguments.front())) {
          throw StandardError(error_number::kInvalidName);
        }
      });
  for (const auto& effect : run_effects_) effect(command, style, wait);
}

std::string FakeShell::SpecialFolders(const std::string& name) {
  if (UpperCase(name) == "STARTMENU") return start_menu_;
  return "";
}

std::string FakeShell::UserName() {
  faults_.Check("UserName", "");  // a read: switchable, never journaled
  return user_name_;
}

bool FakeShell::IsAdministrator() {
  faults_.Check("IsAdministrator", "");  // a read: switchable, never journaled
  return administrator_;
}

std::vector<UserProfile> FakeShell::UserProfiles() {
  faults_.Check("UserProfiles", "");  // a read: switchable, never journaled
  return profiles_;
}

void FakeShell::SetValue(const std::string& path, const std::string& data,
                         const std::string& type) {
  const RegistryPath where = RegistryPathOrThrow(path);
  AddKey(where.FullKey());
  if (RegistryValue* value = FindValue(path)) {
    value->type = type;
    value->data = data;
    return;
  }
  keys_[UpperCase(where.FullKey())].values.push_back({where.value, type, data});
}

std::optional<std::string> FakeShell::Value(const std::string& path) const {
  const RegistryValue* value = FindValue(path);
  if (value == nullptr) return std::nullopt;
  return value->data;
}

std::optional<std::string> FakeShell::ValueType(const std::string& path) const {
  const RegistryValue* value = FindValue(path);
  if (value == nullptr) return std::nullopt;
  return value->type;
}

bool FakeShell::KeyExists(const std::string& key) const {
  std::optional<RegistryPath> where = ParseRegistryPath(key + "\\");
  return where && keys_.count(UpperCase(where->FullKey())) > 0;
}

void FakeShell::AddKey(const std::string& full_key) {
  auto& entry = keys_[UpperCase(full_key)];
  if (entry.name.empty()) entry.name = full_key;
}

// ---------------------------------------------------------------- file system

class FakeFileSystem::Stream : public TextStream {
 public:
  Stream(FakeFileSystem& files, Journal& journal, std::string key, std::string path,
         std::string content, bool writable)
      : files_(files),
        journal_(journal),
        key_(std::move(key)),
        path_(std::move(path)),
        content_(std::move(content)),
        writable_(writable) {}

  std::string ReadLine() override {
    if (writable_) throw StandardError(error_number::kBadFileMode);
    if (position_ >= content_.size()) {
      throw StandardError(error_number::kInputPastEnd);
    }
    std::size_t end = content_.find('\n', position_);
    std::string line =
        content_.substr(position_, end == std::string::npos ? std::string::npos : end - position_);
    position_ = end == std::string::npos ? content_.size() : end + 1;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    return line;
  }

  bool AtEndOfStream() override { return position_ >= content_.size(); }

  void Write(const std::string& text) override {
    if (!writable_) throw StandardError(error_number::kBadFileMode);
    journal_.Add("Write " + path_ + " " + Quoted(text));
    files_.AppendContent(key_, text);
  }

  void Close() override {}

 private:
  FakeFileSystem& files_;
  Journal& journal_;
  std::string key_;
  std::string path_;
  std::string content_;
  bool writable_;
  std::size_t position_ = 0;
};

std::string FakeFileSystem::Absolute(const std::string& path) const {
  if (path.size() >= 2 && path[1] == ':') return path;
  if (path.rfind("\\\\", 0) == 0) return path;  // UNC: never local
  if (!path.empty() && path[0] == '\\') return current_folder_.substr(0, 2) + path;
  return current_folder_ + "\\" + path;
}

std::string FakeFileSystem::Key(const std::string& path) const {
  const std::string absolute = Absolute(path);
  if (absolute.rfind("\\\\", 0) == 0 || PathHoldsForbiddenCharacter(absolute)) return "";
  // The machine folds the case of ASCII letters alone.
  std::string key;
  for (const auto& element : SplitAll(absolute, "\\")) {
    if (element.empty()) continue;
    if (!key.empty()) key += "\\";
    key += AsciiUpperCase(element);
  }
  return key;
}

std::string FakeFileSystem::ParentKey(const std::string& key) const {
  const std::size_t last = key.rfind('\\');
  return last == std::string::npos ? "" : key.substr(0, last);
}

const FakeFileSystem::Node* FakeFileSystem::Find(const std::string& path) const {
  const std::string key = Key(path);
  if (key.empty()) return nullptr;
  auto found = nodes_.find(key);
  return found == nodes_.end() ? nullptr : &found->second;
}

FakeFileSystem::Node* FakeFileSystem::Find(const std::string& path) {
  return const_cast<Node*>(static_cast<const FakeFileSystem*>(this)->Find(path));
}

void FakeFileSystem::MarkLink(const std::string& path) {
  Node* node = Find(path);
  if (node == nullptr) throw std::invalid_argument("no such entry: " + path);
  node->link = true;
}

void FakeFileSystem::AddFolder(const std::string& path) {
  std::string partial_key;
  std::string stored;
  for (const auto& element : SplitAll(Absolute(path), "\\")) {
    if (element.empty()) continue;
    partial_key += (partial_key.empty() ? "" : "\\") + AsciiUpperCase(element);
    auto found = nodes_.find(partial_key);
    if (found != nodes_.end()) {
      stored = found->second.path;
      continue;
    }
    stored = stored.empty() ? element + "\\" : JoinPath(stored, element);  // a drive is "C:\"
    Node node;
    node.path = stored;
    node.folder = true;
    nodes_[partial_key] = node;
  }
}

void FakeFileSystem::AddFile(const std::string& path, const std::string& content, bool read_only) {
  const std::string key = Key(path);
  AddFolder(Absolute(path).substr(0, Absolute(path).rfind('\\')));
  const Node* parent = &nodes_.at(ParentKey(key));
  Node node;
  node.path = JoinPath(parent->path, LastElement(path));
  node.content = content;
  node.read_only = read_only;
  nodes_[key] = node;
}

std::optional<std::string> FakeFileSystem::Content(const std::string& path) const {
  const Node* node = Find(path);
  if (node == nullptr || node->folder) return std::nullopt;
  return node->content;
}

std::vector<std::string> FakeFileSystem::Tree() const {
  std::vector<std::string> tree;
  for (const auto& [key, node] : nodes_) {
    tree.push_back(node.folder && !EndsWithBackslash(node.path) ? node.path + "\\" : node.path);
  }
  std::sort(tree.begin(), tree.end());
  return tree;
}

std::string FakeFileSystem::StoredName(const std::string& path) const {
  const Node* node = Find(path);
  return node == nullptr ? "" : LastElement(node->path);
}

void FakeFileSystem::AddShortName(const std::string& long_path, const std::string& short_name) {
  Node* node = Find(long_path);
  if (node != nullptr) node->short_name = short_name;
}

std::string FakeFileSystem::FindInFolder(const std::string& folder, const std::string& pattern,
                                         bool folders_too) const {
  const std::string folder_key = Key(folder);
  for (const auto& [key, node] : nodes_) {
    if (ParentKey(key) != folder_key || key == folder_key) continue;
    if (node.folder && !folders_too) continue;
    const std::string name = LastElement(node.path);
    if (WildcardMatch(pattern, name) ||
        (!node.short_name.empty() && WildcardMatch(pattern, node.short_name))) {
      return name;
    }
  }
  return "";
}

void FakeFileSystem::AppendContent(const std::string& key, const std::string& text) {
  auto found = nodes_.find(key);
  if (found != nodes_.end()) found->second.content += text;
}

bool FakeFileSystem::FileExists(const std::string& path) {
  const Node* node = Find(path);
  return node != nullptr && !node->folder;
}

bool FakeFileSystem::FolderExists(const std::string& path) {
  const Node* node = Find(path);
  return node != nullptr && node->folder;
}

void FakeFileSystem::CopyFile(const std::string& source, const std::string& destination,
                              bool overwrite) {
  return Journaled(
      journal_, faults_, "CopyFile", source, "CopyFile " + source + " -> " + destination, [&] {
        RefuseBadName(source);
        RefuseBadName(destination);
        const Node* from = Find(source);
        if (from == nullptr || from->folder) throw FileNotFound();
        std::string target = destination;
        if (EndsWithBackslash(destination)) {
          if (!FolderExists(destination)) throw PathNotFound();
          target = destination + LastElement(from->path);
        } else if (!FolderExists(
                       Absolute(destination).substr(0, Absolute(destination).rfind('\\')))) {
          throw PathNotFound();
        }
        if (const Node* existing = Find(target)) {
          if (existing->folder) throw PermissionDenied();
          if (!overwrite) throw AlreadyExists();
          if (existing->read_only) throw PermissionDenied();
        }
        const std::string content = from->content;
        AddFile(target, content);
      });
}

void FakeFileSystem::CopyTree(const std::string& source_key, const std::string& target_path,
                              bool overwrite) {
  if (FileExists(target_path)) throw AlreadyExists();
  if (!FolderExists(target_path)) {
    const std::string absolute = Absolute(target_path);
    if (!FolderExists(absolute.substr(0, absolute.rfind('\\') + 1))) throw PathNotFound();
    AddFolder(target_path);
  }
  const std::vector<std::pair<std::string, Node>> children = [&] {
    std::vector<std::pair<std::string, Node>> found;
    for (const auto& [key, node] : nodes_) {
      if (ParentKey(key) == source_key && key != source_key) found.emplace_back(key, node);
    }
    return found;
  }();
  for (const auto& [key, node] : children) {
    const std::string child_target = target_path + "\\" + LastElement(node.path);
    if (node.folder) {
      CopyTree(key, child_target, overwrite);
      continue;
    }
    if (const Node* existing = Find(child_target)) {
      if (existing->folder || !overwrite) throw AlreadyExists();
      if (existing->read_only) throw PermissionDenied();
    }
    AddFile(child_target, node.content);
  }
}

void FakeFileSystem::CopyFolder(const std::string& source, const std::string& destination,
                                bool overwrite) {
  return Journaled(journal_, faults_, "CopyFolder", source,
                   "CopyFolder " + source + " -> " + destination, [&] {
                     RefuseBadName(source);
                     RefuseBadName(destination);
                     const Node* from = Find(source);
                     if (from == nullptr || !from->folder) throw PathNotFound();
                     std::string target = destination;
                     if (EndsWithBackslash(destination)) {
                       if (!FolderExists(destination)) throw PathNotFound();
                       target = destination + LastElement(from->path);
                     }
                     CopyTree(Key(source), target, overwrite);
                   });
}

void FakeFileSystem::DeleteFile(const std::string& path, bool force) {
  return Journaled(journal_, faults_, "DeleteFile", path, "DeleteFile " + path, [&] {
    RefuseBadName(path);
    const Node* node = Find(path);
    if (node == nullptr || node->folder) throw FileNotFound();
    if (node->read_only && !force) throw PermissionDenied();
    nodes_.erase(Key(path));
  });
}

void FakeFileSystem::DeleteFolder(const std::string& path, bool force) {
  return Journaled(journal_, faults_, "DeleteFolder", path, "DeleteFolder " + path, [&] {
    RefuseBadName(path);
    const Node* node = Find(path);
    if (node == nullptr || !node->folder) throw PathNotFound();
    const std::string key = Key(path);
    for (const auto& [other_key, other] : nodes_) {
      const bool inside = other_key.rfind(key + "\\", 0) == 0;
      if (inside && other.read_only && !force) throw PermissionDenied();
    }
    for (auto it = nodes_.begin(); it != nodes_.end();) {
      const bool inside = it->first == key || it->first.rfind(key + "\\", 0) == 0;
      it = inside ? nodes_.erase(it) : std::next(it);
    }
  });
}

void FakeFileSystem::MoveFile(const std::string& source, const std::string& destination) {
  return Journaled(
      journal_, faults_, "MoveFile", source, "MoveFile " + source + " -> " + destination, [&] {
        RefuseBadName(source);
        RefuseBadName(destination);
        const Node* from = Find(source);
        if (from == nullptr || from->folder) throw FileNotFound();
        std::string target = destination;
        if (EndsWithBackslash(destination)) {
          if (!FolderExists(destination)) throw PathNotFound();
          target = destination + LastElement(from->path);
        }
        if (Find(target) != nullptr) throw AlreadyExists();
        const std::string parent = Absolute(target).substr(0, Absolute(target).rfind('\\'));
        if (!FolderExists(parent)) throw PathNotFound();
        Node moved = *from;
        nodes_.erase(Key(source));
        AddFile(target, moved.content, moved.read_only);
      });
}

std::unique_ptr<TextStream> FakeFileSystem::OpenTextFile(const std::string& path, IoMode mode,
                                                         bool create) {
  return Journaled(journal_, faults_, "OpenTextFile", path,
                   "OpenTextFile " + path + " mode=" + std::to_string(static_cast<int>(mode)) +
                       (create ? " create" : ""),
                   [&] {
                     RefuseBadName(path);
                     Node* node = Find(path);
                     if (node != nullptr && node->folder) throw PermissionDenied();
                     if (node == nullptr) {
                       if (!create) throw FileNotFound();
                       const std::string absolute = Absolute(path);
                       if (!FolderExists(absolute.substr(0, absolute.rfind('\\'))))
                         throw PathNotFound();
                       AddFile(path, "");
                       node = Find(path);
                     } else if (mode != IoMode::kForReading && node->read_only) {
                       throw PermissionDenied();
                     }
                     if (mode == IoMode::kForWriting) node->content.clear();
                     return std::make_unique<Stream>(*this, journal_, Key(path), node->path,
                                                     node->content, mode != IoMode::kForReading);
                   });
}

Folder FakeFileSystem::GetFolder(const std::string& path) {
  faults_.Check("GetFolder", path);  // a read: switchable, never journaled
  RefuseBadName(path);
  const Node* node = Find(path);
  if (node == nullptr || !node->folder) throw PathNotFound();
  Folder folder;
  folder.path = node->path;
  const std::string key = Key(path);
  for (const auto& [child_key, child] : nodes_) {
    if (ParentKey(child_key) != key || child_key == key) continue;
    FolderEntry entry{LastElement(child.path), child.path, child.link};
    (child.folder ? folder.sub_folders : folder.files).push_back(entry);
  }
  return folder;
}

// -------------------------------------------------------------------- dialogs

int FakeDialogs::MsgBox(const std::string& prompt, int style, const std::string& title) {
  const bool yes_no = (style & 0xF) == kMbYesNo;
  int answer = yes_no ? kIdNo : kIdOk;
  if (!buttons_.empty()) {
    const int queued = buttons_.front();
    buttons_.pop_front();
    const bool offered = yes_no ? (queued == kIdYes || queued == kIdNo) : queued == kIdOk;
    if (offered) answer = queued;
  }
  journal_.Add("MsgBox " + std::to_string(style) + " " + Quoted(title) + " " + Quoted(prompt) +
               " -> " + std::to_string(answer));
  return answer;
}

std::optional<std::string> FakeDialogs::InputBox(const std::string& prompt,
                                                 const std::string& title,
                                                 const std::string& default_text) {
  std::optional<std::string> answer;
  if (!texts_.empty()) {
    answer = texts_.front();
    texts_.pop_front();
  }
  (void)default_text;
  journal_.Add("InputBox " + Quoted(title) + " " + Quoted(prompt) + " -> " +
               (answer ? Quoted(*answer) : std::string("<Cancel>")));
  return answer;
}

// ------------------------------------------------------------------ processes

void FakeProcesses::Terminate(std::uint32_t process_id) {
  journal_.Add("Terminate " + std::to_string(process_id));
  running_.erase(process_id);
}

void FakeProcesses::Sleep(std::uint32_t milliseconds) {
  journal_.Add("Sleep " + std::to_string(milliseconds));
}

// ------------------------------------------------------------------- search

std::string FakeDirectorySearch::FindFirstName(const std::string& pattern, unsigned attributes) {
  // A bare name is looked up in the current folder; folders count only with
  // the directory attribute (16). The fake keeps no hidden or system marks.
  const std::size_t last = pattern.rfind('\\');
  const std::string folder =
      last == std::string::npos ? files_.current_folder_ : pattern.substr(0, last + 1);
  const std::string element = last == std::string::npos ? pattern : pattern.substr(last + 1);
  if (element.empty() || !files_.FolderExists(folder)) return "";
  return files_.FindInFolder(folder, element, (attributes & 16u) != 0);
}

// -------------------------------------------------------------------- random

std::vector<std::uint8_t> FakeRandom::Bytes(std::size_t count) {
  faults_.Check("Random", "");
  std::vector<std::uint8_t> bytes;
  for (std::size_t i = 0; i < count; ++i, ++drawn_) {
    if (!queued_.empty()) {
      bytes.push_back(queued_.front());
      queued_.pop_front();
    } else {
      // Steps through every byte value once per 256 draws, in a scrambled order.
      bytes.push_back(static_cast<std::uint8_t>((drawn_ * 167 + 13) % 256));
    }
  }
  return bytes;
}

void FakeRandom::Queue(const std::vector<std::uint8_t>& bytes) {
  queued_.insert(queued_.end(), bytes.begin(), bytes.end());
}

// ------------------------------------------------------------------- network

class FakeNetwork::Connection : public NetworkConnection {
 public:
  explicit Connection(FakeNetwork& network) : network_(network) {}

  void Send(const std::string& bytes, std::chrono::milliseconds) override {
    network_.faults_.Check("Send", bytes);
    network_.sent += bytes;
  }

  std::string Receive(std::chrono::milliseconds) override {
    network_.faults_.Check("Receive", network_.script_.empty() ? "" : network_.script_.front());
    if (network_.script_.empty()) return "";
    std::string chunk = network_.script_.front();
    network_.script_.pop_front();
    return chunk;
  }

 private:
  FakeNetwork& network_;
};

std::unique_ptr<NetworkConnection> FakeNetwork::Connect(const std::string& host, std::uint16_t port,
                                                        std::chrono::milliseconds timeout) {
  const std::string target = host + ":" + std::to_string(port);
  journal_.Add("Connect " + target + " (" + std::to_string(timeout.count()) + " ms)");
  faults_.Check("Connect", target);
  return std::make_unique<Connection>(*this);
}

std::string FakeNetwork::SystemTextToUtf8(const std::string& text) {
  return Cp1252ToUtf8(text);
}

// ------------------------------------------------------------------ database

std::unique_ptr<Connection> NoDatabase::NewConnection() {
  throw HostError(error_number::kUnspecified, "This program has no database");
}

// -------------------------------------------------------------------- machine

FakeMachine::FakeMachine() {
  environment.Set("windir", "C:\\WINDOWS");
  environment.Set("ProgramFiles", "C:\\Program Files");
  environment.Set("TEMP", "C:\\WINDOWS\\Temp");
  environment.Set("COMPUTERNAME", "HARLWICK-PC");
  environment.Set("USERNAME", "Administrator");
  environment.Set("USERPROFILE", "C:\\Documents and Settings\\Administrator");
  files.AddFolder("C:\\WINDOWS\\system32");
  files.AddFolder("C:\\WINDOWS\\Temp");
  files.AddFolder("C:\\Program Files");
  files.AddFolder("C:\\Documents and Settings\\Administrator\\Start Menu\\Programs");
  files.AddFolder("D:\\");
  files.SetCurrentFolder("C:\\");
}

Host FakeMachine::host(Database* database) {
  auto folder = [this] {
    ++program_folder_queries;
    return program_folder;
  };
  return Host{shell,       files,   dialogs, processes,
              environment, search,  clock,   database != nullptr ? *database : no_database,
              random,      network, folder};
}

}  // namespace quillon::testing
