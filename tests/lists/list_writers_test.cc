// The list writers against the recording fakes: which profiles become user
// names, which files become executable paths and in what order, what a
// folder that cannot be read costs, and how the folder argument is taken.
#include "lists/list_writers.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "fakes/fake_host.h"
#include "shared/host_error.h"

namespace quillon::lists {
namespace {

using ::testing::ElementsAre;
using testing::FakeMachine;

constexpr char kUsersList[] = "C:\\WINDOWS\\Temp\\ZentrelUsers.list";
constexpr char kExecutablesList[] = "C:\\WINDOWS\\Temp\\ZentrelEXEs.list";
constexpr char kProfiles[] = "C:\\Documents and Settings\\";

UserProfile Profile(const std::string& account, const std::string& folder_name) {
  return {account, kProfiles + folder_name};
}

TEST(UsersListTest, ListsPersonsProfilesAndLeavesOutTheSystemOnes) {
  FakeMachine machine;
  machine.files.AddFile(kUsersList, "Stale\r\n");
  machine.shell.SetUserProfiles({
      Profile("Administrator", "Administrator"),
      Profile("", "All Users"),
      Profile("Default User", "Default User"),
      Profile("LOCAL SERVICE", "LocalService"),
      Profile("NETWORK SERVICE", "NetworkService\\"),
      Profile("SYSTEM", "..\\WINDOWS\\system32\\config\\systemprofile"),
      Profile("o'Brien", "o'Brien"),
      Profile("Ana Lucía", "Ana Lucía.HARLWICK"),  // a second profile of a name
      Profile("alice", "ALICE"),
  });
  Host host = machine.host();

  EXPECT_EQ(WriteUsersList(host), 4);
  EXPECT_EQ(machine.files.Content(kUsersList),
            "Administrator\r\no'Brien\r\nAna Lucía\r\nalice\r\n");
}

TEST(UsersListTest, ProfilesThatCannotBeListedFailAndWriteNothing) {
  FakeMachine machine;
  machine.faults.Fail("UserProfiles");
  Host host = machine.host();

  EXPECT_THROW(WriteUsersList(host), HostError);
  EXPECT_FALSE(machine.files.FileExists(kUsersList));
}

TEST(FolderArgumentTest, DropsBlanksAndEnclosingQuotes) {
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"\"C:\\Program Files\"", "C:\\Program Files"},
      {"  \"C:\\WINDOWS\"  ", "C:\\WINDOWS"},
      {"C:\\Program Files", "C:\\Program Files"},  // the portable host hands it unquoted
      {"\"C:\\WINDOWS\\\"", "C:\\WINDOWS\\"},      // a trailing backslash stays
      {"\"C:\\Open", "C:\\Open"},
      {"\"\"", ""},
      {"", ""},
  };
  for (const auto& [text, folder] : cases) EXPECT_EQ(FolderArgument(text), folder) << text;
}

class ExecutablesListTest : public ::testing::Test {
 protected:
  void SetUp() override {
    for (const char* file : {
             "C:\\Program Files\\Zeta\\zeta.exe",
             "C:\\Program Files\\Alpha\\Alpha.EXE",
             "C:\\Program Files\\Alpha\\readme.txt",
             "C:\\Program Files\\Alpha\\setup.exe.config",
             "C:\\Program Files\\Alpha\\.exe",
             "C:\\Program Files\\Alpha\\Tools\\Deep\\deep.Exe",
             "C:\\Program Files\\Alpha\\Tools\\tool.exe",
             "C:\\Program Files\\Linked\\elsewhere.exe",
             "C:\\Program Files\\Locked\\secret.exe",
             "C:\\Program Files\\top.exe",
         }) {
      machine_.files.AddFile(file);
    }
    machine_.files.AddFolder("C:\\Program Files\\Empty");
    machine_.files.MarkLink("C:\\Program Files\\Linked");
  }

  int Append(const std::string& folder) {
    Host host = machine_.host();
    return AppendExecutables(host, folder,
                             [&](const std::string& line) { reports_.push_back(line); });
  }

  FakeMachine machine_;
  std::vector<std::string> reports_;
};

TEST_F(ExecutablesListTest,
       AppendsEveryExeBelowDepthFirstInStoredCaseSkippingLinksAndLockedFolders) {
  machine_.files.AddFile(kExecutablesList, "C:\\WINDOWS\\earlier.exe\r\n");
  machine_.faults.Fail("GetFolder", "\\Locked");

  EXPECT_EQ(Append("c:\\program files"), 5);
  EXPECT_EQ(machine_.files.Content(kExecutablesList),
            "C:\\WINDOWS\\earlier.exe\r\n"
            "C:\\Program Files\\top.exe\r\n"
            "C:\\Program Files\\Alpha\\Alpha.EXE\r\n"
            "C:\\Program Files\\Alpha\\Tools\\tool.exe\r\n"
            "C:\\Program Files\\Alpha\\Tools\\Deep\\deep.Exe\r\n"
            "C:\\Program Files\\Zeta\\zeta.exe\r\n");
  EXPECT_THAT(reports_,
              ElementsAre("skipped C:\\Program Files\\Locked: Error 70: Permission denied"));
}

TEST_F(ExecutablesListTest, AMissingStartFolderOrAListThatCannotBeWrittenStopsIt) {
  EXPECT_THROW(Append("C:\\Program Files\\Nowhere"), HostError);
  EXPECT_FALSE(machine_.files.FileExists(kExecutablesList));

  machine_.faults.Fail("OpenTextFile", "ZentrelEXEs.list");
  EXPECT_THROW(Append("C:\\Program Files"), HostError);
  EXPECT_TRUE(reports_.empty());
}

}  // namespace
}  // namespace quillon::lists
