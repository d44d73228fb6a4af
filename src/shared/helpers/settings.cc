#include "shared/helpers/settings.h"

#include "shared/helpers/text.h"

namespace quillon {

namespace {

constexpr char kSettingsTitle[] = "Quillon Setup";
constexpr char kAddressPrompt[] =
    "If you would like users to be able to request access via e-mail when they are denied access "
    "to a particular program, please enter an administrative e-mail address. If you leave this "
    "blank, this feature will be disabled.";
constexpr char kServerPrompt[] =
    "If you would like users to be able to request access via e-mail when they are denied access "
    "to a particular program, please enter an SMTP server that will be used to deliver these "
    "e-mail messages. If you leave this blank, this feature will be disabled.";

// Both keys are 11 characters long, colon included.
constexpr char kAddressKey[] = "ADMINEMAIL:";
constexpr char kServerKey[] = "SMTPSERVER:";
constexpr std::size_t kKeyLength = 11;

bool StartsWithKey(const std::string& line, const char* key) {
  return UpperCase(line.substr(0, kKeyLength)) == key;
}

// The text after the key, with every blank and every ";" removed wherever
// they stand.
std::string ValueAfterKey(const std::string& line) {
  std::string value;
  for (char c : line.substr(kKeyLength)) {
    if (c != ' ' && c != ';') value += c;
  }
  return value;
}

}  // namespace

std::string ReadMailSettings(HostFileSystem& files, const std::string& settings_path) {
  std::string address;
  std::string server;
  if (!files.FileExists(settings_path)) return ",";

  auto stream = files.OpenTextFile(settings_path, IoMode::kForReading, false);
  while (!stream->AtEndOfStream()) {
    const std::string line = TrimBlanks(stream->ReadLine());
    if (StartsWithKey(line, kAddressKey)) address = ValueAfterKey(line);
    if (StartsWithKey(line, kServerKey)) server = ValueAfterKey(line);
  }
  stream->Close();
  return address + "," + server;
}

void WriteMailSettings(Dialogs& dialogs, HostFileSystem& files, const std::string& settings_path) {
  const std::string address = dialogs.InputBox(kAddressPrompt, kSettingsTitle, "").value_or("");
  const std::string server = dialogs.InputBox(kServerPrompt, kSettingsTitle, "").value_or("");

  auto stream = files.OpenTextFile(settings_path, IoMode::kForWriting, true);
  stream->Write("adminemail: " + TrimBlanks(address) + ";\r\n");
  stream->Write("smtpserver: " + TrimBlanks(server) + ";\r\n");
  stream->Close();
}

}  // namespace quillon
