// Every administrative operation on the access-control database: users and
// their control, applications and their executables, grants, access
// requests, the overview, the explanation of a decision, and the whole
// policy as JSON. The command line ZentrelAdmin and the web site are faces
// over this one library.
//
// Every value that comes from a person is bound as a parameter, never put
// into a statement's text. A change of several steps runs in one
// transaction: it takes effect whole or not at all. Every change is recorded
// in the audit table ADMIN_AUDIT (who, when, what), which the library
// creates on first use when the database lacks it.
//
// Texts are in the system code page, as everywhere in the programs.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "shared/host.h"

namespace quillon::admin {

inline constexpr char kEnabled[] = "ENABLED";
inline constexpr char kDisabled[] = "DISABLED";
// APP_EXES.app_id of a base executable, allowed for everybody.
inline constexpr std::int64_t kBaseAppId = -1;
// APP_EXES.app_id the library gives an executable taken out of every
// application (the schema's default: no application has it).
inline constexpr std::int64_t kNoAppId = 0;
inline constexpr char kAuditTable[] = "ADMIN_AUDIT";

// An operation refused for what it was asked: an unknown user, application,
// executable or request, a name already taken, a value that cannot be
// stored. what() is the message for the administrator. Database failures
// stay HostError.
class AdminError : public std::runtime_error {
 public:
  enum class Kind { kNotFound, kConflict, kInvalid };
  AdminError(Kind kind, const std::string& message) : std::runtime_error(message), kind_(kind) {}
  Kind kind() const { return kind_; }

 private:
  Kind kind_;
};

struct User {
  std::int64_t id = 0;
  std::string name;
  std::string status;                     // as stored: "ENABLED", "DISABLED" or another text
  bool controlled = false;                // status "ENABLED": launches are decided by grants
  std::vector<std::string> applications;  // granted, by name
  std::int64_t requests = 0;              // access requests on record
};

struct Application {
  std::int64_t id = 0;
  std::string name;
  std::int64_t executables = 0;
  std::int64_t users = 0;  // users granted it
};

struct Executable {
  std::int64_t id = 0;
  std::string path;
  std::optional<std::int64_t> app_id;  // as stored; nullopt for NULL
  bool base = false;                   // allowed for everybody
  std::string application;             // the application's name; "" for none
  bool assigned() const { return !application.empty() || base; }
};

// Which executables a listing shows, one page at a time, in id order.
struct ExecutableQuery {
  std::string filter;                  // part of the path (any case); "" for all
  bool unassigned = false;             // only executables in no application
  std::optional<std::int64_t> app_id;  // only this application's
  std::int64_t after_id = 0;           // the page starts after this id
  std::size_t limit = 100;             // at most this many (1 to 1000)
};

struct ExecutablePage {
  std::vector<Executable> executables;
  std::int64_t total = 0;                     // every executable the query matches, all pages
  std::optional<std::int64_t> next_after_id;  // after_id of the next page, if any
};

struct AccessRequest {
  std::int64_t id = 0;
  std::int64_t user_id = 0;
  std::string user;  // "" when the user row is gone
  std::int64_t exe_id = 0;
  std::string exe_path;                // "" when the executable row is gone
  std::optional<std::int64_t> app_id;  // the executable's application, if any
  std::string application;             // its name; "" for none
  bool base = false;
};

struct Overview {
  std::int64_t users = 0;
  std::int64_t controlled_users = 0;
  std::int64_t applications = 0;
  std::int64_t executables = 0;
  std::int64_t unassigned_executables = 0;
  std::int64_t pending_requests = 0;
};

// A denied launch as the checker's Access.log records it.
struct Denial {
  std::string time;      // MM/DD/YY HH:MM:SS, the checker's local time
  std::string path;      // as stored
  std::string decision;  // the application's name, or "Unassigned"
  std::string user;
};

// How many of the latest denials the overviews show.
inline constexpr std::size_t kLatestDenialsShown = 15;

// The latest denials among the lines of Access.log ("<time>: <path>_|_
// <decision>_|_<user>"), newest first, at most limit; any other line is
// passed over.
std::vector<Denial> LatestDenials(const std::vector<std::string>& log_lines, std::size_t limit);

struct AuditEntry {
  std::string time;  // YYYY-MM-DD HH:MM:SS, local time
  std::string actor;
  std::string action;
  std::string details;
};

// The decision the checker would take for a launch, and what it rests on.
struct Explanation {
  std::string user_name;
  std::string given_path;
  // The path in the form the checker stores and decides it ("" when the
  // checker would not decide the launch).
  std::string stored_path;
  // False when the checker lets the launch pass without deciding; `rule`
  // says why.
  bool decided = false;
  // The checker's decision text: "" allowed, else the application's name
  // or "Unassigned".
  std::string decision;
  bool allowed = true;
  // The rule that decided, in one sentence.
  std::string rule;

  bool executable_known = false;  // before the launch registers it
  std::optional<std::int64_t> exe_id;
  bool base_executable = false;
  std::optional<std::int64_t> app_id;  // the executable's application, if any
  std::string application;             // its name
  bool user_known = false;             // before the launch registers them
  std::string user_status;             // "" when unknown
  bool controlled_user = false;
  bool granted = false;  // the user holds a grant of that application
};

// One change of the whole policy, for export and import.
struct ImportSummary {
  std::int64_t applications_created = 0;
  std::int64_t executables_assigned = 0;
  std::int64_t executables_added = 0;
  std::int64_t users_updated = 0;
  std::int64_t users_added = 0;
  std::int64_t grants_set = 0;
};

// The administration of one access-control database, over one connection
// opened as every program opens it (OpenZentrel).
class Administration {
 public:
  // actor: who makes the changes, as the audit records it.
  Administration(Host& host, std::string actor);
  ~Administration();
  Administration(const Administration&) = delete;
  Administration& operator=(const Administration&) = delete;

  // Users, by name; each change throws AdminError kNotFound for an unknown
  // user. Set returns false when the user already had that status.
  std::vector<User> Users();
  User GetUser(const std::string& name);
  bool SetUserControlled(const std::string& name, bool controlled);

  // Applications, by name (compared without regard to letter case).
  std::vector<Application> Applications();
  Application GetApplication(const std::string& name);
  // Throws kConflict when the name is taken, kInvalid when it is empty or
  // "Unassigned" (the checker's word for no application).
  Application CreateApplication(const std::string& name);
  void RenameApplication(const std::string& old_name, const std::string& new_name);
  // Its executables go to no application and its grants go with it.
  void DeleteApplication(const std::string& name);

  // Executables.
  ExecutablePage Executables(const ExecutableQuery& query);
  Executable GetExecutable(const std::string& path);  // kNotFound when unknown
  // Puts the executables (by path) into the application, all or none;
  // returns how many rows changed. kNotFound for an unknown path or
  // application.
  std::int64_t Assign(const std::vector<std::string>& paths, const std::string& app_name);
  // As Assign, by executable ids.
  std::int64_t AssignIds(const std::vector<std::int64_t>& exe_ids, const std::string& app_name);

  // Grants; false when there was nothing to change.
  bool Grant(const std::string& user_name, const std::string& app_name);
  bool Revoke(const std::string& user_name, const std::string& app_name);

  // Access requests on record, oldest first.
  std::vector<AccessRequest> Requests();
  AccessRequest GetRequest(std::int64_t request_id);  // kNotFound when unknown
  // Grants the user the executable's application and closes the request.
  // An executable in no application is first assigned to app_name (created
  // when new); app_name is required then (kInvalid without it), and must be
  // the executable's own application otherwise. A base executable needs no
  // grant. Returns the application granted ("" for a base executable).
  std::string Approve(std::int64_t request_id, const std::string& app_name = "");
  // Closes the request without a grant.
  void Dismiss(std::int64_t request_id);

  Overview GetOverview();
  // The latest denials in the product's Access.log, newest first. A log
  // that is missing or cannot be read gives none: the overview stays.
  std::vector<Denial> RecentDenials(std::size_t limit = kLatestDenialsShown);
  // The most recent audit entries, newest first.
  std::vector<AuditEntry> Audit(std::size_t limit = 50);

  // What the checker would decide for the user launching the executable,
  // with the checker's own rules; changes nothing.
  Explanation Explain(const std::string& user_name, const std::string& exe_path);

  // The whole policy as JSON (UTF-8): applications with their executables,
  // base executables, users with status and grants.
  std::string ExportPolicy();
  // Makes the database hold the policy: missing applications, executables
  // and users are added, listed executables take the listed application,
  // listed users the listed status and exactly the listed grants. Nothing
  // absent from the policy is removed. All or nothing; kInvalid for a
  // malformed policy.
  ImportSummary ImportPolicy(const std::string& json);

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace quillon::admin
