#include "mailer/mail_wire.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <stdexcept>

namespace quillon::mailer {

namespace {

constexpr std::size_t kHeaderLineLimit = 78;
constexpr std::size_t kQuotedPrintableLineLimit = 76;
// Bytes of text per encoded-word: 52 characters of base64, so that the word
// ("=?UTF-8?B?" ... "?=", 64 characters) fits a line after any of our field
// names.
constexpr std::size_t kEncodedWordBytes = 39;

bool IsBlank(char c) {
  return c == ' ' || c == '\t';
}
bool IsControl(unsigned char c) {
  return c < 0x20 || c == 0x7f;
}
bool IsDigit(char c) {
  return c >= '0' && c <= '9';
}
bool IsAsciiLetterOrDigit(char c) {
  return IsDigit(c) || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

std::string_view TrimmedBlanks(std::string_view text) {
  while (!text.empty() && IsBlank(text.front())) text.remove_prefix(1);
  while (!text.empty() && IsBlank(text.back())) text.remove_suffix(1);
  return text;
}

std::string Hex(unsigned char byte) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  return {kDigits[byte >> 4], kDigits[byte & 15]};
}

std::string Base64(std::string_view bytes) {
  static constexpr char kAlphabet[] =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  for (std::size_t i = 0; i < bytes.size(); i += 3) {
    const std::size_t count = std::min<std::size_t>(3, bytes.size() - i);
    std::uint32_t group = 0;
    for (std::size_t j = 0; j < 3; ++j) {
      group = (group << 8) | (j < count ? static_cast<unsigned char>(bytes[i + j]) : 0u);
    }
    for (std::size_t j = 0; j < 4; ++j) {
      out += j <= count ? kAlphabet[(group >> (18 - 6 * j)) & 63] : '=';
    }
  }
  return out;
}

// The text's lines, split at CR LF, a bare CR or a bare LF.
std::vector<std::string_view> Lines(std::string_view text) {
  std::vector<std::string_view> lines;
  std::size_t start = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '\r' && text[i] != '\n') continue;
    lines.push_back(text.substr(start, i - start));
    if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
    start = i + 1;
  }
  lines.push_back(text.substr(start));
  return lines;
}

// The value as encoded-words, one per line, never splitting a UTF-8
// sequence.
std::string EncodedWords(std::string_view value) {
  std::string out;
  while (!value.empty()) {
    std::size_t take = std::min(kEncodedWordBytes, value.size());
    while (take < value.size() && take > 1 &&
           (static_cast<unsigned char>(value[take]) & 0xC0) == 0x80) {
      --take;
    }
    if (!out.empty()) out += "\r\n ";
    out += "=?UTF-8?B?" + Base64(value.substr(0, take)) + "?=";
    value.remove_prefix(take);
  }
  return out;
}

}  // namespace

std::optional<MailServer> ParseMailServer(std::string_view setting) {
  setting = TrimmedBlanks(setting);
  MailServer server;
  std::string_view port;
  if (!setting.empty() && setting.front() == '[') {
    const std::size_t close = setting.find(']');
    if (close == std::string_view::npos) return std::nullopt;
    server.host = setting.substr(1, close - 1);
    const std::string_view rest = setting.substr(close + 1);
    if (!rest.empty()) {
      if (rest.front() != ':') return std::nullopt;
      port = rest.substr(1);
      if (port.empty()) return std::nullopt;
    }
  } else if (const std::size_t colon = setting.find(':');
             colon != std::string_view::npos &&
             setting.find(':', colon + 1) == std::string_view::npos) {
    server.host = setting.substr(0, colon);
    port = setting.substr(colon + 1);
    if (port.empty()) return std::nullopt;
  } else {
    server.host = setting;  // a name, or a bare IPv6 address
  }
  if (server.host.empty()) return std::nullopt;
  for (char c : server.host) {
    if (c == ' ' || IsControl(static_cast<unsigned char>(c))) return std::nullopt;
  }
  if (!port.empty()) {
    if (port.size() > 5) return std::nullopt;
    unsigned long number = 0;
    for (char c : port) {
      if (!IsDigit(c)) return std::nullopt;
      number = number * 10 + static_cast<unsigned long>(c - '0');
    }
    if (number < 1 || number > 65535) return std::nullopt;
    server.port = static_cast<std::uint16_t>(number);
  }
  return server;
}

std::vector<std::string> SplitAddresses(std::string_view list) {
  std::vector<std::string> addresses;
  while (true) {
    const std::size_t comma = list.find(',');
    const std::string_view address = TrimmedBlanks(list.substr(0, comma));
    if (!address.empty()) addresses.emplace_back(address);
    if (comma == std::string_view::npos) return addresses;
    list.remove_prefix(comma + 1);
  }
}

bool IsUsableAddress(std::string_view address) {
  if (address.empty()) return false;
  for (char c : address) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte <= 0x20 || byte >= 0x7f || c == '<' || c == '>') return false;
  }
  return true;
}

std::optional<SmtpReply> TakeReply(std::string& received) {
  SmtpReply reply;
  std::size_t start = 0;
  while (true) {
    const std::size_t end = received.find('\n', start);
    if (end == std::string::npos) return std::nullopt;
    std::string_view line(received.data() + start, end - start);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    const bool has_code = line.size() >= 3 && line[0] >= '2' && line[0] <= '5' &&
                          IsDigit(line[1]) && IsDigit(line[2]) &&
                          (line.size() == 3 || line[3] == ' ' || line[3] == '-');
    if (!has_code) throw std::runtime_error("not an SMTP reply: \"" + OneLine(line) + "\"");
    const int code = (line[0] - '0') * 100 + (line[1] - '0') * 10 + (line[2] - '0');
    if (!reply.lines.empty() && code != reply.code) {
      throw std::runtime_error("an SMTP reply changes its code: \"" + OneLine(line) + "\"");
    }
    reply.code = code;
    reply.lines.emplace_back(line.size() > 4 ? line.substr(4) : std::string_view());
    start = end + 1;
    if (line.size() == 3 || line[3] == ' ') {
      received.erase(0, start);
      return reply;
    }
  }
}

std::string ReplyText(const SmtpReply& reply) {
  std::string text = std::to_string(reply.code);
  for (std::size_t i = 0; i < reply.lines.size(); ++i) {
    text += (i == 0 ? " " : " / ") + OneLine(reply.lines[i]);
  }
  return text;
}

std::string DomainLabel(std::string_view computer_name) {
  std::string label;
  for (char c : computer_name) label += IsAsciiLetterOrDigit(c) ? c : '-';
  const std::size_t first = label.find_first_not_of('-');
  if (first == std::string::npos) return "localhost";
  label.erase(0, first);
  label.resize(std::min<std::size_t>(label.size(), 63));
  label.erase(label.find_last_not_of('-') + 1);
  return label;
}

std::string OneLine(std::string_view text) {
  std::string line(text);
  for (char& c : line) {
    if (IsControl(static_cast<unsigned char>(c))) c = ' ';
  }
  return line;
}

std::string HeaderField(std::string_view name, std::string_view value) {
  // Runs of blanks become one: a folded line never holds only blanks.
  std::vector<std::string> words;
  bool needs_encoding = false;
  const std::size_t longest_word = kHeaderLineLimit - name.size() - 2;
  for (const std::string& piece : [&] {
         std::vector<std::string> pieces;
         std::string current;
         for (char c : OneLine(value)) {
           if (c != ' ') {
             current += c;
           } else if (!current.empty()) {
             pieces.push_back(std::move(current));
             current.clear();
           }
         }
         if (!current.empty()) pieces.push_back(std::move(current));
         return pieces;
       }()) {
    for (char c : piece) needs_encoding |= static_cast<unsigned char>(c) >= 0x80;
    needs_encoding |= piece.find("=?") != std::string::npos || piece.size() > longest_word;
    words.push_back(piece);
  }
  std::string field = std::string(name) + ":";
  if (needs_encoding) {
    std::string joined;
    for (const std::string& word : words) joined += (joined.empty() ? "" : " ") + word;
    return field + " " + EncodedWords(joined) + "\r\n";
  }
  std::size_t line_length = field.size();
  for (const std::string& word : words) {
    if (line_length + 1 + word.size() > kHeaderLineLimit) {
      field += "\r\n";
      line_length = 0;
    }
    field += " " + word;
    line_length += 1 + word.size();
  }
  return field + "\r\n";
}

std::string QuotedPrintable(std::string_view text) {
  std::string out;
  for (const std::string_view line : Lines(text)) {
    std::size_t length = 0;
    for (std::size_t i = 0; i < line.size(); ++i) {
      const auto byte = static_cast<unsigned char>(line[i]);
      const bool at_end = i + 1 == line.size();
      const bool literal =
          (byte >= 33 && byte <= 126 && byte != '=') || (IsBlank(line[i]) && !at_end);
      const std::string token = literal ? std::string(1, line[i]) : "=" + Hex(byte);
      // A soft break "=" must fit on the line as well, except on its last
      // token.
      const std::size_t room = at_end ? kQuotedPrintableLineLimit : kQuotedPrintableLineLimit - 1;
      if (length + token.size() > room) {
        out += "=\r\n";
        length = 0;
      }
      out += token;
      length += token.size();
    }
    out += "\r\n";
  }
  // The text's own last line break gives no extra empty line.
  if (!text.empty() && (text.back() == '\n' || text.back() == '\r')) out.erase(out.size() - 2);
  return out;
}

std::string DotStuffed(std::string_view message) {
  std::vector<std::string_view> lines = Lines(message);
  if (lines.size() > 1 && lines.back().empty()) lines.pop_back();
  std::string block;
  for (const std::string_view line : lines) {
    if (!line.empty() && line.front() == '.') block += '.';
    block += line;
    block += "\r\n";
  }
  return block + ".\r\n";
}

std::string MailDate(std::time_t moment) {
  static constexpr std::array<const char*, 7> kDays = {"Sun", "Mon", "Tue", "Wed",
                                                       "Thu", "Fri", "Sat"};
  static constexpr std::array<const char*, 12> kMonths = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                                          "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  const std::tm* utc = std::gmtime(&moment);
  if (utc == nullptr) throw std::runtime_error("the time cannot be read");
  char text[40];
  std::snprintf(text, sizeof text, "%s, %02d %s %04d %02d:%02d:%02d +0000",
                kDays[static_cast<std::size_t>(utc->tm_wday)], utc->tm_mday,
                kMonths[static_cast<std::size_t>(utc->tm_mon)], utc->tm_year + 1900, utc->tm_hour,
                utc->tm_min, utc->tm_sec);
  return text;
}

std::string RequestPageAddress(const AccessRequest& request) {
  const std::string site = "http://" + DomainLabel(request.computer_name);
  if (request.request_id.empty()) return site + "/Zentrel/";
  std::string id;
  for (char c : request.request_id) {
    const bool unreserved = IsAsciiLetterOrDigit(c) || c == '-' || c == '.' || c == '_' || c == '~';
    id += unreserved ? std::string(1, c) : "%" + Hex(static_cast<unsigned char>(c));
  }
  return site + kRequestPagePath + id;
}

std::string SenderAddress(const AccessRequest& request) {
  return std::string(kSenderLocalPart) + "@" + DomainLabel(request.computer_name);
}

std::string ComposeMessage(const AccessRequest& request, const std::string& date,
                           const std::string& message_id) {
  std::string to;
  for (const std::string& address : SplitAddresses(request.admin_addresses)) {
    to += (to.empty() ? "" : ", ") + address;
  }
  const std::string& id = request.request_id.empty() ? "(not recorded)" : request.request_id;
  const std::string text =
      request.user_name + " asks for access to the application " + request.app_name + " on " +
      request.computer_name +
      ".\r\n"
      "\r\n"
      "Request:     " +
      id + "\r\nUser:        " + request.user_name + "\r\nComputer:    " + request.computer_name +
      "\r\nApplication: " + request.app_name + "\r\nExecutable:  " + request.exe_path +
      "\r\n"
      "\r\n"
      "Decide on the request on the administration web site:\r\n" +
      RequestPageAddress(request) + "\r\n";
  return HeaderField("Date", date) + HeaderField("From", SenderAddress(request)) +
         HeaderField("To", to) +
         HeaderField("Subject", "Access request: " + request.user_name + " asks for " +
                                    request.app_name + " on " + request.computer_name) +
         HeaderField("Message-ID", message_id) + "MIME-Version: 1.0\r\n" +
         "Content-Type: text/plain; charset=UTF-8\r\n" +
         "Content-Transfer-Encoding: quoted-printable\r\n" + "\r\n" + QuotedPrintable(text);
}

}  // namespace quillon::mailer
