#include "support/engine_catalogs.h"

#include <dirent.h>
#include <fcntl.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <optional>
#include <utility>

#include "shared/helpers/text.h"
#include "shared/posix/catalog_files.h"

namespace quillon::machine {

struct EngineCatalogs::Catalog {
  std::string file_name;
  std::string path;
  // The catalog's file as it was opened, kept open so that its identity
  // (device and inode) cannot pass to another file while it is held.
  int anchor = -1;
  dev_t device = 0;
  ino_t inode = 0;
  sqlite3* db = nullptr;
  LockWait wait;             // the connection's lock waits; lives as long as the connection
  std::string fold_failure;  // the last fold's error, told once
};

namespace {

// The catalog files in the folder: regular files named <catalog>.sqlite3
// (the suffix in any letter case, as the programs find them), sorted.
std::vector<std::string> CatalogFileNames(const std::string& folder) {
  std::vector<std::string> names;
  DIR* directory = ::opendir(folder.c_str());
  if (directory == nullptr) return names;  // no databases folder: nothing to hold
  const std::string suffix = UpperCase(kCatalogFileSuffix);
  while (const dirent* entry = ::readdir(directory)) {
    const std::string name = entry->d_name;
    if (name.size() <= suffix.size()) continue;
    const std::string stem = name.substr(0, name.size() - suffix.size());
    if (UpperCase(name.substr(stem.size())) != suffix || !IsPlainCatalogName(stem)) continue;
    struct stat file {};
    if (::fstatat(::dirfd(directory), name.c_str(), &file, AT_SYMLINK_NOFOLLOW) == 0 &&
        S_ISREG(file.st_mode)) {
      names.push_back(name);
    }
  }
  ::closedir(directory);
  std::sort(names.begin(), names.end());
  return names;
}

// True when the catalog's name still leads to the file that was opened.
bool StillThere(const std::string& path, dev_t device, ino_t inode) {
  struct stat now {};
  return ::lstat(path.c_str(), &now) == 0 && S_ISREG(now.st_mode) && now.st_dev == device &&
         now.st_ino == inode;
}

// One read of the catalog, finished at once: the connection maps the log's
// index (a catalog in write-ahead mode) and holds no transaction afterwards.
// nullopt, or SQLite's message.
std::optional<std::string> ReadOnce(sqlite3* db, LockWait& wait) {
  wait.Begin();
  sqlite3_stmt* statement = nullptr;
  int result =
      sqlite3_prepare_v2(db, "SELECT count(*) FROM sqlite_master", -1, &statement, nullptr);
  if (result == SQLITE_OK) result = sqlite3_step(statement);
  sqlite3_finalize(statement);
  if (result == SQLITE_OK || result == SQLITE_ROW) return std::nullopt;
  return std::string(sqlite3_errmsg(db));
}

// True when the file's header says write-ahead log (read and write versions
// 2), which a connection opened before the change learns at its next read.
bool HeaderSaysWriteAheadLog(int fd) {
  unsigned char versions[2] = {0, 0};
  return ::pread(fd, versions, sizeof versions, 18) == 2 && versions[0] == 2 && versions[1] == 2;
}

}  // namespace

EngineCatalogs::EngineCatalogs(std::string databases_folder,
                               std::function<void(const std::string&)> say)
    : folder_(std::move(databases_folder)), say_(std::move(say)) {}

EngineCatalogs::~EngineCatalogs() {
  CloseAll();
}

void EngineCatalogs::Refresh() {
  for (auto it = held_.begin(); it != held_.end();) {
    Catalog& catalog = **it;
    if (StillThere(catalog.path, catalog.device, catalog.inode)) {
      ++it;
      continue;
    }
    say_("released " + catalog.file_name + ": its file is gone or replaced");
    Release(catalog, false);
    it = held_.erase(it);
  }
  const std::vector<std::string> names = CatalogFileNames(folder_);
  // A refusal is forgotten with its file.
  std::erase_if(refusals_, [&](const auto& refusal) {
    return !std::binary_search(names.begin(), names.end(), refusal.first);
  });
  for (const std::string& name : names) {
    const bool held = std::any_of(held_.begin(), held_.end(),
                                  [&](const auto& catalog) { return catalog->file_name == name; });
    if (!held) Hold(name);
  }
}

void EngineCatalogs::Hold(const std::string& file_name) {
  auto catalog = std::make_unique<Catalog>();
  catalog->file_name = file_name;
  catalog->path = folder_ + "/" + file_name;
  // Never a link, never a FIFO to wait on: a catalog is a file of its own.
  catalog->anchor = ::open(catalog->path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
  struct stat file {};
  if (catalog->anchor < 0 || ::fstat(catalog->anchor, &file) != 0 || !S_ISREG(file.st_mode)) {
    Release(*catalog, false);
    return;  // gone again, or not a file: the next listing tells
  }
  catalog->device = file.st_dev;
  catalog->inode = file.st_ino;

  std::optional<std::string> failure;
  if (const int result = OpenCatalogFile(catalog->path, &catalog->db, catalog->wait);
      result != SQLITE_OK) {
    failure = catalog->db != nullptr ? sqlite3_errmsg(catalog->db) : sqlite3_errstr(result);
  } else {
    PrepareCatalogConnection(catalog->db);
    failure = ReadOnce(catalog->db, catalog->wait);
  }
  // Dropped and created again while it was opened: the connection may have
  // met the old file and the new one's log, and is let go without a fold.
  if (!failure && !StillThere(catalog->path, catalog->device, catalog->inode)) {
    failure = "its file was replaced while it was opened";
  }
  if (failure) {
    Refused(file_name, file, *failure);
    Release(*catalog, false);
    return;
  }
  refusals_.erase(file_name);
  say_("holds " + file_name);
  held_.push_back(std::move(catalog));
}

void EngineCatalogs::Refused(const std::string& file_name, const struct stat& file,
                             const std::string& why) {
  const std::string refusal =
      std::to_string(file.st_dev) + ":" + std::to_string(file.st_ino) + ":" + why;
  auto [it, added] = refusals_.emplace(file_name, refusal);
  if (!added && it->second == refusal) return;
  it->second = refusal;
  say_("cannot hold " + file_name + ": " + why);
}

void EngineCatalogs::Release(Catalog& catalog, bool fold) {
  if (catalog.db != nullptr) {
    // The log of a file that is gone is never folded: its connection may
    // have met a new catalog's log under the same name, which folding (and
    // the cut of the log after it) would take from the new catalog.
    if (!fold) sqlite3_db_config(catalog.db, SQLITE_DBCONFIG_NO_CKPT_ON_CLOSE, 1, nullptr);
    sqlite3_close_v2(catalog.db);
    catalog.db = nullptr;
  }
  // Only after the connection: closing another descriptor of the file while
  // the connection holds its locks would release them.
  if (catalog.anchor >= 0) ::close(catalog.anchor);
  catalog.anchor = -1;
}

void EngineCatalogs::FoldLogs() {
  for (const std::unique_ptr<Catalog>& catalog : held_) {
    const std::string failure = Fold(*catalog);
    if (!failure.empty() && failure != catalog->fold_failure) {
      say_("cannot fold the log of " + catalog->file_name + ": " + failure);
    }
    catalog->fold_failure = failure;
  }
}

std::string EngineCatalogs::Fold(Catalog& catalog) {
  const auto checkpoint = [&] {
    catalog.wait.Begin();
    int frames = -1;
    int folded = -1;
    const int result =
        sqlite3_wal_checkpoint_v2(catalog.db, nullptr, SQLITE_CHECKPOINT_PASSIVE, &frames, &folded);
    return std::pair(result, frames);
  };
  auto [result, frames] = checkpoint();
  // No log (frames -1) although the file has turned to the write-ahead log:
  // a read maps the log's index, and the log is folded then.
  if (result == SQLITE_OK && frames < 0 && HeaderSaysWriteAheadLog(catalog.anchor)) {
    if (const std::optional<std::string> failure = ReadOnce(catalog.db, catalog.wait)) {
      return *failure;
    }
    result = checkpoint().first;
  }
  // Busy: another connection folds the log right now.
  return result == SQLITE_OK || result == SQLITE_BUSY ? "" : sqlite3_errmsg(catalog.db);
}

void EngineCatalogs::CloseAll() {
  for (const std::unique_ptr<Catalog>& catalog : held_) {
    Release(*catalog, StillThere(catalog->path, catalog->device, catalog->inode));
  }
  held_.clear();
}

std::vector<std::string> EngineCatalogs::Held() const {
  std::vector<std::string> names;
  for (const std::unique_ptr<Catalog>& catalog : held_) names.push_back(catalog->file_name);
  std::sort(names.begin(), names.end());
  return names;
}

}  // namespace quillon::machine
