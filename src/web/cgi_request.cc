#include "web/cgi_request.h"

#include "shared/helpers/text.h"

namespace quillon::web {
namespace {

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

std::string First(const std::multimap<std::string, std::string>& values, const std::string& name) {
  const auto found = values.find(name);
  return found == values.end() ? "" : found->second;
}

}  // namespace

std::string CgiRequest::Query(const std::string& name) const {
  return First(query, name);
}

std::string CgiRequest::Form(const std::string& name) const {
  return First(form, name);
}

std::vector<std::string> CgiRequest::FormAll(const std::string& name) const {
  std::vector<std::string> all;
  const auto [begin, end] = form.equal_range(name);
  for (auto it = begin; it != end; ++it) all.push_back(it->second);
  return all;
}

std::string CgiRequest::Cookie(const std::string& name) const {
  const auto found = cookies.find(name);
  return found == cookies.end() ? "" : found->second;
}

std::string UrlDecode(std::string_view text) {
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '+') {
      out += ' ';
    } else if (text[i] == '%' && i + 2 < text.size() && HexValue(text[i + 1]) >= 0 &&
               HexValue(text[i + 2]) >= 0) {
      out += static_cast<char>(HexValue(text[i + 1]) * 16 + HexValue(text[i + 2]));
      i += 2;
    } else {
      out += text[i];
    }
  }
  return out;
}

std::string UrlEncode(std::string_view text) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  std::string out;
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' ||
        c == '.' || c == '_' || c == '~') {
      out += c;
    } else {
      out += '%';
      out += kDigits[byte >> 4];
      out += kDigits[byte & 15];
    }
  }
  return out;
}

std::multimap<std::string, std::string> ParseUrlEncoded(std::string_view text) {
  std::multimap<std::string, std::string> values;
  for (const std::string& pair : SplitAll(text, "&")) {
    if (pair.empty()) continue;
    const std::size_t equals = pair.find('=');
    if (equals == std::string::npos) {
      values.emplace(UrlDecode(pair), "");
    } else {
      values.emplace(UrlDecode(pair.substr(0, equals)), UrlDecode(pair.substr(equals + 1)));
    }
  }
  return values;
}

std::map<std::string, std::string> ParseCookies(std::string_view header) {
  std::map<std::string, std::string> cookies;
  for (const std::string& part : SplitAll(header, ";")) {
    const std::string cookie(TrimWhitespace(part));
    const std::size_t equals = cookie.find('=');
    if (equals == std::string::npos || equals == 0) continue;
    cookies.emplace(cookie.substr(0, equals), cookie.substr(equals + 1));  // the first one wins
  }
  return cookies;
}

CgiRequest ReadCgiRequest(const std::function<std::string(const std::string&)>& variable,
                          const std::string& body) {
  CgiRequest request;
  request.method = UpperCase(variable("REQUEST_METHOD"));
  request.script_name = variable("SCRIPT_NAME");
  // IIS names the logged-on user in REMOTE_USER and AUTH_USER alike
  // ("COMPUTER\name" under Windows authentication); a server may set only
  // the second.
  request.remote_user = variable("REMOTE_USER");
  if (request.remote_user.empty()) request.remote_user = variable("AUTH_USER");
  request.origin = variable("HTTP_ORIGIN");
  request.host = variable("HTTP_HOST");
  request.query = ParseUrlEncoded(variable("QUERY_STRING"));
  request.cookies = ParseCookies(variable("HTTP_COOKIE"));
  const std::string type = variable("CONTENT_TYPE");
  if (request.method == "POST" &&
      UpperCase(type.substr(0, type.find(';'))) == "APPLICATION/X-WWW-FORM-URLENCODED") {
    request.form = ParseUrlEncoded(body);
  }
  return request;
}

}  // namespace quillon::web
