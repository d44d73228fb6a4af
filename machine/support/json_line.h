// One JSON object on one line, as the machine's logs hold them.
#pragma once

#include <nlohmann/json.hpp>
#include <string>
#include <string_view>
#include <vector>

namespace quillon::machine {

// Builds {"key":value,...} in the order the fields are added. Texts are in
// the system code page and come out as UTF-8 JSON strings.
class JsonObject {
 public:
  JsonObject& Add(std::string_view key, std::string_view text);
  JsonObject& Add(std::string_view key, const char* text) {
    return Add(key, std::string_view(text));
  }
  JsonObject& Add(std::string_view key, const std::string& text) {
    return Add(key, std::string_view(text));
  }
  JsonObject& Add(std::string_view key, bool flag);
  JsonObject& Add(std::string_view key, long number);
  JsonObject& Add(std::string_view key, int number) { return Add(key, static_cast<long>(number)); }
  JsonObject& Add(std::string_view key, const std::vector<std::string>& texts);
  JsonObject& AddNull(std::string_view key);
  // The fields of other after these, in their order.
  JsonObject& Append(const JsonObject& other);
  std::string Text() const;

 private:
  nlohmann::ordered_json fields_ = nlohmann::ordered_json::object();
};

// Appends the line and a LF to a file in the machine root (created when
// missing) in one write, whole or not at all; a link there is not followed.
// Throws HostError when the file cannot be written.
void AppendLine(const std::string& posix_path, const std::string& line);

}  // namespace quillon::machine
