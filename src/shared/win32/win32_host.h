// The Windows backends of the host facades: the real registry, file system,
// windows, processes and ODBC. RunProgram builds a Host from them; tests reach
// them directly. This header does not include the Windows headers.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "shared/database.h"
#include "shared/host_file_system.h"
#include "shared/host_shell.h"
#include "shared/network.h"
#include "shared/platform.h"
#include "shared/win32/this_process.h"

namespace quillon {

// Where an administrator may put an ODBC connection string of their own for
// the access-control database. Only HKLM is read: the checker runs as the
// launching user, who must not be able to point it at a database of their own.
inline constexpr char kConnectionStringValue[] =
    "HKLM\\SOFTWARE\\Harlwick\\Zentrel\\ConnectionString";

class Win32Shell : public HostShell {
 public:
  std::string Environment(const std::string& name) override;
  std::string RegRead(const std::string& path) override;
  void RegWrite(const std::string& path, const std::string& data, const std::string& type) override;
  void RegDelete(const std::string& path) override;
  // CreateProcessA with the window style as the start-up show state.
  void Run(const std::string& command, int style, bool wait) override;
  // The current user's folders ("StartMenu", "Programs", "Desktop", ...); ""
  // for a name the shell does not know.
  std::string SpecialFolders(const std::string& name) override;
  // The registry's profile list: each profile's SID turned into its account
  // name (without the domain, as GetUserName gives it) and its folder with
  // the environment expanded. Profiles whose SID names no account (the
  // account was deleted) are left out.
  std::vector<UserProfile> UserProfiles() override;
  // GetUserNameA: the account of the process's token, whatever the
  // environment says.
  std::string UserName() override;
  // CheckTokenMembership with the Administrators group's well-known SID:
  // the thread's impersonation token, else the process's (the user IIS
  // starts a CGI program as).
  bool IsAdministrator() override;
};

class Win32FileSystem : public HostFileSystem {
 public:
  bool FileExists(const std::string& path) override;
  bool FolderExists(const std::string& path) override;
  void CopyFile(const std::string& source, const std::string& destination, bool overwrite) override;
  void CopyFolder(const std::string& source, const std::string& destination,
                  bool overwrite) override;
  void DeleteFile(const std::string& path, bool force) override;
  void DeleteFolder(const std::string& path, bool force) override;
  void MoveFile(const std::string& source, const std::string& destination) override;
  std::unique_ptr<TextStream> OpenTextFile(const std::string& path, IoMode mode,
                                           bool create) override;
  Folder GetFolder(const std::string& path) override;
};

// Message boxes and input boxes as real windows. While QUILLON_ANSWERS is set,
// boxes take their answers from the queue it names (a missing or used-up queue
// gives each box its default answer) and show no window; when
// QUILLON_DIALOG_LOG names a file, every box appends one JSON line to it.
class Win32Dialogs : public Dialogs {
 public:
  // program_name is the "program" of the dialog log; by default the base
  // name of the running executable without ".exe".
  Win32Dialogs();
  explicit Win32Dialogs(std::string program_name);

  int MsgBox(const std::string& prompt, int style, const std::string& title) override;
  std::optional<std::string> InputBox(const std::string& prompt, const std::string& title,
                                      const std::string& default_text) override;

 private:
  std::optional<std::string> QueuedAnswer(const std::string& queue, const char* kind,
                                          const std::string& title,
                                          const std::string& outcome) const;

  std::string program_name_;
};

class Win32Processes : public Processes {
 public:
  void Terminate(std::uint32_t process_id) override;
  void Sleep(std::uint32_t milliseconds) override;
};

class Win32EnvironmentReader : public EnvironmentReader {
 public:
  std::string Read(const std::string& name, std::size_t buffer_size) override;
};

class Win32DirectorySearch : public DirectorySearch {
 public:
  std::string FindFirstName(const std::string& pattern, unsigned attributes) override;
};

class Win32Clock : public Clock {
 public:
  LocalTime Now() override;
};

// Random bytes from the system's preferred generator (BCryptGenRandom).
class Win32RandomSource : public RandomSource {
 public:
  std::vector<std::uint8_t> Bytes(std::size_t count) override;
};

// Outgoing TCP connections through Winsock, non-blocking, every wait a
// select bounded by the time the caller allows; text converted from the ANSI
// code page.
class Win32Network : public Network {
 public:
  std::unique_ptr<NetworkConnection> Connect(const std::string& host, std::uint16_t port,
                                             std::chrono::milliseconds timeout) override;
  std::string SystemTextToUtf8(const std::string& text) override;
};

// Connections through ODBC. The programs' OLE DB connection string is turned
// into an ODBC one for the local SQL Server, unless the HKLM value above holds
// an ODBC connection string, which is then used as it is.
class OdbcDatabase : public Database {
 public:
  std::unique_ptr<Connection> NewConnection() override;
};

// The ODBC connection string for a connection string the programs pass: the
// override when it is not empty; else the OLE DB string for the SQL Server
// provider mapped onto the SQL Server ODBC driver; any other string as it is.
std::string OdbcConnectionString(const std::string& connection_string,
                                 const std::string& override_string);

// The argument text of a command line: everything after the program name and
// the one blank that follows it, unchanged.
std::string ArgumentTextOf(const std::string& command_line);

// The folder of a file path, without a trailing backslash except at a drive's
// root ("C:\").
std::string FolderOf(const std::string& file_path);

}  // namespace quillon
