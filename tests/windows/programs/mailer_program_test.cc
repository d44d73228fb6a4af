// Corvane.exe as a Windows process over Winsock, against the real SMTP
// server on 127.0.0.1 that run-wine-tests starts (tests/mail_server.py,
// port and folder in QUILLON_TEST_SMTP_PORT and QUILLON_TEST_SMTP_FOLDER):
// the checker's access request arrives by mail, and a refused connection
// ends in one Error.log line.
#include <gtest/gtest.h>

#include "programs/program_fixture.h"

namespace quillon::testing {
namespace {

// The folder the server writes to, as Wine shows a POSIX path (drive Z:).
std::string MailFolder() {
  std::string folder = "Z:" + VariableOf("QUILLON_TEST_SMTP_FOLDER").value_or("");
  for (char& c : folder) {
    if (c == '/') c = '\\';
  }
  return folder;
}

// The server's record of the n-th message it took (one JSON line).
std::optional<std::string> AwaitMessage(int n) {
  return WaitForLines(MailFolder() + "\\" + std::to_string(n) + ".json", 1);
}

int MessagesSoFar() {
  int count = 0;
  while (Exists(MailFolder() + "\\" + std::to_string(count + 1) + ".json")) ++count;
  return count;
}

class MailerProgramTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!VariableOf("QUILLON_TEST_SMTP_PORT")) {
      GTEST_SKIP() << "no mail server: run-wine-tests starts one";
    }
    server = "127.0.0.1:" + *VariableOf("QUILLON_TEST_SMTP_PORT");
    machine.Install("Zentrel.exe", machine.product() + "\\Zentrel.exe");
    machine.Install("Corvane.exe", machine.product() + "\\Corvane.exe");
    machine.Install("launch_target.exe", machine.scratch("Game.exe"));
    stored_path = NormalizedPath(machine.scratch("Game.exe"));
    machine.UseFreshDatabase();
  }

  ProgramMachine machine;
  std::string server;
  std::string stored_path;
};

TEST_F(MailerProgramTest, ADeniedLaunchAnsweredYesArrivesByMail) {
  WriteBytes(
      machine.product() + "\\Zentrel.ini",
      "adminemail: admin@example.com, second@example.com;\r\nsmtpserver: " + server + ";\r\n");
  machine.Sql("INSERT INTO APPS (app_name) VALUES ('Games')");
  machine.Sql("INSERT INTO APP_EXES (exe_path, app_id) VALUES ('" + stored_path + "', 1)");
  machine.Sql("INSERT INTO USERS (user_name, user_status) VALUES ('alice', 'ENABLED')");
  machine.ScriptAnswers("Yes\nOK\n");
  const int before = MessagesSoFar();
  StartedProcess target(Quoted(machine.scratch("Game.exe")) + " sleep");
  ASSERT_TRUE(target.started());

  EXPECT_EQ(machine.Run(Quoted(machine.product() + "\\Zentrel.exe") + " " + stored_path +
                        "_|_LAUNCH_|_" + std::to_string(target.id()) + "_|_alice"),
            std::optional<DWORD>(0));

  const auto message = AwaitMessage(before + 1);
  ASSERT_TRUE(message.has_value());
  const std::string request_id =
      machine
          .Value("SELECT request_id FROM ACCESS_REQUESTS WHERE user_id = '1' AND exe_id = '1'",
                 "request_id")
          .value_or("?");
  const std::string computer = VariableOf("COMPUTERNAME").value_or("");
  std::string path_in_json;
  for (char c : stored_path) path_in_json += c == '\\' ? std::string("\\\\") : std::string(1, c);
  for (const std::string& part :
       {std::string(R"("rcpt_to": "admin@example.com, second@example.com")"),
        R"("Subject": "Access request: alice asks for Games on )" + computer + "\"",
        R"(Request:     )" + request_id + R"(\r\n)", std::string(R"(User:        alice\r\n)"),
        R"(Executable:  )" + path_in_json + R"(\r\n)",
        std::string(R"("Content-Transfer-Encoding": "quoted-printable")")}) {
    EXPECT_NE(message->find(part), std::string::npos) << part << "\n" << *message;
  }
  EXPECT_FALSE(Exists(machine.product() + "\\Logs\\Error.log"));
}

TEST_F(MailerProgramTest, ARefusedConnectionEndsInOneErrorLogLine) {
  // Port 1 of 127.0.0.1: nothing listens there.
  EXPECT_EQ(machine.Run(Quoted(machine.product() + "\\Corvane.exe") +
                        " \"127.0.0.1:1\" \"admin@example.com\" \"PC\" \"C:\\A.EXE\" \"Apps\" "
                        "\"bob\" \"12\""),
            std::optional<DWORD>(1));
  const auto lines = Lines(ReadBytes(machine.product() + "\\Logs\\Error.log").value_or(""));
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_TRUE(IsTimestampedLine(lines[0] + "\r\n",
                                ": ERROR! Corvane: access request \"12\" not mailed through "
                                "\"127.0.0.1:1\": Connection refused"))
      << lines[0];
  EXPECT_TRUE(machine.DialogLog().empty());
}

}  // namespace
}  // namespace quillon::testing
