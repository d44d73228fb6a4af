#include "support/json_line.h"

#include "shared/backend/box_script.h"
#include "shared/helpers/text.h"
#include "shared/host_error.h"
#include "shared/posix/json_log.h"

namespace quillon::machine {

JsonObject& JsonObject::Add(std::string_view key, std::string_view text) {
  fields_[std::string(key)] = Cp1252ToUtf8(text);
  return *this;
}

JsonObject& JsonObject::Add(std::string_view key, bool flag) {
  fields_[std::string(key)] = flag;
  return *this;
}

JsonObject& JsonObject::Add(std::string_view key, long number) {
  fields_[std::string(key)] = number;
  return *this;
}

JsonObject& JsonObject::Add(std::string_view key, const std::vector<std::string>& texts) {
  nlohmann::ordered_json list = nlohmann::ordered_json::array();
  for (const std::string& text : texts) list.push_back(Cp1252ToUtf8(text));
  fields_[std::string(key)] = std::move(list);
  return *this;
}

JsonObject& JsonObject::AddNull(std::string_view key) {
  fields_[std::string(key)] = nullptr;
  return *this;
}

JsonObject& JsonObject::Append(const JsonObject& other) {
  for (const auto& [key, value] : other.fields_.items()) fields_[key] = value;
  return *this;
}

std::string JsonObject::Text() const {
  return JsonText(fields_);
}

void AppendLine(const std::string& posix_path, const std::string& line) {
  if (!AppendLogLine(posix_path, line, LogLink::kRefuse)) {
    throw HostError(error_number::kPermissionDenied, "Cannot write " + posix_path);
  }
}

}  // namespace quillon::machine
