#include "web/web_site.h"

#include <algorithm>
#include <deque>
#include <exception>
#include <functional>
#include <map>
#include <memory>
#include <optional>

#include "admin/admin.h"
#include "shared/helpers/text.h"
#include "shared/host_error.h"

namespace quillon::web {
namespace {

using admin::AdminError;
using admin::Administration;

constexpr std::size_t kPageSize = 100;
constexpr std::size_t kTokenBytes = 32;
constexpr char kHtmlType[] = "text/html; charset=utf-8";
constexpr char kSecurityPolicy[] =
    "default-src 'none'; style-src 'self'; img-src 'self'; form-action 'self'; "
    "frame-ancestors 'none'; base-uri 'none'";

// What a finished change says on the page it returns to.
const std::map<std::string, std::string>& Notes() {
  static const std::map<std::string, std::string> notes = {
      {"enabled", "Quillon now controls the user's launches."},
      {"disabled", "Quillon no longer controls the user's launches."},
      {"created", "The application was created."},
      {"renamed", "The application was renamed."},
      {"deleted", "The application was deleted; its executables are in no application now."},
      {"assigned", "The executables were moved."},
      {"granted", "The application was granted."},
      {"revoked", "The grant was taken back."},
      {"approved", "The request was approved: the user may start the program now."},
      {"dismissed", "The request was dismissed."},
      {"unchanged", "Nothing needed to change."},
  };
  return notes;
}

// The account of a logged-on name as a web server gives it: "COMPUTER\name"
// (Windows authentication) or "name".
std::string AccountPart(const std::string& logged_on) {
  const std::size_t backslash = logged_on.rfind('\\');
  return backslash == std::string::npos ? logged_on : logged_on.substr(backslash + 1);
}

// Form text arrives as UTF-8; the library works in the system code page.
std::string In(const std::string& text) {
  return IsValidUtf8(text) ? Utf8ToCp1252(text) : text;
}

std::string Number(std::int64_t value) {
  std::string digits = std::to_string(value < 0 ? -value : value);
  for (int at = static_cast<int>(digits.size()) - 3; at > 0; at -= 3) {
    digits.insert(static_cast<std::size_t>(at), ",");
  }
  return (value < 0 ? "-" : "") + digits;
}

std::optional<std::int64_t> ParseId(const std::string& text) {
  if (text.empty() || text.size() > 18) return std::nullopt;
  std::int64_t value = 0;
  for (const char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
    value = value * 10 + (c - '0');
  }
  return value;
}

std::string HexOf(const std::vector<std::uint8_t>& bytes) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string out;
  for (const std::uint8_t b : bytes) {
    out += kDigits[b >> 4];
    out += kDigits[b & 15];
  }
  return out;
}

// Compares without stopping at the first difference.
bool SameToken(const std::string& a, const std::string& b) {
  if (a.size() != b.size() || a.empty()) return false;
  unsigned char difference = 0;
  for (std::size_t i = 0; i < a.size(); ++i) {
    difference |= static_cast<unsigned char>(a[i] ^ b[i]);
  }
  return difference == 0;
}

class Site {
 public:
  Site(Host& host, const CgiRequest& request) : host_(host), request_(request) {}

  WebAnswer Answer();

 private:
  // ---- building blocks
  std::string Link(const std::string& query) const {
    return Html(request_.script_name + "?" + query);
  }
  std::string TokenField() const {
    return "<input type=\"hidden\" name=\"token\" value=\"" + Html(token_) + "\">";
  }
  std::string PostForm(const std::string& action, const std::string& fields,
                       const std::string& button, const std::string& button_class = "") const {
    return "<form method=\"post\" action=\"" + Html(request_.script_name) + "\" class=\"inline\">" +
           TokenField() + "<input type=\"hidden\" name=\"action\" value=\"" + Html(action) + "\">" +
           fields + "<button type=\"submit\"" +
           (button_class.empty() ? "" : " class=\"" + button_class + "\"") + ">" + button +
           "</button></form>";
  }
  static std::string Hidden(const std::string& name, const std::string& value) {
    return "<input type=\"hidden\" name=\"" + Html(name) + "\" value=\"" + Html(value) + "\">";
  }
  std::string AppOptions(const std::string& selected, bool with_empty);
  WebAnswer Page(const std::string& title, const std::string& menu, const std::string& content,
                 int status = 200);
  WebAnswer Refusal(int status, const std::string& title, const std::string& text);
  WebAnswer Redirect(const std::string& query, const std::string& note);

  // ---- pages
  WebAnswer Overview();
  WebAnswer Applications();
  WebAnswer ApplicationPage();
  WebAnswer Unassigned();
  WebAnswer Users();
  WebAnswer UserPage();
  WebAnswer Requests();
  WebAnswer Explain();
  WebAnswer ShowPage(const std::string& error);

  // ---- changes
  WebAnswer Change();

  Administration& Admin() {
    if (!admin_) admin_ = std::make_unique<Administration>(host_, request_.remote_user);
    return *admin_;
  }

  Host& host_;
  const CgiRequest& request_;
  std::string token_;
  bool new_token_ = false;
  std::string error_;  // a refused change's reason, shown on the page
  std::unique_ptr<Administration> admin_;
};

std::string Site::AppOptions(const std::string& selected, bool with_empty) {
  std::string options = with_empty ? "<option value=\"\">(choose)</option>" : "";
  for (const admin::Application& app : Admin().Applications()) {
    options += "<option value=\"" + Html(app.name) + "\"" +
               (UpperCase(app.name) == UpperCase(selected) ? " selected" : "") + ">" +
               Html(app.name) + "</option>";
  }
  return options;
}

WebAnswer Site::Page(const std::string& title, const std::string& menu, const std::string& content,
                     int status) {
  static const std::pair<const char*, const char*> kMenu[] = {{"overview", "Overview"},
                                                              {"apps", "Applications"},
                                                              {"users", "Users"},
                                                              {"requests", "Access requests"},
                                                              {"explain", "Explain"}};
  std::string nav;
  for (const auto& [page, label] : kMenu) {
    nav += "<a href=\"" + Link(std::string("page=") + page) + "\"" +
           (menu == page ? " class=\"current\" aria-current=\"page\"" : "") + ">" + label + "</a>";
  }
  std::string notice;
  const auto note = Notes().find(request_.Query("note"));
  if (note != Notes().end())
    notice = "<p class=\"note\" role=\"status\">" + Html(note->second) + "</p>";
  if (!error_.empty()) notice += "<p class=\"error\" role=\"alert\">" + Html(error_) + "</p>";
  const std::string computer = host_.shell.Environment("COMPUTERNAME");
  WebAnswer answer;
  answer.status = status;
  answer.body =
      "<!DOCTYPE html>\n<html lang=\"en\"><head><meta charset=\"utf-8\">"
      "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">"
      "<title>" +
      Html(title) +
      " - Quillon</title>"
      "<link rel=\"stylesheet\" href=\"Zentrel.css\"></head><body>"
      "<header><span class=\"brand\">Quillon</span><span class=\"where\">Administration"
      " of " +
      Html(computer) + "</span><span class=\"who\">" + Html(request_.remote_user) +
      "</span></header><nav>" + nav + "</nav><main><h1>" + Html(title) + "</h1>" + notice +
      content + "</main></body></html>\n";
  answer.headers.emplace_back("Content-Type", kHtmlType);
  return answer;
}

WebAnswer Site::Refusal(int status, const std::string& title, const std::string& text) {
  WebAnswer answer;
  answer.status = status;
  answer.headers.emplace_back("Content-Type", kHtmlType);
  answer.body =
      "<!DOCTYPE html>\n<html lang=\"en\"><head><meta charset=\"utf-8\"><title>" + Html(title) +
      " - Quillon</title><link rel=\"stylesheet\" href=\"Zentrel.css\">"
      "</head><body><header><span class=\"brand\">Quillon</span></header><main>"
      "<h1>" +
      Html(title) + "</h1><p class=\"error\">" + Html(text) + "</p></main></body></html>\n";
  return answer;
}

WebAnswer Site::Redirect(const std::string& query, const std::string& note) {
  WebAnswer answer;
  answer.status = 303;
  answer.headers.emplace_back("Location", request_.script_name + "?" + query + "&note=" + note);
  answer.headers.emplace_back("Content-Type", kHtmlType);
  return answer;
}

// ------------------------------------------------------------ pages

WebAnswer Site::Overview() {
  const admin::Overview counts = Admin().GetOverview();
  const auto card = [&](const std::string& query, std::int64_t value, const std::string& label) {
    return "<a class=\"card\" href=\"" + Link(query) + "\"><span class=\"count\">" + Number(value) +
           "</span><span class=\"label\">" + label + "</span></a>";
  };
  std::string content =
      "<div class=\"cards\">" + card("page=users", counts.users, "users") +
      card("page=users", counts.controlled_users, "controlled users") +
      card("page=apps", counts.applications, "applications") +
      card("page=apps", counts.executables, "executables") +
      card("page=unassigned", counts.unassigned_executables, "in no application") +
      card("page=requests", counts.pending_requests, "access requests") + "</div>";

  content += "<h2>Latest denials</h2>";
  const std::vector<Denial> denials = Admin().RecentDenials();
  if (denials.empty()) {
    content += "<p class=\"empty\">No launch has been denied yet.</p>";
  } else {
    content +=
        "<table><thead><tr><th>When</th><th>User</th><th>Executable</th>"
        "<th>Application</th><th></th></tr></thead><tbody>";
    for (const Denial& denial : denials) {
      std::string action;
      if (denial.decision == "Unassigned") {
        action = "<a class=\"button\" href=\"" +
                 Link("page=unassigned&filter=" + UrlEncode(Cp1252ToUtf8(denial.path))) +
                 "\">Assign to an application</a>";
      } else {
        action = PostForm("grant",
                          Hidden("user", denial.user) + Hidden("app", denial.decision) +
                              Hidden("back", "page=overview"),
                          "Grant " + Html(denial.decision));
      }
      content += "<tr><td class=\"time\">" + Html(denial.time) + "</td><td><a href=\"" +
                 Link("page=user&name=" + UrlEncode(Cp1252ToUtf8(denial.user))) + "\">" +
                 Html(denial.user) + "</a></td><td class=\"path\">" + Html(denial.path) +
                 "</td><td>" + Html(denial.decision) + "</td><td>" + action + "</td></tr>";
    }
    content += "</tbody></table>";
  }
  return Page("Overview", "overview", content);
}

WebAnswer Site::Applications() {
  std::string content =
      "<form method=\"post\" action=\"" + Html(request_.script_name) + "\" class=\"bar\">" +
      TokenField() + Hidden("action", "app-create") + Hidden("back", "page=apps") +
      "<label for=\"name\">New application</label><input type=\"text\" id=\"name\" name=\"name\" "
      "required maxlength=\"255\"><button type=\"submit\">Create</button></form>";
  const std::vector<admin::Application> apps = Admin().Applications();
  const admin::Overview counts = Admin().GetOverview();
  content += "<p><a href=\"" + Link("page=unassigned") +
             "\">Executables in no application: " + Number(counts.unassigned_executables) +
             "</a></p>";
  if (apps.empty()) {
    content += "<p class=\"empty\">There are no applications yet.</p>";
  } else {
    content +=
        "<table><thead><tr><th>Application</th><th class=\"num\">Executables</th>"
        "<th class=\"num\">Users granted</th></tr></thead><tbody>";
    for (const admin::Application& app : apps) {
      content += "<tr><td><a href=\"" + Link("page=app&name=" + UrlEncode(Cp1252ToUtf8(app.name))) +
                 "\">" + Html(app.name) + "</a></td><td class=\"num\">" + Number(app.executables) +
                 "</td><td class=\"num\">" + Number(app.users) + "</td></tr>";
    }
    content += "</tbody></table>";
  }
  return Page("Applications", "apps", content);
}

// A page of executables with check boxes and a form that moves the checked
// ones into an application (existing, or new when named).
std::string ExecutableTable(const admin::ExecutablePage& page, const std::string& form_head,
                            const std::string& form_tail, bool show_application) {
  std::string content = form_head +
                        "<table><thead><tr><th class=\"pick\"></th><th>Executable</th>" +
                        (show_application ? "<th>Application</th>" : "") + "</tr></thead><tbody>";
  for (const admin::Executable& exe : page.executables) {
    const std::string id = std::to_string(exe.id);
    content +=
        "<tr><td class=\"pick\"><input type=\"checkbox\" name=\"exe\" value=\"" + id +
        "\" id=\"exe" + id + "\" aria-label=\"" + Html(exe.path) +
        "\"></td><td class=\"path\"><label for=\"exe" + id + "\">" + Html(exe.path) +
        "</label></td>" +
        (show_application
             ? "<td>" + (exe.base ? std::string("(base: everybody)") : Html(exe.application)) +
                   "</td>"
             : "") +
        "</tr>";
  }
  return content + "</tbody></table>" + form_tail;
}

WebAnswer Site::Unassigned() {
  admin::ExecutableQuery query;
  query.unassigned = true;
  query.filter = In(request_.Query("filter"));
  query.limit = kPageSize;
  query.after_id = ParseId(request_.Query("after")).value_or(0);
  const admin::ExecutablePage page = Admin().Executables(query);
  const std::string filter_utf8 = request_.Query("filter");

  std::string content =
      "<p>The checker puts every executable it meets for the first time here. Check the ones "
      "that belong together and move them into an application.</p>"
      "<form method=\"get\" action=\"" +
      Html(request_.script_name) + "\" class=\"bar\">" + Hidden("page", "unassigned") +
      "<label for=\"filter\">Path contains</label><input type=\"search\" id=\"filter\" "
      "name=\"filter\" value=\"" +
      Html(query.filter) +
      "\"><button type=\"submit\">Filter</button>"
      "</form><p class=\"count\">" +
      Number(page.total) + " executable" + (page.total == 1 ? "" : "s") +
      (query.filter.empty() ? ""
       : page.total == 1    ? " matches"
                            : " match") +
      "</p>";
  if (page.executables.empty()) {
    content += "<p class=\"empty\">No executable in no application" +
               std::string(query.filter.empty() ? "." : " matches the filter.") + "</p>";
    return Page("Executables in no application", "apps", content);
  }
  const std::string head =
      "<form method=\"post\" action=\"" + Html(request_.script_name) + "\">" + TokenField() +
      Hidden("action", "assign") +
      Hidden("back", "page=unassigned&filter=" + UrlEncode(Cp1252ToUtf8(query.filter)));
  const std::string tail =
      "<div class=\"bar\"><label for=\"app\">Move the checked ones to</label><select id=\"app\" "
      "name=\"app\">" +
      AppOptions("", true) +
      "</select><label for=\"new_app\">or a new "
      "application</label><input type=\"text\" id=\"new_app\" name=\"new_app\" maxlength=\"255\">"
      "<button type=\"submit\">Move</button></div></form>";
  content += ExecutableTable(page, head, tail, false);
  std::string pager = "<p class=\"pager\">";
  if (query.after_id != 0) {
    pager += "<a href=\"" + Link("page=unassigned&filter=" + UrlEncode(filter_utf8)) +
             "\">First page</a> ";
  }
  if (page.next_after_id) {
    pager += "<a href=\"" +
             Link("page=unassigned&filter=" + UrlEncode(filter_utf8) +
                  "&after=" + std::to_string(*page.next_after_id)) +
             "\">Next " + std::to_string(kPageSize) + "</a>";
  }
  content += pager + "</p>";
  return Page("Executables in no application", "apps", content);
}

WebAnswer Site::ApplicationPage() {
  const std::string name_utf8 = request_.Query("name");
  const admin::Application app = Admin().GetApplication(In(name_utf8));
  const std::string back = "page=app&name=" + UrlEncode(Cp1252ToUtf8(app.name));
  std::string content;
  if (request_.Query("confirm") == "delete") {
    content +=
        "<div class=\"confirm\"><p>Delete the application <strong>" + Html(app.name) +
        "</strong>? Its " + Number(app.executables) +
        " executables go to no application, and the " + Number(app.users) +
        " users granted it lose that grant.</p>" +
        PostForm("app-delete",
                 Hidden("app", app.name) + Hidden("confirm", "yes") + Hidden("back", "page=apps"),
                 "Delete", "danger") +
        " <a class=\"button\" href=\"" + Link(back) + "\">Keep it</a></div>";
  }
  content +=
      "<div class=\"bar\">" +
      PostForm("app-rename",
               Hidden("app", app.name) +
                   "<label for=\"new_name\">Name</label><input type=\"text\" id=\"new_name\" "
                   "name=\"name\" required maxlength=\"255\" value=\"" +
                   Html(app.name) + "\">",
               "Rename") +
      " <a class=\"button danger\" href=\"" + Link(back + "&confirm=delete") +
      "\">Delete…</a></div>";

  admin::ExecutableQuery query;
  query.app_id = app.id;
  query.limit = kPageSize;
  query.after_id = ParseId(request_.Query("after")).value_or(0);
  const admin::ExecutablePage page = Admin().Executables(query);
  content += "<h2>Executables (" + Number(page.total) + ")</h2>";
  if (page.executables.empty()) {
    content +=
        "<p class=\"empty\">No executable belongs to this application yet: move some "
        "here from <a href=\"" +
        Link("page=unassigned") +
        "\">the executables in no "
        "application</a>.</p>";
  } else {
    const std::string head = "<form method=\"post\" action=\"" + Html(request_.script_name) +
                             "\">" + TokenField() + Hidden("action", "assign") +
                             Hidden("back", back);
    const std::string tail =
        "<div class=\"bar\"><label for=\"app\">Move the checked ones to</label><select id=\"app\" "
        "name=\"app\">" +
        AppOptions("", true) +
        "</select><button type=\"submit\">Move</button>"
        "</div></form>";
    content += ExecutableTable(page, head, tail, false);
    if (page.next_after_id) {
      content += "<p class=\"pager\"><a href=\"" +
                 Link(back + "&after=" + std::to_string(*page.next_after_id)) + "\">Next " +
                 std::to_string(kPageSize) + "</a></p>";
    }
  }
  return Page("Application " + app.name, "apps", content);
}

WebAnswer Site::Users() {
  const std::vector<admin::User> users = Admin().Users();
  std::string content =
      "<p>Quillon decides the launches of controlled users only: they may start the base "
      "executables and the applications granted to them. Other users may start everything.</p>";
  if (users.empty()) {
    content += "<p class=\"empty\">No user is known yet.</p>";
    return Page("Users", "users", content);
  }
  content +=
      "<table><thead><tr><th>User</th><th>Control</th><th>Applications granted</th>"
      "<th class=\"num\">Requests</th><th></th></tr></thead><tbody>";
  for (const admin::User& user : users) {
    std::string granted;
    for (const std::string& app : user.applications) {
      granted += (granted.empty() ? "" : ", ") + Html(app);
    }
    const std::string& name = user.name;
    content += "<tr><td><a href=\"" + Link("page=user&name=" + UrlEncode(Cp1252ToUtf8(name))) +
               "\">" + Html(user.name) + "</a></td><td>" +
               (user.controlled ? "<span class=\"badge on\">Controlled</span>"
                                : "<span class=\"badge\">Not controlled</span>") +
               "</td><td>" + (granted.empty() ? "<span class=\"muted\">none</span>" : granted) +
               "</td><td class=\"num\">" + Number(user.requests) + "</td><td>" +
               PostForm("control",
                        Hidden("user", name) + Hidden("on", user.controlled ? "0" : "1") +
                            Hidden("back", "page=users"),
                        user.controlled ? "Stop controlling" : "Control") +
               "</td></tr>";
  }
  content += "</tbody></table>";
  return Page("Users", "users", content);
}

WebAnswer Site::UserPage() {
  const admin::User user = Admin().GetUser(In(request_.Query("name")));
  const std::string& name = user.name;
  const std::string back = "page=user&name=" + UrlEncode(Cp1252ToUtf8(name));
  std::string content =
      "<div class=\"bar\"><span>" +
      std::string(user.controlled
                      ? "<span class=\"badge on\">Controlled</span> Quillon decides this user's "
                        "launches by the grants below."
                      : "<span class=\"badge\">Not controlled</span> This user may start every "
                        "program.") +
      "</span>" +
      PostForm(
          "control",
          Hidden("user", name) + Hidden("on", user.controlled ? "0" : "1") + Hidden("back", back),
          user.controlled ? "Stop controlling" : "Control this user") +
      "</div><h2>Applications granted</h2>";
  if (user.applications.empty()) {
    content += "<p class=\"empty\">None.</p>";
  } else {
    content += "<ul class=\"grants\">";
    for (const std::string& app : user.applications) {
      content +=
          "<li>" + Html(app) + " " +
          PostForm("revoke", Hidden("user", name) + Hidden("app", app) + Hidden("back", back),
                   "Revoke", "small") +
          "</li>";
    }
    content += "</ul>";
  }
  content += "<div class=\"bar\">" +
             PostForm("grant",
                      Hidden("user", name) + Hidden("back", back) +
                          "<label for=\"app\">Grant</label><select id=\"app\" name=\"app\" "
                          "required>" +
                          AppOptions(request_.Query("app"), true) + "</select>",
                      "Grant") +
             "</div><h2>Access requests</h2>";
  std::string rows;
  for (const admin::AccessRequest& r : Admin().Requests()) {
    if (r.user_id != user.id) continue;
    rows += "<tr><td class=\"path\">" + Html(r.exe_path) + "</td><td>" +
            (r.base                  ? std::string("(base)")
             : r.application.empty() ? "<span class=\"muted\">none</span>"
                                     : Html(r.application)) +
            "</td></tr>";
  }
  content += rows.empty() ? "<p class=\"empty\">None.</p>"
                          : "<table><thead><tr><th>Executable</th><th>Application</th></tr>"
                            "</thead><tbody>" +
                                rows + "</tbody></table><p><a href=\"" + Link("page=requests") +
                                "\">Answer them</a></p>";
  return Page("User " + user.name, "users", content);
}

WebAnswer Site::Requests() {
  const std::vector<admin::AccessRequest> requests = Admin().Requests();
  std::string content;
  if (requests.empty()) {
    content += "<p class=\"empty\">No access request is waiting.</p>";
    return Page("Access requests", "requests", content);
  }
  const std::string options = AppOptions("", true);
  content +=
      "<table><thead><tr><th>#</th><th>User</th><th>Executable</th><th>Application</th>"
      "<th>Answer</th></tr></thead><tbody>";
  for (const admin::AccessRequest& r : requests) {
    const std::string id = std::to_string(r.id);
    std::string approve;
    if (r.base || !r.application.empty()) {
      approve = PostForm("approve", Hidden("request", id) + Hidden("back", "page=requests"),
                         r.base ? "Approve" : "Grant " + Html(r.application));
    } else {
      approve = PostForm("approve",
                         Hidden("request", id) + Hidden("back", "page=requests") +
                             "<select name=\"app\" aria-label=\"Application for request " + id +
                             "\">" + options +
                             "</select><input type=\"text\" name=\"new_app\" "
                             "placeholder=\"or a new application\" maxlength=\"255\" "
                             "aria-label=\"New application for request " +
                             id + "\">",
                         "Approve");
    }
    content += "<tr><td>" + id + "</td><td><a href=\"" +
               Link("page=user&name=" + UrlEncode(Cp1252ToUtf8(r.user))) + "\">" + Html(r.user) +
               "</a></td><td class=\"path\">" + Html(r.exe_path) + "</td><td>" +
               (r.base                  ? std::string("(base)")
                : r.application.empty() ? "<span class=\"muted\">none</span>"
                                        : Html(r.application)) +
               "</td><td class=\"answer\">" + approve + " " +
               PostForm("dismiss", Hidden("request", id) + Hidden("back", "page=requests"),
                        "Dismiss", "secondary") +
               "</td></tr>";
  }
  content += "</tbody></table>";
  return Page("Access requests", "requests", content);
}

WebAnswer Site::Explain() {
  const std::string user = request_.Query("user");
  const std::string path = request_.Query("path");
  std::string content =
      "<p>What the checker would decide if this user started this program now, and why. "
      "Nothing is changed.</p><form method=\"get\" action=\"" +
      Html(request_.script_name) + "\" class=\"bar\">" + Hidden("page", "explain") +
      "<label for=\"user\">User</label><input type=\"text\" id=\"user\" name=\"user\" required "
      "value=\"" +
      Html(In(user)) +
      "\"><label for=\"path\">Program</label><input type=\"text\" "
      "id=\"path\" name=\"path\" class=\"wide\" required placeholder=\"C:\\Program Files\\...\\"
      "program.exe\" value=\"" +
      Html(In(path)) + "\"><button type=\"submit\">Explain</button></form>";
  if (user.empty() || path.empty()) return Page("Explain a decision", "explain", content);

  const admin::Explanation e = Admin().Explain(In(user), In(path));
  const auto yes_no = [](bool value) { return std::string(value ? "yes" : "no"); };
  content +=
      "<section class=\"verdict " + std::string(e.allowed ? "allowed" : "denied") +
      "\"><p class=\"decision\">" + (e.allowed ? "Allowed" : "Denied") + "</p><p>" + Html(e.rule) +
      "</p></section><table class=\"facts\"><tbody>" +
      "<tr><th>Path as stored</th><td class=\"path\">" +
      (e.stored_path.empty() ? "<span class=\"muted\">not decided</span>" : Html(e.stored_path)) +
      "</td></tr><tr><th>Executable known</th><td>" + yes_no(e.executable_known) +
      "</td></tr><tr><th>Base executable</th><td>" + yes_no(e.base_executable) +
      "</td></tr><tr><th>Application</th><td>" +
      (e.application.empty() ? "<span class=\"muted\">none</span>" : Html(e.application)) +
      "</td></tr><tr><th>User known</th><td>" + yes_no(e.user_known) +
      "</td></tr><tr><th>User status</th><td>" +
      (e.user_status.empty() ? "<span class=\"muted\">unknown</span>" : Html(e.user_status)) +
      "</td></tr><tr><th>Controlled</th><td>" + yes_no(e.controlled_user) +
      "</td></tr><tr><th>Application granted</th><td>" + yes_no(e.granted) +
      "</td></tr><tr><th>Checker's decision text</th><td>" +
      (e.decision.empty() ? "<span class=\"muted\">(empty: allowed)</span>" : Html(e.decision)) +
      "</td></tr></tbody></table>";
  return Page("Explain a decision", "explain", content);
}

WebAnswer Site::ShowPage(const std::string& error) {
  error_ = error;
  const std::string page = request_.Query("page");
  if (page == "apps") return Applications();
  if (page == "app") return ApplicationPage();
  if (page == "unassigned") return Unassigned();
  if (page == "users") return Users();
  if (page == "user") return UserPage();
  if (page == "requests") return Requests();
  if (page == "explain") return Explain();
  return Overview();
}

// ------------------------------------------------------------ changes

WebAnswer Site::Change() {
  const std::string action = request_.Form("action");
  const std::string back = request_.Form("back");
  // Only a page of this program is returned to.
  const std::string target =
      back.rfind("page=", 0) == 0 && back.find_first_of("\r\n") == std::string::npos
          ? back
          : "page=overview";
  Administration& library = Admin();
  std::string note = "unchanged";
  if (action == "control") {
    const bool on = request_.Form("on") == "1";
    if (library.SetUserControlled(In(request_.Form("user")), on))
      note = on ? "enabled" : "disabled";
  } else if (action == "app-create") {
    library.CreateApplication(TrimBlanks(In(request_.Form("name"))));
    note = "created";
  } else if (action == "app-rename") {
    const std::string new_name = TrimBlanks(In(request_.Form("name")));
    library.RenameApplication(In(request_.Form("app")), new_name);
    return Redirect("page=app&name=" + UrlEncode(Cp1252ToUtf8(new_name)), "renamed");
  } else if (action == "app-delete") {
    if (request_.Form("confirm") != "yes") {
      throw AdminError(AdminError::Kind::kInvalid, "Deleting an application needs a confirmation.");
    }
    library.DeleteApplication(In(request_.Form("app")));
    note = "deleted";
  } else if (action == "assign") {
    std::vector<std::int64_t> ids;
    for (const std::string& text : request_.FormAll("exe")) {
      const std::optional<std::int64_t> id = ParseId(text);
      if (!id) throw AdminError(AdminError::Kind::kInvalid, "An executable id is not a number.");
      ids.push_back(*id);
    }
    if (ids.empty())
      throw AdminError(AdminError::Kind::kInvalid, "Check the executables to move first.");
    std::string app = TrimBlanks(In(request_.Form("new_app")));
    if (app.empty()) {
      app = In(request_.Form("app"));
    } else {
      library.CreateApplication(app);
    }
    if (app.empty())
      throw AdminError(AdminError::Kind::kInvalid, "Choose the application to move them to.");
    library.AssignIds(ids, app);
    note = "assigned";
  } else if (action == "grant") {
    if (library.Grant(In(request_.Form("user")), In(request_.Form("app")))) note = "granted";
  } else if (action == "revoke") {
    if (library.Revoke(In(request_.Form("user")), In(request_.Form("app")))) note = "revoked";
  } else if (action == "approve" || action == "dismiss") {
    const std::optional<std::int64_t> id = ParseId(request_.Form("request"));
    if (!id) throw AdminError(AdminError::Kind::kInvalid, "The request number is not a number.");
    if (action == "dismiss") {
      library.Dismiss(*id);
      note = "dismissed";
    } else {
      std::string app = TrimBlanks(In(request_.Form("new_app")));
      if (app.empty()) app = In(request_.Form("app"));
      library.Approve(*id, app);
      note = "approved";
    }
  } else {
    throw AdminError(AdminError::Kind::kInvalid, "This change is unknown.");
  }
  return Redirect(target, note);
}

WebAnswer Site::Answer() {
  if (request_.remote_user.empty()) {
    WebAnswer answer =
        Refusal(401, "Log on first", "Quillon's administration needs you to log on.");
    return answer;
  }
  // The membership test asks about the account this program runs under, so
  // it speaks for the logged-on user only when the server started the
  // program as that user (IIS: CGI programs started with
  // CreateProcessAsUser). Started as anybody else (the server's own account,
  // often a member of Administrators), every logged-on user would pass.
  const std::string account = host_.shell.UserName();
  if (!EqualsIgnoringAsciiCase(AccountPart(request_.remote_user), account)) {
    return Refusal(403, "Not started as you",
                   "The web server started Quillon's administration as " + account +
                       ", not as the logged-on user " + request_.remote_user +
                       "; it must start its programs as the requesting user. Nothing was "
                       "shown or changed.");
  }
  if (!host_.shell.IsAdministrator()) {
    return Refusal(403, "Administrators only",
                   "Only members of the Administrators group of this computer may use Quillon's "
                   "administration; " +
                       request_.remote_user + " is not one.");
  }
  token_ = request_.Cookie(kTokenCookie);
  if (token_.size() != kTokenBytes * 2) {
    token_ = HexOf(host_.random.Bytes(kTokenBytes));
    new_token_ = true;
  }

  WebAnswer answer;
  if (request_.method == "POST") {
    const bool own_origin = request_.origin.empty() ||
                            request_.origin == "http://" + request_.host ||
                            request_.origin == "https://" + request_.host;
    if (new_token_ || !own_origin || !SameToken(request_.Form("token"), token_)) {
      answer = Refusal(403, "Change refused",
                       "This change did not come from a form of this site (or the form has "
                       "expired). Nothing was changed; open the page again and retry.");
    } else {
      try {
        answer = Change();
      } catch (const AdminError& error) {
        const int status = error.kind() == AdminError::Kind::kNotFound   ? 404
                           : error.kind() == AdminError::Kind::kConflict ? 409
                                                                         : 400;
        // The page the form came from, with the reason.
        CgiRequest again = request_;
        again.query = ParseUrlEncoded(request_.Form("back"));
        Site page(host_, again);
        page.token_ = token_;
        page.admin_ = std::move(admin_);
        answer = page.ShowPage(std::string(error.what()) + " Nothing was changed.");
        answer.status = status;
      }
    }
  } else if (request_.method == "GET" || request_.method == "HEAD") {
    try {
      answer = ShowPage("");
    } catch (const AdminError& error) {
      answer = Refusal(error.kind() == AdminError::Kind::kNotFound ? 404 : 400, "Not found",
                       error.what());
    }
  } else {
    answer = Refusal(405, "Method not allowed", "Use GET to read and POST to change.");
    answer.headers.emplace_back("Allow", "GET, POST");
  }
  answer.headers.emplace_back("Content-Security-Policy", kSecurityPolicy);
  answer.headers.emplace_back("X-Content-Type-Options", "nosniff");
  answer.headers.emplace_back("Cache-Control", "no-store");
  answer.headers.emplace_back("Referrer-Policy", "same-origin");
  if (new_token_) {
    answer.headers.emplace_back("Set-Cookie", std::string(kTokenCookie) + "=" + token_ +
                                                  "; Path=/; HttpOnly; SameSite=Strict");
  }
  return answer;
}

}  // namespace

std::string Html(const std::string& text) {
  return HtmlEscaped(Cp1252ToUtf8(text));
}

std::string CgiOutput(const WebAnswer& answer) {
  static const std::map<int, const char*> kReasons = {{200, "OK"},
                                                      {303, "See Other"},
                                                      {400, "Bad Request"},
                                                      {401, "Unauthorized"},
                                                      {403, "Forbidden"},
                                                      {404, "Not Found"},
                                                      {405, "Method Not Allowed"},
                                                      {409, "Conflict"},
                                                      {413, "Content Too Large"},
                                                      {500, "Internal Server Error"}};
  const auto reason = kReasons.find(answer.status);
  std::string out = "Status: " + std::to_string(answer.status) + " " +
                    (reason == kReasons.end() ? "Status" : reason->second) + "\n";
  for (const auto& [name, value] : answer.headers) out += name + ": " + value + "\n";
  return out + "\n" + answer.body;
}

WebAnswer BodyRefused(std::size_t max_bytes) {
  WebAnswer answer;
  answer.status = 413;
  answer.headers = {{"Content-Type", kHtmlType}, {"Content-Security-Policy", kSecurityPolicy}};
  answer.body =
      "<!DOCTYPE html>\n<html lang=\"en\"><head><meta charset=\"utf-8\"><title>"
      "Form not taken - Quillon</title><link rel=\"stylesheet\" href=\"Zentrel.css\">"
      "</head><body><header><span class=\"brand\">Quillon</span></header><main><h1>"
      "The form was not taken</h1><p class=\"error\">It was larger than " +
      std::to_string(max_bytes / 1024) +
      " KB or arrived incomplete.</p><p>Nothing was changed. Go back and send it again, "
      "with fewer items checked if it was a long list.</p></main></body></html>\n";
  return answer;
}

WebAnswer AnswerRequest(Host& host, const CgiRequest& request) {
  try {
    return Site(host, request).Answer();
  } catch (const HostError& error) {
    WebAnswer answer;
    answer.status = 500;
    answer.headers = {{"Content-Type", kHtmlType}, {"Content-Security-Policy", kSecurityPolicy}};
    answer.body =
        "<!DOCTYPE html>\n<html lang=\"en\"><head><meta charset=\"utf-8\"><title>"
        "Database error - Quillon</title><link rel=\"stylesheet\" href=\"Zentrel.css\">"
        "</head><body><header><span class=\"brand\">Quillon</span></header><main><h1>"
        "The database cannot be used</h1><p class=\"error\">Error " +
        std::to_string(error.number()) + ": " + Html(error.description()) +
        "</p><p>Nothing was changed. Check that the database server runs, then try "
        "again.</p></main></body></html>\n";
    return answer;
  } catch (const std::exception& error) {
    WebAnswer answer;
    answer.status = 500;
    answer.headers = {{"Content-Type", "text/plain; charset=utf-8"}};
    answer.body = std::string("Quillon's administration failed: ") + error.what() + "\n";
    return answer;
  }
}

}  // namespace quillon::web
