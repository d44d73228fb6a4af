// The platform services' contract: the environment reader with the shell's
// environment, and the directory search, the same bodies for the fake, the
// portable machine and Windows.
//
// An environment backend offers reader(), shell() and Set(name, value) for
// the process's (or the fake's) variables, and undoes what it set.
// A search backend offers search(), Root() (the Windows path of an empty
// folder of its own), AddFolder(path), AddFile(path), ShortAlias(path) (the
// short alias the file system gives the last element of path) and
// EnterFolder(path).
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "shared/host_shell.h"
#include "shared/platform.h"

namespace quillon::testing {

template <typename Backend>
class EnvironmentContract : public ::testing::Test {
 protected:
  Backend backend;
};

TYPED_TEST_SUITE_P(EnvironmentContract);

// A value reads only when it fits the buffer with its terminating NUL.
TYPED_TEST_P(EnvironmentContract, ValuesReadOnlyWhenTheyFitTheBuffer) {
  this->backend.Set("QUILLON_FITS", std::string(254, 'f'));
  this->backend.Set("QUILLON_EXACT", std::string(255, 'e'));
  this->backend.Set("QUILLON_LONG", std::string(300, 'l'));
  EnvironmentReader& reader = this->backend.reader();
  EXPECT_EQ(reader.Read("QUILLON_FITS", 255), std::string(254, 'f'));
  EXPECT_EQ(reader.Read("QUILLON_EXACT", 255), "");
  EXPECT_EQ(reader.Read("QUILLON_LONG", 255), "");
  EXPECT_EQ(reader.Read("QUILLON_LONG", 301), std::string(300, 'l'));
  EXPECT_EQ(reader.Read("QUILLON_NEVER_SET", 255), "");
  EXPECT_EQ(this->backend.shell().Environment("QUILLON_LONG"), std::string(300, 'l'));
  EXPECT_EQ(this->backend.shell().Environment("QUILLON_NEVER_SET"), "");
}

// Windows finds a variable whatever the case of the name asked for.
TYPED_TEST_P(EnvironmentContract, NamesMatchWithoutRegardToCase) {
  this->backend.Set("Quillon_Mixed_Case", "C:\\Program Files");
  EXPECT_EQ(this->backend.reader().Read("QUILLON_MIXED_CASE", 255), "C:\\Program Files");
  EXPECT_EQ(this->backend.reader().Read("quillon_mixed_case", 255), "C:\\Program Files");
  EXPECT_EQ(this->backend.shell().Environment("QUILLON_MIXED_CASE"), "C:\\Program Files");
  EXPECT_EQ(this->backend.shell().Environment(""), "");
  // Accented letters fold as ASCII ones do.
  this->backend.Set("Quillon_Caf\xe9", "1252");
  EXPECT_EQ(this->backend.reader().Read("QUILLON_CAF\xc9", 255), "1252");
  EXPECT_EQ(this->backend.shell().Environment("quillon_caf\xe9"), "1252");
  EXPECT_EQ(this->backend.shell().Environment("QUILLON_CAFE"), "");
}

REGISTER_TYPED_TEST_SUITE_P(EnvironmentContract, ValuesReadOnlyWhenTheyFitTheBuffer,
                            NamesMatchWithoutRegardToCase);

template <typename Backend>
class DirectorySearchContract : public ::testing::Test {
 protected:
  std::string Path(const std::string& relative) { return backend.Root() + "\\" + relative; }
  std::string Find(const std::string& relative, unsigned attributes = kSearchAllEntries) {
    return backend.search().FindFirstName(Path(relative), attributes);
  }
  Backend backend;
};

TYPED_TEST_SUITE_P(DirectorySearchContract);

// The stored name for a name in any case, a wildcard pattern or the short
// alias; "" for what is not there.
TYPED_TEST_P(DirectorySearchContract, GivesTheStoredNameOfWhatIsThere) {
  this->backend.AddFolder(this->Path("Program Files Long Name\\Tools"));
  this->backend.AddFile(this->Path("Program Files Long Name\\Tools\\Game.exe"));
  const std::string alias = this->backend.ShortAlias(this->Path("Program Files Long Name"));
  ASSERT_FALSE(alias.empty());

  struct Case {
    std::string pattern;
    const char* found;
  };
  const Case cases[] = {
      {"PROGRAM FILES LONG NAME", "Program Files Long Name"},
      {"program files long name\\TOOLS", "Tools"},
      {"Program Files Long Name\\Tools\\GAME.EXE", "Game.exe"},
      {"Program Files Long Name\\Tools\\*.EXE", "Game.exe"},
      {"Program Files Long Name\\Tools\\g?me.*", "Game.exe"},
      {alias, "Program Files Long Name"},
      {"Gone", ""},
      {"Gone\\Game.exe", ""},
      {"Program Files Long Name\\Tools\\*.dll", ""},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(this->Find(c.pattern), c.found) << c.pattern;
  }
  EXPECT_EQ(this->backend.search().FindFirstName("", kSearchAllEntries), "");
}

// Patterns match as a directory search matches them: dots and stars left
// over at the end of a name match nothing, so that "*.*" and "README.*" find
// "README"; the case of accented letters is folded where the host folds it
// (Windows), matched as given where it folds ASCII letters alone.
TYPED_TEST_P(DirectorySearchContract, AccentedLettersAndLeftoverDotsMatchAsTheHostDoes) {
  this->backend.AddFolder(this->Path("Accents"));
  this->backend.AddFile(this->Path("Accents\\Caf\xe9 Cr\xe8me.txt"));
  this->backend.AddFolder(this->Path("NoDot"));
  this->backend.AddFile(this->Path("NoDot\\README"));
  const std::string accented = "Caf\xe9 Cr\xe8me.txt";
  const std::string where_folded = TypeParam::kFoldsCodePageLetters ? accented : "";

  struct Case {
    std::string pattern;
    std::string found;
  };
  const Case cases[] = {
      {"Accents\\CAF\xc9 CR\xc8ME.TXT", where_folded},
      {"Accents\\CAF\xe9 CR\xe8ME.TXT", accented},
      {"Accents\\*\xc8ME.*", where_folded},
      {"Accents\\caf? cr?me.txt", accented},
      {"Accents\\CAFE*", ""},
      {"NoDot\\*.*", "README"},
      {"NoDot\\readme.*", "README"},
      {"NoDot\\R?ADME.*", "README"},
      {"NoDot\\*.txt", ""},
      {"NoDot\\READ.*", ""},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(this->Find(c.pattern), c.found) << c.pattern;
  }
}

// Folders are found only when the directory attribute is asked for; files
// always.
TYPED_TEST_P(DirectorySearchContract, FoldersOnlyWhenAskedFor) {
  this->backend.AddFolder(this->Path("Tools"));
  this->backend.AddFile(this->Path("plain.txt"));
  EXPECT_EQ(this->Find("TOOLS", 0), "");
  EXPECT_EQ(this->Find("TOOLS", 16), "Tools");
  EXPECT_EQ(this->Find("PLAIN.TXT", 0), "plain.txt");
  EXPECT_EQ(this->Find("PLAIN.TXT", 16), "plain.txt");
}

// A pattern without a folder is looked up in the current folder.
TYPED_TEST_P(DirectorySearchContract, ABareNameIsLookedUpInTheCurrentFolder) {
  this->backend.AddFolder(this->Path("Work"));
  this->backend.AddFile(this->Path("Work\\Notes.txt"));
  this->backend.EnterFolder(this->Path("Work"));
  EXPECT_EQ(this->backend.search().FindFirstName("NOTES.TXT", kSearchAllEntries), "Notes.txt");
  EXPECT_EQ(this->backend.search().FindFirstName("Gone.txt", kSearchAllEntries), "");
}

REGISTER_TYPED_TEST_SUITE_P(DirectorySearchContract, GivesTheStoredNameOfWhatIsThere,
                            AccentedLettersAndLeftoverDotsMatchAsTheHostDoes,
                            FoldersOnlyWhenAskedFor, ABareNameIsLookedUpInTheCurrentFolder);

}  // namespace quillon::testing
