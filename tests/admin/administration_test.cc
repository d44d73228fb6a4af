// The administration library over a real SQLite database: each operation,
// each refusal, all-or-nothing changes, the audit, values that look like
// statements, paging, and the policy's export and import.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <functional>
#include <set>

#include "access/access.h"
#include "admin_fixture.h"

namespace quillon::testing {
namespace {

using admin::AdminError;
using ::testing::ElementsAre;
using ::testing::HasSubstr;

admin::ExecutableQuery Unassigned() {
  admin::ExecutableQuery query;
  query.unassigned = true;
  return query;
}

admin::ExecutableQuery Filtered(const std::string& filter) {
  admin::ExecutableQuery query;
  query.filter = filter;
  return query;
}

// The kind of AdminError an operation throws; nullopt when it succeeds.
std::optional<AdminError::Kind> KindOf(const std::function<void()>& operation) {
  try {
    operation();
  } catch (const AdminError& error) {
    return error.kind();
  }
  return std::nullopt;
}

TEST_F(AdminTest, UsersAreListedWithStatusGrantsAndRequestsAndControlIsSwitched) {
  AddUser("bob");
  AddUser("alice", "ENABLED");
  AddUser("ALICE");  // a second row of the same name: one user, controlled
  AddApp("Games");
  AddApp("Office");
  Sql("INSERT INTO ALLOWED_APPS (user_id, app_id) VALUES (2, 2), (3, 1), (2, 1)");
  AddExe("C:\\A.EXE");
  Sql("INSERT INTO ACCESS_REQUESTS (user_id, exe_id) VALUES (3, 1)");

  const std::vector<admin::User> users = Admin().Users();
  ASSERT_EQ(users.size(), 2u);
  EXPECT_EQ(users[0].name, "alice");
  EXPECT_TRUE(users[0].controlled);
  EXPECT_EQ(users[0].status, "ENABLED");
  EXPECT_THAT(users[0].applications, ElementsAre("Games", "Office"));
  EXPECT_EQ(users[0].requests, 1);
  EXPECT_EQ(users[1].name, "bob");
  EXPECT_FALSE(users[1].controlled);

  EXPECT_TRUE(Admin().SetUserControlled("bob", true));
  EXPECT_FALSE(Admin().SetUserControlled("bob", true));  // nothing to change
  EXPECT_EQ(Value("SELECT user_status FROM USERS WHERE user_name = 'bob'"), "ENABLED");
  EXPECT_TRUE(Admin().SetUserControlled("Alice", false));  // every row of the name
  EXPECT_EQ(Rows("USERS WHERE user_status = 'ENABLED'"), 1);
  EXPECT_EQ(KindOf([&] { Admin().SetUserControlled("carol", true); }), AdminError::Kind::kNotFound);
  EXPECT_EQ(KindOf([&] { Admin().GetUser("carol"); }), AdminError::Kind::kNotFound);

  const std::vector<admin::AuditEntry> audit = Admin().Audit();
  ASSERT_EQ(audit.size(), 2u);
  EXPECT_EQ(audit[0].actor, "Administrator");
  EXPECT_EQ(audit[0].time, "2006-02-03 09:05:07");  // the fake clock
  std::set<std::string> actions{audit[0].action, audit[1].action};
  EXPECT_EQ(actions, (std::set<std::string>{"enable", "disable"}));
}

TEST_F(AdminTest, ApplicationsAreCreatedRenamedAndDeletedWithClearRefusals) {
  AddUser("alice", "ENABLED");
  const admin::Application games = Admin().CreateApplication("Games");
  EXPECT_EQ(games.id, 1);
  Admin().CreateApplication("Office");
  AddExe("C:\\GAMES\\A.EXE", "1");
  AddExe("C:\\GAMES\\B.EXE", "1");
  ASSERT_TRUE(Admin().Grant("alice", "games"));  // names compare in any case

  const std::vector<admin::Application> apps = Admin().Applications();
  ASSERT_EQ(apps.size(), 2u);
  EXPECT_EQ(apps[0].name, "Games");
  EXPECT_EQ(apps[0].executables, 2);
  EXPECT_EQ(apps[0].users, 1);
  EXPECT_EQ(apps[1].name, "Office");

  struct Refusal {
    const char* what;
    std::function<void()> operation;
    AdminError::Kind kind;
  };
  const std::vector<Refusal> refusals = {
      {"create a taken name", [&] { Admin().CreateApplication("GAMES"); },
       AdminError::Kind::kConflict},
      {"create without a name", [&] { Admin().CreateApplication("  "); },
       AdminError::Kind::kInvalid},
      {"create the checker's word", [&] { Admin().CreateApplication("unassigned"); },
       AdminError::Kind::kInvalid},
      {"rename to a taken name", [&] { Admin().RenameApplication("Office", "games"); },
       AdminError::Kind::kConflict},
      {"rename an unknown one", [&] { Admin().RenameApplication("Tools", "Toolbox"); },
       AdminError::Kind::kNotFound},
      {"rename to nothing", [&] { Admin().RenameApplication("Office", ""); },
       AdminError::Kind::kInvalid},
      {"delete an unknown one", [&] { Admin().DeleteApplication("Tools"); },
       AdminError::Kind::kNotFound},
      {"get an unknown one", [&] { Admin().GetApplication("Tools"); }, AdminError::Kind::kNotFound},
  };
  for (const Refusal& refusal : refusals) {
    EXPECT_EQ(KindOf(refusal.operation), refusal.kind) << refusal.what;
  }
  EXPECT_EQ(Rows("APPS"), 2);

  Admin().RenameApplication("Games", "games");  // a change of case is allowed
  Admin().RenameApplication("games", "Arcade");
  EXPECT_EQ(Value("SELECT app_name FROM APPS WHERE app_id = 1"), "Arcade");

  Admin().DeleteApplication("arcade");
  EXPECT_EQ(Rows("APPS"), 1);
  EXPECT_EQ(Rows("ALLOWED_APPS"), 0);
  // Its executables belong to no application now.
  const admin::ExecutablePage unassigned = Admin().Executables(Unassigned());
  EXPECT_EQ(unassigned.total, 2);
  EXPECT_EQ(Admin().Audit().front().action, "app-delete");
  EXPECT_THAT(Admin().Audit().front().details, HasSubstr("2 executables"));
}

TEST_F(AdminTest, ExecutablesArePagedAndFilteredByPathApplicationAndNone) {
  AddApp("Games");
  // 30 executables: ids 1..30; every third in Games, every fifth base, the
  // rest in no application (0, NULL, or an application that is gone).
  for (int i = 1; i <= 30; ++i) {
    const std::string path = "C:\\DIR" + std::to_string(i % 4) + "\\P" + std::to_string(i) +
                             (i == 7 ? "%_!.EXE" : ".EXE");
    const std::string app = i % 3 == 0   ? "1"
                            : i % 5 == 0 ? "-1"
                            : i % 7 == 0 ? "9"
                            : i % 2      ? ""
                                         : "NULL";
    AddExe(path, app);
  }
  struct Case {
    admin::ExecutableQuery query;
    std::int64_t total;
  };
  const std::vector<Case> cases = {
      {{"", false, std::nullopt, 0, 7}, 30},
      {{"", true, std::nullopt, 0, 7}, 30 - 10 - 4},  // 10 in Games, 4 base (5,10,20,25)
      {{"", false, 1, 0, 4}, 10},
      {{"dir1\\", false, std::nullopt, 0, 3}, 8},  // any case
      {{"%_!", false, std::nullopt, 0, 3}, 1},     // wildcards are literal
      {{"_", false, std::nullopt, 0, 3}, 1},
      {{"P1", true, std::nullopt, 0, 2}, 7},  // P1, P11, P13, P14, P16, P17, P19
      {{"NOWHERE", false, std::nullopt, 0, 2}, 0},
  };
  for (const Case& test : cases) {
    SCOPED_TRACE(test.query.filter + (test.query.unassigned ? " unassigned" : ""));
    // Walking every page gives each match once, in id order.
    std::vector<std::int64_t> ids;
    admin::ExecutableQuery query = test.query;
    for (int pages = 0; pages < 50; ++pages) {
      const admin::ExecutablePage page = Admin().Executables(query);
      EXPECT_EQ(page.total, test.total);
      EXPECT_LE(page.executables.size(), query.limit);
      for (const admin::Executable& exe : page.executables) {
        EXPECT_TRUE(ids.empty() || exe.id > ids.back());
        ids.push_back(exe.id);
        if (test.query.unassigned) {
          EXPECT_FALSE(exe.assigned()) << exe.path;
        }
        if (test.query.app_id) {
          EXPECT_EQ(exe.application, "Games");
        }
      }
      if (!page.next_after_id) break;
      query.after_id = *page.next_after_id;
    }
    EXPECT_EQ(static_cast<std::int64_t>(ids.size()), test.total);
  }
  const admin::Executable base = Admin().GetExecutable("c:\\dir1\\p5.exe");
  EXPECT_TRUE(base.base);
  EXPECT_TRUE(base.assigned());
  EXPECT_EQ(KindOf([&] {
              Admin().Executables({"", false, std::nullopt, 0, 0});
            }),
            AdminError::Kind::kInvalid);
  EXPECT_EQ(KindOf([&] { Admin().GetExecutable("C:\\NONE.EXE"); }), AdminError::Kind::kNotFound);
}

TEST_F(AdminTest, AssigningManyIsAllOrNothing) {
  AddApp("Games");
  AddExe("C:\\A.EXE");
  AddExe("C:\\B.EXE");
  AddExe("C:\\A.EXE");  // a duplicate row the checker may leave: both move

  EXPECT_EQ(KindOf([&] {
              Admin().Assign({"C:\\A.EXE", "C:\\MISSING.EXE"}, "Games");
            }),
            AdminError::Kind::kNotFound);
  EXPECT_EQ(Rows("APP_EXES WHERE app_id = 1"), 0);
  EXPECT_EQ(KindOf([&] { Admin().AssignIds({2, 99}, "Games"); }), AdminError::Kind::kNotFound);
  EXPECT_EQ(KindOf([&] { Admin().Assign({"C:\\A.EXE"}, "Tools"); }), AdminError::Kind::kNotFound);
  EXPECT_EQ(Rows("APP_EXES WHERE app_id = 1"), 0);
  EXPECT_EQ(Rows("ADMIN_AUDIT"), 0);

  EXPECT_EQ(Admin().Assign({"c:\\a.exe"}, "games"), 2);
  EXPECT_EQ(Admin().AssignIds({2}, "Games"), 1);
  EXPECT_EQ(Admin().AssignIds({2}, "Games"), 0);  // already there
  EXPECT_EQ(Rows("APP_EXES WHERE app_id = 1"), 3);
  EXPECT_EQ(Rows("ADMIN_AUDIT WHERE action = 'assign'"), 3);
}

TEST_F(AdminTest, GrantsAreGivenAndTakenOnce) {
  AddUser("alice");
  AddApp("Games");
  EXPECT_TRUE(Admin().Grant("alice", "Games"));
  EXPECT_FALSE(Admin().Grant("ALICE", "games"));
  EXPECT_EQ(Rows("ALLOWED_APPS"), 1);
  EXPECT_TRUE(Admin().Revoke("alice", "Games"));
  EXPECT_FALSE(Admin().Revoke("alice", "Games"));
  EXPECT_EQ(Rows("ALLOWED_APPS"), 0);
  EXPECT_EQ(KindOf([&] { Admin().Grant("carol", "Games"); }), AdminError::Kind::kNotFound);
  EXPECT_EQ(KindOf([&] { Admin().Grant("alice", "Tools"); }), AdminError::Kind::kNotFound);
  EXPECT_EQ(KindOf([&] { Admin().Revoke("carol", "Games"); }), AdminError::Kind::kNotFound);
  EXPECT_EQ(Rows("ADMIN_AUDIT"), 2);
}

TEST_F(AdminTest, RequestsAreApprovedOrDismissed) {
  AddUser("alice", "ENABLED");
  AddApp("Games");
  AddExe("C:\\GAMES\\A.EXE", "1");     // 1: in Games
  AddExe("C:\\TOOLS\\B.EXE");          // 2: in no application
  AddExe("C:\\WINDOWS\\C.EXE", "-1");  // 3: base
  AddExe("C:\\TOOLS\\D.EXE");          // 4: in no application
  Sql("INSERT INTO ACCESS_REQUESTS (user_id, exe_id) VALUES (1, 1), (1, 2), (1, 3), (1, 4), "
      "(1, 2), (7, 1)");

  const std::vector<admin::AccessRequest> requests = Admin().Requests();
  ASSERT_EQ(requests.size(), 6u);
  EXPECT_EQ(requests[0].user, "alice");
  EXPECT_EQ(requests[0].exe_path, "C:\\GAMES\\A.EXE");
  EXPECT_EQ(requests[0].application, "Games");
  EXPECT_EQ(requests[1].application, "");
  EXPECT_TRUE(requests[2].base);
  EXPECT_EQ(requests[5].user, "");  // the user row is gone

  struct Case {
    std::int64_t id;
    std::string app;
    std::optional<AdminError::Kind> refusal;
    std::string granted;
  };
  const std::vector<Case> cases = {
      {2, "", AdminError::Kind::kInvalid, ""},        // no application: which?
      {1, "Office", AdminError::Kind::kInvalid, ""},  // not its application
      {6, "", AdminError::Kind::kInvalid, ""},        // the user is gone
      {99, "", AdminError::Kind::kNotFound, ""},
      {1, "", std::nullopt, "Games"},
      {2, "Tools", std::nullopt, "Tools"},  // a new application
      {4, "tools", std::nullopt, "Tools"},  // an existing one
      {3, "", std::nullopt, ""},            // base: nothing to grant
  };
  for (const Case& test : cases) {
    SCOPED_TRACE(test.id);
    const long long apps = Rows("APPS");
    const long long grants = Rows("ALLOWED_APPS");
    std::string granted;
    EXPECT_EQ(KindOf([&] { granted = Admin().Approve(test.id, test.app); }), test.refusal);
    if (test.refusal) {
      EXPECT_EQ(Rows("APPS"), apps);
      EXPECT_EQ(Rows("ALLOWED_APPS"), grants);
      continue;
    }
    EXPECT_EQ(granted, test.granted);
    EXPECT_EQ(Rows("ACCESS_REQUESTS WHERE request_id = " + std::to_string(test.id)), 0);
  }
  EXPECT_EQ(Value("SELECT app_id FROM APP_EXES WHERE exe_id = 2"), "2");
  EXPECT_EQ(Value("SELECT app_id FROM APP_EXES WHERE exe_id = 4"), "2");
  EXPECT_EQ(Rows("ALLOWED_APPS"), 2);  // Games and Tools, each once
  // The checker now allows what was approved.
  EXPECT_EQ(CheckAccess(sqlite, "C:\\TOOLS\\B.EXE", "alice"), "");
  EXPECT_EQ(CheckAccess(sqlite, "C:\\GAMES\\A.EXE", "alice"), "");

  Admin().Dismiss(5);
  Admin().Dismiss(6);
  EXPECT_EQ(Rows("ACCESS_REQUESTS"), 0);
  EXPECT_EQ(KindOf([&] { Admin().Dismiss(5); }), AdminError::Kind::kNotFound);
  EXPECT_EQ(Rows("ADMIN_AUDIT WHERE action = 'dismiss'"), 2);
  EXPECT_EQ(Rows("ADMIN_AUDIT WHERE action = 'approve'"), 4);
}

TEST_F(AdminTest, TextsThatLookLikeStatementsAreStoredAsWritten) {
  const std::vector<std::string> names = {"x'); DROP TABLE APPS; --", "O'Neil", "' OR '1'='1",
                                          "Robert\"; DELETE FROM USERS", "\xC9milie's <script>"};
  for (const std::string& name : names) {
    AddUser(name);
    Admin().CreateApplication(name);
    Admin().SetUserControlled(name, true);
    Admin().Grant(name, name);
    EXPECT_EQ(Admin().GetApplication(name).name, name);
    EXPECT_EQ(Admin().GetUser(name).applications, std::vector<std::string>{name});
  }
  EXPECT_EQ(Rows("APPS"), 5);
  EXPECT_EQ(Rows("USERS WHERE user_status = 'ENABLED'"), 5);
  EXPECT_EQ(Rows("ALLOWED_APPS"), 5);
  EXPECT_EQ(KindOf([&] { Admin().GetUser("' OR ''='"); }), AdminError::Kind::kNotFound);
  EXPECT_EQ(Admin().Executables(Filtered("' OR 1=1 --")).total, 0);
}

TEST_F(AdminTest, TheAuditTableIsCreatedOnFirstUseWhenTheDatabaseLacksIt) {
  Sql("DROP TABLE ADMIN_AUDIT");
  AddUser("alice");
  Admin().Users();  // reading creates nothing
  EXPECT_EQ(Rows("sqlite_master WHERE name = 'ADMIN_AUDIT'"), 0);
  Admin().SetUserControlled("alice", true);
  EXPECT_EQ(Rows("ADMIN_AUDIT"), 1);
  EXPECT_EQ(Value("SELECT changed_by || ' ' || action || ' ' || details FROM ADMIN_AUDIT"),
            "Administrator enable user \"alice\"");
}

TEST_F(AdminTest, OverviewCountsWhatThePagesShow) {
  AddUser("alice", "ENABLED");
  AddUser("bob");
  AddApp("Games");
  AddExe("C:\\A.EXE", "1");
  AddExe("C:\\B.EXE");
  AddExe("C:\\C.EXE", "-1");
  AddExe("C:\\D.EXE", "5");
  Sql("INSERT INTO ACCESS_REQUESTS (user_id, exe_id) VALUES (1, 2)");
  const admin::Overview overview = Admin().GetOverview();
  EXPECT_EQ(overview.users, 2);
  EXPECT_EQ(overview.controlled_users, 1);
  EXPECT_EQ(overview.applications, 1);
  EXPECT_EQ(overview.executables, 4);
  EXPECT_EQ(overview.unassigned_executables, 2);
  EXPECT_EQ(overview.pending_requests, 1);
}

TEST_F(AdminTest, ThePolicyTravelsToAnotherDatabaseAndABadFileChangesNothing) {
  AddUser("alice", "ENABLED");
  AddUser("O'Neil");
  AddApp("Games");
  AddApp(
      "\xC9"
      "diteurs");
  AddExe("C:\\GAMES\\A.EXE", "1");
  AddExe("C:\\EDIT\\B.EXE", "2");
  AddExe("C:\\WINDOWS\\EXPLORER.EXE", "-1");
  AddExe("C:\\TOOLS\\NEW.EXE");
  Sql("INSERT INTO ALLOWED_APPS (user_id, app_id) VALUES (1, 1), (1, 2), (2, 2)");
  const std::string policy = Admin().ExportPolicy();
  EXPECT_THAT(policy, HasSubstr("\"\xC3\x89"
                                "diteurs\""));  // UTF-8 in the file
  EXPECT_THAT(policy, ::testing::Not(HasSubstr("NEW.EXE")));

  // Another machine, which knows one executable in another application.
  DatabaseTestFolder other_folder;
  const std::string other_file = CreateZentrelDatabase(other_folder.path());
  RunSql(other_file,
         "INSERT INTO APPS (app_name) VALUES ('Other');"
         "INSERT INTO APP_EXES (exe_path, app_id) VALUES ('C:\\GAMES\\A.EXE', 1);"
         "INSERT INTO USERS (user_name, user_status) VALUES ('alice', 'DISABLED');");
  SqliteDatabase other_sqlite(other_folder.databases());
  Host other_host = machine.host(&other_sqlite);
  admin::Administration other(other_host, "Administrator");

  const std::vector<std::string> bad = {
      "",
      "[]",
      "{\"format\": \"quillon-policy\", \"version\": 2}",
      "{\"format\": \"quillon-policy\", \"version\": 1, \"users\": [{\"name\": \"bob\", "
      "\"status\": \"ENABLED\", \"applications\": [\"Nowhere\"]}]}",
      "{\"format\": \"quillon-policy\", \"version\": 1, \"users\": [{\"name\": \"bob\", "
      "\"status\": \"MAYBE\"}]}",
      "{\"format\": \"quillon-policy\", \"version\": 1, \"applications\": [{\"name\": \"A\"}, "
      "{\"name\": \"a\"}]}",
      "{\"format\": \"quillon-policy\", \"version\": 1, \"applications\": [{\"name\": "
      "\"Unassigned\"}]}",
      policy.substr(0, policy.size() / 2)};
  for (const std::string& text : bad) {
    EXPECT_EQ(KindOf([&] { other.ImportPolicy(text); }), AdminError::Kind::kInvalid) << text;
  }
  EXPECT_EQ(CountRows(other_file, "APPS"), 1);
  EXPECT_EQ(CountRows(other_file, "USERS"), 1);

  const admin::ImportSummary summary = other.ImportPolicy(policy);
  EXPECT_EQ(summary.applications_created, 2);
  EXPECT_EQ(summary.executables_added, 2);
  EXPECT_EQ(summary.executables_assigned, 1);
  EXPECT_EQ(summary.users_added, 1);
  EXPECT_EQ(summary.users_updated, 1);
  EXPECT_EQ(summary.grants_set, 3);
  // The copy decides as the original does, for each user and executable.
  for (const char* user : {"alice", "O'Neil"}) {
    for (const char* exe : {"C:\\GAMES\\A.EXE", "C:\\EDIT\\B.EXE", "C:\\WINDOWS\\EXPLORER.EXE"}) {
      EXPECT_EQ(other.Explain(user, exe).decision, Admin().Explain(user, exe).decision)
          << user << " " << exe;
    }
  }
  // Importing again changes nothing more.
  const admin::ImportSummary again = other.ImportPolicy(policy);
  EXPECT_EQ(again.applications_created + again.executables_added + again.executables_assigned +
                again.users_added + again.users_updated,
            0);
  EXPECT_EQ(CountRows(other_file, "ALLOWED_APPS"), 3);
}

}  // namespace
}  // namespace quillon::testing
