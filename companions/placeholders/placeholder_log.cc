#include "placeholders/placeholder_log.h"

#include <cstdio>
#include <memory>

namespace quillon::placeholders {
namespace {

std::string TwoDigits(int value) {
  char text[8];
  std::snprintf(text, sizeof text, "%02d", value);
  return text;
}

}  // namespace

void RecordStart(Host& host, const std::string& program, const std::vector<std::string>& arguments,
                 const std::string& note) {
  const LocalTime now = host.clock.Now();
  std::string line = std::to_string(now.year) + "-" + TwoDigits(now.month) + "-" +
                     TwoDigits(now.day) + " " + TwoDigits(now.hour) + ":" + TwoDigits(now.minute) +
                     ":" + TwoDigits(now.second) + " " + std::to_string(arguments.size()) +
                     (arguments.size() == 1 ? " argument:" : " arguments:");
  for (const std::string& argument : arguments) line += " \"" + argument + "\"";
  line += " - " + note + "\r\n";
  std::string folder = host.program_folder;
  if (!folder.empty() && folder.back() == '\\') folder.pop_back();
  std::unique_ptr<TextStream> log =
      host.files.OpenTextFile(folder + "\\Logs\\" + program + ".log", IoMode::kForAppending, true);
  log->Write(line);
  log->Close();
}

}  // namespace quillon::placeholders
