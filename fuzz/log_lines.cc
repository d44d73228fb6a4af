// The dialog and run logs' JSON lines, built from texts that programs show
// and command lines they start (a user name, a path, a typed answer...):
// each is one line of valid JSON whose fields give back the texts, in UTF-8,
// and no run-log line shows a database engine password.
#include <nlohmann/json.hpp>
#include <string>

#include "fuzz_check.h"
#include "shared/backend/box_script.h"
#include "shared/helpers/text.h"

using namespace quillon;

namespace {

nlohmann::ordered_json ParsedLine(const std::string& line) {
  FUZZ_CHECK(line.find_first_of("\r\n") == std::string::npos);
  FUZZ_CHECK(nlohmann::json::accept(line));
  return nlohmann::ordered_json::parse(line);
}

// Every word that starts with SAPWD= (any case) goes on with ******** alone.
bool HidesPasswords(const std::string& shown) {
  for (std::size_t at = 0; at < shown.size(); ++at) {
    const bool word_start = at == 0 || shown[at - 1] == ' ' || shown[at - 1] == '\t';
    if (word_start && UpperCase(shown.substr(at, 6)) == "SAPWD=") {
      const std::size_t end = shown.find_first_of(" \t", at);
      if (shown.substr(at + 6, end == std::string::npos ? std::string::npos : end - at - 6) !=
          "********") {
        return false;
      }
    }
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::vector<std::string> parts = fuzz::Parts(fuzz::Text(data, size), 4);
  const std::string& program = parts[0];
  const std::string& title = parts[1];
  const std::string& text = parts[2];
  const std::string& answer = parts[3];
  const int style = static_cast<int>(size % 80);

  const nlohmann::ordered_json box =
      ParsedLine(MessageBoxLogLine(program, title, style, text, MessageBoxAnswer(answer, style)));
  FUZZ_CHECK(box.size() == 6);
  FUZZ_CHECK(box.begin().key() == "program");
  FUZZ_CHECK(Utf8ToCp1252(box["program"].get<std::string>()) == program);
  FUZZ_CHECK(box["kind"] == "MsgBox");
  FUZZ_CHECK(Utf8ToCp1252(box["title"].get<std::string>()) == title);
  FUZZ_CHECK(box["style"] == style);
  FUZZ_CHECK(Utf8ToCp1252(box["text"].get<std::string>()) == text);
  FUZZ_CHECK(box["answer"] == ButtonName(MessageBoxAnswer(answer, style)));

  const std::optional<std::string> typed =
      answer == kCancelLine ? std::nullopt : std::optional<std::string>(QueuedText(answer));
  const nlohmann::ordered_json input = ParsedLine(InputBoxLogLine(program, title, text, typed));
  FUZZ_CHECK(input["kind"] == "InputBox");
  FUZZ_CHECK(input["style"] == 0);
  FUZZ_CHECK(typed ? Utf8ToCp1252(input["answer"].get<std::string>()) == *typed
                   : input["answer"].is_null());

  const nlohmann::ordered_json run = ParsedLine(RunLogLine(program, text, style, size % 2 == 0));
  FUZZ_CHECK(run.size() == 4);
  const std::string command = Utf8ToCp1252(run["command"].get<std::string>());
  FUZZ_CHECK(command == CommandForLog(text));
  FUZZ_CHECK(HidesPasswords(command));
  FUZZ_CHECK(run["wait"] == (size % 2 == 0));
  if (UpperCase(text).find("SAPWD=") == std::string::npos) FUZZ_CHECK(command == text);

  FUZZ_CHECK(nlohmann::json::parse(JsonString(title)).get<std::string>() == Cp1252ToUtf8(title));
  return 0;
}
