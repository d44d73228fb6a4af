#include "shared/win32/dialog_script.h"

#include <cstdio>
#include <vector>

#include "shared/platform.h"
#include "shared/text.h"
#include "shared/win32/file_append.h"
#include "shared/win32/win32_error.h"

namespace quillon::win32 {
namespace {

// Closes a file handle on every way out.
class FileHandle {
 public:
  explicit FileHandle(HANDLE handle) : handle_(handle) {}
  FileHandle(const FileHandle&) = delete;
  FileHandle& operator=(const FileHandle&) = delete;
  ~FileHandle() {
    if (valid()) CloseHandle(handle_);
  }
  bool valid() const { return handle_ != INVALID_HANDLE_VALUE; }
  HANDLE get() const { return handle_; }

 private:
  HANDLE handle_;
};

// Holds an exclusive lock on a whole file while it lives.
class FileLock {
 public:
  explicit FileLock(HANDLE file) : file_(file) {
    if (!LockFileEx(file_, LOCKFILE_EXCLUSIVE_LOCK, 0, MAXDWORD, MAXDWORD, &overlapped_)) {
      throw LastHostError(ErrorSource::kFileSystem);
    }
  }
  FileLock(const FileLock&) = delete;
  FileLock& operator=(const FileLock&) = delete;
  ~FileLock() { UnlockFileEx(file_, 0, MAXDWORD, MAXDWORD, &overlapped_); }

 private:
  HANDLE file_;
  OVERLAPPED overlapped_{};
};

std::string ReadAll(HANDLE file) {
  std::string content;
  std::vector<char> chunk(4096);
  while (true) {
    DWORD read = 0;
    if (!ReadFile(file, chunk.data(), static_cast<DWORD>(chunk.size()), &read, nullptr)) {
      throw LastHostError(ErrorSource::kFileSystem);
    }
    if (read == 0) return content;
    content.append(chunk.data(), read);
  }
}

void WriteAll(HANDLE file, const std::string& text) {
  std::size_t done = 0;
  while (done < text.size()) {
    DWORD written = 0;
    if (!WriteFile(file, text.data() + done, static_cast<DWORD>(text.size() - done), &written,
                   nullptr)) {
      throw LastHostError(ErrorSource::kFileSystem);
    }
    done += written;
  }
}

struct ButtonSet {
  int buttons[3];
  int count;
};

ButtonSet ButtonsOf(int style) {
  switch (style & 0xF) {
    case 1:
      return {{kIdOk, kIdCancel, 0}, 2};
    case 2:
      return {{IDABORT, IDRETRY, IDIGNORE}, 3};
    case 3:
      return {{kIdYes, kIdNo, kIdCancel}, 3};
    case 4:
      return {{kIdYes, kIdNo, 0}, 2};
    case 5:
      return {{IDRETRY, kIdCancel, 0}, 2};
    default:
      return {{kIdOk, 0, 0}, 1};
  }
}

bool Offers(const ButtonSet& set, int button) {
  for (int i = 0; i < set.count; ++i) {
    if (set.buttons[i] == button) return true;
  }
  return false;
}

int DefaultButton(const ButtonSet& set) {
  if (Offers(set, kIdCancel)) return kIdCancel;
  if (Offers(set, kIdNo)) return kIdNo;
  return set.buttons[0];
}

std::string TrimmedUpper(std::string_view text) {
  const std::size_t first = text.find_first_not_of(" \t");
  if (first == std::string_view::npos) return "";
  const std::size_t last = text.find_last_not_of(" \t");
  return UpperCase(text.substr(first, last - first + 1));
}

bool IsValidUtf8(std::string_view text) {
  std::size_t i = 0;
  while (i < text.size()) {
    const auto b = static_cast<unsigned char>(text[i]);
    std::size_t extra = 0;
    if (b < 0x80) {
      extra = 0;
    } else if ((b & 0xE0) == 0xC0 && b >= 0xC2) {
      extra = 1;
    } else if ((b & 0xF0) == 0xE0) {
      extra = 2;
    } else if ((b & 0xF8) == 0xF0 && b <= 0xF4) {
      extra = 3;
    } else {
      return false;
    }
    if (i + extra >= text.size()) return false;
    for (std::size_t k = 1; k <= extra; ++k) {
      if ((static_cast<unsigned char>(text[i + k]) & 0xC0) != 0x80) return false;
    }
    i += extra + 1;
  }
  return true;
}

}  // namespace

std::optional<std::string> TakeQueuedAnswer(const std::string& queue_path) {
  FileHandle file(CreateFileA(queue_path.c_str(), GENERIC_READ | GENERIC_WRITE,
                              FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file.valid()) {
    const DWORD code = GetLastError();
    if (code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND) return std::nullopt;
    throw HostErrorFor(code, ErrorSource::kFileSystem);
  }
  FileLock lock(file.get());
  const std::string content = ReadAll(file.get());
  if (content.empty()) return std::nullopt;

  const std::size_t end = content.find('\n');
  std::string answer = content.substr(0, end);
  if (!answer.empty() && answer.back() == '\r') answer.pop_back();
  const std::string rest = end == std::string::npos ? std::string() : content.substr(end + 1);

  if (SetFilePointer(file.get(), 0, nullptr, FILE_BEGIN) == INVALID_SET_FILE_POINTER) {
    throw LastHostError(ErrorSource::kFileSystem);
  }
  WriteAll(file.get(), rest);
  if (!SetEndOfFile(file.get())) throw LastHostError(ErrorSource::kFileSystem);
  return answer;
}

int MessageBoxAnswer(const std::optional<std::string>& answer, int style) {
  const ButtonSet set = ButtonsOf(style);
  if (answer) {
    const std::string wanted = TrimmedUpper(*answer);
    for (int i = 0; i < set.count; ++i) {
      if (wanted == UpperCase(ButtonName(set.buttons[i]))) return set.buttons[i];
    }
  }
  return DefaultButton(set);
}

std::string QueuedText(const std::string& line) {
  return IsValidUtf8(line) ? Utf8ToCp1252(line) : line;
}

std::string ButtonName(int button) {
  switch (button) {
    case kIdOk:
      return "OK";
    case kIdCancel:
      return "Cancel";
    case IDABORT:
      return "Abort";
    case IDRETRY:
      return "Retry";
    case IDIGNORE:
      return "Ignore";
    case kIdYes:
      return "Yes";
    case kIdNo:
      return "No";
    default:
      return std::to_string(button);
  }
}

std::string JsonString(std::string_view text) {
  const std::string utf8 = Cp1252ToUtf8(text);
  std::string json = "\"";
  for (char c : utf8) {
    switch (c) {
      case '"':
        json += "\\\"";
        break;
      case '\\':
        json += "\\\\";
        break;
      case '\n':
        json += "\\n";
        break;
      case '\r':
        json += "\\r";
        break;
      case '\t':
        json += "\\t";
        break;
      case '\b':
        json += "\\b";
        break;
      case '\f':
        json += "\\f";
        break;
      default:
        if (static_cast<unsigned char>(c) < 0x20) {
          char escaped[8];
          std::snprintf(escaped, sizeof escaped, "\\u%04x", static_cast<unsigned char>(c));
          json += escaped;
        } else {
          json += c;
        }
    }
  }
  json += '"';
  return json;
}

std::string MessageBoxLogLine(const std::string& program, const std::string& title, int style,
                              const std::string& text, int button) {
  return "{\"program\":" + JsonString(program) +
         ",\"kind\":\"MsgBox\",\"title\":" + JsonString(title) +
         ",\"style\":" + std::to_string(style) + ",\"text\":" + JsonString(text) +
         ",\"answer\":" + JsonString(ButtonName(button)) + "}";
}

std::string InputBoxLogLine(const std::string& program, const std::string& title,
                            const std::string& text, const std::optional<std::string>& answer) {
  return "{\"program\":" + JsonString(program) +
         ",\"kind\":\"InputBox\",\"title\":" + JsonString(title) +
         ",\"style\":0,\"text\":" + JsonString(text) +
         ",\"answer\":" + (answer ? JsonString(*answer) : std::string("null")) + "}";
}

bool AppendDialogLog(const std::string& log_path, const std::string& line) {
  FileHandle file(OpenForAppending(log_path, true));
  if (!file.valid()) return false;
  try {
    AppendWhole(file.get(), line + "\n");
  } catch (const HostError&) {
    return false;
  }
  return true;
}

}  // namespace quillon::win32
