// What the administration site reads from the web server: the CGI variables
// and a form body. Decoding is the inverse of encoding for any bytes, a
// query or form re-encoded reads back as the same pairs, a form is read only
// from a url-encoded POST, cookie names carry no separator, and any text the
// pages show escapes to HTML that holds no markup character.
//
// Input, parts separated by NUL: method, query string, cookie header,
// content type, body.
#include "web/cgi_request.h"

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "fuzz_check.h"
#include "shared/helpers/text.h"
#include "web/web_site.h"

using namespace quillon;
using namespace quillon::web;

namespace {

// The pairs written back as a query string, each part encoded.
std::string Encoded(const std::multimap<std::string, std::string>& pairs) {
  std::string text;
  for (const auto& [name, value] : pairs) {
    if (!text.empty()) text += '&';
    text += UrlEncode(name) + "=" + UrlEncode(value);
  }
  return text;
}

bool Unreserved(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' ||
         c == '.' || c == '_' || c == '~';
}

// The HTML text with its five entities turned back into characters.
std::string Unescaped(const std::string& html) {
  static const std::vector<std::pair<std::string, char>> kEntities = {
      {"&amp;", '&'}, {"&lt;", '<'}, {"&gt;", '>'}, {"&quot;", '"'}, {"&#39;", '\''}};
  std::string out;
  for (std::size_t at = 0; at < html.size();) {
    bool replaced = false;
    if (html[at] == '&') {
      for (const auto& [entity, c] : kEntities) {
        if (html.compare(at, entity.size(), entity) == 0) {
          out += c;
          at += entity.size();
          replaced = true;
          break;
        }
      }
      FUZZ_CHECK(replaced);  // every & starts one of the five entities
    }
    if (!replaced) out += html[at++];
  }
  return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::vector<std::string> parts = fuzz::Parts(fuzz::Text(data, size), 5);
  const std::map<std::string, std::string> variables = {{"REQUEST_METHOD", parts[0]},
                                                        {"QUERY_STRING", parts[1]},
                                                        {"HTTP_COOKIE", parts[2]},
                                                        {"CONTENT_TYPE", parts[3]}};
  const CgiRequest request = ReadCgiRequest(
      [&](const std::string& name) {
        const auto found = variables.find(name);
        return found == variables.end() ? std::string() : found->second;
      },
      parts[4]);

  FUZZ_CHECK(request.method == UpperCase(parts[0]));
  FUZZ_CHECK(request.query == ParseUrlEncoded(parts[1]));
  if (request.method != "POST") FUZZ_CHECK(request.form.empty());

  // Re-encoded, the pairs read back the same: the value a page puts into a
  // link or a hidden field comes back as it was.
  FUZZ_CHECK(ParseUrlEncoded(Encoded(request.query)) == request.query);
  const std::multimap<std::string, std::string> form = ParseUrlEncoded(parts[4]);
  FUZZ_CHECK(ParseUrlEncoded(Encoded(form)) == form);

  for (const std::string& text : parts) {
    const std::string encoded = UrlEncode(text);
    for (std::size_t at = 0; at < encoded.size(); ++at) {
      if (encoded[at] == '%') {
        FUZZ_CHECK(at + 2 < encoded.size());
        for (const char digit : encoded.substr(at + 1, 2)) {
          FUZZ_CHECK((digit >= '0' && digit <= '9') || (digit >= 'A' && digit <= 'F'));
        }
        at += 2;
      } else {
        FUZZ_CHECK(Unreserved(encoded[at]));
      }
    }
    FUZZ_CHECK(UrlDecode(encoded) == text);
  }

  for (const auto& [name, value] : request.cookies) {
    FUZZ_CHECK(!name.empty());
    FUZZ_CHECK(name.find(';') == std::string::npos && value.find(';') == std::string::npos);
    FUZZ_CHECK(name.find('=') == std::string::npos);
  }

  // Any text a page shows: no markup character survives, and nothing is lost.
  for (const std::string& text : parts) {
    const std::string html = Html(text);
    FUZZ_CHECK(html.find_first_of("<>\"'") == std::string::npos);
    FUZZ_CHECK(Unescaped(html) == Cp1252ToUtf8(text));
  }
  return 0;
}
