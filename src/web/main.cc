// ZentrelWeb.exe: the administration web site, a CGI program. The web
// server starts it once per request with the CGI variables in its
// environment and the request's body on its standard input; it writes the
// answer (status, headers, a blank line, the page) to its standard output.
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>

#include "shared/program_main.h"
#include "web/web_site.h"

namespace {

// The largest form the site takes: a page of check boxes is far smaller.
constexpr std::size_t kMaxBody = 1024 * 1024;

// The request's body as the server announced it, or nothing when it is
// larger than the site takes or arrived shorter than announced: a form cut
// short is refused whole, never applied in part.
std::optional<std::string> ReadBody(quillon::Host& host) {
  const std::string length_text = host.shell.Environment("CONTENT_LENGTH");
  const unsigned long long length = std::strtoull(length_text.c_str(), nullptr, 10);
  if (length > kMaxBody) return std::nullopt;
  std::string body(static_cast<std::size_t>(length), '\0');
  const std::size_t read = body.empty() ? 0 : std::fread(body.data(), 1, body.size(), stdin);
  if (read != body.size()) return std::nullopt;
  return body;
}

int AnswerOneRequest(quillon::Host& host, const std::string& /*argument_text*/) {
  // 1. The body: one too large or cut short is refused before anything else.
  const std::optional<std::string> body = ReadBody(host);
  // 2. The request and its answer, every failure included (a CGI program has
  //    nobody to show a box to).
  const quillon::web::WebAnswer answer =
      body ? quillon::web::AnswerRequest(
                 host,
                 quillon::web::ReadCgiRequest(
                     [&](const std::string& name) { return host.shell.Environment(name); }, *body))
           : quillon::web::BodyRefused(kMaxBody);
  const std::string output = quillon::web::CgiOutput(answer);
  // 3. Out to the server.
  std::fwrite(output.data(), 1, output.size(), stdout);
  return std::fflush(stdout) == 0 ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  return quillon::RunCgiProgram("ZentrelWeb", argc, argv, AnswerOneRequest);
}
