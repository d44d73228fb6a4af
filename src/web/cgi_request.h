// A request as a CGI program receives it: the server's variables and the
// body on standard input, read into one value that the pages work from.
#pragma once

#include <functional>
#include <map>
#include <string>
#include <string_view>
#include <vector>

namespace quillon::web {

struct CgiRequest {
  std::string method;       // REQUEST_METHOD, upper case
  std::string script_name;  // SCRIPT_NAME: the program's own address
  std::string remote_user;  // REMOTE_USER, else AUTH_USER: who the server logged on ("" anonymous)
  std::string origin;       // HTTP_ORIGIN ("" when the browser sent none)
  std::string host;         // HTTP_HOST
  std::multimap<std::string, std::string> query;  // QUERY_STRING, decoded
  std::multimap<std::string, std::string> form;   // a POST's url-encoded body
  std::map<std::string, std::string> cookies;     // HTTP_COOKIE

  // The first value of a name, or "".
  std::string Query(const std::string& name) const;
  std::string Form(const std::string& name) const;
  std::vector<std::string> FormAll(const std::string& name) const;
  std::string Cookie(const std::string& name) const;
};

// Reads the request from the CGI variables (through variable) and the body.
CgiRequest ReadCgiRequest(const std::function<std::string(const std::string&)>& variable,
                          const std::string& body);

// "+" is a blank, "%XX" a byte; a "%" without two hex digits stays as it is.
std::string UrlDecode(std::string_view text);
// Every byte but letters, digits and "-._~" as %XX.
std::string UrlEncode(std::string_view text);
std::multimap<std::string, std::string> ParseUrlEncoded(std::string_view text);
std::map<std::string, std::string> ParseCookies(std::string_view header);

}  // namespace quillon::web
