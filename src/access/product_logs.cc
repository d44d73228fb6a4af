// The checker's two append-only logs in the product folder, the timestamp of
// their lines and the environment reader that they and the request flow use.
#include "access/access.h"
#include "shared/helpers/product.h"
#include "shared/helpers/settings.h"

namespace quillon {

namespace {

std::string TwoDigits(int number) {
  return (number < 10 ? "0" : "") + std::to_string(number);
}

// Appends one whole line in one write. Opening for appending with create set
// makes a missing log and never empties one: a checker that found no log
// must not wipe out the line another checker has written there meanwhile.
void AppendLogLine(HostFileSystem& files, EnvironmentReader& environment,
                   const std::string& log_name, const std::string& line) {
  const std::string path = ReadEnvironmentValue(environment, "ProgramFiles") +
                           kProductFolderSuffix + "\\Logs\\" + log_name;
  auto log = files.OpenTextFile(path, IoMode::kForAppending, true);
  log->Write(line);
  log->Close();
}

}  // namespace

std::string ReadEnvironmentValue(EnvironmentReader& environment, const std::string& name) {
  return environment.Read(name, kEnvironmentBufferSize);
}

std::string FormatLogTimestamp(Clock& clock) {
  const LocalTime now = clock.Now();
  return TwoDigits(now.month) + "/" + TwoDigits(now.day) + "/" + TwoDigits(now.year % 100) + " " +
         TwoDigits(now.hour) + ":" + TwoDigits(now.minute) + ":" + TwoDigits(now.second);
}

void WriteAccessLog(HostFileSystem& files, EnvironmentReader& environment, Clock& clock,
                    const std::string& exe_path, const std::string& decision,
                    const std::string& user_name) {
  AppendLogLine(files, environment, "Access.log",
                FormatLogTimestamp(clock) + ": " + exe_path + kAccessLogSeparator + decision +
                    kAccessLogSeparator + user_name + "\r\n");
}

void WriteErrorLog(HostFileSystem& files, EnvironmentReader& environment, Clock& clock,
                   const std::string& message) {
  AppendLogLine(files, environment, "Error.log",
                FormatLogTimestamp(clock) + ": ERROR! " + message + "\r\n");
}

}  // namespace quillon
