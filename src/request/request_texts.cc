#include "request/request_texts.h"

namespace quillon::request_texts {

namespace {

constexpr char kLineEnd[] = "\r\n";
constexpr char kNotSent[] = " No access request has been sent.";

std::string Status(const std::string& user_name, const OwnAccess& access) {
  const std::string user = "User \"" + user_name + "\"";
  if (!access.known) {
    return user +
           " is not known to Quillon yet, so Quillon does not control this user: every "
           "program may be started.";
  }
  if (!access.controlled) {
    return user + " is not controlled by Quillon: every program may be started.";
  }
  return user +
         " is controlled by Quillon: besides the programs every user may start, only the "
         "programs of the applications granted below may be started.";
}

std::string Listed(const std::string& heading, const Listing& listing) {
  std::string text = heading + kLineEnd;
  if (listing.entries.empty()) text += std::string("    (none)") + kLineEnd;
  for (const std::string& entry : listing.entries) text += "    " + entry + kLineEnd;
  if (listing.more) text += std::string("    (and more)") + kLineEnd;
  return text;
}

std::string Quoted(const std::string& program_path) {
  return "\"" + program_path + "\"";
}

}  // namespace

std::string StatusAndOffer(const std::string& user_name, const OwnAccess& access) {
  return Status(user_name, access) + kLineEnd + kLineEnd +
         Listed("Applications granted:", access.applications) + kLineEnd +
         Listed("Access requests not yet granted:", access.pending_requests) + kLineEnd +
         "Would you like to request access to a program?";
}

std::string NotAFullPath(const std::string& program_path) {
  return Quoted(program_path) +
         " is not the full path of a program on a drive of this computer, such as "
         "C:\\Program Files\\Tool\\Tool.exe." +
         kNotSent;
}

std::string NotAProgram(const std::string& program_path) {
  return Quoted(program_path) + " is not a program (a file ending in .exe)." + kNotSent;
}

std::string NoSuchProgram(const std::string& program_path) {
  return "There is no program " + Quoted(program_path) + " on this computer." + kNotSent;
}

std::string AlreadyAllowed(const std::string& user_name, const std::string& exe_path) {
  return "User \"" + user_name + "\" may already start the program " + Quoted(exe_path) +
         ", so no access request has been sent.";
}

}  // namespace quillon::request_texts
