// Every text Dusmere shows, in one place. The confirmations of a sent
// request are the request flow's own (access/access.h).
#pragma once

#include <string>

#include "request/request_tool.h"

namespace quillon::request_texts {

// The title of every box of Dusmere's own.
inline constexpr char kTitle[] = "Quillon Access";

inline constexpr char kProgramPrompt[] =
    "Enter the full path of the program you would like to request access to, for example "
    "C:\\Program Files\\Tool\\Tool.exe:";

inline constexpr char kNoUser[] =
    "Quillon cannot tell which user you are, so it cannot show your access.";

inline constexpr char kNothingEntered[] =
    "No program was entered, so no access request has been sent.";

// The user's status, grants and pending requests, and the offer of a request.
std::string StatusAndOffer(const std::string& user_name, const OwnAccess& access);

// Refusals of a typed path, each ending in "No access request has been sent."
std::string NotAFullPath(const std::string& program_path);
std::string NotAProgram(const std::string& program_path);
std::string NoSuchProgram(const std::string& program_path);

// A program the user may start already.
std::string AlreadyAllowed(const std::string& user_name, const std::string& exe_path);

}  // namespace quillon::request_texts
