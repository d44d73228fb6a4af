// The settings file: what the installer's two questions write, and what the
// checker reads back from files written by hand as well.
#include "shared/helpers/settings.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "fakes/fake_host.h"

namespace quillon::testing {
namespace {

using ::testing::ElementsAre;

constexpr char kIni[] = "C:\\Program Files\\Harlwick\\Zentrel\\Zentrel.ini";

constexpr char kAddressPrompt[] =
    "If you would like users to be able to request access via e-mail when they are denied access "
    "to a particular program, please enter an administrative e-mail address. If you leave this "
    "blank, this feature will be disabled.";
constexpr char kServerPrompt[] =
    "If you would like users to be able to request access via e-mail when they are denied access "
    "to a particular program, please enter an SMTP server that will be used to deliver these "
    "e-mail messages. If you leave this blank, this feature will be disabled.";

class SettingsTest : public ::testing::Test {
 protected:
  SettingsTest() { machine.files.AddFolder("C:\\Program Files\\Harlwick\\Zentrel"); }

  std::string Read() { return ReadMailSettings(machine.files, kIni); }

  FakeMachine machine;
};

TEST_F(SettingsTest, WriterAsksTwiceThenWritesBothLinesTrimmedInOrder) {
  machine.dialogs.Type("  admin@harlwick.example ");
  machine.dialogs.Type(" mail.harlwick.example");

  WriteMailSettings(machine.dialogs, machine.files, kIni);

  EXPECT_THAT(
      machine.journal.entries(),
      ElementsAre("InputBox \"Quillon Setup\" \"" + std::string(kAddressPrompt) +
                      "\" -> \"  admin@harlwick.example \"",
                  "InputBox \"Quillon Setup\" \"" + std::string(kServerPrompt) +
                      "\" -> \" mail.harlwick.example\"",
                  std::string("OpenTextFile ") + kIni + " mode=2 create",
                  std::string("Write ") + kIni + " \"adminemail: admin@harlwick.example;\r\n\"",
                  std::string("Write ") + kIni + " \"smtpserver: mail.harlwick.example;\r\n\""));
  EXPECT_EQ(Read(), "admin@harlwick.example,mail.harlwick.example");
}

TEST_F(SettingsTest, WriterReplacesAnEarlierFileAndWritesEmptyAnswersToo) {
  machine.files.AddFile(kIni, "adminemail: old@x;\r\nsmtpserver: old;\r\nleftover\r\n");
  machine.dialogs.Type(std::nullopt);  // Cancel
  machine.dialogs.Type("   ");

  WriteMailSettings(machine.dialogs, machine.files, kIni);

  EXPECT_EQ(machine.files.Content(kIni), "adminemail: ;\r\nsmtpserver: ;\r\n");
  EXPECT_EQ(Read(), ",");
}

TEST_F(SettingsTest, WriterFailsWhenTheFileCannotBeCreated) {
  machine.faults.Fail("OpenTextFile", "Zentrel.ini");
  machine.dialogs.Type("a@b");
  machine.dialogs.Type("smtp");

  EXPECT_THROW(WriteMailSettings(machine.dialogs, machine.files, kIni), HostError);
  EXPECT_TRUE(machine.journal.Starting("Write").empty());
}

TEST_F(SettingsTest, MissingFileMeansNoSettingsWithoutOpeningAnything) {
  EXPECT_EQ(Read(), ",");
  EXPECT_TRUE(machine.journal.entries().empty());
}

TEST_F(SettingsTest, ReaderAcceptsBlanksMixedCaseAndStraySemicolons) {
  machine.files.AddFile(kIni,
                        "   AdminEmail:  boss @harlwick.example ;  \r\n"
                        "sMtPsErVeR:\tmail;x \r\n");
  // Blanks and semicolons go wherever they stand; a tab is not a blank.
  EXPECT_EQ(Read(), "boss@harlwick.example,\tmailx");
}

TEST_F(SettingsTest, ReaderTakesTheLastLineOfEachKeyInAnyOrder) {
  machine.files.AddFile(kIni,
                        "smtpserver: first;\r\n"
                        "adminemail: one@x;\r\n"
                        "# a comment line\r\n"
                        "adminemail: two@x;\r\n"
                        "smtpserver:\r\n");
  EXPECT_EQ(Read(), "two@x,");
}

TEST_F(SettingsTest, ReaderIgnoresKeysThatDoNotStartTheLine) {
  machine.files.AddFile(kIni,
                        "x adminemail: a@x;\n"
                        "\tsmtpserver: tabbed;\n"
                        "adminemail a@x\n"
                        "smtpserver: s;");
  // Only blanks are trimmed; a tab before the key hides it, and so does a
  // missing colon. The last line needs no line end.
  EXPECT_EQ(Read(), ",s");
}

TEST_F(SettingsTest, ReaderFailsWhenAnExistingFileCannotBeOpened) {
  machine.files.AddFile(kIni, "adminemail: a@x;\r\n");
  machine.faults.Fail("OpenTextFile", "Zentrel.ini", error_number::kPermissionDenied,
                      "Permission denied");
  try {
    Read();
    FAIL() << "no error";
  } catch (const HostError& error) {
    EXPECT_EQ(error.number(), error_number::kPermissionDenied);
  }
}

}  // namespace
}  // namespace quillon::testing
