// ZentrelConfig against the recording fakes: what each switch reads, writes
// and shows, what it leaves alone, and how a registry failure ends it.
#include "switch/hooking_switch.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "fakes/fake_host.h"
#include "shared/program_main.h"

namespace quillon {
namespace {

using ::testing::ElementsAre;
using testing::FakeMachine;
using ::testing::IsEmpty;

constexpr char kValuePath[] =
    "HKLM\\SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Windows\\AppInit_DLLs";

// Journal lines as the fakes write them.
std::string ReadEntry() {
  return std::string("RegRead ") + kValuePath;
}
std::string WriteEntry(const std::string& data) {
  return std::string("RegWrite ") + kValuePath + " = \"" + data + "\" REG_SZ";
}
std::string InfoBox(const std::string& title, const std::string& text) {
  return "MsgBox 64 \"" + title + "\" \"" + text + "\" -> 1";
}
const char kOnText[] = "Zentrel process hooking is currently turned ON.";
const char kOffText[] = "Zentrel process hooking is currently turned OFF.";
const char kEnabledText[] = "Zentrel process hooking has been enabled.";
const char kDisabledText[] = "Zentrel process hooking has been disabled.";

class HookingSwitchTest : public ::testing::Test {
 protected:
  void SetUp() override { machine_.shell.SetValue(kValuePath, "Zentrel.dll"); }

  int RunSwitch(const std::string& argument_text) {
    Host host = machine_.host();
    return RunProgramBody(host, "ZentrelConfig", argument_text, RunHookingSwitch);
  }
  std::string Value() const { return machine_.shell.Value(kValuePath).value_or("<missing>"); }

  FakeMachine machine_;
};

// ------------------------------------------------------------------- -QUERY

struct QueryCase {
  std::string value;
  bool on;
};

void PrintTo(const QueryCase& c, std::ostream* out) {
  *out << "\"" << c.value << "\"";
}

class HookingQueryTest : public HookingSwitchTest,
                         public ::testing::WithParamInterface<QueryCase> {};

TEST_P(HookingQueryTest, ReportsWhetherTheValueNamesTheHookLibraryAndChangesNothing) {
  machine_.shell.SetValue(kValuePath, GetParam().value);

  EXPECT_EQ(RunSwitch("-QUERY"), 0);

  EXPECT_THAT(machine_.journal.entries(),
              ElementsAre(ReadEntry(), InfoBox("Query Zentrel Configuration",
                                               GetParam().on ? kOnText : kOffText)));
  EXPECT_EQ(Value(), GetParam().value);
}

INSTANTIATE_TEST_SUITE_P(
    Values, HookingQueryTest,
    ::testing::Values(QueryCase{"Zentrel.dll", true}, QueryCase{"", false},
                      QueryCase{"zentrel.dll", true}, QueryCase{"Other.dll zentrel.dll", true},
                      QueryCase{"C:\\WINDOWS\\system32\\ZENTREL.DLL", true},
                      QueryCase{"ZENTREL.DLL,Other.dll", true},  // found at the first character
                      QueryCase{"Other.dll", false}, QueryCase{"Zentrel.dl", false},
                      QueryCase{"Zentrel", false}));

TEST_F(HookingSwitchTest, QueryWithoutTheValueEndsWithTheErrorReportAndNoMessage) {
  machine_.shell.RegDelete(kValuePath);
  machine_.journal.Clear();

  EXPECT_EQ(RunSwitch("-QUERY"), 1);

  const std::vector<std::string>& entries = machine_.journal.entries();
  ASSERT_EQ(entries.size(), 2u);
  EXPECT_EQ(entries[0], ReadEntry() + " [failed]");
  EXPECT_THAT(entries[1],
              ::testing::StartsWith("MsgBox 16 \"ZentrelConfig\" \"Error -2147024894: "));
}

// ---------------------------------------------------------- -ENABLE, -DISABLE

// The value before -ENABLE: its data and type, or missing.
struct EnableCase {
  const char* name;
  std::optional<std::string> data;
  std::string type;
};

class HookingEnableTest : public HookingSwitchTest,
                          public ::testing::WithParamInterface<EnableCase> {};

TEST_P(HookingEnableTest, WritesTheBareLibraryNameAsTextThenTells) {
  machine_.shell.RegDelete(kValuePath);
  if (GetParam().data) machine_.shell.SetValue(kValuePath, *GetParam().data, GetParam().type);
  machine_.journal.Clear();

  EXPECT_EQ(RunSwitch("-ENABLE"), 0);

  EXPECT_THAT(machine_.journal.entries(),
              ElementsAre(WriteEntry("Zentrel.dll"),
                          InfoBox("Change Zentrel Configuration", kEnabledText)));
  EXPECT_EQ(Value(), "Zentrel.dll");
  EXPECT_EQ(machine_.shell.ValueType(kValuePath), "REG_SZ");
}

INSTANTIATE_TEST_SUITE_P(StartingValues, HookingEnableTest,
                         ::testing::Values(EnableCase{"OtherLibrary", "Other.dll", "REG_EXPAND_SZ"},
                                           EnableCase{"AlreadyTheLibrary", "Zentrel.dll", "REG_SZ"},
                                           EnableCase{"Missing", std::nullopt, ""}),
                         [](const auto& test_info) { return std::string(test_info.param.name); });

TEST_F(HookingSwitchTest, DisableEmptiesTheWholeValueOtherLibrariesIncluded) {
  machine_.shell.SetValue(kValuePath, "Other.dll zentrel.dll");
  ASSERT_EQ(RunSwitch("-QUERY"), 0);

  EXPECT_EQ(RunSwitch("-DISABLE"), 0);

  EXPECT_THAT(machine_.journal.entries(),
              ElementsAre(ReadEntry(), InfoBox("Query Zentrel Configuration", kOnText),
                          WriteEntry(""), InfoBox("Change Zentrel Configuration", kDisabledText)));
  EXPECT_EQ(Value(), "");
  EXPECT_EQ(machine_.shell.ValueType(kValuePath), "REG_SZ");
}

TEST_F(HookingSwitchTest, QueryAfterEachChangeSeesIt) {
  ASSERT_EQ(RunSwitch("-disable"), 0);
  ASSERT_EQ(RunSwitch("-query"), 0);
  ASSERT_EQ(RunSwitch("-enable"), 0);
  ASSERT_EQ(RunSwitch("-query"), 0);

  EXPECT_THAT(machine_.journal.Starting("MsgBox"),
              ElementsAre(InfoBox("Change Zentrel Configuration", kDisabledText),
                          InfoBox("Query Zentrel Configuration", kOffText),
                          InfoBox("Change Zentrel Configuration", kEnabledText),
                          InfoBox("Query Zentrel Configuration", kOnText)));
}

struct WriteFailureCase {
  std::string argument;
  std::string data;
};

void PrintTo(const WriteFailureCase& c, std::ostream* out) {
  *out << c.argument;
}

class HookingWriteFailureTest : public HookingSwitchTest,
                                public ::testing::WithParamInterface<WriteFailureCase> {};

TEST_P(HookingWriteFailureTest, EndsWithTheErrorReportInsteadOfItsMessage) {
  machine_.shell.SetValue(kValuePath, "Other.dll");
  machine_.faults.Fail("RegWrite", "AppInit_DLLs", error_number::kAccessDenied,
                       "Unable to save the registry value.");

  EXPECT_EQ(RunSwitch(GetParam().argument), 1);

  EXPECT_THAT(machine_.journal.entries(),
              ElementsAre(WriteEntry(GetParam().data) + " [failed]",
                          "MsgBox 16 \"ZentrelConfig\" \"Error -2147024891: Unable to save the "
                          "registry value.\" -> 1"));
  EXPECT_EQ(Value(), "Other.dll");
}

INSTANTIATE_TEST_SUITE_P(Switches, HookingWriteFailureTest,
                         ::testing::Values(WriteFailureCase{"-ENABLE", "Zentrel.dll"},
                                           WriteFailureCase{"-Disable", ""}));

// ------------------------------------------------------ the switch text itself

struct SpellingCase {
  std::string argument;
  std::string operation;  // the journal line the switch's registry operation leaves
};

void PrintTo(const SpellingCase& c, std::ostream* out) {
  *out << c.argument;
}

class HookingSwitchCaseTest : public HookingSwitchTest,
                              public ::testing::WithParamInterface<SpellingCase> {};

TEST_P(HookingSwitchCaseTest, IsRecognisedInAnyMixOfCase) {
  machine_.shell.SetValue(kValuePath, "Other.dll");

  EXPECT_EQ(RunSwitch(GetParam().argument), 0);

  ASSERT_EQ(machine_.journal.entries().size(), 2u);
  EXPECT_EQ(machine_.journal.entries()[0], GetParam().operation);
}

INSTANTIATE_TEST_SUITE_P(Spellings, HookingSwitchCaseTest,
                         ::testing::Values(SpellingCase{"-query", ReadEntry()},
                                           SpellingCase{"-QuErY", ReadEntry()},
                                           SpellingCase{"-enable", WriteEntry("Zentrel.dll")},
                                           SpellingCase{"-Enable", WriteEntry("Zentrel.dll")},
                                           SpellingCase{"-disable", WriteEntry("")},
                                           SpellingCase{"-dIsAbLe", WriteEntry("")}));

class HookingIgnoredTextTest : public HookingSwitchTest,
                               public ::testing::WithParamInterface<std::string> {};

TEST_P(HookingIgnoredTextTest, ReadsWritesAndShowsNothingEvenWhenTheRegistryWouldFail) {
  machine_.shell.SetValue(kValuePath, "Other.dll");
  machine_.faults.Fail("RegRead");
  machine_.faults.Fail("RegWrite");

  EXPECT_EQ(RunSwitch(GetParam()), 0);

  EXPECT_THAT(machine_.journal.entries(), IsEmpty());
  EXPECT_EQ(Value(), "Other.dll");
}

INSTANTIATE_TEST_SUITE_P(Texts, HookingIgnoredTextTest,
                         ::testing::Values("", " ", "-QUERY -ENABLE", "-ENABLE -DISABLE",
                                           "-ENABLE now", " -QUERY", "-QUERY ", "-DISABLE\t",
                                           "QUERY", "/ENABLE", "--DISABLE", "-QUER", "-ENABLED",
                                           "\"-QUERY\"", "-HELP"));

}  // namespace
}  // namespace quillon
