#include "support/web_server.h"

#include <fcntl.h>
#include <httplib.h>
#include <poll.h>
#include <signal.h>
#include <sodium.h>
#include <spawn.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <optional>
#include <sstream>
#include <vector>

#include "shared/helpers/text.h"
#include "shared/host_error.h"
#include "shared/posix/posix_shell.h"
#include "support/accounts.h"
#include "support/machine_layout.h"

namespace quillon::machine {
namespace {

constexpr char kLocalHost[] = "127.0.0.1";
constexpr std::size_t kMaxRequestBody = 4 * 1024 * 1024;
constexpr int kCgiTimeoutMs = 120000;
constexpr char kLogOnPath[] = "/_logon";
constexpr char kLogOffPath[] = "/_logoff";
constexpr char kServerSoftware[] = "Microsoft-IIS/5.1 (Quillon portable machine)";

// The logon page: self-contained, so that it shows before any session exists.
constexpr char kLogOnPage[] = R"(<!DOCTYPE html>
<html lang="en"><head><meta charset="utf-8"><title>Log on - Quillon</title>
<style>
body{font-family:"Segoe UI",Tahoma,Verdana,sans-serif;background:#eef1f5;color:#1d2733;margin:0}
.box{max-width:340px;margin:12vh auto;background:#fff;border:1px solid #d0d7e1;border-radius:6px;padding:28px 32px;box-shadow:0 2px 8px rgba(0,0,0,.06)}
h1{font-size:20px;margin:0 0 4px}p{color:#5a6777;font-size:14px;margin:0 0 18px}
label{display:block;font-size:13px;margin:12px 0 4px}
input[type=text],input[type=password]{width:100%;box-sizing:border-box;padding:8px;border:1px solid #b9c3cf;border-radius:4px;font-size:14px}
button{margin-top:18px;width:100%;padding:9px;background:#1f5fa8;color:#fff;border:0;border-radius:4px;font-size:14px}
.error{color:#a61b1b;background:#fdecec;border:1px solid #f3c2c2;padding:8px;border-radius:4px;font-size:13px}
</style></head><body><form class="box" method="post" action="/_logon">
<h1>Quillon</h1><p>Log on with an administrator account of this computer.</p>
@MESSAGE@<label for="user">User name</label><input type="text" id="user" name="user" autocomplete="username" autofocus>
<label for="password">Password</label><input type="password" id="password" name="password" autocomplete="current-password">
<input type="hidden" name="return" value="@RETURN@"><button type="submit">Log on</button>
</form></body></html>
)";

// A path of this site to come back to after logging on: "/" and below only,
// never another site ("//host") or a scheme.
std::string SafeReturn(const std::string& target) {
  if (target.empty() || target[0] != '/' || (target.size() > 1 && target[1] == '/') ||
      target.find('\\') != std::string::npos) {
    return "/";
  }
  return target;
}

void SetCommonHeaders(httplib::Response& response) {
  response.set_header("X-Content-Type-Options", "nosniff");
  response.set_header("X-Frame-Options", "DENY");
  response.set_header("Cache-Control", "no-store");
}

void AskToLogOn(httplib::Response& response, const std::string& return_to,
                const std::string& message) {
  std::string page = kLogOnPage;
  const std::string note =
      message.empty() ? "" : "<p class=\"error\" role=\"alert\">" + HtmlEscaped(message) + "</p>";
  page.replace(page.find("@MESSAGE@"), 9, note);
  page.replace(page.find("@RETURN@"), 8, HtmlEscaped(SafeReturn(return_to)));
  response.status = 401;
  // A scheme no browser answers with a box of its own, so the form shows.
  response.set_header("WWW-Authenticate", "Form realm=\"Quillon\"");
  response.set_header("Content-Security-Policy",
                      "default-src 'none'; style-src 'unsafe-inline'; form-action 'self'; "
                      "frame-ancestors 'none'");
  response.set_content(page, "text/html; charset=utf-8");
}

void Plain(httplib::Response& response, int status, const std::string& text) {
  response.status = status;
  response.set_content(text + "\n", "text/plain; charset=utf-8");
}

std::string ContentTypeOf(const std::string& name) {
  const std::size_t dot = name.rfind('.');
  const std::string extension = dot == std::string::npos ? "" : UpperCase(name.substr(dot + 1));
  if (extension == "HTM" || extension == "HTML") return "text/html";
  if (extension == "CSS") return "text/css";
  if (extension == "TXT") return "text/plain";
  if (extension == "PNG") return "image/png";
  if (extension == "GIF") return "image/gif";
  if (extension == "JPG" || extension == "JPEG") return "image/jpeg";
  if (extension == "ICO") return "image/x-icon";
  if (extension == "SVG") return "image/svg+xml";
  return "";  // not served: programs, settings, scripts
}

std::optional<std::string> ReadFile(const std::string& posix_path) {
  std::ifstream in(posix_path, std::ios::binary);
  if (!in) return std::nullopt;
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

// The program a folder's cgi.ini names, or "" when it names none.
std::string CgiProgramOf(const std::string& folder_posix) {
  const std::optional<std::string> config = ReadFile(folder_posix + "/" + kCgiConfigName);
  if (!config) return "";
  for (std::string line : SplitAll(*config, "\n")) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    const std::size_t equals = line.find('=');
    if (equals == std::string::npos) continue;
    if (UpperCase(TrimBlanks(line.substr(0, equals))) != "PROGRAM") continue;
    const std::string program = TrimBlanks(line.substr(equals + 1));
    // A bare file name in this folder.
    if (program.empty() || program.find_first_of("\\/:") != std::string::npos) return "";
    return program;
  }
  return "";
}

std::string HeaderName(const std::string& http_name) {
  std::string name = "HTTP_";
  for (const char c : http_name) name += c == '-' ? '_' : static_cast<char>(std::toupper(c));
  return name;
}

// The request's path relative to the web root, split into elements; nullopt
// for elements no file can have ("..", backslashes).
std::optional<std::vector<std::string>> PathElements(const std::string& path) {
  std::vector<std::string> elements;
  for (const std::string& element : SplitAll(path, "/")) {
    if (element.empty() || element == ".") continue;
    if (element == ".." || element.find('\\') != std::string::npos) return std::nullopt;
    elements.push_back(element);
  }
  return elements;
}

}  // namespace

std::string CookieValue(const std::string& header, const std::string& name) {
  for (const std::string& part : SplitAll(header, ";")) {
    const std::string cookie(TrimWhitespace(part));
    const std::size_t equals = cookie.find('=');
    if (equals != std::string::npos && cookie.substr(0, equals) == name) {
      return cookie.substr(equals + 1);
    }
  }
  return "";
}

std::string CookieHeaderWithout(const std::string& header, const std::string& name) {
  std::string kept;
  for (const std::string& part : SplitAll(header, ";")) {
    const std::string cookie(TrimWhitespace(part));
    if (cookie.empty() || cookie.substr(0, cookie.find('=')) == name) continue;
    kept += (kept.empty() ? "" : "; ") + cookie;
  }
  return kept;
}

std::optional<CgiAnswer> ParseCgiOutput(const std::string& output) {
  std::size_t end = output.find("\r\n\r\n");
  std::size_t body_start = end + 4;
  const std::size_t lf_end = output.find("\n\n");
  if (lf_end != std::string::npos && (end == std::string::npos || lf_end < end)) {
    end = lf_end;
    body_start = lf_end + 2;
  }
  if (end == std::string::npos) return std::nullopt;
  CgiAnswer answer;
  bool located = false;
  bool status_given = false;
  for (std::string line : SplitAll(output.substr(0, end), "\n")) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    const std::size_t colon = line.find(':');
    if (colon == std::string::npos || colon == 0) return std::nullopt;
    const std::string name = line.substr(0, colon);
    const std::string value(TrimWhitespace(std::string_view(line).substr(colon + 1)));
    if (EqualsIgnoringAsciiCase(name, "Status")) {
      const int status = std::atoi(value.c_str());
      if (status < 100 || status > 599) return std::nullopt;
      answer.status = status;
      status_given = true;
      continue;
    }
    located = located || EqualsIgnoringAsciiCase(name, "Location");
    answer.headers.emplace_back(name, value);
  }
  if (located && !status_given) answer.status = 302;
  answer.body = output.substr(body_start);
  return answer;
}

WebServer::WebServer(const PortableMachine& machine)
    : machine_(machine), server_(std::make_unique<httplib::Server>()) {
  if (sodium_init() < 0) throw HostError(error_number::kUnspecified, "libsodium cannot start");
  server_->set_payload_max_length(kMaxRequestBody);
  const auto handler = [this](const httplib::Request& request, httplib::Response& response) {
    SetCommonHeaders(response);
    try {
      Handle(request, response);
    } catch (const std::exception& error) {
      std::fprintf(stderr, "w3svc: %s %s: %s\n", request.method.c_str(), request.path.c_str(),
                   error.what());
      Plain(response, 500, "The server could not answer this request.");
    }
  };
  server_->Get(".*", handler);
  server_->Post(".*", handler);
}

WebServer::~WebServer() = default;

int WebServer::Bind() {
  port_ = server_->bind_to_any_port(kLocalHost);
  if (port_ <= 0) {
    throw HostError(error_number::kPermissionDenied, "Cannot listen on 127.0.0.1");
  }
  return port_;
}

void WebServer::Serve() {
  if (port_ > 0) server_->listen_after_bind();
}

void WebServer::Stop() {
  server_->stop();
}

bool WebServer::SameOrigin(const httplib::Request& request) const {
  // A browser names the page a form came from; a form of another site is
  // refused. Requests without Origin (not from a browser's form) pass.
  if (!request.has_header("Origin")) return true;
  const std::string origin = request.get_header_value("Origin");
  const std::string port = std::to_string(port_);
  return origin == "http://127.0.0.1:" + port || origin == "http://localhost:" + port;
}

std::string WebServer::SessionUser(const httplib::Request& request) {
  return sessions_.UserOf(CookieValue(request.get_header_value("Cookie"), kSessionCookie));
}

void WebServer::LogOn(const httplib::Request& request, httplib::Response& response) {
  const std::string return_to = request.get_param_value("return");
  if (!SameOrigin(request)) return Plain(response, 403, "Cross-site logon refused.");
  const std::string user = request.get_param_value("user");
  const std::string password = request.get_param_value("password");
  if (user.empty() || !CheckPassword(machine_.root(), user, password)) {
    return AskToLogOn(response, return_to, "The user name or password is incorrect.");
  }
  const std::string stored = FindMachineAccount(machine_.root(), user)->name;
  const std::string token = sessions_.Start(stored);
  response.set_header("Set-Cookie", std::string(kSessionCookie) + "=" + token +
                                        "; Path=/; HttpOnly; SameSite=Strict");
  response.set_redirect(SafeReturn(return_to), 303);
}

void WebServer::LogOff(const httplib::Request& request, httplib::Response& response) {
  if (!SameOrigin(request)) return Plain(response, 403, "Cross-site request refused.");
  sessions_.End(CookieValue(request.get_header_value("Cookie"), kSessionCookie));
  response.set_header("Set-Cookie", std::string(kSessionCookie) +
                                        "=; Path=/; HttpOnly; SameSite=Strict; Max-Age=0");
  AskToLogOn(response, "/", "");
  response.status = 200;
}

void WebServer::Handle(const httplib::Request& request, httplib::Response& response) {
  if (request.path == kLogOnPath && request.method == "POST") return LogOn(request, response);
  if (request.path == kLogOffPath && request.method == "POST") return LogOff(request, response);
  const std::string user = SessionUser(request);
  if (user.empty()) {
    const bool had_session =
        !CookieValue(request.get_header_value("Cookie"), kSessionCookie).empty();
    return AskToLogOn(response, request.target,
                      had_session ? "Your logon has ended; log on again." : "");
  }
  ServePath(request, response, user);
}

void WebServer::ServePath(const httplib::Request& request, httplib::Response& response,
                          const std::string& user) {
  const std::optional<std::vector<std::string>> elements = PathElements(request.path);
  if (!elements) return Plain(response, 404, "Not found.");
  PosixShell shell(machine_);
  std::string windows;
  try {
    windows = shell.RegRead("HKLM\\SOFTWARE\\Microsoft\\InetStp\\PathWWWRoot");
  } catch (const HostError&) {
    windows = "C:\\Inetpub\\wwwroot";
  }
  for (const std::string& element : *elements) windows += "\\" + element;
  const std::optional<MappedPath> mapped = machine_.Map(windows);
  if (!mapped || !mapped->exists) return Plain(response, 404, "Not found.");

  if (IsDirectory(mapped->posix)) {
    if (request.path.empty() || request.path.back() != '/') {
      return response.set_redirect(request.path + "/", 301);
    }
    const std::string program = CgiProgramOf(mapped->posix);
    if (!program.empty()) {
      return RunCgi(request, response, user, mapped->posix + "/" + program, request.path + program);
    }
    const std::optional<std::string> page = ReadFile(mapped->posix + "/Default.htm");
    if (!page) return Plain(response, 403, "Listing a folder is not allowed.");
    if (request.method != "GET") return Plain(response, 405, "Method not allowed.");
    return response.set_content(*page, "text/html");
  }

  const std::size_t slash = mapped->posix.rfind('/');
  const std::string folder = mapped->posix.substr(0, slash);
  const std::string name = mapped->posix.substr(slash + 1);
  const std::string program = CgiProgramOf(folder);
  if (!program.empty() && EqualsIgnoringAsciiCase(name, program)) {
    return RunCgi(request, response, user, mapped->posix, request.path);
  }
  const std::string type = ContentTypeOf(name);
  if (type.empty()) return Plain(response, 404, "Not found.");
  if (request.method != "GET") return Plain(response, 405, "Method not allowed.");
  const std::optional<std::string> content = ReadFile(mapped->posix);
  if (!content) return Plain(response, 404, "Not found.");
  response.set_content(*content, type);
}

void WebServer::RunCgi(const httplib::Request& request, httplib::Response& response,
                       const std::string& user, const std::string& program_posix,
                       const std::string& script_name) {
  if (request.method == "POST" && !SameOrigin(request)) {
    return Plain(response, 403, "Cross-site request refused.");
  }
  // The environment: the machine's for this user, then the CGI variables.
  std::vector<std::string> environment;
  for (const auto& [name, value] : MachineEnvironment(machine_, user)) {
    environment.push_back(name + "=" + value);
  }
  const auto add = [&](const std::string& name, const std::string& value) {
    environment.push_back(name + "=" + value);
  };
  const char* path = std::getenv("PATH");
  add("PATH", path != nullptr ? path : "/usr/bin:/bin");
  add("GATEWAY_INTERFACE", "CGI/1.1");
  add("SERVER_PROTOCOL", "HTTP/1.1");
  add("SERVER_SOFTWARE", kServerSoftware);
  add("SERVER_NAME", kLocalHost);
  add("SERVER_PORT", std::to_string(port_));
  add("REQUEST_METHOD", request.method);
  const std::size_t question = request.target.find('?');
  add("QUERY_STRING", question == std::string::npos ? "" : request.target.substr(question + 1));
  add("SCRIPT_NAME", script_name);
  add("PATH_INFO", "");
  add("REMOTE_ADDR", request.remote_addr);
  add("REMOTE_USER", user);
  add("AUTH_USER", user);
  add("AUTH_TYPE", "Forms");
  if (request.method == "POST") {
    add("CONTENT_LENGTH", std::to_string(request.body.size()));
    add("CONTENT_TYPE", request.get_header_value("Content-Type"));
  }
  for (const auto& [name, value] : request.headers) {
    if (EqualsIgnoringAsciiCase(name, "Content-Type") ||
        EqualsIgnoringAsciiCase(name, "Content-Length") ||
        EqualsIgnoringAsciiCase(name, "Authorization")) {
      continue;
    }
    if (EqualsIgnoringAsciiCase(name, "Cookie")) {
      // The server's own session stays with the server.
      add("HTTP_COOKIE", CookieHeaderWithout(value, kSessionCookie));
      continue;
    }
    add(HeaderName(name), value);
  }
  std::vector<char*> envp;
  for (std::string& entry : environment) envp.push_back(entry.data());
  envp.push_back(nullptr);
  std::string program = program_posix;
  char* argv[] = {program.data(), nullptr};

  // Standard input: the request body from a memory file; output: a pipe.
  const int input = ::memfd_create("cgi-input", MFD_CLOEXEC);
  int output[2] = {-1, -1};
  if (input < 0 || ::pipe2(output, O_CLOEXEC) != 0) {
    if (input >= 0) ::close(input);
    throw HostError(error_number::kPermissionDenied, "Cannot start the CGI program");
  }
  std::size_t written = 0;
  while (written < request.body.size()) {
    const ssize_t n = ::write(input, request.body.data() + written, request.body.size() - written);
    if (n <= 0) break;
    written += static_cast<std::size_t>(n);
  }
  ::lseek(input, 0, SEEK_SET);
  const std::string folder = program_posix.substr(0, program_posix.rfind('/'));
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, input, STDIN_FILENO);
  posix_spawn_file_actions_adddup2(&actions, output[1], STDOUT_FILENO);
  posix_spawn_file_actions_addchdir_np(&actions, folder.c_str());
  pid_t pid = 0;
  const int spawned = ::posix_spawn(&pid, program.c_str(), &actions, nullptr, argv, envp.data());
  posix_spawn_file_actions_destroy(&actions);
  ::close(input);
  ::close(output[1]);
  if (spawned != 0) {
    ::close(output[0]);
    return Plain(response, 502, "The site's program cannot be started.");
  }
  std::string text;
  char buffer[65536];
  bool timed_out = false;
  while (true) {
    pollfd ready{output[0], POLLIN, 0};
    const int polled = ::poll(&ready, 1, kCgiTimeoutMs);
    if (polled < 0 && errno == EINTR) continue;
    if (polled <= 0) {
      timed_out = true;
      ::kill(pid, SIGKILL);
      break;
    }
    const ssize_t n = ::read(output[0], buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    text.append(buffer, static_cast<std::size_t>(n));
  }
  ::close(output[0]);
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  if (timed_out) return Plain(response, 504, "The site's program did not answer in time.");
  const std::optional<CgiAnswer> answer = ParseCgiOutput(text);
  if (!answer) return Plain(response, 502, "The site's program gave no valid answer.");
  response.status = answer->status;
  std::string content_type = "text/html";
  for (const auto& [name, value] : answer->headers) {
    if (EqualsIgnoringAsciiCase(name, "Content-Type")) {
      content_type = value;
    } else {
      response.set_header(name.c_str(), value);
    }
  }
  response.set_content(answer->body, content_type.c_str());
}

}  // namespace quillon::machine
