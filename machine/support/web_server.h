// The portable machine's web server (the World Wide Web Publishing service,
// W3SVC): HTTP on 127.0.0.1 only, on a free port. It serves the web server's
// root folder (C:\Inetpub\wwwroot, as the registry names it) and runs a CGI
// program where a folder says so: a folder that holds the file "cgi.ini"
// with the line "program=NAME.exe" runs that program (a program of the
// machine in that folder) for a request of the folder itself or of the
// program's own path, as IIS runs the default document of a folder with
// execute permission. Other files are served as they are when their type is
// known (pages, style sheets, pictures, text); folders without a CGI program
// serve their Default.htm and are never listed.
//
// Every request must come from a logged-on user: a request without a valid
// session gets 401 with the logon form, whose POST to /_logon checks the
// name and password against the machine's accounts (any account with a
// password may log on; the CGI program decides what its user may do, as
// Windows authentication leaves it to the program). A session is a random
// token in an HttpOnly, SameSite=Strict cookie, kept in memory; it ends with
// POST /_logoff, after 30 minutes without a request or 8 hours after the
// logon (logon_sessions.h), or when the server stops. The CGI program runs with the
// machine's environment for the logged-on user (USERNAME, USERPROFILE, ...)
// and the CGI variables, REMOTE_USER and AUTH_TYPE included.
#pragma once

#include <map>
#include <memory>
#include <string>

#include "shared/posix/portable_machine.h"
#include "support/logon_sessions.h"
#include "support/windows_components.h"

namespace httplib {
class Server;
struct Request;
struct Response;
}  // namespace httplib

namespace quillon::machine {

// At the machine root: the port the server listens on (its process id is in
// kWebServerProcess.pid_file, web_service.h).
inline constexpr char kWebServerPortFile[] = "w3svc.port";
inline constexpr char kCgiConfigName[] = "cgi.ini";
inline constexpr char kSessionCookie[] = "QuillonLogon";

class WebServer {
 public:
  explicit WebServer(const PortableMachine& machine);
  ~WebServer();

  // Binds 127.0.0.1 on a free port and returns it. Throws HostError.
  int Bind();
  // Serves until Stop; returns at once when Bind failed.
  void Serve();
  // Safe from another thread.
  void Stop();

 private:
  void Handle(const httplib::Request& request, httplib::Response& response);
  void LogOn(const httplib::Request& request, httplib::Response& response);
  void LogOff(const httplib::Request& request, httplib::Response& response);
  std::string SessionUser(const httplib::Request& request);
  bool SameOrigin(const httplib::Request& request) const;
  void ServePath(const httplib::Request& request, httplib::Response& response,
                 const std::string& user);
  void RunCgi(const httplib::Request& request, httplib::Response& response, const std::string& user,
              const std::string& program_posix, const std::string& script_name);

  const PortableMachine& machine_;
  std::unique_ptr<httplib::Server> server_;
  int port_ = 0;
  LogonSessions sessions_;
};

// The value of a cookie in a Cookie header, or "".
std::string CookieValue(const std::string& header, const std::string& name);

// The Cookie header without the named cookie (what a CGI program is shown).
std::string CookieHeaderWithout(const std::string& header, const std::string& name);

struct CgiAnswer {
  int status = 200;
  std::vector<std::pair<std::string, std::string>> headers;  // besides Status
  std::string body;
};

// Splits a CGI program's output into status, headers and body. nullopt when
// the output has no header block.
std::optional<CgiAnswer> ParseCgiOutput(const std::string& output);

}  // namespace quillon::machine
