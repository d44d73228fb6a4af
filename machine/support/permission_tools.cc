#include "support/permission_tools.h"

#include <cctype>

#include "shared/helpers/text.h"
#include "support/usage_error.h"

namespace quillon::machine {
namespace {

bool IsFlag(const std::string& token) {
  return !token.empty() && token[0] == '/';
}

// "user:perm" with a right letter from the allowed ones (any case).
std::string Grant(const std::string& token, const std::string& allowed, const char* flag) {
  const std::size_t colon = token.rfind(':');
  if (colon == std::string::npos || colon == 0 || colon + 2 != token.size() ||
      allowed.find(static_cast<char>(std::toupper(static_cast<unsigned char>(token.back())))) ==
          std::string::npos) {
    throw UsageError(std::string("invalid ") + flag + " argument \"" + token +
                     "\" (expected user:perm with perm one of " + allowed + ")");
  }
  return token.substr(0, colon + 1) +
         static_cast<char>(std::toupper(static_cast<unsigned char>(token.back())));
}

std::string TrimAll(const std::string& text) {
  const std::size_t first = text.find_first_not_of(" \t\r");
  if (first == std::string::npos) return "";
  const std::size_t last = text.find_last_not_of(" \t\r");
  return text.substr(first, last - first + 1);
}

bool IsAbsoluteKey(const std::string& key) {
  const std::string upper = UpperCase(key);
  return upper.rfind("\\REGISTRY\\", 0) == 0 || upper.rfind("HKEY_", 0) == 0;
}

}  // namespace

CaclsRequest ParseCaclsArguments(const std::vector<std::string>& arguments) {
  if (arguments.empty() || IsFlag(arguments[0])) {
    throw UsageError("the first argument must be the file or folder");
  }
  CaclsRequest request;
  request.path = arguments[0];
  std::vector<std::string>* list = nullptr;
  for (std::size_t i = 1; i < arguments.size(); ++i) {
    const std::string& token = arguments[i];
    if (IsFlag(token)) {
      const std::string flag = UpperCase(token);
      list = nullptr;
      if (flag == "/T") {
        request.tree = true;
      } else if (flag == "/E") {
        request.edit = true;
      } else if (flag == "/C") {
        request.continue_on_error = true;
      } else if (flag == "/G") {
        list = &request.grants;
      } else if (flag == "/R") {
        list = &request.revokes;
      } else if (flag == "/P") {
        list = &request.replaces;
      } else if (flag == "/D") {
        list = &request.denies;
      } else {
        throw UsageError("unsupported switch \"" + token + "\"");
      }
      continue;
    }
    if (list == nullptr) throw UsageError("unexpected argument \"" + token + "\"");
    if (list == &request.grants) {
      list->push_back(Grant(token, "RWCF", "/G"));
    } else if (list == &request.replaces) {
      list->push_back(Grant(token, "NRWCF", "/P"));
    } else {
      list->push_back(token);
    }
  }
  if (request.grants.empty() && request.revokes.empty() && request.replaces.empty() &&
      request.denies.empty()) {
    throw UsageError(
        "no change asked (/G, /R, /P or /D with at least one user); "
        "showing a permission list is not supported");
  }
  if (!request.revokes.empty() && !request.edit) throw UsageError("/R is valid only with /E");
  return request;
}

bool IsConfirmation(const std::string& answer) {
  const std::string text = TrimAll(answer);
  return !text.empty() && (text[0] == 'Y' || text[0] == 'y');
}

std::vector<ReginiGrant> ParseReginiScript(const std::string& text) {
  struct Level {
    std::size_t indent;
    std::string key;
  };
  std::vector<Level> parents;
  std::vector<ReginiGrant> grants;
  int line_number = 0;
  for (std::string line : SplitAll(text, "\n")) {
    ++line_number;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    const std::string content = TrimAll(line);
    if (content.empty() || content[0] == ';') continue;
    const std::string where = "line " + std::to_string(line_number) + ": ";
    if (content.find('=') != std::string::npos) {
      throw UsageError(where + "value lines are not carried out by this tool: \"" + content + "\"");
    }
    const std::size_t indent = line.find_first_not_of(" \t");

    std::string key = content;
    std::string acl;
    if (const std::size_t open = content.find('['); open != std::string::npos) {
      const std::size_t close = content.find(']', open);
      if (close == std::string::npos || TrimAll(content.substr(close + 1)) != "") {
        throw UsageError(where + "malformed access list in \"" + content + "\"");
      }
      for (const std::string& number :
           SplitAll(TrimAll(content.substr(open + 1, close - open - 1)), " ")) {
        if (number.empty()) continue;
        for (char c : number) {
          if (c < '0' || c > '9') {
            throw UsageError(where + "access list entries are numbers: \"" + content + "\"");
          }
        }
        acl += (acl.empty() ? "" : " ") + number;
      }
      if (acl.empty()) throw UsageError(where + "empty access list in \"" + content + "\"");
      key = TrimAll(content.substr(0, open));
    }
    if (key.empty()) throw UsageError(where + "no key name in \"" + content + "\"");

    while (!parents.empty() && parents.back().indent >= indent) parents.pop_back();
    if (!IsAbsoluteKey(key)) {
      if (parents.empty()) {
        throw UsageError(where + "\"" + key +
                         "\" is neither a full key path nor indented below one");
      }
      key = parents.back().key + "\\" + key;
    }
    parents.push_back({indent, key});
    if (!acl.empty()) grants.push_back({key, acl});
  }
  return grants;
}

}  // namespace quillon::machine
