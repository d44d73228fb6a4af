// What the checker's unit tests share: the fake machine of one launch with a
// real SQLite database of the install schema in a temporary folder, every
// statement recorded in the machine's journal.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "fakes/fake_host.h"
#include "shared/posix/sqlite_database.h"
#include "support/database_support.h"

namespace quillon::testing {

// Passes every connection through to another database and journals
// "Database Open", "Database Execute <statement>" (bound or not),
// "Database BeginTrans", "Database CommitTrans", "Database RollbackTrans"
// and "Database Close". Fault switches "DatabaseOpen", "Execute" (target: the
// statement) and the transaction operations' names make them fail.
class RecordingDatabase : public Database {
 public:
  RecordingDatabase(Database& inner, Journal& journal, FaultSwitches& faults)
      : inner_(inner), journal_(journal), faults_(faults) {}
  std::unique_ptr<Connection> NewConnection() override;

 private:
  Database& inner_;
  Journal& journal_;
  FaultSwitches& faults_;
};

inline constexpr char kProgramFiles[] = "C:\\Program Files";
inline constexpr char kLogs[] = "C:\\Program Files\\Harlwick\\Zentrel\\Logs";
inline constexpr char kAccessLog[] = "C:\\Program Files\\Harlwick\\Zentrel\\Logs\\Access.log";
inline constexpr char kErrorLog[] = "C:\\Program Files\\Harlwick\\Zentrel\\Logs\\Error.log";
inline constexpr char kSettings[] = "C:\\Program Files\\Harlwick\\Zentrel\\Zentrel.ini";
// The fake clock's time, 3 February 2006 09:05:07, as the logs write it.
inline constexpr char kStamp[] = "02/03/06 09:05:07";

class CheckerTest : public ::testing::Test {
 protected:
  CheckerTest();

  // Runs the checker as its program does, the error report included;
  // returns the exit status.
  int RunZentrel(const std::string& argument_text);

  // The request the hook library would send.
  static std::string Request(const std::string& exe_path, std::uint32_t process_id,
                             const std::string& user_name);

  // Database set-up; ids are SQLite's, numbered from 1 in a fresh database.
  void Sql(const std::string& sql) { RunSql(database_file, sql); }
  long long Rows(const std::string& table) { return CountRows(database_file, table); }
  std::string Value(const std::string& sql) { return QueryValue(database_file, sql); }
  // An enabled user; returns the user id.
  std::string EnabledUser(const std::string& name);
  // An application holding the executable; returns the app id.
  std::string Application(const std::string& name, const std::string& exe_path);

  // Journal entries that are not database statements, and those that are.
  std::vector<std::string> HostEntries() const;
  std::vector<std::string> DatabaseEntries() const { return machine.journal.Starting("Database "); }

  FakeMachine machine;
  DatabaseTestFolder folder;
  std::string database_file;
  SqliteDatabase sqlite{folder.databases()};
  RecordingDatabase database{sqlite, machine.journal, machine.faults};
};

}  // namespace quillon::testing
