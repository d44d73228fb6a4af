// The whole policy as JSON, so that one machine's policy can be copied to
// another:
//   {"format": "quillon-policy", "version": 1,
//    "applications": [{"name": ..., "executables": [path, ...]}, ...],
//    "base_executables": [path, ...],
//    "users": [{"name": ..., "status": "ENABLED", "applications": [...]}, ...]}
// Texts are UTF-8 in the file and the system code page in the database.
#include <map>
#include <nlohmann/json.hpp>
#include <set>

#include "admin/admin_internal.h"
#include "shared/helpers/text.h"

namespace quillon::admin {

namespace {

constexpr char kFormat[] = "quillon-policy";
constexpr int kVersion = 1;

using nlohmann::json;

std::string ToUtf8(const std::string& text) {
  return Cp1252ToUtf8(text);
}

[[noreturn]] void Malformed(const std::string& why) {
  throw AdminError(AdminError::Kind::kInvalid, "The policy file is not valid: " + why);
}

// A text member, converted to the code page.
std::string TextOf(const json& value, const std::string& what) {
  if (!value.is_string()) Malformed(what + " must be a text");
  const std::string utf8 = value.get<std::string>();
  if (utf8.find('\0') != std::string::npos) Malformed(what + " holds a NUL character");
  return Utf8ToCp1252(utf8);
}

std::vector<std::string> TextsOf(const json& object, const char* member, const std::string& what) {
  std::vector<std::string> texts;
  if (!object.contains(member)) return texts;
  const json& list = object.at(member);
  if (!list.is_array()) Malformed(what + "." + member + " must be a list");
  for (const json& item : list) texts.push_back(TextOf(item, what + "." + member + " entry"));
  return texts;
}

struct PolicyApp {
  std::string name;
  std::vector<std::string> executables;
};
struct PolicyUser {
  std::string name;
  std::string status;
  std::vector<std::string> applications;
};
struct Policy {
  std::vector<PolicyApp> applications;
  std::vector<std::string> base_executables;
  std::vector<PolicyUser> users;
};

// Reads and checks the whole file before anything is changed.
Policy ParsePolicy(const std::string& text) {
  json document;
  try {
    document = json::parse(text);
  } catch (const json::exception& error) {
    Malformed(error.what());
  }
  if (!document.is_object()) Malformed("it is not a JSON object");
  if (document.value("format", json()) != kFormat)
    Malformed("\"format\" is not \"quillon-policy\"");
  if (document.value("version", json()) != kVersion) Malformed("\"version\" is not 1");

  Policy policy;
  std::set<std::string> app_names;
  if (document.contains("applications")) {
    if (!document["applications"].is_array()) Malformed("applications must be a list");
    for (const json& item : document["applications"]) {
      if (!item.is_object()) Malformed("an application must be an object");
      PolicyApp app{TextOf(item.value("name", json()), "an application's name"),
                    TextsOf(item, "executables", "application")};
      if (!app_names.insert(UpperCase(app.name)).second) {
        Malformed("the application \"" + ToUtf8(app.name) + "\" is listed twice");
      }
      policy.applications.push_back(std::move(app));
    }
  }
  policy.base_executables = TextsOf(document, "base_executables", "policy");
  if (document.contains("users")) {
    if (!document["users"].is_array()) Malformed("users must be a list");
    for (const json& item : document["users"]) {
      if (!item.is_object()) Malformed("a user must be an object");
      PolicyUser user{TextOf(item.value("name", json()), "a user's name"),
                      TextOf(item.value("status", json(kDisabled)), "a user's status"),
                      TextsOf(item, "applications", "user")};
      if (user.name.empty()) Malformed("a user's name is empty");
      if (user.status != kEnabled && user.status != kDisabled) {
        Malformed("the status of \"" + ToUtf8(user.name) + "\" is neither ENABLED nor DISABLED");
      }
      for (const std::string& app : user.applications) {
        if (app_names.count(UpperCase(app)) == 0) {
          Malformed("\"" + ToUtf8(user.name) + "\" is granted \"" + ToUtf8(app) +
                    "\", which the policy does not list");
        }
      }
      policy.users.push_back(std::move(user));
    }
  }
  return policy;
}

}  // namespace

std::string Administration::ExportPolicy() {
  json applications = json::array();
  std::map<std::int64_t, std::size_t> app_index;
  for (const Application& app : Applications()) {
    if (app.name.empty()) continue;  // the checker treats it as no application
    app_index[app.id] = applications.size();
    applications.push_back({{"name", ToUtf8(app.name)}, {"executables", json::array()}});
  }
  json base = json::array();
  std::set<std::string> seen;
  for (auto rows =
           impl_->Run("SELECT exe_path, COALESCE(app_id, 0) AS app_id FROM APP_EXES ORDER BY "
                      "exe_path, exe_id");
       !rows->Eof(); rows->MoveNext()) {
    const std::string path = rows->Field("exe_path");
    if (!seen.insert(UpperCase(path)).second) continue;
    const std::int64_t app_id = NumberField(*rows, "app_id");
    if (app_id == kBaseAppId) {
      base.push_back(ToUtf8(path));
    } else if (const auto app = app_index.find(app_id); app != app_index.end()) {
      applications[app->second]["executables"].push_back(ToUtf8(path));
    }
  }
  json users = json::array();
  for (const User& user : Users()) {
    json granted = json::array();
    for (const std::string& app : user.applications) granted.push_back(ToUtf8(app));
    users.push_back({{"name", ToUtf8(user.name)},
                     {"status", ToUtf8(user.controlled ? kEnabled : kDisabled)},
                     {"applications", granted}});
  }
  const json document = {{"format", kFormat},
                         {"version", kVersion},
                         {"applications", applications},
                         {"base_executables", base},
                         {"users", users}};
  return document.dump(2) + "\n";
}

ImportSummary Administration::ImportPolicy(const std::string& text) {
  const Policy policy = ParsePolicy(text);
  ImportSummary summary;
  impl_->EnsureAudit();
  Transaction transaction(*impl_->db);

  auto place = [&](const std::string& path, std::int64_t app_id) {
    if (impl_->Number("SELECT COUNT(*) AS n FROM APP_EXES WHERE exe_path = ?", {path}) == 0) {
      impl_->Run("INSERT INTO APP_EXES (exe_path, app_id) VALUES (?, ?)",
                 {UpperCase(path), app_id});
      ++summary.executables_added;
    } else {
      summary.executables_assigned += impl_->AssignPath(path, app_id);
    }
  };
  std::map<std::string, AppRef> apps;
  for (const PolicyApp& listed : policy.applications) {
    std::optional<AppRef> app = impl_->FindApp(listed.name);
    if (!app) {
      app = impl_->NewApp(listed.name);
      ++summary.applications_created;
    }
    apps[UpperCase(listed.name)] = *app;
    for (const std::string& path : listed.executables) place(path, app->id);
  }
  for (const std::string& path : policy.base_executables) place(path, kBaseAppId);
  for (const PolicyUser& listed : policy.users) {
    if (impl_->Number("SELECT COUNT(*) AS n FROM USERS WHERE user_name = ?", {listed.name}) == 0) {
      impl_->Run("INSERT INTO USERS (user_name, user_status) VALUES (?, ?)",
                 {listed.name, listed.status});
      ++summary.users_added;
    } else if (impl_->Number(
                   "SELECT COUNT(*) AS n FROM USERS WHERE user_name = ? AND user_status <> ?",
                   {listed.name, listed.status}) > 0) {
      impl_->Run("UPDATE USERS SET user_status = ? WHERE user_name = ?",
                 {listed.status, listed.name});
      ++summary.users_updated;
    }
    // Exactly the listed grants.
    impl_->Run(
        "DELETE FROM ALLOWED_APPS WHERE user_id IN "
        "(SELECT user_id FROM USERS WHERE user_name = ?)",
        {listed.name});
    for (const std::string& app : listed.applications) {
      impl_->GrantApp(listed.name, apps.at(UpperCase(app)));
      ++summary.grants_set;
    }
  }
  impl_->Record("import", std::to_string(policy.applications.size()) + " applications, " +
                              std::to_string(policy.users.size()) + " users; " +
                              std::to_string(summary.applications_created) +
                              " applications created, " +
                              std::to_string(summary.executables_added) + " executables added");
  transaction.Commit();
  return summary;
}

}  // namespace quillon::admin
