#include "shared/backend/box_script.h"

#include <algorithm>
#include <cstdio>
#include <exception>
#include <nlohmann/json.hpp>

#include "shared/helpers/text.h"
#include "shared/platform.h"

namespace quillon {
namespace {

bool Offers(const std::vector<int>& buttons, int button) {
  return std::find(buttons.begin(), buttons.end(), button) != buttons.end();
}

std::string TrimmedUpper(std::string_view text) {
  return UpperCase(TrimWhitespace(text));
}

// The fields every dialog-log line starts with, in their order.
nlohmann::ordered_json BoxLogStart(std::string_view program, const char* kind,
                                   std::string_view title, int style, std::string_view text) {
  return {{"program", Cp1252ToUtf8(program)},
          {"kind", kind},
          {"title", Cp1252ToUtf8(title)},
          {"style", style},
          {"text", Cp1252ToUtf8(text)}};
}

}  // namespace

std::vector<int> BoxButtons(int style) {
  switch (style & 0xF) {
    case 1:
      return {kIdOk, kIdCancel};
    case 2:
      return {kIdAbort, kIdRetry, kIdIgnore};
    case 3:
      return {kIdYes, kIdNo, kIdCancel};
    case kMbYesNo:
      return {kIdYes, kIdNo};
    case 5:
      return {kIdRetry, kIdCancel};
    default:
      return {kIdOk};
  }
}

int DefaultButton(int style) {
  const std::vector<int> buttons = BoxButtons(style);
  if (Offers(buttons, kIdCancel)) return kIdCancel;
  if (Offers(buttons, kIdNo)) return kIdNo;
  return buttons.front();
}

std::string ButtonName(int button) {
  switch (button) {
    case kIdOk:
      return "OK";
    case kIdCancel:
      return "Cancel";
    case kIdAbort:
      return "Abort";
    case kIdRetry:
      return "Retry";
    case kIdIgnore:
      return "Ignore";
    case kIdYes:
      return "Yes";
    case kIdNo:
      return "No";
    default:
      return std::to_string(button);
  }
}

std::optional<int> NamedButton(std::string_view answer, int style) {
  const std::string wanted = TrimmedUpper(answer);
  for (int button : BoxButtons(style)) {
    if (UpperCase(ButtonName(button)) == wanted) return button;
  }
  return std::nullopt;
}

int MessageBoxAnswer(const std::optional<std::string>& answer, int style) {
  if (answer) {
    if (std::optional<int> named = NamedButton(*answer, style)) return *named;
  }
  return DefaultButton(style);
}

std::optional<std::string> QueuedAnswerOrDefault(
    const std::function<std::optional<std::string>()>& take_line, std::string_view queue_path,
    std::string_view box, std::string_view outcome) {
  std::string reason;
  try {
    return take_line();
  } catch (const std::exception& error) {
    reason = error.what();
  }
  const std::string note = std::string(box) + ": answer queue " + std::string(queue_path) + ": " +
                           reason + "; " + std::string(outcome) + "\n";
  std::fputs(Cp1252ToUtf8(note).c_str(), stderr);
  return std::nullopt;
}

std::string QueuedText(std::string_view line) {
  return IsValidUtf8(line) ? Utf8ToCp1252(line) : std::string(line);
}

std::string JsonString(std::string_view text) {
  return JsonText(nlohmann::json(Cp1252ToUtf8(text)));
}

std::string JsonText(const nlohmann::ordered_json& value) {
  // Texts reach JSON converted to UTF-8, so nothing is ever replaced; the
  // handler only keeps a stray byte from throwing inside a log writer.
  return value.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

std::string MessageBoxLogLine(std::string_view program, std::string_view title, int style,
                              std::string_view text, int button) {
  nlohmann::ordered_json line = BoxLogStart(program, "MsgBox", title, style, text);
  line["answer"] = ButtonName(button);
  return JsonText(line);
}

std::string InputBoxLogLine(std::string_view program, std::string_view title, std::string_view text,
                            const std::optional<std::string>& answer) {
  nlohmann::ordered_json line = BoxLogStart(program, "InputBox", title, 0, text);
  line["answer"] = answer ? nlohmann::ordered_json(Cp1252ToUtf8(*answer)) : nullptr;
  return JsonText(line);
}

std::string CommandForLog(std::string_view command) {
  constexpr std::string_view kPasswordKey = "SAPWD=";
  constexpr std::string_view kHidden = "********";
  std::string shown;
  std::size_t at = 0;
  while (at < command.size()) {
    const bool word_start = at == 0 || command[at - 1] == ' ' || command[at - 1] == '\t';
    if (word_start && UpperCase(command.substr(at, kPasswordKey.size())) == kPasswordKey) {
      shown.append(command.substr(at, kPasswordKey.size()));
      shown.append(kHidden);
      at += kPasswordKey.size();
      while (at < command.size() && command[at] != ' ' && command[at] != '\t') ++at;
      continue;
    }
    shown += command[at++];
  }
  return shown;
}

std::string RunLogLine(std::string_view program, std::string_view command, int style, bool wait) {
  return JsonText(nlohmann::ordered_json{{"program", Cp1252ToUtf8(program)},
                                         {"command", Cp1252ToUtf8(CommandForLog(command))},
                                         {"style", style},
                                         {"wait", wait}});
}

}  // namespace quillon
