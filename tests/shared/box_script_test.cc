// Unattended boxes and the logs, the rules both hosts share: the buttons and
// default of every message box style, which queue line presses which button,
// how queue lines become typed text, and the JSON lines of the logs.
#include "shared/backend/box_script.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "shared/platform.h"

namespace quillon {
namespace {

using ::testing::ElementsAre;
using ::testing::Optional;

TEST(BoxScriptTest, EachStyleOffersItsButtonsAndDefaultsToCancelElseNoElseItsFirst) {
  EXPECT_THAT(BoxButtons(kMbOk), ElementsAre(kIdOk));
  EXPECT_THAT(BoxButtons(1), ElementsAre(kIdOk, kIdCancel));
  EXPECT_THAT(BoxButtons(2), ElementsAre(kIdAbort, kIdRetry, kIdIgnore));
  EXPECT_THAT(BoxButtons(3), ElementsAre(kIdYes, kIdNo, kIdCancel));
  EXPECT_THAT(BoxButtons(kMbYesNo), ElementsAre(kIdYes, kIdNo));
  EXPECT_THAT(BoxButtons(5), ElementsAre(kIdRetry, kIdCancel));
  // Icon and default-button bits do not change the buttons; a choice beyond
  // the known ones gives a plain OK box.
  EXPECT_THAT(BoxButtons(kMbYesNo + kMbIconQuestion + 256), ElementsAre(kIdYes, kIdNo));
  EXPECT_THAT(BoxButtons(2 + kMbIconError), ElementsAre(kIdAbort, kIdRetry, kIdIgnore));
  EXPECT_THAT(BoxButtons(6 + kMbIconInformation), ElementsAre(kIdOk));

  EXPECT_EQ(DefaultButton(kMbOk + kMbIconError), kIdOk);
  EXPECT_EQ(DefaultButton(1), kIdCancel);
  EXPECT_EQ(DefaultButton(2), kIdAbort);
  EXPECT_EQ(DefaultButton(3), kIdCancel);
  EXPECT_EQ(DefaultButton(kMbYesNo + kMbIconQuestion), kIdNo);
  EXPECT_EQ(DefaultButton(5), kIdCancel);
}

TEST(BoxScriptTest, AnAnswerPressesTheButtonItNamesOrElseTheDefault) {
  // Letter case and blanks or tabs around the name do not matter.
  EXPECT_THAT(NamedButton("retry", 5), Optional(kIdRetry));
  EXPECT_THAT(NamedButton(" IGNORE\t", 2), Optional(kIdIgnore));
  EXPECT_THAT(NamedButton("aBoRt", 2 + kMbIconError), Optional(kIdAbort));
  EXPECT_THAT(NamedButton("ok", 1), Optional(kIdOk));
  // Only the box's own buttons, and only their whole names.
  EXPECT_EQ(NamedButton("Ignore", 5), std::nullopt);
  EXPECT_EQ(NamedButton("Cancel", 2), std::nullopt);
  EXPECT_EQ(NamedButton("Y", kMbYesNo), std::nullopt);
  EXPECT_EQ(NamedButton("Yes No", kMbYesNo), std::nullopt);
  EXPECT_EQ(NamedButton("", kMbOk), std::nullopt);

  EXPECT_EQ(MessageBoxAnswer(std::string("Retry"), 5), kIdRetry);
  EXPECT_EQ(MessageBoxAnswer(std::string("Ignore"), 5), kIdCancel);
  EXPECT_EQ(MessageBoxAnswer(std::string("Cancel"), 2), kIdAbort);
  EXPECT_EQ(MessageBoxAnswer(std::string("Yes"), kMbOk), kIdOk);
  EXPECT_EQ(MessageBoxAnswer(std::nullopt, 2), kIdAbort);
  EXPECT_EQ(MessageBoxAnswer(std::nullopt, kMbYesNo), kIdNo);
}

TEST(BoxScriptTest, ButtonsAreNamedAsTheirBoxesShowThem) {
  std::vector<std::string> names;
  for (int button : {kIdOk, kIdCancel, kIdAbort, kIdRetry, kIdIgnore, kIdYes, kIdNo}) {
    names.push_back(ButtonName(button));
  }
  EXPECT_THAT(names, ElementsAre("OK", "Cancel", "Abort", "Retry", "Ignore", "Yes", "No"));
  // A button of a box the queue never answers (a real window's Try Again).
  EXPECT_EQ(ButtonName(10), "10");
}

TEST(BoxScriptTest, QueueLinesInUtf8ArriveInTheSystemCodePageAndOthersAsTheyAre) {
  EXPECT_EQ(QueuedText("admin@example.com"), "admin@example.com");
  EXPECT_EQ(QueuedText("Z\xC3\xBCrich \xE2\x82\xAC"), "Z\xFCrich \x80");
  EXPECT_EQ(QueuedText("Z\xFCrich"), "Z\xFCrich");
  // Cut short, overlong and beyond the last code point: not UTF-8.
  EXPECT_EQ(QueuedText("caf\xC3"), "caf\xC3");
  EXPECT_EQ(QueuedText("\xC0\xAF"), "\xC0\xAF");
  EXPECT_EQ(QueuedText("\xF5\x80\x80\x80"), "\xF5\x80\x80\x80");
  EXPECT_EQ(QueuedText(""), "");
}

TEST(BoxScriptTest, LogLinesAreOneJsonObjectInUtf8) {
  EXPECT_EQ(JsonString(std::string("\"\\/\n\r\t\b\f\x01\x1f\x7f\x80\xE9 \0", 15)),
            std::string("\"\\\"\\\\/\\n\\r\\t\\b\\f\\u0001\\u001f\x7f\xE2\x82\xAC\xC3\xA9 "
                        "\\u0000\""));
  EXPECT_EQ(
      MessageBoxLogLine("Setup", "Quillon Setup", 5 + kMbIconError, "Disk \"D:\" busy", kIdRetry),
      "{\"program\":\"Setup\",\"kind\":\"MsgBox\",\"title\":\"Quillon Setup\","
      "\"style\":21,\"text\":\"Disk \\\"D:\\\" busy\",\"answer\":\"Retry\"}");
  EXPECT_EQ(InputBoxLogLine("Setup", "Quillon Setup", "Address?", std::string("r\xE9mi")),
            "{\"program\":\"Setup\",\"kind\":\"InputBox\",\"title\":\"Quillon Setup\","
            "\"style\":0,\"text\":\"Address?\",\"answer\":\"r\xC3\xA9mi\"}");
  EXPECT_EQ(InputBoxLogLine("Setup", "", "", std::nullopt),
            "{\"program\":\"Setup\",\"kind\":\"InputBox\",\"title\":\"\","
            "\"style\":0,\"text\":\"\",\"answer\":null}");
  EXPECT_EQ(RunLogLine("Uninstall", "cmd.exe /c wscript.exe \"C:\\Program Files\\x.vbs\"", 0, true),
            "{\"program\":\"Uninstall\",\"command\":\"cmd.exe /c wscript.exe \\\"C:\\\\Program "
            "Files\\\\x.vbs\\\"\",\"style\":0,\"wait\":true}");
  EXPECT_EQ(RunLogLine("Setup", "", 1, false),
            "{\"program\":\"Setup\",\"command\":\"\",\"style\":1,\"wait\":false}");
}

TEST(RunLogTest, HidesEveryEnginePasswordAndNothingElse) {
  const std::pair<std::string, std::string> cases[] = {
      {"MSDE\\setup.exe SAPWD=Ab3@Cd4#Ef5$ DISABLENETWORKPROTOCOLS=1",
       "MSDE\\setup.exe SAPWD=******** DISABLENETWORKPROTOCOLS=1"},
      {"setup.exe sapwd=x\tSaPwD=yy", "setup.exe sapwd=********\tSaPwD=********"},
      {"SAPWD=", "SAPWD=********"},
      {"setup.exe XSAPWD=keep NOSAPWD", "setup.exe XSAPWD=keep NOSAPWD"},
      {"net.exe start MSSQLSERVER", "net.exe start MSSQLSERVER"},
      {"", ""},
  };
  for (const auto& [command, shown] : cases) EXPECT_EQ(CommandForLog(command), shown) << command;
  EXPECT_EQ(RunLogLine("Setup", "MSDE\\setup.exe SAPWD=secret", 1, true),
            "{\"program\":\"Setup\",\"command\":\"MSDE\\\\setup.exe SAPWD=********\",\"style\":1,"
            "\"wait\":true}");
}

}  // namespace
}  // namespace quillon
