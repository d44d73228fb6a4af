// Scratch portable machines and process helpers for the tests of the POSIX
// backends: a machine root under the temporary folder (removed with all it
// holds), scoped environment and current directory, and forked children.
#pragma once

#include <fcntl.h>
#include <ftw.h>
#include <grp.h>
#include <pwd.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <optional>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

namespace quillon::testing {

inline std::string ReadPosixFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return "";
  std::ostringstream content;
  content << in.rdbuf();
  return content.str();
}

inline std::vector<std::string> ReadPosixLines(const std::string& path) {
  std::vector<std::string> lines;
  std::istringstream in(ReadPosixFile(path));
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

inline void WritePosixFile(const std::string& path, const std::string& content,
                           mode_t mode = 0644) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << content;
  out.close();
  if (!out || chmod(path.c_str(), mode) != 0) throw std::runtime_error("cannot write " + path);
}

// mkdir -p
inline void MakePosixFolders(const std::string& path) {
  for (std::size_t slash = path.find('/', 1);; slash = path.find('/', slash + 1)) {
    const std::string part = path.substr(0, slash);
    mkdir(part.c_str(), 0755);
    if (slash == std::string::npos) break;
  }
}

inline bool PosixExists(const std::string& path) {
  struct stat info {};
  return lstat(path.c_str(), &info) == 0;
}

inline mode_t PosixMode(const std::string& path) {
  struct stat info {};
  return stat(path.c_str(), &info) == 0 ? (info.st_mode & 07777) : 0;
}

// A machine root with the folders drive_c and drive_d, traversable by every
// user (tests drop privileges in children).
class ScratchMachine {
 public:
  ScratchMachine() {
    const char* tmp = std::getenv("TMPDIR");
    std::string pattern =
        std::string(tmp != nullptr && *tmp != '\0' ? tmp : "/tmp") + "/quillon-posix-XXXXXX";
    if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
    char resolved[PATH_MAX];
    root_ = realpath(pattern.c_str(), resolved) != nullptr ? resolved : pattern;
    chmod(root_.c_str(), 0755);
    MakePosixFolders(root_ + "/drive_c");
    MakePosixFolders(root_ + "/drive_d");
  }
  ScratchMachine(const ScratchMachine&) = delete;
  ScratchMachine& operator=(const ScratchMachine&) = delete;
  ~ScratchMachine() {
    // Folders left read-only by a test must open up before they can go.
    nftw(
        root_.c_str(),
        [](const char* path, const struct stat* info, int type, struct FTW*) {
          if (type == FTW_D && !S_ISLNK(info->st_mode)) chmod(path, 0700);
          return 0;
        },
        16, FTW_PHYS);
    nftw(
        root_.c_str(),
        [](const char* path, const struct stat*, int, struct FTW*) { return ::remove(path); }, 16,
        FTW_DEPTH | FTW_PHYS);
  }

  const std::string& root() const { return root_; }
  // The POSIX path of something below the root, e.g. "drive_c/Tools".
  std::string Posix(const std::string& relative) const { return root_ + "/" + relative; }
  void MakeFolder(const std::string& relative) const { MakePosixFolders(Posix(relative)); }
  void WriteFile(const std::string& relative, const std::string& content,
                 mode_t mode = 0644) const {
    const std::string path = Posix(relative);
    MakePosixFolders(path.substr(0, path.rfind('/')));
    WritePosixFile(path, content, mode);
  }
  std::string ReadFile(const std::string& relative) const { return ReadPosixFile(Posix(relative)); }
  bool Exists(const std::string& relative) const { return PosixExists(Posix(relative)); }

 private:
  std::string root_;
};

// Sets (or, with nullopt, unsets) an environment variable for a scope.
class ScopedEnvironment {
 public:
  ScopedEnvironment(std::string name, const std::optional<std::string>& value)
      : name_(std::move(name)) {
    if (const char* old = std::getenv(name_.c_str())) old_ = old;
    if (value) {
      setenv(name_.c_str(), value->c_str(), 1);
    } else {
      unsetenv(name_.c_str());
    }
  }
  ScopedEnvironment(const ScopedEnvironment&) = delete;
  ScopedEnvironment& operator=(const ScopedEnvironment&) = delete;
  ~ScopedEnvironment() {
    if (old_) {
      setenv(name_.c_str(), old_->c_str(), 1);
    } else {
      unsetenv(name_.c_str());
    }
  }

 private:
  std::string name_;
  std::optional<std::string> old_;
};

// Changes the process's current directory for a scope.
class ScopedCurrentDirectory {
 public:
  explicit ScopedCurrentDirectory(const std::string& path) {
    char old[PATH_MAX];
    if (getcwd(old, sizeof old) != nullptr) old_ = old;
    if (chdir(path.c_str()) != 0) throw std::runtime_error("cannot enter " + path);
  }
  ScopedCurrentDirectory(const ScopedCurrentDirectory&) = delete;
  ScopedCurrentDirectory& operator=(const ScopedCurrentDirectory&) = delete;
  ~ScopedCurrentDirectory() {
    if (!old_.empty() && chdir(old_.c_str()) != 0) std::perror("chdir back");
  }

 private:
  std::string old_;
};

// Runs body in a forked child and returns the child's exit status (128 +
// signal number when a signal ended it). The child never returns into the
// test framework.
inline int RunInChild(const std::function<int()>& body) {
  std::fflush(nullptr);
  const pid_t pid = fork();
  if (pid < 0) throw std::runtime_error("fork failed");
  if (pid == 0) {
    int status = 99;
    try {
      status = body();
    } catch (...) {
      status = 98;
    }
    std::fflush(nullptr);
    _exit(status);
  }
  int status = 0;
  while (waitpid(pid, &status, 0) < 0) {
  }
  if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
  return WEXITSTATUS(status);
}

// Like RunInChild, but the child first gives up root (when the tests run as
// root), so that permission bits take effect.
inline int RunUnprivileged(const std::function<int()>& body) {
  return RunInChild([&] {
    if (geteuid() == 0) {
      const passwd* nobody = getpwnam("nobody");
      const uid_t uid = nobody != nullptr ? nobody->pw_uid : 65534;
      const gid_t gid = nobody != nullptr ? nobody->pw_gid : 65534;
      if (setgroups(0, nullptr) != 0 || setgid(gid) != 0 || setuid(uid) != 0) return 97;
    }
    return body();
  });
}

}  // namespace quillon::testing
