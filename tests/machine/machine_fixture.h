// Tests that drive real machines: each test gets a fresh temporary folder,
// creates a machine there with the built quillon-machine and runs the built
// tool and stand-ins as separate processes, the way scripts outside the
// project use them.
#pragma once

#include <gtest/gtest.h>
#include <sys/types.h>

#include <map>
#include <optional>
#include <string>
#include <vector>

namespace quillon::machine::testing {

struct ToolResult {
  int status = -1;  // exit status; 128 + signal for a killed process
  std::string out;
  std::string err;
};

class MachineTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  // quillon-machine create ROOT with the given options; the test fails when
  // it does not succeed.
  void CreateMachine(const std::vector<std::string>& options = {});

  // Runs quillon-machine with the arguments, the test's extra environment
  // and the given standard input.
  ToolResult Tool(const std::vector<std::string>& arguments, const std::string& input = "");
  // quillon-machine run ROOT [--cwd FOLDER] -- COMMAND_LINE
  ToolResult Run(const std::string& command_line, const std::string& folder = "",
                 const std::string& input = "");
  // quillon-machine start ROOT --user USER -- COMMAND_LINE, with a wait long
  // enough for any checker to finish; the launched process is ended when
  // the test ends.
  ToolResult Start(const std::string& user, const std::string& command_line);

  // Waits until every process that Start launched has ended (or a minute
  // has passed); true when they all have.
  bool WaitForLaunchedPrograms() const;

  // The POSIX path of a Windows path of the machine.
  std::string Posix(const std::string& windows_path) const;
  void WriteFile(const std::string& windows_path, const std::string& text,
                 bool executable = false) const;
  std::string ReadFile(const std::string& windows_path) const;
  bool Exists(const std::string& windows_path) const;

  // A registry value as text, nullopt when absent.
  std::optional<std::string> RegistryValue(const std::string& path) const;
  void SetRegistryValue(const std::string& path, const std::string& data,
                        const std::string& type = "REG_SZ") const;

  // The lines of the stand-ins' log recorded by the program, in order.
  std::vector<std::string> StandInLog(const std::string& program) const;
  // The running services as services.running lists them.
  std::vector<std::string> RunningServices() const;

  // A file (POSIX) in the test's folder, outside the machine.
  std::string Scratch(const std::string& name) const { return folder_ + "/" + name; }
  // Lines of a file (POSIX); none when it is missing.
  static std::vector<std::string> Lines(const std::string& posix_path);

  const std::string& root() const { return root_; }
  // Extra environment for every tool run (QUILLON_ANSWERS, ...).
  std::map<std::string, std::string> environment;

 private:
  std::string folder_;
  std::string root_;
  std::vector<pid_t> launched_;
};

// Built files.
std::string ToolPath();
std::string BinPath(const std::string& name);
std::string HookLibraryPath();
std::string SourcePath(const std::string& relative);

// True when the text holds "key":<value text>, e.g. Has(line, "\"found\":false").
inline bool Holds(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

}  // namespace quillon::machine::testing
