// The registry file of the portable machine: its format, the code page at
// the file's boundary, order and bare keys, verbatim value kinds, the shell's
// registry operations and their errors, and writers in several processes.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include "fakes/fake_host.h"
#include "shared/backend/registry_path.h"
#include "shared/host_error.h"
#include "shared/posix/posix_shell.h"
#include "shared/posix/registry_file.h"
#include "support/error_number_of.h"
#include "support/test_machine.h"

namespace quillon::testing {
namespace {

using ::testing::HasSubstr;
using ::testing::Not;

constexpr char kSample[] =
    "\xEF\xBB\xBFWindows Registry Editor Version 5.00\r\n"
    "\r\n"
    "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Windows]\r\n"
    "\"AppInit_DLLs\"=\"Zentrel.dll\"\r\n"
    "\"LoadAppInit_DLLs\"=dword:00000001\r\n"
    "\r\n"
    "[HKEY_LOCAL_MACHINE\\SYSTEM\\Empty]\r\n"
    "\r\n"
    "[HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Services\\W3SVC]\r\n"
    "\"Start\"=dword:0000000a\r\n"
    "\"Blob\"=hex:01,02,03,\\\r\n"
    "  04,05\r\n"
    "@=\"default \\\"quoted\\\" C:\\\\x\"\r\n"
    "; a comment that must survive\r\n"
    "\r\n";

TEST(RegistryContentTest, ParsesTheEditorsExportFormat) {
  const RegistryContent content = RegistryContent::Parse(kSample);
  ASSERT_EQ(content.keys().size(), 3u);
  const std::string windows =
      "HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Windows";

  const RegistryValue* value = content.FindValue(windows, "AppInit_DLLs");
  ASSERT_NE(value, nullptr);
  EXPECT_EQ(value->kind, RegistryKind::kString);
  EXPECT_EQ(value->data, "Zentrel.dll");
  // Key and value names match without regard to case.
  value = content.FindValue(
      "hkey_local_machine\\software\\MICROSOFT\\windows nt\\currentversion\\windows",
      "appinit_dlls");
  ASSERT_NE(value, nullptr);
  EXPECT_EQ(value->data, "Zentrel.dll");

  const std::string w3svc = "HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Services\\W3SVC";
  value = content.FindValue(w3svc, "Start");
  ASSERT_NE(value, nullptr);
  EXPECT_EQ(value->kind, RegistryKind::kDword);
  EXPECT_EQ(value->data, "10");
  value = content.FindValue(w3svc, "Blob");
  ASSERT_NE(value, nullptr);
  EXPECT_EQ(value->kind, RegistryKind::kVerbatim);
  value = content.FindValue(w3svc, "");
  ASSERT_NE(value, nullptr);
  EXPECT_EQ(value->data, "default \"quoted\" C:\\x");

  ASSERT_NE(content.FindKey("HKEY_LOCAL_MACHINE\\SYSTEM\\Empty"), nullptr);
  EXPECT_TRUE(content.FindKey("HKEY_LOCAL_MACHINE\\SYSTEM\\Empty")->values.empty());
  EXPECT_EQ(content.FindKey("HKEY_LOCAL_MACHINE\\SYSTEM"), nullptr);
  EXPECT_EQ(content.FindValue(w3svc, "Missing"), nullptr);
}

TEST(RegistryContentTest, FormattingKeepsOrderBareKeysVerbatimValuesAndLineEnds) {
  const std::string formatted = RegistryContent::Parse(kSample).Format();
  // Everything comes back, in order, with CR LF, minus the byte-order mark.
  EXPECT_EQ(formatted, std::string(kSample).substr(3));

  // LF files stay LF.
  const std::string lf =
      "Windows Registry Editor Version 5.00\n\n[HKEY_CURRENT_USER\\A]\n\"x\"=\"1\"\n\n";
  EXPECT_EQ(RegistryContent::Parse(lf).Format(), lf);
  // A new registry is written with CR LF, like the editor's exports.
  RegistryContent fresh = RegistryContent::Parse("");
  fresh.AddKey("HKEY_CURRENT_USER\\B");
  EXPECT_EQ(fresh.Format(),
            "Windows Registry Editor Version 5.00\r\n\r\n[HKEY_CURRENT_USER\\B]\r\n\r\n");
}

TEST(RegistryContentTest, ChangesKeepPlacesAndSpellings) {
  RegistryContent content = RegistryContent::Parse(
      "Windows Registry Editor Version 5.00\n\n"
      "[HKEY_LOCAL_MACHINE\\K1]\n\"First\"=\"1\"\n\"Second\"=\"2\"\n\n"
      "[HKEY_LOCAL_MACHINE\\K2]\n\"Only\"=\"x\"\n\n");
  content.SetValue("hkey_local_machine\\k1", {"FIRST", RegistryKind::kString, "one"});
  content.SetValue("HKEY_LOCAL_MACHINE\\K1", {"Third", RegistryKind::kDword, "3"});
  content.SetValue("HKEY_LOCAL_MACHINE\\K3\\Deep", {"New", RegistryKind::kString, "n"});
  EXPECT_TRUE(content.DeleteValue("HKEY_LOCAL_MACHINE\\K2", "ONLY"));
  EXPECT_FALSE(content.DeleteValue("HKEY_LOCAL_MACHINE\\K2", "ONLY"));
  EXPECT_FALSE(content.DeleteValue("HKEY_LOCAL_MACHINE\\Nowhere", "x"));
  EXPECT_EQ(content.Format(),
            "Windows Registry Editor Version 5.00\n\n"
            "[HKEY_LOCAL_MACHINE\\K1]\n\"First\"=\"one\"\n\"Second\"=\"2\"\n"
            "\"Third\"=dword:00000003\n\n"
            "[HKEY_LOCAL_MACHINE\\K2]\n\n"
            "[HKEY_LOCAL_MACHINE\\K3\\Deep]\n\"New\"=\"n\"\n\n");
}

TEST(RegistryContentTest, TextIsUtf8OnDiskAndSystemCodePageInMemory) {
  RegistryContent content = RegistryContent::Parse("");
  content.SetValue("HKEY_CURRENT_USER\\Caf\xE9", {"Pr\xE8s", RegistryKind::kString, "\x80 5"});
  const std::string text = content.Format();
  EXPECT_THAT(text, HasSubstr("[HKEY_CURRENT_USER\\Caf\xC3\xA9]"));
  EXPECT_THAT(text, HasSubstr("\"Pr\xC3\xA8s\"=\"\xE2\x82\xAC 5\""));

  const RegistryContent back = RegistryContent::Parse(text);
  const RegistryValue* value = back.FindValue("HKEY_CURRENT_USER\\CAF\xC9", "PR\xC8S");
  ASSERT_NE(value, nullptr);
  EXPECT_EQ(value->data, "\x80 5");
}

TEST(RegistryContentTest, LineBreaksInDataCannotInjectKeys) {
  const std::string hostile = "x\"\r\n[HKEY_LOCAL_MACHINE\\Injected]\r\n\"Evil\"=\"1";
  RegistryContent content = RegistryContent::Parse("");
  content.SetValue("HKEY_LOCAL_MACHINE\\Safe", {"Data", RegistryKind::kString, hostile});
  const std::string text = content.Format();
  EXPECT_THAT(text, Not(HasSubstr("[HKEY_LOCAL_MACHINE\\Injected]")));
  EXPECT_THAT(text, HasSubstr("\"Data\"=hex(1):78,00,22,00,0d,00,0a,00,"));

  const RegistryContent back = RegistryContent::Parse(text);
  EXPECT_EQ(back.keys().size(), 1u);
  const RegistryValue* value = back.FindValue("HKEY_LOCAL_MACHINE\\Safe", "Data");
  ASSERT_NE(value, nullptr);
  EXPECT_EQ(value->kind, RegistryKind::kString);
  EXPECT_EQ(value->data, hostile);

  // Names have no escape for a line break at all: refused.
  EXPECT_EQ(ErrorNumberOf([&] { content.AddKey("HKEY_LOCAL_MACHINE\\A\n[B]"); }),
            error_number::kInvalidProcedureCall);
  EXPECT_EQ(ErrorNumberOf([&] {
              content.SetValue("HKEY_LOCAL_MACHINE\\A", {"n\r\n", RegistryKind::kString, ""});
            }),
            error_number::kInvalidProcedureCall);
}

// Found by fuzzing: a value whose data ends in a continuation backslash on
// the file's last line took the key's closing blank line when read back.
TEST(RegistryContentTest, AContinuationAtTheEndOfTheFileReadsTheSameAfterARewrite) {
  for (const char* text : {"[k]\n\"v\"=\\\n", "[k]\r\njunk\r\n\"v\"=hex:00,\\", "[k]\n@=\\"}) {
    const RegistryContent content = RegistryContent::Parse(text);
    const RegistryContent back = RegistryContent::Parse(content.Format());
    ASSERT_EQ(back.keys().size(), 1u) << text;
    ASSERT_EQ(back.keys()[0].values.size(), 1u) << text;
    EXPECT_EQ(back.keys()[0].values[0].data, content.keys()[0].values[0].data) << text;
    EXPECT_EQ(back.Format(), content.Format()) << text;
  }
}

// Found by fuzzing: in an LF file, a line ending in several CRs lost one CR
// at every rewrite, so the file never settled.
TEST(RegistryContentTest, StrayCarriageReturnsSettleAfterOneRewrite) {
  for (const char* text :
       {"x\n[k]\njunk\r\r\r\n\"v\"=\"1\"\r\r\n", "x\n#\r\r\n[k]\n\"v\"=hex:00,\\\n 01\r\r\r\n",
        "x\r\n[k]\r\njunk\r\r\r\n@=\"1\"\r\r\n"}) {
    const std::string once = RegistryContent::Parse(text).Format();
    const RegistryContent back = RegistryContent::Parse(once);
    EXPECT_EQ(back.Format(), once) << text;
    ASSERT_EQ(back.keys().size(), 1u) << text;
    EXPECT_EQ(back.keys()[0].values[0].data, RegistryContent::Parse(text).keys()[0].values[0].data)
        << text;
  }
}

TEST(RegistryPathTest, RootsAreSpelledOutAndTheLastElementIsTheValue) {
  std::optional<RegistryPath> path = ParseRegistryPath("HKLM\\SOFTWARE\\K\\Value");
  ASSERT_TRUE(path);
  EXPECT_EQ(path->FullKey(), "HKEY_LOCAL_MACHINE\\SOFTWARE\\K");
  EXPECT_EQ(path->value, "Value");
  path = ParseRegistryPath("hkcu\\Console\\");
  ASSERT_TRUE(path);
  EXPECT_EQ(path->FullKey(), "HKEY_CURRENT_USER\\Console");
  EXPECT_EQ(path->value, "");
  path = ParseRegistryPath("HKEY_LOCAL_MACHINE\\Top");
  ASSERT_TRUE(path);
  EXPECT_EQ(path->FullKey(), "HKEY_LOCAL_MACHINE");
  EXPECT_EQ(path->value, "Top");
  EXPECT_FALSE(ParseRegistryPath("HKXX\\SOFTWARE\\K"));
  EXPECT_FALSE(ParseRegistryPath("HKLM"));
}

TEST(RegistryContentTest, ManyKeysAreFoundByAnySpellingAndRepeatedBlocksMerge) {
  // Enough keys that a read which compares every key with every other one
  // does not finish within the test's time limit.
  constexpr int kKeys = 100000;
  std::string text = "Windows Registry Editor Version 5.00\r\n\r\n";
  for (int k = 0; k < kKeys; ++k) {
    text += "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Caf\xC3\xA9\\Key" + std::to_string(k) +
            "]\r\n\"V\"=\"" + std::to_string(k) + "\"\r\n\r\n";
  }
  // A later block of an earlier key adds to it; names that differ only in
  // letters outside the code page are different keys.
  text += "[hkey_local_machine\\software\\CAF\xC3\x89\\key7]\r\n\"W\"=\"late\"\r\n\r\n";
  text += "[HKEY_LOCAL_MACHINE\\SOFTWARE\\\xE6\x97\xA5]\r\n\"V\"=\"sun\"\r\n\r\n";
  text += "[HKEY_LOCAL_MACHINE\\SOFTWARE\\\xE6\x9C\x88]\r\n\"V\"=\"moon\"\r\n\r\n";

  RegistryContent content = RegistryContent::Parse(text);
  ASSERT_EQ(content.keys().size(), static_cast<std::size_t>(kKeys) + 2);
  for (int k = 0; k < kKeys; k += 997) {
    const RegistryValue* value =
        content.FindValue("hkey_local_machine\\SOFTWARE\\CAF\xC9\\KEY" + std::to_string(k), "v");
    ASSERT_NE(value, nullptr) << k;
    EXPECT_EQ(value->data, std::to_string(k));
  }
  const RegistryKey* merged = content.FindKey("HKEY_LOCAL_MACHINE\\SOFTWARE\\Caf\xE9\\Key7");
  ASSERT_NE(merged, nullptr);
  EXPECT_EQ(merged->values.size(), 2u);
  ASSERT_NE(content.FindValue("HKEY_LOCAL_MACHINE\\SOFTWARE\\CAF\xC9\\KEY7", "W"), nullptr);

  // Keys added after the read are found the same way, and a key that is
  // there already is not added twice.
  content.SetValue("HKEY_LOCAL_MACHINE\\SOFTWARE\\New", {"N", RegistryKind::kString, "1"});
  content.SetValue("hkey_local_machine\\software\\new", {"M", RegistryKind::kString, "2"});
  content.AddKey("HKEY_LOCAL_MACHINE\\SOFTWARE\\caf\xE9\\KEY99999");
  EXPECT_EQ(content.keys().size(), static_cast<std::size_t>(kKeys) + 3);
  EXPECT_EQ(content.FindKey("HKEY_LOCAL_MACHINE\\SOFTWARE\\NEW")->values.size(), 2u);

  const std::string formatted = content.Format();
  EXPECT_THAT(formatted,
              HasSubstr("[HKEY_LOCAL_MACHINE\\SOFTWARE\\\xE6\x97\xA5]\r\n\"V\"=\"sun\""));
  EXPECT_THAT(formatted,
              HasSubstr("[HKEY_LOCAL_MACHINE\\SOFTWARE\\\xE6\x9C\x88]\r\n\"V\"=\"moon\""));
}

// ---------------------------------------------------------- the real shell

class PosixRegistryTest : public ::testing::Test {
 protected:
  std::string RegistryText() const { return ReadPosixFile(scratch.InRoot("registry.reg")); }

  TestMachine scratch{MachineTree::kDrives};
  PortableMachine machine{scratch.root(), "Test"};
  PosixShell shell{machine};
};

TEST_F(PosixRegistryTest, WriteReadDeleteRoundTripThroughTheFile) {
  shell.RegWrite("HKLM\\SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Windows\\AppInit_DLLs",
                 "Zentrel.dll", "REG_SZ");
  shell.RegWrite("HKLM\\SYSTEM\\CurrentControlSet\\Services\\W3SVC\\Start", "2", "REG_DWORD");
  shell.RegWrite("HKCU\\Software\\Harlwick\\Path", "C:\\Program Files\\\"Q\"", "REG_SZ");

  EXPECT_EQ(RegistryText(),
            "Windows Registry Editor Version 5.00\r\n\r\n"
            "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Windows]\r\n"
            "\"AppInit_DLLs\"=\"Zentrel.dll\"\r\n\r\n"
            "[HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Services\\W3SVC]\r\n"
            "\"Start\"=dword:00000002\r\n\r\n"
            "[HKEY_CURRENT_USER\\Software\\Harlwick]\r\n"
            "\"Path\"=\"C:\\\\Program Files\\\\\\\"Q\\\"\"\r\n\r\n");

  EXPECT_EQ(shell.RegRead("HKEY_LOCAL_MACHINE\\software\\microsoft\\windows nt\\currentversion\\"
                          "windows\\APPINIT_DLLS"),
            "Zentrel.dll");
  EXPECT_EQ(shell.RegRead("HKLM\\SYSTEM\\CurrentControlSet\\Services\\W3SVC\\Start"), "2");
  EXPECT_EQ(shell.RegRead("HKEY_CURRENT_USER\\Software\\Harlwick\\Path"),
            "C:\\Program Files\\\"Q\"");

  // Replacing keeps the value's place; deleting keeps the key.
  shell.RegWrite("HKLM\\SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Windows\\appinit_dlls", "",
                 "REG_SZ");
  shell.RegDelete("HKLM\\SYSTEM\\CurrentControlSet\\Services\\W3SVC\\START");
  EXPECT_EQ(RegistryText(),
            "Windows Registry Editor Version 5.00\r\n\r\n"
            "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Windows]\r\n"
            "\"AppInit_DLLs\"=\"\"\r\n\r\n"
            "[HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Services\\W3SVC]\r\n\r\n"
            "[HKEY_CURRENT_USER\\Software\\Harlwick]\r\n"
            "\"Path\"=\"C:\\\\Program Files\\\\\\\"Q\\\"\"\r\n\r\n");
  EXPECT_EQ(shell.RegRead("HKLM\\SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Windows\\"
                          "AppInit_DLLs"),
            "");
}

TEST_F(PosixRegistryTest, DwordsReadAsDecimalDigits) {
  WritePosixFile(scratch.InRoot("registry.reg"),
                 "Windows Registry Editor Version 5.00\n\n"
                 "[HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Services\\MSSQLServer]\n"
                 "\"Start\"=dword:0000000c\n\"Max\"=dword:FFFFFFFF\n"
                 "\"Bin\"=hex:00,01\n\n");
  EXPECT_EQ(shell.RegRead("HKLM\\SYSTEM\\CurrentControlSet\\Services\\MSSQLServer\\Start"), "12");
  EXPECT_EQ(shell.RegRead("HKLM\\SYSTEM\\CurrentControlSet\\Services\\MSSQLServer\\Max"),
            "4294967295");
  // A kind the shell cannot give as text.
  EXPECT_EQ(ErrorNumberOf([&] {
              shell.RegRead("HKLM\\SYSTEM\\CurrentControlSet\\Services\\MSSQLServer\\Bin");
            }),
            error_number::kTypeMismatch);

  shell.RegWrite("HKLM\\SYSTEM\\CurrentControlSet\\Services\\MSSQLServer\\Start", "0002",
                 "REG_DWORD");
  EXPECT_EQ(shell.RegRead("HKLM\\SYSTEM\\CurrentControlSet\\Services\\MSSQLServer\\Start"), "2");
  EXPECT_THAT(RegistryText(), HasSubstr("\"Start\"=dword:00000002\n"));
  // The other values, and the LF line ends, are left as they were.
  EXPECT_THAT(RegistryText(), HasSubstr("\"Max\"=dword:FFFFFFFF\n\"Bin\"=hex:00,01\n"));
}

TEST_F(PosixRegistryTest, UntouchedEntriesAreWrittenBackByteForByte) {
  // Each entry as the file holds it, and what a program reads from it (in
  // the system code page; nullopt: not read here).
  struct Entry {
    std::string key;    // the [key] line's name, as in the file
    std::string value;  // the value line, as in the file
    std::string read_path;
    std::optional<std::string> reads;
  };
  const std::vector<Entry> entries = {
      // Text outside the code page reads as the 8-bit calls give it: "?".
      {"HKEY_LOCAL_MACHINE\\SOFTWARE\\Unicode",
       "\"Name\"=\"\xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E \xF0\x9F\x98\x80\"",
       "HKLM\\SOFTWARE\\Unicode\\Name", "??? ?"},
      // Latin-1 bytes where UTF-8 belongs.
      {"HKEY_LOCAL_MACHINE\\SOFTWARE\\Latin", "\"Text\"=\"Caf\xE9 cr\xE8me\"", "", std::nullopt},
      // Letters of the code page in names and data.
      {"HKEY_LOCAL_MACHINE\\SOFTWARE\\Caf\xC3\xA9", "\"Pr\xC3\xA8s\"=\"\xC3\xA0 \xE2\x82\xAC\"",
       "HKLM\\SOFTWARE\\CAF\xC9\\PR\xC8S", "\xE0 \x80"},
      // Key and value names outside the code page; two keys that differ only
      // in such letters stay two keys.
      {"HKEY_LOCAL_MACHINE\\SOFTWARE\\\xE6\x97\xA5", "\"\xF0\x9F\x98\x80\"=\"sun\"", "",
       std::nullopt},
      {"HKEY_LOCAL_MACHINE\\SOFTWARE\\\xE6\x9C\x88", "\"\xF0\x9F\x98\x80\"=\"moon\"", "",
       std::nullopt},
      // Spellings that a rewrite from the parsed data would change.
      {"HKEY_LOCAL_MACHINE\\SOFTWARE\\Spelling", "\"Max\"=dword:FFFFFFFF",
       "HKLM\\SOFTWARE\\Spelling\\Max", "4294967295"},
      {"HKEY_LOCAL_MACHINE\\SOFTWARE\\Lines", "\"Two\"=hex(1):41,00,0A,00,42,00,00,00",
       "HKLM\\SOFTWARE\\Lines\\Two", "A\nB"},
      {"HKEY_LOCAL_MACHINE\\SOFTWARE\\Escapes", "\"Odd\\q\"=\"x\\y\"", "", std::nullopt},
  };
  std::string original = "Windows Registry Editor Version 5.00\r\n\r\n";
  for (const Entry& entry : entries) {
    original += "[" + entry.key + "]\r\n" + entry.value + "\r\n\r\n";
  }
  WritePosixFile(scratch.InRoot("registry.reg"), original);

  shell.RegWrite("HKLM\\SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Windows\\AppInit_DLLs",
                 "Zentrel.dll", "REG_SZ");
  shell.RegWrite("HKLM\\SOFTWARE\\Unicode\\Added", "new", "REG_SZ");
  EXPECT_EQ(RegistryText(),
            "Windows Registry Editor Version 5.00\r\n\r\n"
            "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Unicode]\r\n" +
                entries[0].value + "\r\n\"Added\"=\"new\"\r\n\r\n" +
                original.substr(original.find("[HKEY_LOCAL_MACHINE\\SOFTWARE\\Latin]")) +
                "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Windows]\r\n"
                "\"AppInit_DLLs\"=\"Zentrel.dll\"\r\n\r\n");
  for (const Entry& entry : entries) {
    if (entry.reads) {
      EXPECT_EQ(shell.RegRead(entry.read_path), *entry.reads) << entry.read_path;
    }
  }
}

TEST_F(PosixRegistryTest, MissingValuesBadRootsAndBadDataFail) {
  shell.RegWrite("HKLM\\SOFTWARE\\K\\V", "x", "REG_SZ");
  EXPECT_EQ(ErrorNumberOf([&] { shell.RegRead("HKLM\\SOFTWARE\\K\\Other"); }),
            error_number::kSystemFileNotFound);
  EXPECT_EQ(ErrorNumberOf([&] { shell.RegRead("HKLM\\SOFTWARE\\Missing\\V"); }),
            error_number::kSystemFileNotFound);
  EXPECT_EQ(ErrorNumberOf([&] { shell.RegDelete("HKLM\\SOFTWARE\\K\\Other"); }),
            error_number::kSystemFileNotFound);
  EXPECT_EQ(ErrorNumberOf([&] { shell.RegRead("HKXX\\SOFTWARE\\K\\V"); }),
            error_number::kSystemFileNotFound);
  EXPECT_EQ(ErrorNumberOf([&] { shell.RegWrite("HKLM\\SOFTWARE\\K\\D", "two", "REG_DWORD"); }),
            error_number::kTypeMismatch);
  EXPECT_EQ(ErrorNumberOf([&] { shell.RegWrite("HKLM\\SOFTWARE\\K\\D", "", "REG_DWORD"); }),
            error_number::kTypeMismatch);
  EXPECT_EQ(
      ErrorNumberOf([&] { shell.RegWrite("HKLM\\SOFTWARE\\K\\D", "4294967296", "REG_DWORD"); }),
      error_number::kOverflow);
  EXPECT_EQ(ErrorNumberOf([&] { shell.RegWrite("HKLM\\SOFTWARE\\K\\D", "1", "REG_BLOB"); }),
            error_number::kInvalidProcedureCall);

  try {
    shell.RegRead("HKLM\\SOFTWARE\\K\\Other");
  } catch (const HostError& error) {
    EXPECT_EQ(error.description(),
              "Unable to open registry key \"HKLM\\SOFTWARE\\K\\Other\" for reading.");
  }
  // None of the failures changed the file.
  EXPECT_EQ(RegistryText(),
            "Windows Registry Editor Version 5.00\r\n\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\K]\r\n"
            "\"V\"=\"x\"\r\n\r\n");
}

TEST_F(PosixRegistryTest, AnAbsentRegistryHasNoValues) {
  EXPECT_EQ(ErrorNumberOf([&] { shell.RegRead("HKLM\\SOFTWARE\\K\\V"); }),
            error_number::kSystemFileNotFound);
  EXPECT_FALSE(PosixExists(scratch.InRoot("registry.reg")));
}

TEST_F(PosixRegistryTest, WritesFailWhenTheFileOrTheRootCannotBeWritten) {
  shell.RegWrite("HKLM\\SOFTWARE\\K\\V", "before", "REG_SZ");
  const std::string before = RegistryText();
  ASSERT_EQ(chmod(scratch.InRoot("registry.reg").c_str(), 0444), 0);
  const int read_only_file = RunUnprivileged([&] {
    PosixShell child_shell(machine);
    if (child_shell.RegRead("HKLM\\SOFTWARE\\K\\V") != "before") return 1;
    return ErrorNumberOf([&] {
             child_shell.RegWrite("HKLM\\SOFTWARE\\K\\V", "after", "REG_SZ");
           }) == error_number::kAccessDenied
               ? 0
               : 2;
  });
  EXPECT_EQ(read_only_file, 0);
  EXPECT_EQ(RegistryText(), before);

  // A lock file that root made does not keep another user from writing.
  ASSERT_EQ(chmod(scratch.InRoot("registry.reg").c_str(), 0666), 0);
  ASSERT_EQ(chmod(scratch.root().c_str(), 0777), 0);
  ASSERT_EQ(chmod(scratch.InRoot("registry.reg.lock").c_str(), 0644), 0);
  const int other_user = RunUnprivileged([&] {
    PosixShell child_shell(machine);
    child_shell.RegWrite("HKLM\\SOFTWARE\\K\\V", "by another user", "REG_SZ");
    return 0;
  });
  EXPECT_EQ(other_user, 0);
  EXPECT_EQ(shell.RegRead("HKLM\\SOFTWARE\\K\\V"), "by another user");

  // A root that cannot be written: not even the lock file can be made.
  TestMachine other{MachineTree::kDrives};
  ASSERT_EQ(chmod(other.root().c_str(), 0555), 0);
  const int read_only_root = RunUnprivileged([&] {
    PortableMachine other_machine(other.root(), "Test");
    PosixShell child_shell(other_machine);
    return ErrorNumberOf([&] { child_shell.RegWrite("HKLM\\SOFTWARE\\K\\V", "x", "REG_SZ"); }) ==
                   error_number::kAccessDenied
               ? 0
               : 1;
  });
  EXPECT_EQ(read_only_root, 0);
  EXPECT_FALSE(PosixExists(other.InRoot("registry.reg")));
}

// Something planted in the machine root under the names the registry file
// uses (a link to a file outside the machine, a FIFO) neither redirects a
// write nor makes it wait: the temporary file is made afresh under a name
// nobody can guess, and the registry and its lock must be regular files.
TEST(PosixRegistryBoundaryTest, PlantedFilesNeitherRedirectNorBlockAccess) {
  enum class Plant { kLinkOutside, kFifo };
  struct Case {
    std::string name;  // in the machine root
    Plant plant;
    long write_error;
    long read_error;
  };
  const Case cases[] = {
      {"registry.reg.<pid>.tmp", Plant::kLinkOutside, 0, 0},
      {"registry.reg.lock", Plant::kLinkOutside, error_number::kAccessDenied,
       error_number::kSystemFileNotFound},
      {"registry.reg.lock", Plant::kFifo, error_number::kAccessDenied,
       error_number::kSystemFileNotFound},
      {"registry.reg", Plant::kLinkOutside, error_number::kAccessDenied,
       error_number::kAccessDenied},
      {"registry.reg", Plant::kFifo, error_number::kAccessDenied, error_number::kAccessDenied},
  };
  const std::string outside_text =
      "Windows Registry Editor Version 5.00\r\n\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\K]\r\n"
      "\"V\"=\"outside\"\r\n\r\n";
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TestMachine scratch{MachineTree::kDrives};
    PortableMachine machine{scratch.root(), "Test"};
    const std::string outside = scratch.Scratch("outside.reg");
    WritePosixFile(outside, outside_text);

    // In a child, so that the test process never hangs on a FIFO; the
    // child plants, since a temporary name may hold the writer's pid.
    const int status = RunInChild([&] {
      std::string name = c.name;
      if (const std::size_t pid = name.find("<pid>"); pid != std::string::npos) {
        name.replace(pid, 5, std::to_string(getpid()));
      }
      const std::string planted = scratch.InRoot(name);
      if (c.plant == Plant::kLinkOutside ? symlink(outside.c_str(), planted.c_str()) != 0
                                         : mkfifo(planted.c_str(), 0644) != 0) {
        return 4;
      }
      PosixShell shell(machine);
      if (ErrorNumberOf([&] { shell.RegWrite("HKLM\\SOFTWARE\\K\\V", "inside", "REG_SZ"); }) !=
          c.write_error) {
        return 1;
      }
      std::string read;
      if (ErrorNumberOf([&] { read = shell.RegRead("HKLM\\SOFTWARE\\K\\V"); }) != c.read_error) {
        return 2;
      }
      return c.write_error != 0 || read == "inside" ? 0 : 3;
    });

    EXPECT_EQ(status, 0);
    EXPECT_EQ(ReadPosixFile(outside), outside_text);
    struct stat registry {};
    if (c.write_error == 0) {
      ASSERT_EQ(lstat(scratch.InRoot("registry.reg").c_str(), &registry), 0);
      EXPECT_TRUE(S_ISREG(registry.st_mode));
    }
  }
}

TEST_F(PosixRegistryTest, ConcurrentWritersInSeveralProcessesLoseNothing) {
  constexpr int kWriters = 8;
  constexpr int kValuesEach = 20;
  shell.RegWrite("HKLM\\SOFTWARE\\Shared\\Seed", "0", "REG_DWORD");

  // All writers start together when the pipe opens.
  int start[2];
  ASSERT_EQ(pipe(start), 0);
  std::vector<pid_t> writers;
  auto await_start = [&] {
    close(start[1]);
    char go = 0;
    return read(start[0], &go, 1) >= 0;
  };
  for (int w = 0; w < kWriters; ++w) {
    writers.push_back(StartInChild([&] {
      if (!await_start()) return 3;
      PosixShell child_shell(machine);
      for (int v = 0; v < kValuesEach; ++v) {
        const std::string name = "W" + std::to_string(w) + "V" + std::to_string(v);
        child_shell.RegWrite("HKLM\\SOFTWARE\\Shared\\" + name, name + "-data", "REG_SZ");
        child_shell.RegWrite("HKLM\\SOFTWARE\\Writer" + std::to_string(w) + "\\Count",
                             std::to_string(v + 1), "REG_DWORD");
      }
      return 0;
    }));
  }
  // A reader that must never see a partial file.
  const pid_t reader = StartInChild([&] {
    if (!await_start()) return 3;
    RegistryFile file(machine.RegistryFilePath());
    std::size_t seen = 0;
    for (int round = 0; round < 400; ++round) {
      const std::string text = ReadPosixFile(machine.RegistryFilePath());
      if (text.rfind("Windows Registry Editor Version 5.00\r\n", 0) != 0) return 4;
      if (text.size() < 4 || text.substr(text.size() - 4) != "\r\n\r\n") return 5;
      const RegistryContent content = file.Load();
      const RegistryKey* shared = content.FindKey("HKEY_LOCAL_MACHINE\\SOFTWARE\\Shared");
      if (shared == nullptr || shared->values.size() < seen) return 6;  // values never vanish
      seen = shared->values.size();
    }
    return 0;
  });
  close(start[0]);
  close(start[1]);  // go

  for (pid_t pid : writers) EXPECT_EQ(WaitForChild(pid), 0) << "writer";
  EXPECT_EQ(WaitForChild(reader), 0) << "reader";

  const RegistryContent content = RegistryFile(machine.RegistryFilePath()).Load();
  const RegistryKey* shared = content.FindKey("HKEY_LOCAL_MACHINE\\SOFTWARE\\Shared");
  ASSERT_NE(shared, nullptr);
  EXPECT_EQ(shared->values.size(), 1u + kWriters * kValuesEach);
  for (int w = 0; w < kWriters; ++w) {
    for (int v = 0; v < kValuesEach; ++v) {
      const std::string name = "W" + std::to_string(w) + "V" + std::to_string(v);
      EXPECT_EQ(shell.RegRead("HKLM\\SOFTWARE\\Shared\\" + name), name + "-data");
    }
    EXPECT_EQ(shell.RegRead("HKLM\\SOFTWARE\\Writer" + std::to_string(w) + "\\Count"),
              std::to_string(kValuesEach));
  }
  // No temporary file is left behind.
  const std::optional<std::vector<std::string>> left = ListFolder(scratch.root());
  ASSERT_TRUE(left);
  for (const auto& name : *left) {
    EXPECT_THAT(name, Not(HasSubstr(".tmp")));
  }
}

}  // namespace
}  // namespace quillon::testing
