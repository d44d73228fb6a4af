#include "shared/posix/catalog_files.h"

#include <unistd.h>

#include <algorithm>
#include <thread>

#include "shared/posix/portable_machine.h"
#include "shared/posix/sqlite_memory.h"

namespace quillon {

bool IsPlainCatalogName(std::string_view name) {
  return !name.empty() && name != "." && name != ".." &&
         name.find_first_of(std::string_view("/\\\0", 3)) == std::string_view::npos;
}

std::optional<std::string> CatalogFilePath(const std::string& databases_folder,
                                           std::string_view name) {
  if (!IsPlainCatalogName(name)) return std::nullopt;
  const std::string file_name = std::string(name) + kCatalogFileSuffix;
  return databases_folder + "/" + FindStoredName(databases_folder, file_name).value_or(file_name);
}

std::optional<std::string> ExistingCatalogFile(const std::string& databases_folder,
                                               std::string_view name) {
  std::optional<std::string> file = CatalogFilePath(databases_folder, name);
  if (!file || access(file->c_str(), F_OK) != 0) return std::nullopt;
  return file;
}

namespace {

// Settings of the library as a whole, which take effect only before its
// first use in the process (later they are refused, harmlessly): its memory
// from the free lists of SqliteMemory, and no memory statistics, which
// nothing reads and which take a global lock around every allocation.
void ConfigureLibrary() {
  static const bool configured = [] {
    sqlite3_config(SQLITE_CONFIG_MALLOC, &SqliteMemory());
    sqlite3_config(SQLITE_CONFIG_MEMSTATUS, 0);
    return true;
  }();
  static_cast<void>(configured);
}

}  // namespace

std::optional<std::string> CreateCatalogFile(const std::string& databases_folder,
                                             std::string_view name) {
  const std::optional<std::string> file = CatalogFilePath(databases_folder, name);
  if (!file) return "\"" + std::string(name) + "\" is no catalog name";
  ConfigureLibrary();
  sqlite3* db = nullptr;
  const int result =
      sqlite3_open_v2(file->c_str(), &db,
                      SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOFOLLOW, nullptr);
  const std::string message = db != nullptr ? sqlite3_errmsg(db) : sqlite3_errstr(result);
  sqlite3_close_v2(db);
  if (result != SQLITE_OK) return message;
  return std::nullopt;
}

namespace {

// The longest pause between two tries at a lock.
constexpr int kLongestPauseMilliseconds = 8;

// SQLite's busy handler: another try while the bound lasts.
int WaitForLock(void* wait, int /*count*/) {
  return static_cast<LockWait*>(wait)->Pause() ? 1 : 0;
}

}  // namespace

LockWait::LockWait()
    : random_(static_cast<unsigned>(getpid()) ^
              static_cast<unsigned>(std::chrono::steady_clock::now().time_since_epoch().count())) {
  Begin();
}

void LockWait::Begin() {
  deadline_ =
      std::chrono::steady_clock::now() + std::chrono::milliseconds(kCatalogBusyTimeoutMilliseconds);
  attempt_ = 0;
}

bool LockWait::Pause() {
  const auto now = std::chrono::steady_clock::now();
  if (now >= deadline_) return false;
  // 1 ms, then up to 2, 4 and kLongestPauseMilliseconds.
  const int ceiling = std::min(1 << std::min(attempt_, 3), kLongestPauseMilliseconds);
  ++attempt_;
  std::uniform_int_distribution<int> microseconds(500, ceiling * 1000);
  std::this_thread::sleep_for(std::min<std::chrono::steady_clock::duration>(
      std::chrono::microseconds(microseconds(random_)), deadline_ - now));
  return true;
}

int OpenCatalogFile(const std::string& file, sqlite3** db, LockWait& wait) {
  ConfigureLibrary();
  // The catalog file must be the file itself, never a link (out of the
  // machine, say).
  const int result =
      sqlite3_open_v2(file.c_str(), db,
                      SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX | SQLITE_OPEN_NOFOLLOW, nullptr);
  if (result != SQLITE_OK) return result;
  sqlite3_busy_handler(*db, &WaitForLock, &wait);
  // The last connection to close folds the write-ahead log into the database
  // and would delete the log and its index; the next checker, a moment
  // later, would make both afresh. They stay instead, the log cut to
  // nothing (journal_size_limit below), so that nothing of it is read again.
  int persist = 1;
  sqlite3_file_control(*db, "main", SQLITE_FCNTL_PERSIST_WAL, &persist);
  return SQLITE_OK;
}

void PrepareCatalogConnection(sqlite3* db) {
  // With the write-ahead log a commit need not wait for the disk: the log is
  // synced before it is folded into the database, which the last connection
  // to close does. A crash of the machine may undo the last commits, never
  // harm the database. (With a rollback journal NORMAL still syncs at the
  // journal's crucial moments.) A failure here leaves SQLite's defaults and
  // shows again in the statement that follows.
  sqlite3_exec(db, "PRAGMA synchronous = NORMAL; PRAGMA journal_size_limit = 0", nullptr, nullptr,
               nullptr);
}

}  // namespace quillon
