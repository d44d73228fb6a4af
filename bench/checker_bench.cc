// The checker's cost per launch, beside the cost of starting a process at
// all: on a scratch portable machine it starts, alternating in one run, the
// static no-op program and Zentrel.exe with a launch request, and prints the
// medians, the 10th and 90th percentiles and their ratio for
//
//   * a known allowed pair (a controlled user granted the executable's
//     application),
//   * a user not controlled,
//   * a new executable (registered on the way, a new path every run), one
//     run after the other and, 12 runs, each 1.5 s after the one before,
//   * a denial answered No (the launched program killed; also the time from
//     the checker's start to the kill),
//   * SQLite alone in the checker's place (bench/sqlite_floor.cc): opening
//     the catalog, and running the checker's six statements of the allowed
//     pair, the floor under the checker's cost,
//
// first with the machine's database engine stopped, then with it running;
// then, with the engine running, 32 checkers at once registering new
// executables, round after round: decisions per second, checkers that
// failed, and rows lost or doubled.
//
// With --wine it does the same for the Windows build under Wine: a fresh
// Wine prefix with its own wineserver kept running, Zentrel.exe in the
// prefix's product folder reaching the seeded database through ODBC and the
// SQLite ODBC driver (the HKLM connection string), and the static no-op
// Windows program as the yardstick; both start through the Wine loader, and
// the processor time is that of the program's own process (the wineserver's
// share is not counted, for either).
//
//   checker_bench BIN_DIR [RUNS]                (bench/run-checker)
//   checker_bench --wine MINGW_BIN_DIR [RUNS]   (bench/run-checker-wine)
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sqlite3.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <sstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <utility>
#include <vector>

extern char** environ;

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

constexpr int kDefaultRuns = 400;
constexpr int kConcurrentCheckers = 32;
// Runs of the case of a launch that comes alone, each after a pause.
constexpr int kSparseRuns = 12;
constexpr int kConcurrentRounds = 10;
// Rows a real installation holds beside the ones the runs use.
constexpr int kFillerExecutables = 2000;
constexpr int kFillerUsers = 200;

[[noreturn]] void Fail(const std::string& what) {
  throw std::runtime_error(what);
}

std::string Capture(const std::string& command) {
  FILE* pipe = popen(command.c_str(), "r");
  if (pipe == nullptr) Fail("cannot run " + command);
  std::string out;
  char buffer[4096];
  std::size_t read = 0;
  while ((read = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) out.append(buffer, read);
  if (pclose(pipe) != 0) Fail("failed: " + command);
  return out;
}

std::string Quoted(const std::string& text) {
  std::string quoted = "'";
  for (char c : text) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return quoted + "'";
}

void WriteFile(const fs::path& path, const std::string& content) {
  fs::create_directories(path.parent_path());
  std::ofstream(path, std::ios::binary) << content;
}

std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

class Db {
 public:
  explicit Db(const std::string& file) {
    if (sqlite3_open(file.c_str(), &db_) != SQLITE_OK) Fail("cannot open " + file);
  }
  ~Db() { sqlite3_close(db_); }
  void Run(const std::string& sql) {
    char* message = nullptr;
    if (sqlite3_exec(db_, sql.c_str(), nullptr, nullptr, &message) != SQLITE_OK) {
      const std::string text = message != nullptr ? message : "?";
      sqlite3_free(message);
      Fail("SQL failed: " + text);
    }
  }
  long long Count(const std::string& sql) {
    sqlite3_stmt* statement = nullptr;
    if (sqlite3_prepare_v2(db_, sql.c_str(), -1, &statement, nullptr) != SQLITE_OK) {
      Fail("SQL failed: " + sql);
    }
    long long value = -1;
    if (sqlite3_step(statement) == SQLITE_ROW) value = sqlite3_column_int64(statement, 0);
    sqlite3_finalize(statement);
    return value;
  }

 private:
  sqlite3* db_ = nullptr;
};

// The scratch machine with the product's checker and a seeded database:
// a portable machine, or a Wine prefix for the Windows build.
struct Machine {
  fs::path work;
  fs::path root;  // the portable machine's root, or the Wine prefix
  fs::path database;
  fs::path dialogs;
  std::vector<std::string> environment;  // NAME=VALUE
  std::string checker;
  std::string noop;
  // The portable machine's tool, and whether its database engine runs.
  std::string tool;
  bool engine = false;
  // Under Wine: the loader every program starts through, the wineserver
  // kept running for the whole run, and where a waiting no-op writes its
  // Windows process id (Windows path, and the same file on this side).
  std::string loader;
  pid_t wineserver = 0;
  std::string victim_id_file;
  fs::path victim_id_posix;
};

constexpr char kWineLoader[] = "/usr/lib/wine/wine64";
constexpr char kWineServer[] = "/usr/lib/wine/wineserver";

fs::path ScratchFolder() {
  char pattern[] = "/tmp/quillon-checker-bench.XXXXXX";
  if (mkdtemp(pattern) == nullptr) Fail("no scratch folder");
  return pattern;
}

// The product folder with the checker and its Logs, and the executables the
// runs launch, below a drive C.
void PutProductInPlace(Machine& machine, const fs::path& drive_c, const fs::path& built_checker) {
  const fs::path product = drive_c / "Program Files/Harlwick/Zentrel";
  fs::create_directories(product / "Logs");
  fs::copy_file(built_checker, product / "Zentrel.exe", fs::copy_options::overwrite_existing);
  machine.checker = (product / "Zentrel.exe").string();
  for (const char* name : {"Allowed.exe", "Other.exe", "Denied.exe"}) {
    WriteFile(drive_c / "Tools" / name, "");
  }
  fs::create_directories(drive_c / "Tools/New");
}

// The install schema, a known allowed pair (Alice granted Tools), a user
// not controlled (Bob) and a denied executable, among the rows a real
// installation holds.
void SeedDatabase(const fs::path& database) {
  fs::create_directories(database.parent_path());
  {
    Db db(database.string());
    db.Run(ReadFile(fs::path(QUILLON_SOURCE_DIR) / "companions/database/zentrel_tables.sql"));
    db.Run("BEGIN");
    db.Run("INSERT INTO APPS (app_name) VALUES ('Tools')");
    db.Run("INSERT INTO APP_EXES (exe_path, app_id) VALUES ('C:\\WINDOWS\\EXPLORER.EXE', -1)");
    for (int i = 0; i < kFillerExecutables; ++i) {
      db.Run("INSERT INTO APP_EXES (exe_path) VALUES ('C:\\FILLER\\TOOL" + std::to_string(i) +
             ".EXE')");
    }
    db.Run("INSERT INTO APP_EXES (exe_path, app_id) VALUES ('C:\\TOOLS\\ALLOWED.EXE', 1)");
    db.Run("INSERT INTO APP_EXES (exe_path) VALUES ('C:\\TOOLS\\OTHER.EXE')");
    db.Run("INSERT INTO APP_EXES (exe_path) VALUES ('C:\\TOOLS\\DENIED.EXE')");
    for (int i = 0; i < kFillerUsers; ++i) {
      db.Run("INSERT INTO USERS (user_name, user_status) VALUES ('FILLER" + std::to_string(i) +
             "', 'DISABLED')");
    }
    db.Run("INSERT INTO USERS (user_name, user_status) VALUES ('Alice', 'ENABLED')");
    db.Run("INSERT INTO USERS (user_name, user_status) VALUES ('Bob', 'DISABLED')");
    db.Run(
        "INSERT INTO ALLOWED_APPS (user_id, app_id) SELECT user_id, 1 FROM USERS WHERE "
        "user_name = 'Alice'");
    db.Run("COMMIT");
  }
}

Machine Prepare(const fs::path& bin) {
  Machine machine;
  machine.work = ScratchFolder();
  machine.root = machine.work / "machine";
  const std::string tool = (bin / "quillon-machine").string();
  machine.tool = tool;
  Capture(Quoted(tool) + " create " + Quoted(machine.root.string()) +
          " --user Alice --user Bob >/dev/null");
  PutProductInPlace(machine, machine.root / "drive_c", bin / "Zentrel.exe");
  machine.noop = (bin / "bench_noop.exe").string();
  machine.database = machine.root / "databases/Zentrel.sqlite3";
  SeedDatabase(machine.database);

  // The launching user's environment, boxes answered by their default (No)
  // and logged beside the machine.
  std::istringstream lines(
      Capture(Quoted(tool) + " env " + Quoted(machine.root.string()) + " --user Alice"));
  for (std::string line; std::getline(lines, line);) {
    if (!line.empty()) machine.environment.push_back(line);
  }
  WriteFile(machine.work / "answers", "");
  machine.dialogs = machine.work / "dialogs.log";
  machine.environment.push_back("QUILLON_ANSWERS=" + (machine.work / "answers").string());
  machine.environment.push_back("QUILLON_DIALOG_LOG=" + machine.dialogs.string());
  machine.environment.push_back("PATH=/usr/bin:/bin");
  return machine;
}

// Runs a command of the Wine prefix (wineboot, reg) to its end.
void RunInPrefix(const std::string& command) {
  Capture(command + " >/dev/null 2>&1");
}

// Starts or stops the portable machine's database engine through net.exe,
// as an administrator would.
void SetEngine(Machine& machine, bool on) {
  Capture(Quoted(machine.tool) + " run " + Quoted(machine.root.string()) + " -- " +
          Quoted(std::string("net.exe ") + (on ? "start" : "stop") + " MSSQLServer") +
          " >/dev/null");
  machine.engine = on;
}

// Stops what the machine left running: the database engine of a portable
// machine, the wineserver of a Wine prefix.
void TearDown(Machine& machine) {
  if (machine.engine) {
    try {
      SetEngine(machine, false);
    } catch (const std::exception& error) {
      std::fprintf(stderr, "checker_bench: %s\n", error.what());
    }
  }
  if (machine.wineserver > 0) {
    const std::string stop = std::string(kWineServer) + " -k >/dev/null 2>&1";
    static_cast<void>(std::system(stop.c_str()));  // a server that is gone already is fine
    waitpid(machine.wineserver, nullptr, 0);
  }
}

void PutWineProductInPlace(Machine& machine, const fs::path& bin);

// The Windows build: a fresh Wine prefix, its wineserver started for the
// whole run, the product in the prefix's Program Files, the database in the
// scratch folder reached through the SQLite ODBC driver.
Machine PrepareWine(const fs::path& bin) {
  Machine machine;
  machine.work = ScratchFolder();
  machine.root = machine.work / "prefix";
  machine.loader = kWineLoader;
  machine.environment = {"WINEPREFIX=" + machine.root.string(), "WINEDEBUG=-all",
                         "WINEDLLOVERRIDES=mscoree,mshtml=",    "WINEARCH=win64",
                         "HOME=" + machine.work.string(),       "PATH=/usr/bin:/bin"};
  // The prefix's own commands run with the same variables.
  for (const std::string& entry : machine.environment) {
    const std::size_t equals = entry.find('=');
    setenv(entry.substr(0, equals).c_str(), entry.substr(equals + 1).c_str(), 1);
  }
  RunInPrefix(std::string(kWineLoader) + " wineboot -i");
  RunInPrefix(std::string(kWineServer) + " -w");
  {
    const char* argv[] = {kWineServer, "-p", nullptr};
    if (posix_spawn(&machine.wineserver, kWineServer, nullptr, nullptr,
                    const_cast<char* const*>(argv), environ) != 0) {
      Fail("cannot start the wineserver");
    }
  }
  try {
    PutWineProductInPlace(machine, bin);
  } catch (...) {
    TearDown(machine);
    throw;
  }
  return machine;
}

void PutWineProductInPlace(Machine& machine, const fs::path& bin) {
  const fs::path drive_c = machine.root / "drive_c";
  PutProductInPlace(machine, drive_c, bin / "Zentrel.exe");
  machine.noop = (bin / "bench_noop.exe").string();
  machine.database = machine.work / "Zentrel.sqlite3";
  SeedDatabase(machine.database);
  RunInPrefix(
      std::string(kWineLoader) +
      " reg add 'HKLM\\SOFTWARE\\Harlwick\\Zentrel' /v ConnectionString /t REG_SZ /d " +
      Quoted("Driver=SQLite3;Database=" + machine.database.string() + ";Timeout=60000;NoCreat=1;") +
      " /f");

  // Boxes answered by their default (No) and logged, in the prefix.
  WriteFile(drive_c / "bench/answers", "");
  machine.dialogs = drive_c / "bench/dialogs.log";
  machine.environment.push_back("QUILLON_ANSWERS=C:\\bench\\answers");
  machine.environment.push_back("QUILLON_DIALOG_LOG=C:\\bench\\dialogs.log");
  machine.victim_id_file = "C:\\bench\\victim.id";
  machine.victim_id_posix = drive_c / "bench/victim.id";
}

// Starts a program with the machine's environment in drive C's root
// (through the Wine loader for the Windows build).
pid_t Spawn(const Machine& machine, const std::string& program,
            const std::vector<std::string>& arguments) {
  std::vector<char*> argv;
  if (!machine.loader.empty()) argv.push_back(const_cast<char*>(machine.loader.c_str()));
  argv.push_back(const_cast<char*>(program.c_str()));
  for (const std::string& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
  argv.push_back(nullptr);
  std::vector<char*> envp;
  for (const std::string& entry : machine.environment)
    envp.push_back(const_cast<char*>(entry.c_str()));
  envp.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addchdir_np(&actions, (machine.root / "drive_c").c_str());
  pid_t pid = 0;
  const int error = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), envp.data());
  posix_spawn_file_actions_destroy(&actions);
  if (error != 0) Fail("cannot start " + program);
  return pid;
}

// Waits for a child: its exit status (128 + signal when killed); its
// processor time (user + system, ms) through cpu when given.
int Wait(pid_t pid, double* cpu = nullptr) {
  int status = 0;
  struct rusage usage {};
  while (wait4(pid, &status, 0, &usage) < 0) {
    if (errno != EINTR) Fail("wait failed");
  }
  if (cpu != nullptr) {
    *cpu = double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1000.0 +
           double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1000.0;
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

double Milliseconds(Clock::duration elapsed) {
  return std::chrono::duration<double, std::milli>(elapsed).count();
}

// One timed run: start to end and processor time, in milliseconds; the
// exit status through status.
struct Timing {
  double wall = 0;
  double cpu = 0;
};
Timing TimeRun(const Machine& machine, const std::string& program,
               const std::vector<std::string>& arguments, int& status) {
  Timing timing;
  const auto start = Clock::now();
  const pid_t pid = Spawn(machine, program, arguments);
  status = Wait(pid, &timing.cpu);
  timing.wall = Milliseconds(Clock::now() - start);
  return timing;
}

struct Figures {
  double p10 = 0, median = 0, p90 = 0;
};

Figures Summarize(std::vector<double> samples) {
  std::sort(samples.begin(), samples.end());
  auto at = [&](double fraction) {
    const std::size_t index = static_cast<std::size_t>(fraction * double(samples.size() - 1) + 0.5);
    return samples[index];
  };
  return {at(0.10), at(0.50), at(0.90)};
}

std::string Request(const std::string& path, long process_id, const std::string& user) {
  return path + "_|_0_|_" + std::to_string(process_id) + "_|_" + user;
}

struct CaseResult {
  std::string name;
  Figures noop, checker;
  Figures noop_cpu, checker_cpu;
  std::optional<Figures> to_kill;
  int errors = 0;
};

void PrintRow(const CaseResult& result, bool cpu) {
  const Figures& noop = cpu ? result.noop_cpu : result.noop;
  const Figures& checker = cpu ? result.checker_cpu : result.checker;
  std::printf("%-24s %7.3f %7.3f %7.3f   %7.3f %7.3f %7.3f   %5.2fx  %d\n", result.name.c_str(),
              noop.median, noop.p10, noop.p90, checker.median, checker.p10, checker.p90,
              checker.median / noop.median, result.errors);
  if (result.to_kill && !cpu) {
    std::printf("%-24s %7s %7s %7s   %7.3f %7.3f %7.3f   %5.2fx\n", "  start to kill", "", "", "",
                result.to_kill->median, result.to_kill->p10, result.to_kill->p90,
                result.to_kill->median / noop.median);
  }
}

// Alternates the no-op and program (the checker unless given); arguments(i)
// gives the i-th run's arguments, and pause, when given, goes before each
// start (a launch that comes alone, after the engine has folded the log). A
// run that ends with another status than 0 counts as an error.
CaseResult TimeCase(const Machine& machine, const std::string& name, int runs,
                    const std::function<std::vector<std::string>(int)>& arguments,
                    const std::string& program = "",
                    std::chrono::milliseconds pause = std::chrono::milliseconds(0)) {
  std::vector<double> noop, checker, noop_cpu, checker_cpu;
  int errors = 0;
  for (int i = 0; i < runs; ++i) {
    int status = 0;
    std::this_thread::sleep_for(pause);
    const Timing yardstick = TimeRun(machine, machine.noop, {}, status);
    std::this_thread::sleep_for(pause);
    const Timing timing =
        TimeRun(machine, program.empty() ? machine.checker : program, arguments(i), status);
    if (status != 0) ++errors;
    noop.push_back(yardstick.wall);
    noop_cpu.push_back(yardstick.cpu);
    checker.push_back(timing.wall);
    checker_cpu.push_back(timing.cpu);
  }
  return {name,
          Summarize(noop),
          Summarize(checker),
          Summarize(noop_cpu),
          Summarize(checker_cpu),
          std::nullopt,
          errors};
}

// A waiting no-op that stands for a denied launch: its process here, and
// the id the checker is given (under Wine the Windows process id, which the
// program writes down once it runs).
std::pair<pid_t, long> StartVictim(const Machine& machine) {
  if (machine.loader.empty()) {
    const pid_t victim = Spawn(machine, machine.noop, {"wait"});
    return {victim, victim};
  }
  fs::remove(machine.victim_id_posix);
  const pid_t victim = Spawn(machine, machine.noop, {"wait", machine.victim_id_file});
  for (int wait = 0; wait < 30000; ++wait) {
    const std::string text = ReadFile(machine.victim_id_posix);
    if (!text.empty() && text.back() == '\n') return {victim, std::stol(text)};
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  kill(victim, SIGKILL);
  Wait(victim);
  Fail("the waiting no-op did not write its process id");
}

// A denial: a waiting program stands for the launch; the checker must kill
// it. The time to the kill runs from the checker's start to the moment the
// killed program is reaped.
CaseResult TimeDenials(const Machine& machine, int runs) {
  std::vector<double> noop, checker, noop_cpu, checker_cpu, to_kill;
  int errors = 0;
  for (int i = 0; i < runs; ++i) {
    int status = 0;
    const Timing yardstick = TimeRun(machine, machine.noop, {}, status);
    noop.push_back(yardstick.wall);
    noop_cpu.push_back(yardstick.cpu);
    const auto [victim, victim_id] = StartVictim(machine);
    const auto start = Clock::now();
    const pid_t pid =
        Spawn(machine, machine.checker, {Request("C:\\Tools\\Denied.exe", victim_id, "Alice")});
    // The launched program is reaped the moment it dies, beside the checker.
    double killed_after = 0;
    std::atomic<bool> reaped{false};
    std::thread reaper([&] {
      Wait(victim);
      killed_after = Milliseconds(Clock::now() - start);
      reaped = true;
    });
    double cpu = 0;
    const int checker_status = Wait(pid, &cpu);
    checker.push_back(Milliseconds(Clock::now() - start));
    checker_cpu.push_back(cpu);
    if (checker_status != 0) ++errors;
    // A kill takes effect shortly after it is sent; one that has not within
    // a second was never sent.
    for (int wait = 0; wait < 10000 && !reaped; ++wait) {
      std::this_thread::sleep_for(std::chrono::microseconds(100));
    }
    if (!reaped) {
      ++errors;  // not killed: end it so the run goes on
      kill(victim, SIGKILL);
    }
    reaper.join();
    to_kill.push_back(killed_after);
  }
  return {"denial answered No",
          Summarize(noop),
          Summarize(checker),
          Summarize(noop_cpu),
          Summarize(checker_cpu),
          Summarize(to_kill),
          errors};
}

void TimeConcurrent(const Machine& machine) {
  const std::size_t boxes_before = ReadFile(machine.dialogs).size();
  int failed = 0;
  double busy_ms = 0;
  for (int round = 0; round < kConcurrentRounds; ++round) {
    std::vector<pid_t> pids;
    const auto start = Clock::now();
    for (int i = 0; i < kConcurrentCheckers; ++i) {
      const std::string path =
          "C:\\Tools\\New\\Burst" + std::to_string(round) + "_" + std::to_string(i) + ".exe";
      pids.push_back(Spawn(machine, machine.checker, {Request(path, 0, "Bob")}));
    }
    for (pid_t pid : pids) {
      if (Wait(pid) != 0) ++failed;
    }
    busy_ms += Milliseconds(Clock::now() - start);
  }
  const int decisions = kConcurrentCheckers * kConcurrentRounds;
  Db db(machine.database.string());
  const long long distinct = db.Count(
      "SELECT COUNT(DISTINCT exe_path) FROM APP_EXES WHERE exe_path LIKE "
      "'C:\\TOOLS\\NEW\\BURST%'");
  const long long rows =
      db.Count("SELECT COUNT(*) FROM APP_EXES WHERE exe_path LIKE 'C:\\TOOLS\\NEW\\BURST%'");
  // Every box after the runs above is an error report.
  const std::string boxes = ReadFile(machine.dialogs).substr(boxes_before);
  const long reports = std::count(boxes.begin(), boxes.end(), '\n');
  std::printf(
      "\n%d concurrent checkers x %d rounds registering new executables:\n"
      "  %.0f decisions/s, %d failed, %ld error boxes, %lld rows lost, %lld doubled\n",
      kConcurrentCheckers, kConcurrentRounds, decisions / (busy_ms / 1000.0), failed, reports,
      decisions - distinct, rows - distinct);
}

// The cases in one state of the machine: the checker's four, then SQLite
// alone on the same catalog in its place, what the library costs by itself
// (not for the Windows build, whose database is reached through ODBC). The
// new executables' names begin with state, so that each state meets new ones.
std::vector<CaseResult> TimeCases(const Machine& machine, const fs::path& bin, bool wine, int runs,
                                  const std::string& state) {
  const std::string prefix = "C:\\Tools\\New\\" + state + "_";
  auto request = [](const std::string& path, const std::string& user) {
    return [=](int) { return std::vector<std::string>{Request(path, 0, user)}; };
  };
  // Bob starting an executable never seen before, a new name every run.
  auto new_executable = [&](const std::string& stem) {
    return [=](int i) {
      return std::vector<std::string>{
          Request(prefix + stem + std::to_string(i) + ".exe", 0, "Bob")};
    };
  };
  std::vector<CaseResult> results = {
      TimeCase(machine, "known allowed pair", runs, request("C:\\Tools\\Allowed.exe", "Alice")),
      TimeCase(machine, "user not controlled", runs, request("C:\\Tools\\Other.exe", "Bob")),
      TimeCase(machine, "new executable", runs, new_executable("")),
      TimeDenials(machine, runs),
  };
  if (!wine) {
    // A new executable now and then: after the engine has folded the log,
    // the first commit starts the log afresh and syncs its header.
    results.push_back(TimeCase(machine, "new exe, 1.5 s apart", std::min(runs, kSparseRuns),
                               new_executable("Alone"), "", std::chrono::milliseconds(1500)));
    const std::string floor = (bin / "sqlite_floor").string();
    for (const char* mode : {"open", "statements"}) {
      results.push_back(TimeCase(
          machine, std::string("SQLite alone: ") + mode, runs,
          [&](int) {
            return std::vector<std::string>{machine.database.string(), mode};
          },
          floor));
    }
  }
  return results;
}

struct Block {
  std::string title;
  std::vector<CaseResult> results;
};

}  // namespace

int main(int argc, char** argv) {
  const bool wine = argc > 1 && std::string(argv[1]) == "--wine";
  if (wine) {
    --argc;
    ++argv;
  }
  if (argc < 2) {
    std::fprintf(stderr, "usage: checker_bench [--wine] BIN_DIR [RUNS]\n");
    return 2;
  }
  Machine machine;
  try {
    const fs::path bin = fs::absolute(argv[1]);
    const int runs = argc > 2 ? std::atoi(argv[2]) : kDefaultRuns;
    if (runs < 1) Fail("RUNS must be at least 1");
    machine = wine ? PrepareWine(bin) : Prepare(bin);

    // The portable machine's database engine (sqlservr.exe) holds every
    // catalog open while it runs, as the database server of a Windows
    // machine does: the checkers then neither rebuild the log's index nor
    // fold the log at close. Measured without it (a fresh machine lists the
    // service without its process), then with it.
    std::vector<Block> blocks;
    blocks.push_back({"database engine stopped", TimeCases(machine, bin, wine, runs, "Stopped")});
    if (!wine) {
      SetEngine(machine, true);
      blocks.push_back({"database engine running", TimeCases(machine, bin, wine, runs, "Running")});
    }
    for (const bool cpu : {false, true}) {
      if (cpu) {
        std::printf("\nProcessor time (user + system) of the same runs (ms)\n");
      } else {
        std::printf("%s, %d runs each, alternating: wall time from start to end (ms)\n",
                    wine ? "Zentrel.exe (Windows build) against a static no-op Windows program, "
                           "both under Wine"
                         : "Zentrel.exe against a static no-op",
                    runs);
      }
      std::printf("%-24s %7s %7s %7s   %7s %7s %7s   %6s  %s\n", "case", "no-op", "p10", "p90",
                  "checker", "p10", "p90", "ratio", "errors");
      for (const Block& block : blocks) {
        if (!wine) std::printf("-- %s\n", block.title.c_str());
        for (const CaseResult& result : block.results) PrintRow(result, cpu);
      }
    }
    if (!wine) {
      std::printf(
          "(SQLite alone: a static program of the database library without Quillon's code, "
          "in the checker's place: \"open\" opens the catalog and closes it, \"statements\" "
          "also runs the checker's six statements for the known allowed pair)\n");
    }
    TimeConcurrent(machine);
  } catch (const std::exception& error) {
    std::fprintf(stderr, "checker_bench: %s\n", error.what());
    TearDown(machine);
    return 1;
  }
  TearDown(machine);
  if (std::getenv("BENCH_KEEP") == nullptr)
    fs::remove_all(machine.work);
  else
    std::printf("kept %s\n", machine.work.c_str());
  return 0;
}
