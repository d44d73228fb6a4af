// The administration web site ZentrelWeb.exe: a CGI program over the
// administration library. One request in, one answer out: the program
// checks who asks (a logged-on member of the local Administrators group),
// refuses a change that does not come from its own form (a POST carrying
// the per-session token of its cookie, from its own origin), makes the
// change through the library and shows the page.
//
// Pages (GET ?page=...): overview, apps, app, unassigned, users, user,
// requests, explain. Changes (POST action=...): control, app-create,
// app-rename, app-delete, assign, grant, revoke, approve, dismiss; each
// answered with a redirect to the page it came from (303), or with the
// page and the reason when it was refused.
#pragma once

#include <cstddef>
#include <string>
#include <utility>
#include <vector>

#include "admin/admin.h"
#include "shared/host.h"
#include "web/cgi_request.h"

namespace quillon::web {

// The name of the cookie that carries the form token.
inline constexpr char kTokenCookie[] = "ZentrelToken";

struct WebAnswer {
  int status = 200;
  std::vector<std::pair<std::string, std::string>> headers;  // Content-Type included
  std::string body;                                          // UTF-8
};

// Answers one request. Never throws: a database failure becomes an error
// page that says nothing was changed.
WebAnswer AnswerRequest(Host& host, const CgiRequest& request);

// The answer to a request whose body is larger than max_bytes or shorter
// than its announced length: refused (413), nothing changed.
WebAnswer BodyRefused(std::size_t max_bytes);

// The answer as a CGI program writes it: "Status:", the headers, a blank
// line, the body (line ends LF; servers take them).
std::string CgiOutput(const WebAnswer& answer);

// Text for HTML: the system code page's text as UTF-8, with & < > " '
// escaped.
std::string Html(const std::string& text);

// The latest denials of Access.log, as the administration library reads them.
using admin::Denial;
using admin::LatestDenials;

}  // namespace quillon::web
