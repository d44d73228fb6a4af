// A temporary portable machine for tests (a POSIX folder that stands for a
// Windows machine) and what tests need around it: files on the POSIX side,
// the built programs, child processes waited for with a bound, the
// environment of the machine's programs, their dialog and run logs, and the
// machine's registry.
#pragma once

#include <sys/types.h>

#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace quillon::testing {

// ------------------------------------------------------------ POSIX files

// The file's bytes; "" when it cannot be read.
std::string ReadPosixFile(const std::string& path);
// The file's lines, split at LF and kept byte for byte (a CR stays); none
// when the file is missing.
std::vector<std::string> FileLines(const std::string& path);
// The lines of a text file without their line ends (CR LF or LF).
std::vector<std::string> TextLines(const std::string& path);
// Replaces the file's content and gives it exactly the permission bits,
// making its folder first. Throws when it cannot.
void WritePosixFile(const std::string& path, const std::string& content, mode_t mode = 0644);
// Makes the folder and the folders above it. Throws when it cannot.
void MakePosixFolders(const std::string& path);
// True when something is at the path (a dangling link included).
bool PosixExists(const std::string& path);
// The permission bits; 0 when the file cannot be examined.
mode_t PosixMode(const std::string& path);

// A fresh folder under the temporary folder (TMPDIR, else /tmp), given by
// its real path, open to every user (children that give up root reach it),
// and removed with all it holds, read-only folders included, when the object
// goes.
class TemporaryFolder {
 public:
  TemporaryFolder();
  TemporaryFolder(const TemporaryFolder&) = delete;
  TemporaryFolder& operator=(const TemporaryFolder&) = delete;
  ~TemporaryFolder();

  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

// ------------------------------------------------------------ built files

// A built program in QUILLON_BIN_DIR ("Zentrel.exe", "stand-ins/cmd.exe");
// throws when it has not been built.
std::string BinPath(const std::string& name);
// The built hook library; throws when it has not been built.
std::string HookLibraryPath();
// A file of the source tree.
std::string SourcePath(const std::string& relative);

// ------------------------------------------------------------ processes

// Waits for a child process to end: its exit status, or 128 + the signal
// that ended it. A child still running after two minutes is killed, and the
// wait throws.
int WaitForChild(pid_t pid);

// Starts a forked child that runs body and exits with its result (98 when
// the body throws); the child never returns into the test framework.
pid_t StartInChild(const std::function<int()>& body);
// Runs body in a forked child and waits for it: the child's exit status.
int RunInChild(const std::function<int()>& body);
// Like RunInChild, but the child first gives up root (when the tests run as
// root), so that permission bits take effect.
int RunUnprivileged(const std::function<int()>& body);
// Whether the user RunUnprivileged switches to may start the program: not
// where the build tree lies in a folder only root may enter.
bool UnprivilegedUserCanRun(const std::string& program);

// True while the process exists and has not ended (a zombie has ended).
bool StillRuns(pid_t pid);

// Waits until processes that are not this process's children have ended
// (one ended but not yet reaped counts as ended); false when one still runs
// after a minute.
bool WaitUntilEnded(const std::vector<pid_t>& pids);

// Sets (or, with nullopt, unsets) a variable of this process's environment
// for a scope.
class ScopedEnvironment {
 public:
  ScopedEnvironment(std::string name, const std::optional<std::string>& value);
  ScopedEnvironment(const ScopedEnvironment&) = delete;
  ScopedEnvironment& operator=(const ScopedEnvironment&) = delete;
  ~ScopedEnvironment();

 private:
  std::string name_;
  std::optional<std::string> old_;
};

// Changes this process's current directory for a scope.
class ScopedCurrentDirectory {
 public:
  explicit ScopedCurrentDirectory(const std::string& path);
  ScopedCurrentDirectory(const ScopedCurrentDirectory&) = delete;
  ScopedCurrentDirectory& operator=(const ScopedCurrentDirectory&) = delete;
  ~ScopedCurrentDirectory();

 private:
  std::string old_;
};

// ------------------------------------------------------------ logs

// One line of the dialog log.
struct DialogRecord {
  std::string program;
  std::string kind;  // "MsgBox" or "InputBox"
  std::string title;
  int style = 0;
  std::string text;
  std::optional<std::string> answer;  // nullopt for a cancelled input box
};

// One line of the run log.
struct RunRecord {
  std::string program;
  std::string command;
  int style = 0;
  bool wait = false;
};

// The fields of a flat one-line JSON object: strings unescaped into the
// system code page, numbers and true/false as their text, nullopt for null.
std::map<std::string, std::optional<std::string>> ParseJsonLine(const std::string& line);

// ------------------------------------------------------------ the machine

// Where the product lies on a machine.
inline constexpr char kProductFolder[] = "C:\\Program Files\\Harlwick\\Zentrel";
inline constexpr char kCheckerExe[] = "C:\\Program Files\\Harlwick\\Zentrel\\Zentrel.exe";
inline constexpr char kHookLibrary[] = "C:\\WINDOWS\\system32\\Zentrel.dll";
inline constexpr char kAppInitDllsValue[] =
    "HKLM\\SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Windows\\AppInit_DLLs";

// What quillon-machine (or a program run) gave back.
struct ToolResult {
  int status = -1;  // exit status; 128 + signal for a killed process
  std::string out;
  std::string err;
};

// What a new TestMachine holds.
enum class MachineTree {
  kEmpty,   // an empty root, for CreateWithTool
  kDrives,  // the folders of drives C and D, nothing else
  // Drives, C:\WINDOWS\system32 and Temp, alice's profile and an empty
  // registry; environment names the machine, its folders, the computer
  // HARLWICK-PC and the user alice.
  kMinimal,
};

// A machine in a fresh temporary folder, removed with everything in it.
// Beside the root (not on the machine) lie the answer queue, the dialog and
// run logs and what the tool prints.
class TestMachine {
 public:
  explicit TestMachine(MachineTree tree = MachineTree::kEmpty);
  TestMachine(const TestMachine&) = delete;
  TestMachine& operator=(const TestMachine&) = delete;
  // Ends the processes that Start launched.
  ~TestMachine();

  const std::string& root() const { return root_; }
  // A POSIX path in the test's folder, beside the machine.
  std::string Scratch(const std::string& name) const;
  // The POSIX path of something below the root, e.g. "drive_c/Tools".
  std::string InRoot(const std::string& relative) const;

  // Environment of every program started here, set over the test's own:
  // QUILLON_ANSWERS, QUILLON_DIALOG_LOG, QUILLON_RUN_LOG and
  // QUILLON_IDLE_SECONDS (started applications end on their own), and with
  // MachineTree::kMinimal the machine's variables.
  std::map<std::string, std::string> environment;

  // Making the machine.
  // quillon-machine create ROOT with the options; throws when it fails.
  void CreateWithTool(const std::vector<std::string>& options = {});
  // The product folder with its Logs folder and the built Zentrel.exe.
  void PutCheckerInPlace() const;
  // The built hook library as C:\WINDOWS\system32\Zentrel.dll.
  void PutHookLibraryInPlace() const;
  // databases/Zentrel.sqlite3 from the install schema.
  void CreateDatabase();
  const std::string& database() const { return database_; }

  // Files, by Windows path (mapped as the machine's programs map them).
  std::string Posix(const std::string& windows_path) const;
  bool Exists(const std::string& windows_path) const;
  void WriteFile(const std::string& windows_path, const std::string& content,
                 bool executable = false) const;
  // The file's bytes; "" when it is missing.
  std::string ReadFile(const std::string& windows_path) const;
  void CopyIn(const std::string& posix_source, const std::string& windows_path) const;
  // Everything below a folder, sorted, as paths relative to it; folders end
  // in "\".
  std::vector<std::string> TreeBelow(const std::string& windows_folder) const;

  // The registry, through the machine's own registry backend.
  // A value as text; nullopt when it is absent.
  std::optional<std::string> RegistryValue(const std::string& path) const;
  void SetRegistryValue(const std::string& path, const std::string& data,
                        const std::string& type = "REG_SZ") const;
  void DeleteRegistryValue(const std::string& path) const;
  std::string RegistryText() const;

  // Boxes and program starts.
  // Queues one answer line for the next box (under the queue's lock).
  void Answer(const std::string& answer) const;
  // The lines of the dialog log and of the run log, in order.
  std::vector<std::string> DialogLines() const;
  std::vector<std::string> RunLines() const;
  std::vector<DialogRecord> Dialogs() const;
  std::vector<RunRecord> Runs() const;

  // Running programs.
  // Starts a POSIX program with the environment, in drive C's root.
  pid_t StartProgram(const std::string& program, const std::vector<std::string>& arguments) const;
  // Runs quillon-machine with the arguments as the unprivileged user of
  // RunUnprivileged, its stderr going to the POSIX file `errors`: its status.
  int RunToolUnprivileged(const std::vector<std::string>& arguments,
                          const std::string& errors) const;
  // Runs quillon-machine with the arguments and the given standard input.
  ToolResult Tool(const std::vector<std::string>& arguments, const std::string& input = "") const;
  // quillon-machine run ROOT [--cwd FOLDER] -- COMMAND_LINE
  ToolResult Run(const std::string& command_line, const std::string& folder = "",
                 const std::string& input = "") const;
  // quillon-machine start ROOT --user USER -- COMMAND_LINE, with a wait long
  // enough for any checker to finish.
  ToolResult Start(const std::string& user, const std::string& command_line);
  // Waits until every process that Start launched has ended; true when they
  // all have.
  bool WaitForLaunchedPrograms() const { return WaitUntilEnded(launched_); }

  // The stand-ins' records.
  // The lines of the stand-ins' log recorded by the program, in order.
  std::vector<std::string> StandInLog(const std::string& program) const;
  // The running services as services.running lists them.
  std::vector<std::string> RunningServices() const;

 private:
  void MakeMinimalTree();

  TemporaryFolder folder_;
  std::string root_;
  std::string database_;
  std::vector<pid_t> launched_;
};

// The last line of what a tool printed; for start, the launch's fate:
// "running" or "terminated".
std::string LastLine(const ToolResult& result);

}  // namespace quillon::testing
