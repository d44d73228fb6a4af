// The hook library. Loaded into every new process while hooking is on, it
// starts the checker "ProgramFiles\Harlwick\Zentrel\Zentrel.exe" with one
// argument that names the process's executable (upper case), the process id
// and the user, and does not wait for it.
//
// DllMain runs under the loader lock, where starting a process is not safe (it
// may need libraries of its own). DllMain therefore only pins the library in
// memory and starts a thread; the thread starts the checker as soon as the
// loader lock is released, while the process goes on with its own start-up.
// The library never waits for the decision: a denied process is terminated
// by the checker when the decision is made.
#include <string>
#include <vector>

#include "companions/hook/checker_request.h"
#include "shared/win32/this_process.h"
#include "shared/win32/windows_api.h"

namespace {

std::string UserName() {
  char buffer[257] = {};
  DWORD size = sizeof buffer;
  if (!GetUserNameA(buffer, &size)) return "";
  return buffer;
}

DWORD WINAPI StartChecker(void* /*unused*/) {
  const std::string executable = quillon::ModulePath();
  const std::string program_files = quillon::VariableValue("ProgramFiles").value_or("");
  // Without these the checker cannot be found or told what started; its own
  // launches and those of its mailer are never reported.
  if (executable.empty() || program_files.empty() ||
      quillon::hook::IsExemptLaunch(executable, program_files)) {
    return 0;
  }
  // The checker's path in quotes, then its one argument as it is.
  const std::string command =
      "\"" + quillon::hook::CheckerPath(program_files) + "\" " +
      quillon::hook::CheckerArgument(executable, GetCurrentProcessId(), UserName());
  std::vector<char> command_line(command.begin(), command.end());
  command_line.push_back('\0');
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  if (CreateProcessA(nullptr, command_line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                     &startup, &process)) {
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
  }
  return 0;
}

}  // namespace

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID /*reserved*/) {
  if (reason != DLL_PROCESS_ATTACH) return TRUE;
  DisableThreadLibraryCalls(instance);
  // Pinned: the thread's code must stay mapped even if the process unloads
  // the library before the thread has run.
  HMODULE self = nullptr;
  GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_PIN,
                     reinterpret_cast<LPCSTR>(&StartChecker), &self);
  HANDLE thread = CreateThread(nullptr, 0, StartChecker, nullptr, 0, nullptr);
  if (thread != nullptr) CloseHandle(thread);
  return TRUE;
}
