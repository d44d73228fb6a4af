// Where the portable machine's database server keeps its catalogs and how
// they are opened: the catalog <name> is the SQLite file
// databases/<name>.sqlite3, found without regard to letter case. Used by the
// SQLite backend and by the machine's osql.exe alike.
#pragma once

#include <sqlite3.h>

#include <optional>
#include <string>
#include <string_view>

#include "shared/backend/lock_wait.h"

namespace quillon {

inline constexpr char kCatalogFileSuffix[] = ".sqlite3";

// How long a statement waits for the locks of other processes before it
// gives up: the database layer's bound, for the SQLite backend and osql.exe.
inline constexpr int kCatalogBusyTimeoutMilliseconds = kLockWaitMilliseconds;

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

// Opens a catalog's file read-write, never creating it nor following a link, with the busy
// timeout set. Returns SQLite's result; on failure *db may hold a handle for
// the error message, which the caller closes.
int OpenCatalogFile(const std::string& file, sqlite3** db);

// Sets how an open catalog commits; run before the connection's first
// statement (it reads the database, which Open does not).
void PrepareCatalogConnection(sqlite3* db);

}  // namespace quillon
