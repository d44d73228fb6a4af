#include "lists/list_writers.h"

#include <array>
#include <memory>
#include <string_view>
#include <vector>

#include "shared/helpers/text.h"
#include "shared/host_error.h"

namespace quillon::lists {
namespace {

constexpr char kLineEnd[] = "\r\n";

// The profile folders that belong to no person who logs on.
constexpr std::array<std::string_view, 5> kSystemProfiles = {
    "ALL USERS", "DEFAULT USER", "LOCALSERVICE", "NETWORKSERVICE", "SYSTEMPROFILE"};

bool IsSystemProfile(const UserProfile& profile) {
  std::string folder = profile.folder;
  while (!folder.empty() && folder.back() == '\\') folder.pop_back();
  const std::string name = UpperCase(folder.substr(folder.find_last_of('\\') + 1));
  for (std::string_view system : kSystemProfiles) {
    if (name == system) return true;
  }
  return false;
}

bool IsExecutable(const std::string& name) {
  constexpr std::string_view kExtension = ".EXE";
  return name.size() > kExtension.size() &&
         UpperCase(name.substr(name.size() - kExtension.size())) == kExtension;
}

// A folder's content, or nothing after reporting why it cannot be read.
std::unique_ptr<Folder> ReadableFolder(HostFileSystem& files, const std::string& path,
                                       const Report& report) {
  try {
    return std::make_unique<Folder>(files.GetFolder(path));
  } catch (const HostError& error) {
    report("skipped " + path + ": " + ErrorReportText(error));
    return nullptr;
  }
}

}  // namespace

int WriteUsersList(Host& host) {
  const std::vector<UserProfile> profiles = host.shell.UserProfiles();
  std::string text;
  int written = 0;
  for (const UserProfile& profile : profiles) {
    if (profile.account.empty() || IsSystemProfile(profile)) continue;
    text += profile.account + kLineEnd;
    ++written;
  }
  const std::string list = host.shell.Environment("TEMP") + kUsersListSuffix;
  std::unique_ptr<TextStream> stream = host.files.OpenTextFile(list, IoMode::kForWriting, true);
  stream->Write(text);
  stream->Close();
  return written;
}

std::string FolderArgument(const std::string& argument_text) {
  std::string folder = TrimBlanks(argument_text);
  if (!folder.empty() && folder.front() == '"') {
    const std::size_t close = folder.find('"', 1);
    folder = folder.substr(1, close == std::string::npos ? std::string::npos : close - 1);
  }
  return folder;
}

int AppendExecutables(Host& host, const std::string& folder, const Report& report) {
  // The start folder must exist: a wrong argument is an error, not an empty list.
  const Folder start = host.files.GetFolder(folder);
  const std::string list = host.shell.Environment("TEMP") + kExecutablesListSuffix;
  std::unique_ptr<TextStream> stream = host.files.OpenTextFile(list, IoMode::kForAppending, true);

  int appended = 0;
  // Depth first, in listing order: the folders still to visit are kept in
  // reverse, so that the next one is at the back.
  std::vector<std::string> pending;
  auto visit = [&](const Folder& current) {
    std::string text;
    for (const FolderEntry& file : current.files) {
      if (!IsExecutable(file.name)) continue;
      text += file.path + kLineEnd;
      ++appended;
    }
    if (!text.empty()) stream->Write(text);
    for (auto sub = current.sub_folders.rbegin(); sub != current.sub_folders.rend(); ++sub) {
      if (!sub->link) pending.push_back(sub->path);
    }
  };
  visit(start);
  while (!pending.empty()) {
    const std::string next = std::move(pending.back());
    pending.pop_back();
    if (const std::unique_ptr<Folder> below = ReadableFolder(host.files, next, report)) {
      visit(*below);
    }
  }
  stream->Close();
  return appended;
}

}  // namespace quillon::lists
