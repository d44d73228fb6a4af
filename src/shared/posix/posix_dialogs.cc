// Message and input boxes on the portable machine: answered from the queue
// file, or asked on the terminal, and written to the dialog log.
#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>

#include "shared/backend/box_script.h"
#include "shared/helpers/text.h"
#include "shared/host_error.h"
#include "shared/posix/descriptor.h"
#include "shared/posix/json_log.h"
#include "shared/posix/posix_platform.h"

namespace quillon {

namespace {

// ---------------------------------------------------------------- terminal

// The controlling terminal, or nullptr when the process has none.
std::FILE* OpenTerminal() {
  const int fd = open("/dev/tty", O_RDWR | O_CLOEXEC | O_NOCTTY);
  if (fd < 0) return nullptr;
  std::FILE* terminal = fdopen(fd, "r+");
  if (terminal == nullptr) close(fd);
  return terminal;
}

std::optional<std::string> ReadTerminalLine(std::FILE* terminal) {
  std::string line;
  int c = 0;
  while ((c = std::fgetc(terminal)) != EOF && c != '\n') line += static_cast<char>(c);
  if (c == EOF && line.empty()) return std::nullopt;
  if (!line.empty() && line.back() == '\r') line.pop_back();
  return line;
}

int AskButtonOnTerminal(std::FILE* terminal, const std::string& title, const std::string& prompt,
                        int style) {
  std::string choices;
  for (int button : BoxButtons(style)) {
    choices += (choices.empty() ? "" : "/") + ButtonName(button);
  }
  std::fprintf(terminal, "\n[%s]\n%s\n", Cp1252ToUtf8(title).c_str(), Cp1252ToUtf8(prompt).c_str());
  while (true) {
    std::fprintf(terminal, "(%s)? ", choices.c_str());
    std::fflush(terminal);
    std::optional<std::string> line = ReadTerminalLine(terminal);
    if (!line) return DefaultButton(style);  // end of input: as if closed
    if (std::optional<int> button = NamedButton(*line, style)) return *button;
  }
}

std::optional<std::string> AskTextOnTerminal(std::FILE* terminal, const std::string& title,
                                             const std::string& prompt,
                                             const std::string& default_text) {
  std::fprintf(terminal, "\n[%s]\n%s\n(text, empty for [%s], <Cancel> to cancel)? ",
               Cp1252ToUtf8(title).c_str(), Cp1252ToUtf8(prompt).c_str(),
               Cp1252ToUtf8(default_text).c_str());
  std::fflush(terminal);
  std::optional<std::string> line = ReadTerminalLine(terminal);
  if (!line || *line == kCancelLine) return std::nullopt;
  if (line->empty()) return default_text;
  return QueuedText(*line);
}

void LogBox(const std::string& program, const std::string& line) {
  const char* log = std::getenv(kDialogLogVariable);
  if (log == nullptr || *log == '\0') return;
  if (!AppendLogLine(log, line)) {
    std::fprintf(stderr, "%s: cannot append to the dialog log %s\n", program.c_str(), log);
  }
}

// A failure on the answer queue, with the system's reason.
HostError QueueError(const std::string& what) {
  return HostError(error_number::kUnspecified, what + ": " + std::strerror(errno));
}

// What a box says on stderr it did, and its queued answer or default.
std::optional<std::string> QueuedAnswer(const std::string& program, const char* kind,
                                        const std::string& title, const std::string& outcome) {
  const std::string queue = std::getenv(kAnswersVariable);
  return QueuedAnswerOrDefault([&] { return TakeQueuedLine(queue); }, queue,
                               program + ": " + kind + " \"" + title + "\"", outcome);
}

// Where a box's answer comes from.
enum class AnswerSource { kQueue, kTerminal, kDefault };

AnswerSource SourceOfAnswers(std::FILE*& terminal) {
  if (std::getenv(kAnswersVariable) != nullptr) return AnswerSource::kQueue;
  terminal = OpenTerminal();
  return terminal != nullptr ? AnswerSource::kTerminal : AnswerSource::kDefault;
}

}  // namespace

std::optional<std::string> TakeQueuedLine(const std::string& queue_path) {
  if (queue_path.empty()) return std::nullopt;
  // A FIFO or a device is never waited for: the queue must be a file.
  const Descriptor queue(OpenRegularFile(queue_path, O_RDWR | O_CLOEXEC));
  if (queue.get() < 0 && errno == EPERM) {
    throw HostError(error_number::kUnspecified,
                    "cannot read the answer queue " + queue_path + ": not a regular file");
  }
  if (queue.get() < 0) return std::nullopt;  // a missing queue counts as empty
  // The lock is held until the descriptor closes.
  while (flock(queue.get(), LOCK_EX) != 0 && errno == EINTR) {
  }
  std::string content;
  char buffer[4096];
  while (true) {
    const ssize_t got = read(queue.get(), buffer, sizeof buffer);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) throw QueueError("cannot read");
    if (got == 0) break;
    content.append(buffer, static_cast<std::size_t>(got));
    if (content.size() > kMaxAnswerQueueBytes) {
      throw HostError(error_number::kUnspecified,
                      "larger than " + std::to_string(kMaxAnswerQueueBytes) + " bytes");
    }
  }
  if (content.empty()) return std::nullopt;

  const std::size_t end = content.find('\n');
  std::string line = content.substr(0, end);
  const std::string_view rest =
      end == std::string::npos ? std::string_view() : std::string_view(content).substr(end + 1);
  // The remaining lines move to the front. A queue that cannot be rewritten
  // in full stops here instead of being cut to a mix of new and old lines.
  if (lseek(queue.get(), 0, SEEK_SET) != 0 || !WriteAll(queue.get(), rest) ||
      ftruncate(queue.get(), static_cast<off_t>(rest.size())) != 0) {
    throw QueueError("cannot rewrite");
  }
  if (!line.empty() && line.back() == '\r') line.pop_back();
  return line;
}

int PosixDialogs::MsgBox(const std::string& prompt, int style, const std::string& title) {
  int answer = DefaultButton(style);
  std::FILE* terminal = nullptr;
  switch (SourceOfAnswers(terminal)) {
    case AnswerSource::kQueue:
      answer = MessageBoxAnswer(
          QueuedAnswer(program_name_, "message box", title, "answered " + ButtonName(answer)),
          style);
      break;
    case AnswerSource::kTerminal:
      answer = AskButtonOnTerminal(terminal, title, prompt, style);
      std::fclose(terminal);
      break;
    case AnswerSource::kDefault:
      std::fprintf(stderr, "%s: message box \"%s\": no answer queue and no terminal, answered %s\n",
                   program_name_.c_str(), Cp1252ToUtf8(title).c_str(), ButtonName(answer).c_str());
      break;
  }
  LogBox(program_name_, MessageBoxLogLine(program_name_, title, style, prompt, answer));
  return answer;
}

std::optional<std::string> PosixDialogs::InputBox(const std::string& prompt,
                                                  const std::string& title,
                                                  const std::string& default_text) {
  std::optional<std::string> answer;
  std::FILE* terminal = nullptr;
  switch (SourceOfAnswers(terminal)) {
    case AnswerSource::kQueue:
      if (std::optional<std::string> line =
              QueuedAnswer(program_name_, "input box", title, "cancelled")) {
        if (*line != kCancelLine) answer = QueuedText(*line);
      }
      break;
    case AnswerSource::kTerminal:
      answer = AskTextOnTerminal(terminal, title, prompt, default_text);
      std::fclose(terminal);
      break;
    case AnswerSource::kDefault:
      std::fprintf(stderr, "%s: input box \"%s\": no answer queue and no terminal, cancelled\n",
                   program_name_.c_str(), Cp1252ToUtf8(title).c_str());
      break;
  }
  LogBox(program_name_, InputBoxLogLine(program_name_, title, prompt, answer));
  return answer;
}

}  // namespace quillon
