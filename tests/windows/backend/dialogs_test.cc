// Win32Dialogs: the answer queue and the dialog log as on the portable host,
// and real message and input boxes answered by a person's clicks.
#include <gtest/gtest.h>

#include <algorithm>
#include <mutex>
#include <thread>
#include <vector>

#include "shared/platform.h"
#include "shared/win32/dialog_script.h"
#include "shared/win32/win32_platform.h"
#include "support/window_driver.h"
#include "support/windows_test_support.h"

namespace quillon::testing {
namespace {

class ScriptedDialogsTest : public ::testing::Test {
 protected:
  ScriptedDialogsTest()
      : answers_(kAnswersVariable, scratch / "answers.txt"),
        log_(kDialogLogVariable, scratch / "dialogs.jsonl") {}

  void Queue(const std::string& lines) { WriteBytes(scratch / "answers.txt", lines); }
  std::vector<std::string> LogLines() {
    return Lines(ReadBytes(scratch / "dialogs.jsonl").value_or(""));
  }

  ScratchFolder scratch;
  ScopedVariable answers_;
  ScopedVariable log_;
  Win32Dialogs dialogs{"Zentrel"};
};

TEST_F(ScriptedDialogsTest, EachBoxTakesTheFirstLineAndRemovesIt) {
  Queue("Yes\r\nOK\nNo\n");
  EXPECT_EQ(dialogs.MsgBox("Denied", 20, "Access Denied!"), kIdYes);
  EXPECT_EQ(*ReadBytes(scratch / "answers.txt"), "OK\nNo\n");
  EXPECT_EQ(dialogs.MsgBox("Sent", 64, "Access Request Sent"), kIdOk);
  EXPECT_EQ(dialogs.MsgBox("Again?", 20, "Access Denied!"), kIdNo);
  EXPECT_EQ(*ReadBytes(scratch / "answers.txt"), "");
}

TEST_F(ScriptedDialogsTest, AnswersABoxDoesNotOfferAndAnEmptyQueueGiveTheDefault) {
  Queue("OK\nYes\n");
  // "OK" is no answer to a Yes/No box: it counts as No, and is used up.
  EXPECT_EQ(dialogs.MsgBox("Denied", 20, "Access Denied!"), kIdNo);
  // "Yes" is no answer to an OK box: OK.
  EXPECT_EQ(dialogs.MsgBox("Done", 64, "Uninstall Quillon"), kIdOk);
  EXPECT_EQ(dialogs.MsgBox("Denied", 20, "Access Denied!"), kIdNo);
  EXPECT_EQ(dialogs.MsgBox("Done", 64, "Uninstall Quillon"), kIdOk);
  EXPECT_EQ(dialogs.InputBox("Address?", "Quillon Setup", ""), std::nullopt);
  DeleteFileA((scratch / "answers.txt").c_str());
  EXPECT_EQ(dialogs.MsgBox("Denied", 20, "Access Denied!"), kIdNo);
}

TEST_F(ScriptedDialogsTest, InputBoxesTakeTheLineAsTypedTextOrCancel) {
  Queue("admin@example.com\n\n<Cancel>\n  padded  \nr\xC3\xA9mi\nr\xE9mi\n");
  EXPECT_EQ(dialogs.InputBox("Address?", "Quillon Setup", ""), "admin@example.com");
  EXPECT_EQ(dialogs.InputBox("Server?", "Quillon Setup", ""), "");
  EXPECT_EQ(dialogs.InputBox("Server?", "Quillon Setup", ""), std::nullopt);
  EXPECT_EQ(dialogs.InputBox("Server?", "Quillon Setup", ""), "  padded  ");
  // Queue files are UTF-8; a line that is not is taken as system code page.
  EXPECT_EQ(dialogs.InputBox("Server?", "Quillon Setup", ""), "r\xE9mi");
  EXPECT_EQ(dialogs.InputBox("Server?", "Quillon Setup", ""), "r\xE9mi");
}

TEST_F(ScriptedDialogsTest, AnEmptyQueueVariableStillMeansNoWindowAndDefaultAnswers) {
  ScopedVariable empty(kAnswersVariable, std::string());
  EXPECT_EQ(dialogs.MsgBox("Denied", 20, "Access Denied!"), kIdNo);
  EXPECT_EQ(dialogs.InputBox("Address?", "Quillon Setup", "preset"), std::nullopt);
  EXPECT_EQ(LogLines().size(), 2u);
}

TEST_F(ScriptedDialogsTest, EveryBoxAppendsOneJsonLine) {
  Queue("No\nr\xE9mi@example.com\n<Cancel>\n");
  dialogs.MsgBox("User \"bob\" is not permitted\r\n\r\nWould you like to request access?", 20,
                 "Access Denied!");
  dialogs.InputBox("Address?", "Quillon Setup", "");
  dialogs.InputBox("Tab\there \\ back", "Quillon Setup", "");
  dialogs.MsgBox("Done", 64, "Uninstall Quillon");
  EXPECT_EQ(LogLines(),
            (std::vector<std::string>{
                "{\"program\":\"Zentrel\",\"kind\":\"MsgBox\",\"title\":\"Access Denied!\","
                "\"style\":20,\"text\":\"User \\\"bob\\\" is not permitted\\r\\n\\r\\nWould you "
                "like to request access?\",\"answer\":\"No\"}",
                "{\"program\":\"Zentrel\",\"kind\":\"InputBox\",\"title\":\"Quillon Setup\","
                "\"style\":0,\"text\":\"Address?\",\"answer\":\"r\xC3\xA9mi@example.com\"}",
                "{\"program\":\"Zentrel\",\"kind\":\"InputBox\",\"title\":\"Quillon Setup\","
                "\"style\":0,\"text\":\"Tab\\there \\\\ back\",\"answer\":null}",
                "{\"program\":\"Zentrel\",\"kind\":\"MsgBox\",\"title\":\"Uninstall Quillon\","
                "\"style\":64,\"text\":\"Done\",\"answer\":\"OK\"}"}));
}

TEST_F(ScriptedDialogsTest, BoxesOnManyThreadsTakeEveryAnswerExactlyOnce) {
  std::string queue;
  for (int i = 0; i < 120; ++i) queue += "answer " + std::to_string(i) + "\n";
  Queue(queue);
  std::mutex mutex;
  std::vector<std::string> taken;
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&] {
      Win32Dialogs own("Setup");
      for (int i = 0; i < 30; ++i) {
        auto answer = own.InputBox("?", "Quillon Setup", "");
        std::lock_guard<std::mutex> lock(mutex);
        taken.push_back(answer.value_or("<none>"));
      }
    });
  }
  for (auto& thread : threads) thread.join();
  std::sort(taken.begin(), taken.end());
  std::vector<std::string> expected;
  for (int i = 0; i < 120; ++i) expected.push_back("answer " + std::to_string(i));
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(taken, expected);
  EXPECT_EQ(LogLines().size(), 120u);
}

TEST(DialogScript, DefaultButtonsFollowTheBoxesButtons) {
  EXPECT_EQ(MessageBoxAnswer(std::nullopt, 0), kIdOk);
  EXPECT_EQ(MessageBoxAnswer(std::nullopt, 16), kIdOk);
  EXPECT_EQ(MessageBoxAnswer(std::nullopt, 36), kIdNo);
  EXPECT_EQ(MessageBoxAnswer(std::nullopt, 1), kIdCancel);
  EXPECT_EQ(MessageBoxAnswer(std::nullopt, 3), kIdCancel);
  EXPECT_EQ(MessageBoxAnswer(std::string("Yes"), 36), kIdYes);
  EXPECT_EQ(MessageBoxAnswer(std::string(" yes\t"), 36), kIdYes);
  EXPECT_EQ(MessageBoxAnswer(std::string("Y"), 36), kIdNo);
  EXPECT_EQ(MessageBoxAnswer(std::string("Cancel"), 3), kIdCancel);
  EXPECT_EQ(MessageBoxAnswer(std::string("No"), 3), kIdNo);
}

// Real windows: no answer queue, a "person" on another thread.
class RealDialogsTest : public ::testing::Test {
 protected:
  RealDialogsTest()
      : no_answers_(kAnswersVariable, std::nullopt),
        log_(kDialogLogVariable, scratch / "dialogs.jsonl") {}

  ScratchFolder scratch;
  ScopedVariable no_answers_;
  ScopedVariable log_;
  Win32Dialogs dialogs{"Zentrel"};
};

TEST_F(RealDialogsTest, TheDenialBoxShowsItsTextAndButtonsAndReturnsThePressedOne) {
  const std::string text =
      "User \"bob\" is not permitted to run the file \"C:\\GAMES\\SOL.EXE\".\r\n\r\nWould you "
      "like to request access to this file?";
  auto person = AnswerBox("Access Denied!", "No");
  EXPECT_EQ(dialogs.MsgBox(text, 20, "Access Denied!"), kIdNo);
  const BoxSeen seen = person.get();
  ASSERT_TRUE(seen.found);
  EXPECT_NE(seen.text.find("User \"bob\" is not permitted to run the file"), std::string::npos);
  EXPECT_NE(seen.text.find("Would you like to request access to this file?"), std::string::npos);
  EXPECT_EQ(seen.buttons, (std::vector<std::string>{"Yes", "No"}));

  auto yes = AnswerBox("Access Denied!", "Yes");
  EXPECT_EQ(dialogs.MsgBox(text, 20, "Access Denied!"), kIdYes);
  ASSERT_TRUE(yes.get().found);
  const auto log = Lines(*ReadBytes(scratch / "dialogs.jsonl"));
  ASSERT_EQ(log.size(), 2u);
  EXPECT_NE(log[0].find("\"answer\":\"No\""), std::string::npos);
  EXPECT_NE(log[1].find("\"answer\":\"Yes\""), std::string::npos);
}

TEST_F(RealDialogsTest, AnInformationBoxHasOneOkButton) {
  auto person = AnswerBox("Access Request Sent", "OK");
  EXPECT_EQ(dialogs.MsgBox("An access request has been sent to your administrator.", 64,
                           "Access Request Sent"),
            kIdOk);
  const BoxSeen seen = person.get();
  ASSERT_TRUE(seen.found);
  EXPECT_EQ(seen.text, "An access request has been sent to your administrator.");
  EXPECT_EQ(seen.buttons, (std::vector<std::string>{"OK"}));
}

TEST_F(RealDialogsTest, TheInputBoxShowsPromptTitleAndDefaultAndGivesTheTypedText) {
  const std::string prompt =
      "If you would like users to be able to request access via e-mail when they are denied "
      "access to a particular program, please enter an administrative e-mail address.";
  auto person = AnswerBox("Quillon Setup", "OK", std::string("admin@example.com"));
  EXPECT_EQ(dialogs.InputBox(prompt, "Quillon Setup", "preset"), "admin@example.com");
  const BoxSeen seen = person.get();
  ASSERT_TRUE(seen.found);
  EXPECT_EQ(seen.text, prompt);
  EXPECT_EQ(seen.field_before, "preset");
  EXPECT_EQ(seen.buttons, (std::vector<std::string>{"OK", "Cancel"}));

  auto untouched = AnswerBox("Quillon Setup", "OK");
  EXPECT_EQ(dialogs.InputBox(prompt, "Quillon Setup", ""), "");
  ASSERT_TRUE(untouched.get().found);

  auto cancel = AnswerBox("Quillon Setup", "Cancel", std::string("typed, then cancelled"));
  EXPECT_EQ(dialogs.InputBox(prompt, "Quillon Setup", ""), std::nullopt);
  ASSERT_TRUE(cancel.get().found);

  const auto log = Lines(*ReadBytes(scratch / "dialogs.jsonl"));
  ASSERT_EQ(log.size(), 3u);
  EXPECT_NE(log[0].find("\"answer\":\"admin@example.com\""), std::string::npos);
  EXPECT_NE(log[1].find("\"answer\":\"\""), std::string::npos);
  EXPECT_NE(log[2].find("\"answer\":null"), std::string::npos);
}

}  // namespace
}  // namespace quillon::testing
