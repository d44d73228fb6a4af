// The floor under the checker's cost: a static program of SQLite alone,
// without any of Quillon's code, on the same catalog file. The checker
// benchmark times it beside the no-op to show how much of a launch the
// database library takes by itself:
//
//   sqlite_floor FILE open        opens the catalog and closes it again
//   sqlite_floor FILE statements  also runs the checker's six statements for
//                                 a known allowed pair, reading every row
//
// The connection is opened with the flags the checker uses and SQLite's
// defaults otherwise. Exit status 0, or 1 with a message when the library
// refuses something.
#include <sqlite3.h>

#include <cstdio>
#include <cstring>

namespace {

// The statements a checker runs for Alice starting C:\Tools\Allowed.exe:
// registration look-ups, base executable, controlled user, application,
// grant.
constexpr const char* kStatements[] = {
    "SELECT APP_EXES.exe_path FROM APP_EXES WHERE APP_EXES.exe_path = 'C:\\Tools\\Allowed.exe'",
    "SELECT USERS.user_name FROM USERS WHERE USERS.user_name = 'Alice'",
    "SELECT * FROM APP_EXES WHERE APP_EXES.exe_path = 'C:\\Tools\\Allowed.exe' AND "
    "APP_EXES.app_id = '-1'",
    "SELECT * FROM USERS WHERE USERS.user_name = 'Alice' AND USERS.user_status = 'ENABLED'",
    "SELECT APPS.app_name FROM APPS, APP_EXES WHERE APPS.app_id = APP_EXES.app_id AND "
    "APP_EXES.exe_path = 'C:\\Tools\\Allowed.exe'",
    "SELECT * FROM APP_EXES, APPS, ALLOWED_APPS, USERS WHERE APP_EXES.app_id = APPS.app_id AND "
    "APPS.app_id = ALLOWED_APPS.app_id AND ALLOWED_APPS.user_id = USERS.user_id AND "
    "APP_EXES.exe_path = 'C:\\Tools\\Allowed.exe' AND USERS.user_name = 'Alice'",
};

int Refused(sqlite3* db, const char* what) {
  std::fprintf(stderr, "sqlite_floor: %s: %s\n", what, sqlite3_errmsg(db));
  sqlite3_close(db);
  return 1;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3 || (std::strcmp(argv[2], "open") != 0 && std::strcmp(argv[2], "statements") != 0)) {
    std::fprintf(stderr, "usage: sqlite_floor FILE open|statements\n");
    return 2;
  }
  sqlite3* db = nullptr;
  if (sqlite3_open_v2(argv[1], &db,
                      SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX | SQLITE_OPEN_NOFOLLOW,
                      nullptr) != SQLITE_OK) {
    return Refused(db, "open");
  }
  if (std::strcmp(argv[2], "statements") == 0) {
    for (const char* text : kStatements) {
      sqlite3_stmt* statement = nullptr;
      if (sqlite3_prepare_v2(db, text, -1, &statement, nullptr) != SQLITE_OK) {
        return Refused(db, text);
      }
      int rows = 0;
      int step = SQLITE_ROW;
      while ((step = sqlite3_step(statement)) == SQLITE_ROW) ++rows;
      sqlite3_finalize(statement);
      if (step != SQLITE_DONE) return Refused(db, text);
      // Every statement but the base-executable look-up (Allowed.exe is no
      // base executable) finds a row; an empty one would mean the floor is
      // measured on another path than the checker's.
      if (rows == 0 && text != kStatements[2]) return Refused(db, "no row");
    }
  }
  return sqlite3_close(db) == SQLITE_OK ? 0 : 1;
}
