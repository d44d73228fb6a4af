// Seeding the applications: 100,000 executables against 500 rules, through
// the portable machine's file system. Measures the executables list read
// once and kept in memory (what Setup does) next to the list read again from
// its start for every rule, checks that both write the same file byte for
// byte, and prints both times.
//
//   seeding_bench [EXECUTABLES [RULES]]
#include <stdlib.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "setup/seeding.h"
#include "shared/posix/portable_machine.h"
#include "shared/posix/posix_file_system.h"

namespace quillon {
namespace {

constexpr char kExecutables[] = "C:\\WINDOWS\\Temp\\ZentrelEXEs.list";
constexpr char kRules[] = "D:\\Quillon\\Applications.list";

void WriteFile(const std::string& path, const std::string& content) {
  std::ofstream out(path, std::ios::binary);
  out << content;
}

// Executables spread over vendors' folders below Program Files and the
// Windows folder, as a list writer would leave them.
std::string ExecutablesList(int count) {
  std::string list;
  for (int i = 0; i < count; ++i) {
    const int vendor = i % 1000;
    if (i % 10 == 9) {
      list += "C:\\WINDOWS\\system32\\tool" + std::to_string(i) + ".exe\r\n";
    } else {
      list += "C:\\Program Files\\Vendor" + std::to_string(vendor) + "\\Product" +
              std::to_string(i % 7) + "\\program" + std::to_string(i) + ".exe\r\n";
    }
  }
  return list;
}

// Rules in groups of two: a vendor's folder, then one of its products.
std::string RulesList(int count) {
  std::string list = "[Benchmark]\r\n";
  for (int i = 0; i < count; ++i) {
    const int vendor = (i / 2) * 2;
    list += "Application " + std::to_string(i / 2) + ";";
    list += i % 2 == 0 ? "%PROGRAMFILES%\\Vendor" + std::to_string(vendor) + "\\"
                       : "%ProgramFiles%\\VENDOR" + std::to_string(vendor + 1) + "\\PRODUCT3\\";
    list += "\r\n";
  }
  return list;
}

// The executables list read again from its start for every rule.
void WriteApplicationsInputReadingPerRule(HostFileSystem& files, const std::string& input_path,
                                          const PatternFolders& folders) {
  auto input = files.OpenTextFile(input_path, IoMode::kForWriting, true);
  input->Write("USE Zentrel\r\nGO\r\n");
  ApplicationGroups groups;
  auto rules = files.OpenTextFile(kRules, IoMode::kForReading, false);
  while (!rules->AtEndOfStream()) {
    const std::optional<ApplicationRule> rule = ParseApplicationRule(rules->ReadLine(), folders);
    if (!rule) continue;
    auto executables = files.OpenTextFile(kExecutables, IoMode::kForReading, false);
    std::vector<std::string> one(1);
    while (!executables->AtEndOfStream()) {
      one[0] = NormalizedExecutable(executables->ReadLine());
      if (!one[0].empty()) WriteRuleStatements(*rule, one, groups, *input);
    }
    executables->Close();
  }
  input->Write("GO\r\n");
  rules->Close();
  input->Close();
}

template <typename Body>
double Seconds(Body body) {
  const auto start = std::chrono::steady_clock::now();
  body();
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

std::string Slurp(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

int Main(int argc, char** argv) {
  const int executables = argc > 1 ? std::atoi(argv[1]) : 100000;
  const int rules = argc > 2 ? std::atoi(argv[2]) : 500;

  char root_template[] = "/tmp/seeding-bench-XXXXXX";
  const char* root = mkdtemp(root_template);
  if (root == nullptr) return 2;
  const std::string r = root;
  std::filesystem::create_directories(r + "/drive_c/WINDOWS/Temp");
  std::filesystem::create_directories(r + "/drive_c/Program Files");
  std::filesystem::create_directories(r + "/drive_d/Quillon");
  WriteFile(r + "/drive_c/WINDOWS/Temp/ZentrelEXEs.list", ExecutablesList(executables));
  WriteFile(r + "/drive_d/Quillon/Applications.list", RulesList(rules));

  PortableMachine machine(r, "seeding_bench");
  PosixFileSystem files(machine);
  const PatternFolders folders{"C:\\WINDOWS", "C:\\PROGRAM FILES"};

  const double kept = Seconds([&] {
    WriteApplicationsInput(files, kExecutables, kRules, "C:\\WINDOWS\\Temp\\kept.input", folders);
  });
  const double per_rule = Seconds([&] {
    WriteApplicationsInputReadingPerRule(files, "C:\\WINDOWS\\Temp\\per-rule.input", folders);
  });

  const std::string kept_file = Slurp(r + "/drive_c/WINDOWS/Temp/kept.input");
  const std::string per_rule_file = Slurp(r + "/drive_c/WINDOWS/Temp/per-rule.input");
  std::printf("seeding %d executables against %d rules: %zu bytes written\n", executables, rules,
              kept_file.size());
  std::printf("  list kept in memory:  %.2f s\n", kept);
  std::printf("  list read per rule:   %.2f s\n", per_rule);
  const bool same = kept_file == per_rule_file;
  std::printf("  same file byte for byte: %s\n", same ? "yes" : "NO");

  std::filesystem::remove_all(r);
  return same ? 0 : 1;
}

}  // namespace
}  // namespace quillon

int main(int argc, char** argv) {
  return quillon::Main(argc, argv);
}
