// The checker's cost per launch, beside the cost of starting a process at
// all: on a scratch portable machine it starts, alternating in one run, the
// static no-op program and Zentrel.exe with a launch request, and prints the
// medians, the 10th and 90th percentiles and their ratio for
//
//   * a known allowed pair (a controlled user granted the executable's
//     application),
//   * a user not controlled,
//   * a new executable (registered on the way, a new path every run),
//   * a denial answered No (the launched program killed; also the time from
//     the checker's start to the kill),
//
// then 32 checkers at once registering new executables, round after round:
// decisions per second, checkers that failed, and rows lost or doubled.
//
//   checker_bench BIN_DIR [RUNS]     (bench/run-checker builds and runs it)
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
#include <vector>

extern char** environ;

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

constexpr int kDefaultRuns = 400;
constexpr int kConcurrentCheckers = 32;
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

// The scratch machine with the product's checker and a seeded database.
struct Machine {
  fs::path work;
  fs::path root;
  fs::path database;
  fs::path dialogs;
  std::vector<std::string> environment;  // NAME=VALUE
  std::string checker;
  std::string noop;
};

Machine Prepare(const fs::path& bin) {
  Machine machine;
  char pattern[] = "/tmp/quillon-checker-bench.XXXXXX";
  if (mkdtemp(pattern) == nullptr) Fail("no scratch folder");
  machine.work = pattern;
  machine.root = machine.work / "machine";
  const std::string tool = (bin / "quillon-machine").string();
  Capture(Quoted(tool) + " create " + Quoted(machine.root.string()) +
          " --user Alice --user Bob >/dev/null");

  const fs::path product = machine.root / "drive_c/Program Files/Harlwick/Zentrel";
  fs::create_directories(product / "Logs");
  fs::copy_file(bin / "Zentrel.exe", product / "Zentrel.exe", fs::copy_options::overwrite_existing);
  machine.checker = (product / "Zentrel.exe").string();
  machine.noop = (bin / "bench_noop.exe").string();
  for (const char* name : {"Allowed.exe", "Other.exe", "Denied.exe"}) {
    WriteFile(machine.root / "drive_c/Tools" / name, "");
  }
  fs::create_directories(machine.root / "drive_c/Tools/New");

  machine.database = machine.root / "databases/Zentrel.sqlite3";
  fs::create_directories(machine.database.parent_path());
  {
    Db db(machine.database.string());
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

// Starts a program with the machine's environment in drive C's root.
pid_t Spawn(const Machine& machine, const std::string& program,
            const std::vector<std::string>& arguments) {
  std::vector<char*> argv;
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
  const int error = posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), envp.data());
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
  std::printf("%-22s %7.3f %7.3f %7.3f   %7.3f %7.3f %7.3f   %5.2fx  %d\n", result.name.c_str(),
              noop.median, noop.p10, noop.p90, checker.median, checker.p10, checker.p90,
              checker.median / noop.median, result.errors);
  if (result.to_kill && !cpu) {
    std::printf("%-22s %7s %7s %7s   %7.3f %7.3f %7.3f   %5.2fx\n", "  start to kill", "", "", "",
                result.to_kill->median, result.to_kill->p10, result.to_kill->p90,
                result.to_kill->median / noop.median);
  }
}

// Alternates the no-op and the checker; request(i) gives the i-th run's
// request. A checker that ends with another status than 0 counts as an
// error.
CaseResult TimeCase(const Machine& machine, const std::string& name, int runs,
                    const std::function<std::string(int)>& request) {
  std::vector<double> noop, checker, noop_cpu, checker_cpu;
  int errors = 0;
  for (int i = 0; i < runs; ++i) {
    int status = 0;
    const Timing yardstick = TimeRun(machine, machine.noop, {}, status);
    const Timing timing = TimeRun(machine, machine.checker, {request(i)}, status);
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
    const pid_t victim = Spawn(machine, machine.noop, {"wait"});
    const auto start = Clock::now();
    const pid_t pid =
        Spawn(machine, machine.checker, {Request("C:\\Tools\\Denied.exe", victim, "Alice")});
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

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: checker_bench BIN_DIR [RUNS]\n");
    return 2;
  }
  try {
    const fs::path bin = fs::absolute(argv[1]);
    const int runs = argc > 2 ? std::atoi(argv[2]) : kDefaultRuns;
    if (runs < 1) Fail("RUNS must be at least 1");
    const Machine machine = Prepare(bin);

    const std::vector<CaseResult> results = {
        TimeCase(machine, "known allowed pair", runs,
                 [](int) { return Request("C:\\Tools\\Allowed.exe", 0, "Alice"); }),
        TimeCase(machine, "user not controlled", runs,
                 [](int) { return Request("C:\\Tools\\Other.exe", 0, "Bob"); }),
        TimeCase(machine, "new executable", runs,
                 [](int i) {
                   return Request("C:\\Tools\\New\\App" + std::to_string(i) + ".exe", 0, "Bob");
                 }),
        TimeDenials(machine, runs),
    };
    for (const bool cpu : {false, true}) {
      std::printf(cpu ? "\nProcessor time (user + system) of the same runs (ms)\n"
                      : "Zentrel.exe against a static no-op, %d runs each, alternating: wall "
                        "time from start to end (ms)\n",
                  runs);
      std::printf("%-22s %7s %7s %7s   %7s %7s %7s   %6s  %s\n", "case", "no-op", "p10", "p90",
                  "checker", "p10", "p90", "ratio", "errors");
      for (const CaseResult& result : results) PrintRow(result, cpu);
    }
    TimeConcurrent(machine);
    if (std::getenv("BENCH_KEEP") == nullptr)
      fs::remove_all(machine.work);
    else
      std::printf("kept %s\n", machine.work.c_str());
  } catch (const std::exception& error) {
    std::fprintf(stderr, "checker_bench: %s\n", error.what());
    return 1;
  }
  return 0;
}
