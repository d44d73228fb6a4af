// The one error type of every host operation: a number and a description,
// the two things the standard error report shows.
#pragma once

#include <stdexcept>
#include <string>

namespace quillon {

// Error numbers as the platform's scripting runtime reports them, so an
// administrator sees the same number on every backend.
namespace error_number {
inline constexpr long kInvalidProcedureCall = 5;
inline constexpr long kOverflow = 6;
inline constexpr long kSubscriptOutOfRange = 9;
inline constexpr long kTypeMismatch = 13;
inline constexpr long kBadFileName = 52;
inline constexpr long kFileNotFound = 53;
inline constexpr long kBadFileMode = 54;
inline constexpr long kFileAlreadyExists = 58;
inline constexpr long kDiskFull = 61;
inline constexpr long kInputPastEnd = 62;
inline constexpr long kPermissionDenied = 70;
inline constexpr long kPathNotFound = 76;
inline constexpr long kInvalidUseOfNull = 94;
// HRESULTs: registry or program not found, access denied, a program path that
// is no valid name, generic failure.
inline constexpr long kSystemFileNotFound = -2147024894;  // 0x80070002
inline constexpr long kAccessDenied = -2147024891;        // 0x80070005
inline constexpr long kInvalidName = -2147024773;         // 0x8007007B: name syntax
inline constexpr long kUnspecified = -2147467259;         // 0x80004005 (database errors)
// The socket interface's numbers for network failures.
inline constexpr long kNetworkDown = 10050;        // any other failure of the network
inline constexpr long kTimedOut = 10060;           // no answer within the time allowed
inline constexpr long kConnectionRefused = 10061;  // nothing listens at the port
inline constexpr long kHostNotFound = 11001;       // the name does not resolve
}  // namespace error_number

class HostError : public std::runtime_error {
 public:
  HostError(long number, const std::string& description)
      : std::runtime_error(description), number_(number), description_(description) {}

  long number() const { return number_; }
  const std::string& description() const { return description_; }

 private:
  long number_;
  std::string description_;
};

// The standard text of an error number above ("File not found" for 53, "The
// system cannot find the file specified." for 0x80070002, ...); "" for a
// number outside the table.
const char* StandardErrorText(long number);

// The error with its standard text.
HostError StandardError(long number);

// The text of the standard error report: "Error <number>: <description>".
std::string ErrorReportText(const HostError& error);

}  // namespace quillon
