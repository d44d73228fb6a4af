#include "checker_fixture.h"

#include "checker/checker.h"
#include "shared/program_main.h"

namespace quillon::testing {

namespace {

class RecordingRecordset : public Recordset {
 public:
  explicit RecordingRecordset(std::unique_ptr<Recordset> inner) : inner_(std::move(inner)) {}
  bool Eof() const override { return inner_->Eof(); }
  std::string Field(const std::string& column) const override { return inner_->Field(column); }
  void MoveNext() override { inner_->MoveNext(); }
  void Close() override { inner_->Close(); }

 private:
  std::unique_ptr<Recordset> inner_;
};

class RecordingConnection : public Connection {
 public:
  RecordingConnection(std::unique_ptr<Connection> inner, Journal& journal, FaultSwitches& faults)
      : inner_(std::move(inner)), journal_(journal), faults_(faults) {}

  void Open(const std::string& connection_string) override {
    Attempt("DatabaseOpen", connection_string, "Database Open " + connection_string,
            [&] { inner_->Open(connection_string); });
  }

  std::unique_ptr<Recordset> Execute(const std::string& statement) override {
    std::unique_ptr<Recordset> rows;
    Attempt("Execute", statement, "Database Execute " + statement,
            [&] { rows = inner_->Execute(statement); });
    return std::make_unique<RecordingRecordset>(std::move(rows));
  }

  std::unique_ptr<Recordset> ExecuteBound(const std::string& statement,
                                          const Parameters& parameters,
                                          std::size_t max_rows) override {
    std::unique_ptr<Recordset> rows;
    Attempt("Execute", statement, "Database Execute " + statement,
            [&] { rows = inner_->ExecuteBound(statement, parameters, max_rows); });
    return std::make_unique<RecordingRecordset>(std::move(rows));
  }

  void BeginTrans() override {
    Attempt("BeginTrans", "", "Database BeginTrans", [&] { inner_->BeginTrans(); });
  }
  void CommitTrans() override {
    Attempt("CommitTrans", "", "Database CommitTrans", [&] { inner_->CommitTrans(); });
  }
  void RollbackTrans() override {
    Attempt("RollbackTrans", "", "Database RollbackTrans", [&] { inner_->RollbackTrans(); });
  }

  void Close() override {
    inner_->Close();
    journal_.Add("Database Close");
  }

 private:
  template <typename Operation>
  void Attempt(const std::string& operation, const std::string& target, const std::string& entry,
               Operation run) {
    try {
      faults_.Check(operation, target);
      run();
    } catch (const HostError&) {
      journal_.Add(entry + " [failed]");
      throw;
    }
    journal_.Add(entry);
  }

  std::unique_ptr<Connection> inner_;
  Journal& journal_;
  FaultSwitches& faults_;
};

}  // namespace

std::unique_ptr<Connection> RecordingDatabase::NewConnection() {
  return std::make_unique<RecordingConnection>(inner_.NewConnection(), journal_, faults_);
}

CheckerTest::CheckerTest() : database_file(CreateZentrelDatabase(folder.path())) {
  machine.files.AddFolder(kLogs);
}

int CheckerTest::RunZentrel(const std::string& argument_text) {
  Host host = machine.host(&database);
  return RunProgramBody(host, "Zentrel", argument_text, RunChecker);
}

std::string CheckerTest::Request(const std::string& exe_path, std::uint32_t process_id,
                                 const std::string& user_name) {
  return exe_path + "_|_LAUNCH_|_" + std::to_string(process_id) + "_|_" + user_name;
}

std::string CheckerTest::EnabledUser(const std::string& name) {
  Sql("INSERT INTO USERS (user_name, user_status) VALUES (" + QuoteText(name) + ", 'ENABLED')");
  return Value("SELECT max(user_id) FROM USERS");
}

std::string CheckerTest::Application(const std::string& name, const std::string& exe_path) {
  Sql("INSERT INTO APPS (app_name) VALUES (" + QuoteText(name) + ")");
  const std::string app_id = Value("SELECT max(app_id) FROM APPS");
  Sql("INSERT INTO APP_EXES (exe_path, app_id) VALUES (" + QuoteText(exe_path) + ", " + app_id +
      ")");
  return app_id;
}

std::vector<std::string> CheckerTest::HostEntries() const {
  std::vector<std::string> entries;
  for (const auto& entry : machine.journal.entries()) {
    if (entry.rfind("Database ", 0) != 0) entries.push_back(entry);
  }
  return entries;
}

}  // namespace quillon::testing
