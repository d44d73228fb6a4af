#include "support/json_line.h"

#include "shared/box_script.h"
#include "shared/host_error.h"
#include "shared/posix/json_log.h"

namespace quillon::machine {

void JsonObject::Key(std::string_view key) {
  if (!body_.empty()) body_ += ',';
  body_ += JsonString(key);
  body_ += ':';
}

JsonObject& JsonObject::Add(std::string_view key, std::string_view text) {
  Key(key);
  body_ += JsonString(text);
  return *this;
}

JsonObject& JsonObject::Add(std::string_view key, bool flag) {
  Key(key);
  body_ += flag ? "true" : "false";
  return *this;
}

JsonObject& JsonObject::Add(std::string_view key, long number) {
  Key(key);
  body_ += std::to_string(number);
  return *this;
}

JsonObject& JsonObject::Add(std::string_view key, const std::vector<std::string>& texts) {
  Key(key);
  body_ += '[';
  for (std::size_t i = 0; i < texts.size(); ++i) {
    if (i > 0) body_ += ',';
    body_ += JsonString(texts[i]);
  }
  body_ += ']';
  return *this;
}

JsonObject& JsonObject::AddNull(std::string_view key) {
  Key(key);
  body_ += "null";
  return *this;
}

void AppendLine(const std::string& posix_path, const std::string& line) {
  if (!AppendLogLine(posix_path, line, LogLink::kRefuse)) {
    throw HostError(error_number::kPermissionDenied, "Cannot write " + posix_path);
  }
}

}  // namespace quillon::machine
