// ZentrelWeb.exe: the administration web site, a CGI program. The web
// server starts it once per request with the CGI variables in its
// environment and the request's body on its standard input; it writes the
// answer (status, headers, a blank line, the page) to its standard output.
#include <cstdio>
#include <cstdlib>
#include <string>

#include "shared/program_main.h"
#include "web/web_site.h"

namespace {

// The largest form the site takes: a page of check boxes is far smaller.
constexpr std::size_t kMaxBody = 1024 * 1024;

std::string ReadBody(quillon::Host& host) {
  const std::string length_text = host.shell.Environment("CONTENT_LENGTH");
  const unsigned long long length = std::strtoull(length_text.c_str(), nullptr, 10);
  std::string body(length < kMaxBody ? static_cast<std::size_t>(length) : kMaxBody, '\0');
  const std::size_t read = body.empty() ? 0 : std::fread(body.data(), 1, body.size(), stdin);
  body.resize(read);
  return body;
}

int AnswerOneRequest(quillon::Host& host, const std::string& /*argument_text*/) {
  // 1. The request: the server's variables and the body.
  const quillon::web::CgiRequest request = quillon::web::ReadCgiRequest(
      [&](const std::string& name) { return host.shell.Environment(name); }, ReadBody(host));
  // 2. The answer, every failure included (a CGI program has nobody to show
  //    a box to).
  const std::string output = quillon::web::CgiOutput(quillon::web::AnswerRequest(host, request));
  // 3. Out to the server.
  std::fwrite(output.data(), 1, output.size(), stdout);
  return std::fflush(stdout) == 0 ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  return quillon::RunCgiProgram("ZentrelWeb", argc, argv, AnswerOneRequest);
}
