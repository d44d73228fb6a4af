// ZentrelAdmin's commands over the administration library, parsed with
// CLI11. Each command reads top to bottom: parse, run one operation, show
// its result. Refusals (unknown names and ids, names taken) are messages
// with status 3; anything else that fails travels up as HostError.
#include "admin/admin_cli.h"

#include <CLI/CLI.hpp>
#include <algorithm>
#include <cstdint>
#include <functional>
#include <nlohmann/json.hpp>
#include <sstream>

#include "admin/admin.h"
#include "shared/helpers/text.h"

namespace quillon::admin {

namespace {

using nlohmann::json;

// JSON for scripts: UTF-8 text, printed with every other character escaped
// so that the output is plain ASCII whatever the console's code page.
std::string Utf8(const std::string& text) {
  return Cp1252ToUtf8(text);
}

std::string Dump(const json& value) {
  return value.dump(2, ' ', true) + "\n";
}

// A table for people: columns padded to their widest cell.
class Table {
 public:
  explicit Table(std::vector<std::string> headings) { rows_.push_back(std::move(headings)); }
  void Add(std::vector<std::string> row) { rows_.push_back(std::move(row)); }
  void Print(std::ostream& out) const {
    std::vector<std::size_t> widths(rows_.front().size(), 0);
    for (const auto& row : rows_) {
      for (std::size_t i = 0; i < row.size(); ++i) widths[i] = std::max(widths[i], row[i].size());
    }
    for (const auto& row : rows_) {
      std::string line;
      for (std::size_t i = 0; i < row.size(); ++i) {
        line += row[i];
        if (i + 1 < row.size()) line += std::string(widths[i] - row[i].size() + 2, ' ');
      }
      out << line << "\n";
    }
  }

 private:
  std::vector<std::vector<std::string>> rows_;
};

std::string Joined(const std::vector<std::string>& items) {
  std::string text;
  for (const std::string& item : items) text += (text.empty() ? "" : ", ") + item;
  return text;
}

std::string ApplicationText(const Executable& exe) {
  if (exe.base) return "(base: everybody)";
  return exe.application.empty() ? "(none)" : exe.application;
}

json ExecutableJson(const Executable& exe) {
  return {{"id", exe.id},
          {"path", Utf8(exe.path)},
          {"application", exe.application.empty() ? json() : json(Utf8(exe.application))},
          {"base", exe.base}};
}

json RequestJson(const AccessRequest& request) {
  return {{"id", request.id},
          {"user", Utf8(request.user)},
          {"path", Utf8(request.exe_path)},
          {"application", request.application.empty() ? json() : json(Utf8(request.application))},
          {"base", request.base}};
}

json ExplanationJson(const Explanation& e) {
  return {{"user", Utf8(e.user_name)},
          {"path", Utf8(e.given_path)},
          {"stored_path", Utf8(e.stored_path)},
          {"decided", e.decided},
          {"allowed", e.allowed},
          {"decision", Utf8(e.decision)},
          {"rule", Utf8(e.rule)},
          {"executable_known", e.executable_known},
          {"base_executable", e.base_executable},
          {"application", e.application.empty() ? json() : json(Utf8(e.application))},
          {"user_known", e.user_known},
          {"user_status", Utf8(e.user_status)},
          {"controlled_user", e.controlled_user},
          {"granted", e.granted}};
}

void PrintExplanation(const Explanation& e, std::ostream& out) {
  // The rule's sentence begins with the outcome.
  out << e.rule << "\n";
  if (!e.decided) return;
  if (!e.allowed) out << "  Decision text:       " << e.decision << "\n";
  out << "  Path as stored:      " << e.stored_path << "\n";
  out << "  Executable known:    "
      << (e.executable_known ? "yes (id " + std::to_string(*e.exe_id) + ")"
                             : "no (the launch registers it, in no application)")
      << "\n";
  out << "  Base executable:     " << (e.base_executable ? "yes" : "no") << "\n";
  out << "  Application:         " << (e.application.empty() ? "(none)" : e.application) << "\n";
  out << "  User known:          "
      << (e.user_known ? "yes, status " + e.user_status
                       : "no (the launch registers them as DISABLED)")
      << "\n";
  out << "  Controlled user:     " << (e.controlled_user ? "yes" : "no") << "\n";
  out << "  Grant:               "
      << (e.application.empty() ? "(no application to grant)"
          : e.granted           ? "yes, of " + e.application
                                : "none of " + e.application)
      << "\n";
}

// The text of a file on the machine, lines joined by "\n".
std::string ReadFile(HostFileSystem& files, const std::string& path) {
  auto stream = files.OpenTextFile(path, IoMode::kForReading, false);
  std::string text;
  while (!stream->AtEndOfStream()) text += stream->ReadLine() + "\n";
  stream->Close();
  return text;
}

void WriteFile(HostFileSystem& files, const std::string& path, const std::string& text) {
  auto stream = files.OpenTextFile(path, IoMode::kForWriting, true);
  stream->Write(text);
  stream->Close();
}

// What the parsed command line asks for.
struct Request {
  bool json = false;
  std::string user;
  std::string app;
  std::string new_name;
  std::string path;
  std::string file;
  std::vector<std::string> words;  // assign's paths and application
  std::int64_t id = 0;
  std::string filter;
  bool unassigned = false;
  std::int64_t after = 0;
  std::size_t limit = 100;
};

// Runs the chosen command; returns the exit status.
using Command = std::function<int(Administration& admin, Host& host, const Request& request,
                                  std::ostream& out)>;

int ListUsers(Administration& admin, Host&, const Request& request, std::ostream& out) {
  const std::vector<User> users = admin.Users();
  if (request.json) {
    json list = json::array();
    for (const User& user : users) {
      json apps = json::array();
      for (const std::string& app : user.applications) apps.push_back(Utf8(app));
      list.push_back({{"id", user.id},
                      {"name", Utf8(user.name)},
                      {"status", Utf8(user.status)},
                      {"controlled", user.controlled},
                      {"applications", apps},
                      {"requests", user.requests}});
    }
    out << Dump(list);
    return 0;
  }
  Table table({"USER", "STATUS", "CONTROLLED", "REQUESTS", "APPLICATIONS"});
  for (const User& user : users) {
    table.Add({user.name, user.status, user.controlled ? "yes" : "no",
               std::to_string(user.requests), Joined(user.applications)});
  }
  table.Print(out);
  return 0;
}

Command SetControl(bool controlled) {
  return [controlled](Administration& admin, Host&, const Request& request, std::ostream& out) {
    const bool changed = admin.SetUserControlled(request.user, controlled);
    const char* status = controlled ? kEnabled : kDisabled;
    if (request.json) {
      out << Dump({{"user", Utf8(request.user)}, {"status", status}, {"changed", changed}});
    } else if (changed) {
      out << "User " << request.user << " is now " << status
          << (controlled ? ": launches are decided by the grants.\n"
                         : ": not controlled, every launch is allowed.\n");
    } else {
      out << "User " << request.user << " was already " << status << ".\n";
    }
    return 0;
  };
}

int ListApps(Administration& admin, Host&, const Request& request, std::ostream& out) {
  const std::vector<Application> apps = admin.Applications();
  if (request.json) {
    json list = json::array();
    for (const Application& app : apps) {
      list.push_back({{"id", app.id},
                      {"name", Utf8(app.name)},
                      {"executables", app.executables},
                      {"users", app.users}});
    }
    out << Dump(list);
    return 0;
  }
  Table table({"ID", "APPLICATION", "EXECUTABLES", "USERS"});
  for (const Application& app : apps) {
    table.Add({std::to_string(app.id), app.name, std::to_string(app.executables),
               std::to_string(app.users)});
  }
  table.Print(out);
  return 0;
}

// A one-line result: the message for people, the object for scripts.
int Done(const Request& request, std::ostream& out, const std::string& message, json result) {
  if (request.json) {
    out << Dump(result);
  } else {
    out << message << "\n";
  }
  return 0;
}

int AddApp(Administration& admin, Host&, const Request& request, std::ostream& out) {
  const Application app = admin.CreateApplication(request.app);
  return Done(request, out,
              "Application " + app.name + " created (id " + std::to_string(app.id) + ").",
              {{"id", app.id}, {"name", Utf8(app.name)}});
}

int RenameApp(Administration& admin, Host&, const Request& request, std::ostream& out) {
  admin.RenameApplication(request.app, request.new_name);
  return Done(request, out, "Application " + request.app + " renamed to " + request.new_name + ".",
              {{"old", Utf8(request.app)}, {"name", Utf8(request.new_name)}});
}

int DeleteApp(Administration& admin, Host&, const Request& request, std::ostream& out) {
  const Application app = admin.GetApplication(request.app);
  admin.DeleteApplication(request.app);
  return Done(
      request, out,
      "Application " + app.name + " deleted; its " + std::to_string(app.executables) +
          " executable(s) are in no application now and its " + std::to_string(app.users) +
          " grant(s) are gone.",
      {{"deleted", Utf8(app.name)}, {"executables", app.executables}, {"grants", app.users}});
}

int ListExes(Administration& admin, Host&, const Request& request, std::ostream& out) {
  ExecutableQuery query;
  query.filter = request.filter;
  query.unassigned = request.unassigned;
  query.after_id = request.after;
  query.limit = request.limit;
  if (!request.app.empty()) query.app_id = admin.GetApplication(request.app).id;
  const ExecutablePage page = admin.Executables(query);
  if (request.json) {
    json list = json::array();
    for (const Executable& exe : page.executables) list.push_back(ExecutableJson(exe));
    out << Dump({{"total", page.total},
                 {"executables", list},
                 {"next_after", page.next_after_id ? json(*page.next_after_id) : json()}});
    return 0;
  }
  Table table({"ID", "APPLICATION", "PATH"});
  for (const Executable& exe : page.executables) {
    table.Add({std::to_string(exe.id), ApplicationText(exe), exe.path});
  }
  table.Print(out);
  out << page.executables.size() << " of " << page.total << " executable(s)";
  if (page.next_after_id) out << "; next page: --after " << *page.next_after_id;
  out << "\n";
  return 0;
}

int AssignExes(Administration& admin, Host&, const Request& request, std::ostream& out) {
  const std::vector<std::string> paths(request.words.begin(), request.words.end() - 1);
  const std::string& app = request.words.back();
  const std::int64_t changed = admin.Assign(paths, app);
  return Done(request, out,
              std::to_string(paths.size()) + " executable(s) now in " + app + " (" +
                  std::to_string(changed) + " row(s) changed).",
              {{"application", Utf8(app)},
               {"executables", static_cast<std::int64_t>(paths.size())},
               {"changed", changed}});
}

Command SetGrant(bool grant) {
  return [grant](Administration& admin, Host&, const Request& request, std::ostream& out) {
    const bool changed =
        grant ? admin.Grant(request.user, request.app) : admin.Revoke(request.user, request.app);
    const std::string message =
        grant ? (changed ? request.user + " may now run " + request.app + "."
                         : request.user + " already held a grant of " + request.app + ".")
              : (changed ? request.user + " may no longer run " + request.app + "."
                         : request.user + " held no grant of " + request.app + ".");
    return Done(request, out, message,
                {{"user", Utf8(request.user)},
                 {"application", Utf8(request.app)},
                 {"granted", grant},
                 {"changed", changed}});
  };
}

int ListRequests(Administration& admin, Host&, const Request& request, std::ostream& out) {
  const std::vector<AccessRequest> requests = admin.Requests();
  if (request.json) {
    json list = json::array();
    for (const AccessRequest& each : requests) list.push_back(RequestJson(each));
    out << Dump(list);
    return 0;
  }
  Table table({"ID", "USER", "APPLICATION", "PATH"});
  for (const AccessRequest& each : requests) {
    const std::string app = each.base                  ? "(base: everybody)"
                            : each.application.empty() ? "(none)"
                                                       : each.application;
    table.Add({std::to_string(each.id), each.user.empty() ? "(gone)" : each.user, app,
               each.exe_path.empty() ? "(gone)" : each.exe_path});
  }
  table.Print(out);
  return 0;
}

int ApproveRequest(Administration& admin, Host&, const Request& request, std::ostream& out) {
  const AccessRequest pending = admin.GetRequest(request.id);
  const std::string granted = admin.Approve(request.id, request.app);
  return Done(request, out,
              "Request " + std::to_string(request.id) + " approved: " +
                  (granted.empty() ? pending.exe_path + " is a base executable, allowed already."
                                   : pending.user + " may now run " + granted + "."),
              {{"id", request.id},
               {"user", Utf8(pending.user)},
               {"application", granted.empty() ? json() : json(Utf8(granted))}});
}

int DismissRequest(Administration& admin, Host&, const Request& request, std::ostream& out) {
  admin.Dismiss(request.id);
  return Done(request, out, "Request " + std::to_string(request.id) + " dismissed.",
              {{"id", request.id}, {"dismissed", true}});
}

int ExplainLaunch(Administration& admin, Host&, const Request& request, std::ostream& out) {
  const Explanation explanation = admin.Explain(request.user, request.path);
  if (request.json) {
    out << Dump(ExplanationJson(explanation));
  } else {
    PrintExplanation(explanation, out);
  }
  return 0;
}

int ExportPolicy(Administration& admin, Host& host, const Request& request, std::ostream& out) {
  WriteFile(host.files, request.file, admin.ExportPolicy());
  return Done(request, out, "Policy written to " + request.file + ".",
              {{"file", Utf8(request.file)}});
}

int ImportPolicy(Administration& admin, Host& host, const Request& request, std::ostream& out) {
  const ImportSummary s = admin.ImportPolicy(ReadFile(host.files, request.file));
  return Done(
      request, out,
      "Policy imported from " + request.file + ": " + std::to_string(s.applications_created) +
          " application(s) created, " + std::to_string(s.executables_added) +
          " executable(s) added, " + std::to_string(s.executables_assigned) + " moved, " +
          std::to_string(s.users_added) + " user(s) added, " + std::to_string(s.users_updated) +
          " changed, " + std::to_string(s.grants_set) + " grant(s) set.",
      {{"applications_created", s.applications_created},
       {"executables_added", s.executables_added},
       {"executables_assigned", s.executables_assigned},
       {"users_added", s.users_added},
       {"users_updated", s.users_updated},
       {"grants_set", s.grants_set}});
}

int ShowOverview(Administration& admin, Host&, const Request& request, std::ostream& out) {
  const Overview counts = admin.GetOverview();
  const std::vector<Denial> denials = admin.RecentDenials();
  if (request.json) {
    json list = json::array();
    for (const Denial& denial : denials) {
      list.push_back({{"time", Utf8(denial.time)},
                      {"user", Utf8(denial.user)},
                      {"path", Utf8(denial.path)},
                      {"decision", Utf8(denial.decision)}});
    }
    out << Dump({{"users", counts.users},
                 {"controlled_users", counts.controlled_users},
                 {"applications", counts.applications},
                 {"executables", counts.executables},
                 {"unassigned_executables", counts.unassigned_executables},
                 {"pending_requests", counts.pending_requests},
                 {"latest_denials", list}});
    return 0;
  }
  const std::pair<const char*, std::int64_t> lines[] = {
      {"Users", counts.users},
      {"Controlled users", counts.controlled_users},
      {"Applications", counts.applications},
      {"Executables", counts.executables},
      {"Executables in no application", counts.unassigned_executables},
      {"Pending access requests", counts.pending_requests}};
  for (const auto& [label, count] : lines) {
    const std::string text = label;
    out << text << std::string(32 - text.size(), ' ') << count << "\n";
  }
  out << "\nLatest denials:\n";
  if (denials.empty()) {
    out << "No launch has been denied yet.\n";
    return 0;
  }
  Table table({"WHEN", "USER", "APPLICATION", "PATH"});
  for (const Denial& denial : denials) {
    table.Add({denial.time, denial.user, denial.decision, denial.path});
  }
  table.Print(out);
  return 0;
}

int ShowAudit(Administration& admin, Host&, const Request& request, std::ostream& out) {
  const std::vector<AuditEntry> entries = admin.Audit(request.limit);
  if (request.json) {
    json list = json::array();
    for (const AuditEntry& entry : entries) {
      list.push_back({{"time", Utf8(entry.time)},
                      {"who", Utf8(entry.actor)},
                      {"action", Utf8(entry.action)},
                      {"details", Utf8(entry.details)}});
    }
    out << Dump(list);
    return 0;
  }
  if (entries.empty()) {
    out << "No change has been recorded yet.\n";
    return 0;
  }
  Table table({"WHEN", "WHO", "ACTION", "WHAT"});
  for (const AuditEntry& entry : entries) {
    table.Add({entry.time, entry.actor, entry.action, entry.details});
  }
  table.Print(out);
  return 0;
}

}  // namespace

int RunAdminCommand(Host& host, const std::vector<std::string>& arguments, std::ostream& out,
                    std::ostream& err) {
  // 1. The command line.
  CLI::App app("ZentrelAdmin: administers Quillon's access-control database.", "ZentrelAdmin");
  app.require_subcommand(1);
  app.fallthrough();
  app.footer(
      "Exit status: 0 done, 1 the database or the machine failed, 2 a wrong command line, 3 an "
      "unknown user, application or id, or a name already taken.");
  Request request;
  app.add_flag("--json", request.json, "Print the result as JSON, for scripts");
  Command command;
  auto add = [&](const char* name, const char* description, Command run) {
    CLI::App* sub = app.add_subcommand(name, description);
    sub->callback([&command, run] { command = run; });
    return sub;
  };
  add("users", "List the users with their status, grants and requests", ListUsers);
  add("enable", "Control a user: launches are decided by the grants", SetControl(true))
      ->add_option("USER", request.user, "User name")
      ->required();
  add("disable", "Stop controlling a user: every launch is allowed", SetControl(false))
      ->add_option("USER", request.user, "User name")
      ->required();
  add("apps", "List the applications", ListApps);
  add("app-add", "Create an application", AddApp)
      ->add_option("NAME", request.app, "Application name")
      ->required();
  CLI::App* rename = add("app-rename", "Rename an application", RenameApp);
  rename->add_option("OLD", request.app, "Current name")->required();
  rename->add_option("NEW", request.new_name, "New name")->required();
  add("app-delete", "Delete an application; its executables go to no application", DeleteApp)
      ->add_option("NAME", request.app, "Application name")
      ->required();
  CLI::App* exes = add("exes", "List executables, a page at a time", ListExes);
  exes->add_flag("--unassigned", request.unassigned, "Only executables in no application");
  exes->add_option("--filter", request.filter, "Only paths containing this text (any case)");
  exes->add_option("--app", request.app, "Only this application's executables");
  exes->add_option("--after", request.after, "Start after this executable id (paging)");
  exes->add_option("--limit", request.limit, "At most this many (1 to 1000)")
      ->check(CLI::Range(1, 1000));
  add("assign", "Put executables into an application", AssignExes)
      ->add_option("PATH... APP", request.words, "Executable paths, then the application")
      ->required()
      ->expected(2, 1 << 20);
  CLI::App* grant = add("grant", "Let a user run an application", SetGrant(true));
  grant->add_option("USER", request.user, "User name")->required();
  grant->add_option("APP", request.app, "Application name")->required();
  CLI::App* revoke = add("revoke", "Take an application from a user", SetGrant(false));
  revoke->add_option("USER", request.user, "User name")->required();
  revoke->add_option("APP", request.app, "Application name")->required();
  add("requests", "List the access requests", ListRequests);
  CLI::App* approve = add("approve",
                          "Approve an access request: grant the executable's application (one "
                          "in no application goes to --app first)",
                          ApproveRequest);
  approve->add_option("ID", request.id, "Request id")->required();
  approve->add_option("--app", request.app,
                      "For an executable in no application: the application (new or existing)");
  add("dismiss", "Dismiss an access request", DismissRequest)
      ->add_option("ID", request.id, "Request id")
      ->required();
  CLI::App* explain =
      add("explain", "What the checker decides for USER launching PATH, and why", ExplainLaunch);
  explain->add_option("USER", request.user, "User name")->required();
  explain->add_option("PATH", request.path, "Executable path")->required();
  add("overview",
      "The counts of users, applications, executables and requests, and the latest denials",
      ShowOverview);
  CLI::App* audit =
      add("audit", "The administration audit (who, when, what), newest first", ShowAudit);
  audit->add_option("--limit", request.limit, "At most this many entries (1 to 1000)")
      ->check(CLI::Range(1, 1000));
  add("export", "Write the whole policy to a JSON file", ExportPolicy)
      ->add_option("FILE", request.file, "File to write")
      ->required();
  add("import", "Make the database hold the policy of a JSON file", ImportPolicy)
      ->add_option("FILE", request.file, "File to read")
      ->required();

  // A command CLI11 does not know would only be reported as a missing one.
  const auto first_word =
      std::find_if(arguments.begin(), arguments.end(),
                   [](const std::string& word) { return word.empty() || word.front() != '-'; });
  if (first_word != arguments.end()) {
    try {
      app.get_subcommand(*first_word);
    } catch (const CLI::OptionNotFound&) {
      err << "ZentrelAdmin: there is no command \"" << *first_word
          << "\"; ZentrelAdmin --help lists the commands.\n";
      return kExitUsage;
    }
  }
  try {
    std::vector<std::string> reversed(arguments.rbegin(), arguments.rend());
    app.parse(reversed);
  } catch (const CLI::ParseError& error) {
    const int status = app.exit(error, out, err);
    return status == 0 ? 0 : kExitUsage;
  }

  // 2. The operation, as the account that runs this program.
  try {
    Administration admin(host, host.shell.UserName());
    return command(admin, host, request, out);
  } catch (const AdminError& refusal) {
    err << "ZentrelAdmin: " << refusal.what() << "\n";
    return kExitRefused;
  }
}

}  // namespace quillon::admin
