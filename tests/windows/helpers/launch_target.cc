// A Windows program for the tests to start, decide and terminate:
//   launch_target.exe sleep            waits (up to five minutes), then ends
//   launch_target.exe load <dll>       loads the library, then waits likewise
//   launch_target.exe record <file>    appends "show=<start-up show state>
//                                      args=<argument text>" to the file
//   launch_target.exe wait <go> <file> waits until <go> exists, then appends
//                                      "released" to the file
//   launch_target.exe append <file> <tag> <count>
//                                      appends count lines through the file
//                                      facade, as the checker's logs do
#include <string>

#include "shared/host_error.h"
#include "shared/win32/win32_file_system.h"
#include "shared/win32/win32_platform.h"
#include "shared/win32/windows_api.h"

namespace {

constexpr DWORD kLongest = 5 * 60 * 1000;

void AppendLine(const std::string& path, const std::string& line) {
  HANDLE file = CreateFileA(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE,
                            nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return;
  const std::string text = line + "\r\n";
  DWORD written = 0;
  WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
  CloseHandle(file);
}

}  // namespace

int main(int argc, char** argv) {
  const std::string mode = argc > 1 ? argv[1] : "";
  if (mode == "sleep") {
    Sleep(kLongest);
    return 0;
  }
  if (mode == "load" && argc > 2) {
    if (LoadLibraryA(argv[2]) == nullptr) return 3;
    Sleep(kLongest);
    return 0;
  }
  if (mode == "record" && argc > 2) {
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    GetStartupInfoA(&startup);
    AppendLine(argv[2], "show=" + std::to_string(startup.wShowWindow) +
                            " args=" + quillon::ArgumentTextOf(GetCommandLineA()));
    return 0;
  }
  if (mode == "wait" && argc > 3) {
    const ULONGLONG deadline = GetTickCount64() + kLongest;
    while (GetFileAttributesA(argv[2]) == INVALID_FILE_ATTRIBUTES) {
      if (GetTickCount64() > deadline) return 4;
      Sleep(20);
    }
    AppendLine(argv[3], "released");
    return 0;
  }
  if (mode == "append" && argc > 4) {
    quillon::Win32FileSystem files;
    const int count = std::stoi(argv[4]);
    try {
      for (int i = 0; i < count; ++i) {
        auto log = files.OpenTextFile(argv[2], quillon::IoMode::kForAppending, false);
        log->Write(std::string(argv[3]) + " line " + std::to_string(i) + " " +
                   std::string(200, argv[3][0]) + "\r\n");
        log->Close();
      }
    } catch (const quillon::HostError&) {
      return 5;
    }
    return 0;
  }
  return 2;
}
