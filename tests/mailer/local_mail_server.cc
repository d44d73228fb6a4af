#include "local_mail_server.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <stdexcept>
#include <thread>

namespace quillon::testing {

LocalMailServer::LocalMailServer(const std::string& mode) {
  int output[2];
  int input[2];
  if (pipe2(output, O_CLOEXEC) != 0 || pipe2(input, O_CLOEXEC) != 0) {
    throw std::runtime_error("pipe failed");
  }
  const std::string script = SourcePath("tests/mail_server.py");
  pid_ = fork();
  if (pid_ < 0) throw std::runtime_error("fork failed");
  if (pid_ == 0) {
    dup2(input[0], STDIN_FILENO);
    dup2(output[1], STDOUT_FILENO);
    execl("/usr/bin/python3", "python3", script.c_str(), mode.c_str(), folder_.path().c_str(),
          static_cast<char*>(nullptr));
    _exit(127);
  }
  close(output[1]);
  close(input[0]);
  input_ = input[1];
  // The port comes on the first line, once the server listens.
  std::string line;
  pollfd entry{output[0], POLLIN, 0};
  char c = 0;
  while (poll(&entry, 1, 30000) > 0 && read(output[0], &c, 1) == 1 && c != '\n') line += c;
  close(output[0]);
  if (line.empty() || line.find_first_not_of("0123456789") != std::string::npos) {
    throw std::runtime_error("the mail server did not start (is python3-aiosmtpd installed?)");
  }
  port_ = std::stoi(line);
}

LocalMailServer::~LocalMailServer() {
  close(input_);
  kill(pid_, SIGTERM);
  waitpid(pid_, nullptr, 0);
}

std::optional<std::map<std::string, std::optional<std::string>>> LocalMailServer::AwaitMessage(
    int n) const {
  const std::string record = folder_.path() + "/" + std::to_string(n) + ".json";
  for (int attempt = 0; attempt < 1200 && !std::filesystem::exists(record); ++attempt) {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  if (!std::filesystem::exists(record)) return std::nullopt;
  return ParseJsonLine(ReadPosixFile(record));
}

std::string LocalMailServer::RawMessage(int n) const {
  return ReadPosixFile(folder_.path() + "/" + std::to_string(n) + ".eml");
}

int LocalMailServer::MessageCount() const {
  int count = 0;
  while (std::filesystem::exists(folder_.path() + "/" + std::to_string(count + 1) + ".json")) {
    ++count;
  }
  return count;
}

}  // namespace quillon::testing
