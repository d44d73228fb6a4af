// In-memory, recording fakes of every host facade. They apply their effects
// (a deleted file is gone, a written value reads back) and append each
// operation that changes something, each box and each program start to one
// ordered journal that tests assert on. Fault switches make a chosen
// operation fail with a HostError.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "shared/host.h"
#include "shared/host_error.h"

namespace quillon::testing {

class Journal {
 public:
  void Add(std::string entry) { entries_.push_back(std::move(entry)); }
  const std::vector<std::string>& entries() const { return entries_; }
  void Clear() { entries_.clear(); }
  // Entries that start with the prefix, in order.
  std::vector<std::string> Starting(const std::string& prefix) const;

 private:
  std::vector<std::string> entries_;
};

// Makes operations fail: an operation named `operation` whose target contains
// `target` (without regard to case; "" matches every target) throws a
// HostError with the number and description given (the number's standard
// text when the description is empty). A failed operation is
// journaled with " [failed]" appended and has no effect.
class FaultSwitches {
 public:
  void Fail(const std::string& operation, const std::string& target = "",
            long number = error_number::kPermissionDenied, const std::string& description = "");
  // As Fail, but the first `passing` matching calls still succeed: for an
  // operation a program runs on the same target more than once.
  void FailAfter(std::size_t passing, const std::string& operation, const std::string& target,
                 long number = error_number::kPermissionDenied,
                 const std::string& description = "");
  // Throws when a switch matches; otherwise does nothing.
  void Check(const std::string& operation, const std::string& target) const;

 private:
  struct Fault {
    std::string operation;
    std::string target;
    long number;
    std::string description;
    std::size_t passing = 0;
    mutable std::size_t seen = 0;  // matching calls so far
  };
  std::vector<Fault> faults_;
};

// Environment shared by the shell's Environment and the environment reader.
class FakeEnvironment : public EnvironmentReader {
 public:
  void Set(const std::string& name, const std::string& value);
  std::optional<std::string> Get(const std::string& name) const;
  std::string Read(const std::string& name, std::size_t buffer_size) override;

 private:
  std::map<std::string, std::string> values_;  // upper-cased name -> value
};

class FakeShell : public HostShell {
 public:
  // Called for every Run that did not fail, to apply the program's effect.
  using RunEffect = std::function<void(const std::string& command, int style, bool wait)>;

  FakeShell(Journal& journal, FaultSwitches& faults, FakeEnvironment& environment)
      : journal_(journal), faults_(faults), environment_(environment) {}

  std::string Environment(const std::string& name) override;
  std::string RegRead(const std::string& path) override;
  void RegWrite(const std::string& path, const std::string& data, const std::string& type) override;
  void RegDelete(const std::string& path) override;
  void Run(const std::string& command, int style, bool wait) override;
  std::string SpecialFolders(const std::string& name) override;
  std::vector<UserProfile> UserProfiles() override;
  // The account set by SetUserName ("Administrator" at first); the fault
  // switch "UserName" makes it fail.
  std::string UserName() override;
  // What SetAdministrator set (true at first); fault switch "IsAdministrator".
  bool IsAdministrator() override;

  // Test set-up and inspection; none of these is journaled.
  void SetValue(const std::string& path, const std::string& data,
                const std::string& type = "REG_SZ");
  std::optional<std::string> Value(const std::string& path) const;
  std::optional<std::string> ValueType(const std::string& path) const;
  bool KeyExists(const std::string& key) const;
  void OnRun(RunEffect effect) { run_effects_.push_back(std::move(effect)); }
  void SetStartMenu(const std::string& folder) { start_menu_ = folder; }
  void SetUserProfiles(std::vector<UserProfile> profiles) { profiles_ = std::move(profiles); }
  void SetUserName(const std::string& account) { user_name_ = account; }
  void SetAdministrator(bool administrator) { administrator_ = administrator; }

 private:
  struct RegistryValue {
    std::string name;
    std::string type;
    std::string data;
  };
  struct RegistryKey {
    std::string name;
    std::vector<RegistryValue> values;
  };
  void AddKey(const std::string& full_key);
  RegistryValue* FindValue(const std::string& path);
  const RegistryValue* FindValue(const std::string& path) const;

  Journal& journal_;
  FaultSwitches& faults_;
  FakeEnvironment& environment_;
  std::map<std::string, RegistryKey> keys_;  // upper-cased full key -> key
  std::vector<RunEffect> run_effects_;
  std::string start_menu_ = "C:\\Documents and Settings\\Administrator\\Start Menu";
  std::vector<UserProfile> profiles_;
  std::string user_name_ = "Administrator";
  bool administrator_ = true;
};

// A Windows file system in memory: drives, folders and files by path, names
// matched without regard to case, relative paths against a current folder.
class FakeFileSystem : public HostFileSystem {
 public:
  FakeFileSystem(Journal& journal, FaultSwitches& faults) : journal_(journal), faults_(faults) {}

  bool FileExists(const std::string& path) override;
  bool FolderExists(const std::string& path) override;
  void CopyFile(const std::string& source, const std::string& destination, bool overwrite) override;
  void CopyFolder(const std::string& source, const std::string& destination,
                  bool overwrite) override;
  void DeleteFile(const std::string& path, bool force) override;
  void DeleteFolder(const std::string& path, bool force) override;
  void MoveFile(const std::string& source, const std::string& destination) override;
  std::unique_ptr<TextStream> OpenTextFile(const std::string& path, IoMode mode,
                                           bool create) override;
  Folder GetFolder(const std::string& path) override;

  // Test set-up and inspection; none of these is journaled.
  void AddFolder(const std::string& path);  // with its parents
  void AddFile(const std::string& path, const std::string& content = "", bool read_only = false);
  std::optional<std::string> Content(const std::string& path) const;
  // Every file and folder path as stored, sorted; folders end in "\".
  std::vector<std::string> Tree() const;
  void SetCurrentFolder(const std::string& folder) { current_folder_ = folder; }
  // The stored name of a path's last element, or "" when it does not exist.
  std::string StoredName(const std::string& path) const;
  // Lets a short alias (e.g. "PROGRA~1") stand for an entry of a folder.
  void AddShortName(const std::string& long_path, const std::string& short_name);
  // Makes an existing entry a symbolic link or junction.
  void MarkLink(const std::string& path);

 private:
  // The directory search looks entries up, the streams write file contents.
  friend class FakeDirectorySearch;
  class Stream;

  // The stored name of the first entry of `folder` whose name or alias
  // matches the pattern (wildcards * and ?), or "". Folders count only
  // when folders_too.
  std::string FindInFolder(const std::string& folder, const std::string& pattern,
                           bool folders_too) const;
  // Appends text to a file.
  void AppendContent(const std::string& key, const std::string& text);

  struct Node {
    std::string path;  // as stored
    bool folder = false;
    bool read_only = false;
    std::string content;
    std::string short_name;
    bool link = false;
  };
  std::string Key(const std::string& path) const;  // full, upper-cased, no empty elements
  std::string Absolute(const std::string& path) const;
  std::string ParentKey(const std::string& key) const;
  const Node* Find(const std::string& path) const;
  Node* Find(const std::string& path);
  void CopyTree(const std::string& source_key, const std::string& target_path, bool overwrite);

  Journal& journal_;
  FaultSwitches& faults_;
  std::map<std::string, Node> nodes_;  // key -> node
  std::string current_folder_ = "C:\\";
};

class FakeDialogs : public Dialogs {
 public:
  explicit FakeDialogs(Journal& journal) : journal_(journal) {}
  int MsgBox(const std::string& prompt, int style, const std::string& title) override;
  std::optional<std::string> InputBox(const std::string& prompt, const std::string& title,
                                      const std::string& default_text) override;

  // Answers are taken in order; when none is queued a box gets its default
  // (OK, No for Yes/No boxes, Cancel for input boxes).
  void Answer(int button) { buttons_.push_back(button); }
  void Type(std::optional<std::string> text) { texts_.push_back(std::move(text)); }

 private:
  Journal& journal_;
  std::deque<int> buttons_;
  std::deque<std::optional<std::string>> texts_;
};

class FakeProcesses : public Processes {
 public:
  explicit FakeProcesses(Journal& journal) : journal_(journal) {}
  void Terminate(std::uint32_t process_id) override;
  void Sleep(std::uint32_t milliseconds) override;

  void Start(std::uint32_t process_id) { running_.insert(process_id); }
  bool Running(std::uint32_t process_id) const { return running_.count(process_id) > 0; }

 private:
  Journal& journal_;
  std::set<std::uint32_t> running_;
};

class FakeDirectorySearch : public DirectorySearch {
 public:
  explicit FakeDirectorySearch(FakeFileSystem& files) : files_(files) {}
  std::string FindFirstName(const std::string& pattern, unsigned attributes) override;

 private:
  FakeFileSystem& files_;
};

class FakeClock : public Clock {
 public:
  LocalTime Now() override { return now_; }
  void Set(const LocalTime& now) { now_ = now; }

 private:
  LocalTime now_{2006, 2, 3, 9, 5, 7};
};

// Random bytes: the queued ones first, then a fixed sequence that differs
// from call to call. The fault switch "Random" makes a draw fail.
class FakeRandom : public RandomSource {
 public:
  explicit FakeRandom(FaultSwitches& faults) : faults_(faults) {}
  std::vector<std::uint8_t> Bytes(std::size_t count) override;

  void Queue(const std::vector<std::uint8_t>& bytes);
  // Bytes handed out so far.
  std::size_t drawn() const { return drawn_; }

 private:
  FaultSwitches& faults_;
  std::deque<std::uint8_t> queued_;
  std::size_t drawn_ = 0;
};

// A network with one scripted server: each Receive hands out the next queued
// chunk, and "" (the server closed) once the script is used up. Journals
// "Connect host:port (N ms)"; what is sent is kept in `sent`. The fault
// switches "Connect" (target "host:port"), "Send" and "Receive" (target: the
// bytes sent or the next chunk) make an operation fail.
class FakeNetwork : public Network {
 public:
  FakeNetwork(Journal& journal, FaultSwitches& faults) : journal_(journal), faults_(faults) {}
  std::unique_ptr<NetworkConnection> Connect(const std::string& host, std::uint16_t port,
                                             std::chrono::milliseconds timeout) override;
  std::string SystemTextToUtf8(const std::string& text) override;

  void Queue(const std::string& chunk) { script_.push_back(chunk); }
  // Forgets the script and what was sent.
  void Reset() {
    script_.clear();
    sent.clear();
  }

  std::string sent;

 private:
  class Connection;
  Journal& journal_;
  FaultSwitches& faults_;
  std::deque<std::string> script_;
};

// A database for programs that must not touch one: every use fails.
class NoDatabase : public Database {
 public:
  std::unique_ptr<Connection> NewConnection() override;
};

// All fakes of one machine, sharing one journal and one set of fault
// switches, with a Windows XP-like environment.
class FakeMachine {
 public:
  FakeMachine();

  // The host view handed to a program; `database` defaults to NoDatabase.
  Host host(Database* database = nullptr);

  Journal journal;
  FaultSwitches faults;
  FakeEnvironment environment;
  FakeShell shell{journal, faults, environment};
  FakeFileSystem files{journal, faults};
  FakeDialogs dialogs{journal};
  FakeProcesses processes{journal};
  FakeDirectorySearch search{files};
  FakeClock clock;
  FakeRandom random{faults};
  NoDatabase no_database;
  FakeNetwork network{journal, faults};
  // The folder host().program_folder() tells, and how often it was asked.
  std::string program_folder = "D:\\";
  int program_folder_queries = 0;
};

}  // namespace quillon::testing
