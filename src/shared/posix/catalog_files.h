// Where the portable machine's database server keeps its catalogs and how
// they are opened: the catalog <name> is the SQLite file
// databases/<name>.sqlite3, found without regard to letter case. Used by the
// SQLite backend and by the machine's osql.exe alike.
#pragma once

#include <sqlite3.h>

#include <chrono>
#include <optional>
#include <random>
#include <string>
#include <string_view>

#include "shared/backend/lock_wait.h"

namespace quillon {

inline constexpr char kCatalogFileSuffix[] = ".sqlite3";

// How long a statement waits for the locks of other processes before it
// gives up: the database layer's bound, for the SQLite backend and osql.exe.
inline constexpr int kCatalogBusyTimeoutMilliseconds = kLockWaitMilliseconds;

// How a connection waits for locks that other connections hold: from Begin
// (a statement starts) it pauses a short, random while before each new try,
// until kCatalogBusyTimeoutMilliseconds have passed; then the statement fails
// as locked.
//
// SQLite's own busy timeout stretches its pauses to 100 ms. Under many
// writers the database is free only for moments between one commit and the
// next, and the process that has just committed takes it again at once, so
// a process pausing that long can miss every free moment for seconds while
// the others go on (with a rollback journal 32 checkers at once gave up after
// 5 s). Pauses of a few milliseconds, drawn at random so that waiters do not
// collide in step, keep every waiter in the running.
class LockWait {
 public:
  LockWait();

  // A statement starts: its waits may last the bound from now.
  void Begin();

  // Pauses before another try and returns true; returns false at once when
  // the bound has passed. Never pauses past the bound.
  bool Pause();

 private:
  std::chrono::steady_clock::time_point deadline_;
  int attempt_ = 0;
  std::minstd_rand random_;
};

// A catalog name becomes a file name in the databases folder: it may not be
// empty, "." or "..", nor hold "/", "\" or NUL.
bool IsPlainCatalogName(std::string_view name);

// The file of a catalog: the existing file whose name matches without
// regard to letter case (the exact name if it exists), or the file a new
// catalog of that name gets. nullopt for a name that is not plain.
std::optional<std::string> CatalogFilePath(const std::string& databases_folder,
                                           std::string_view name);

// The file of an existing catalog; nullopt when it is absent or the name is
// not plain.
std::optional<std::string> ExistingCatalogFile(const std::string& databases_folder,
                                               std::string_view name);

// Makes the file of a new catalog, or leaves the one that exists (found as
// CatalogFilePath finds it) as it is, never following a link. Returns
// nullopt, or why it failed: SQLite's message, or that the name is not plain.
std::optional<std::string> CreateCatalogFile(const std::string& databases_folder,
                                             std::string_view name);

// Opens a catalog's file read-write, never creating it nor following a
// link, waiting for other connections' locks as wait says (wait must outlive
// the connection). Returns SQLite's result; on failure *db may hold a handle
// for the error message, which the caller closes.
int OpenCatalogFile(const std::string& file, sqlite3** db, LockWait& wait);

// Sets how an open catalog commits; run before the connection's first
// statement (it reads the database, which Open does not).
void PrepareCatalogConnection(sqlite3* db);

}  // namespace quillon
