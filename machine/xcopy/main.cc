// xcopy.exe on the portable machine: "SOURCE DESTINATION /E /I [/Y] [/Q]"
// copies the folder SOURCE with everything below it, empty folders included,
// into the folder DESTINATION (made when missing), as the real tool does with
// those switches. /Y overwrites files already there; without it an existing
// file ends the copy with status 4 (the real tool would ask). Prints "N
// File(s) copied" unless /Q. Left out: copying single files, wildcards and
// every other switch (refused).
#include <cstdio>
#include <optional>
#include <string>

#include "shared/helpers/text.h"
#include "shared/host_error.h"
#include "support/stand_in.h"
#include "support/usage_error.h"

namespace quillon::machine {
namespace {

// Exit status of the real tool for a copy that could not start or failed.
constexpr int kCopyFailed = 4;

struct Request {
  std::string source;
  std::string destination;
  bool overwrite = false;  // /Y
  bool quiet = false;      // /Q
};

Request ParseRequest(const std::vector<std::string>& arguments) {
  Request request;
  bool subfolders = false;  // /E
  bool folder = false;      // /I
  std::vector<std::string> paths;
  for (const std::string& argument : arguments) {
    const std::string upper = UpperCase(argument);
    if (upper == "/E") {
      subfolders = true;
    } else if (upper == "/I") {
      folder = true;
    } else if (upper == "/Y") {
      request.overwrite = true;
    } else if (upper == "/Q") {
      request.quiet = true;
    } else if (!argument.empty() && argument[0] == '/') {
      throw UsageError("unsupported switch \"" + argument + "\"");
    } else {
      paths.push_back(argument);
    }
  }
  if (paths.size() != 2 || !subfolders || !folder) {
    throw UsageError("only \"xcopy SOURCE DESTINATION /E /I [/Y] [/Q]\" is supported");
  }
  request.source = paths[0];
  request.destination = paths[1];
  while (request.destination.size() > 3 && request.destination.back() == '\\') {
    request.destination.pop_back();
  }
  return request;
}

int CountFiles(PosixFileSystem& files, const std::string& folder) {
  const Folder content = files.GetFolder(folder);
  int count = static_cast<int>(content.files.size());
  for (const FolderEntry& sub : content.sub_folders) count += CountFiles(files, sub.path);
  return count;
}

int Xcopy(StandIn& xcopy) {
  const Request request = ParseRequest(xcopy.arguments());
  JsonObject record;
  record.Add("source", request.source).Add("destination", request.destination);
  if (!xcopy.files().FolderExists(request.source)) {
    std::fprintf(stderr, "File not found - %s\n", request.source.c_str());
    xcopy.Record(record.Add("found", false));
    return kCopyFailed;
  }
  try {
    xcopy.files().CopyFolder(request.source, request.destination, request.overwrite);
  } catch (const HostError& error) {
    std::fprintf(stderr, "%s\n", error.description().c_str());
    xcopy.Record(record.Add("exit_status", kCopyFailed));
    return kCopyFailed;
  }
  const int copied = CountFiles(xcopy.files(), request.source);
  if (!request.quiet) std::printf("%d File(s) copied\n", copied);
  xcopy.Record(record.Add("copied", copied).Add("exit_status", 0));
  return 0;
}

}  // namespace
}  // namespace quillon::machine

int main(int argc, char** argv) {
  return quillon::machine::RunStandIn("xcopy", argc, argv, quillon::machine::Xcopy);
}
