// Which services of a machine are running. The service control manager keeps
// this in memory on Windows; the portable machine keeps it in the file
// "services.running" at the machine root, one service name per line, so that
// a later "net start" and the tests see it. Names match without regard to
// letter case. Every change is made under an exclusive lock on that file.
#pragma once

#include <string>
#include <vector>

namespace quillon::machine {

class RunningServices {
 public:
  explicit RunningServices(std::string machine_root);

  bool IsRunning(const std::string& name) const;
  // Returns false when the service was already running.
  bool Start(const std::string& name);
  // Returns false when the service was not running.
  bool Stop(const std::string& name);
  // Makes exactly these services the running ones (a restart).
  void Replace(const std::vector<std::string>& names);
  std::vector<std::string> Names() const;

 private:
  std::string path_;
};

}  // namespace quillon::machine
