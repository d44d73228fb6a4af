#include "shared/host_error.h"

namespace quillon {

namespace {

struct StandardErrorEntry {
  long number;
  const char* text;
};

// Every number the backends raise themselves, with the text the scripting
// runtime (or, for the HRESULTs, the platform) shows for it.
constexpr StandardErrorEntry kStandardErrors[] = {
    {error_number::kInvalidProcedureCall, "Invalid procedure call or argument"},
    {error_number::kOverflow, "Overflow"},
    {error_number::kSubscriptOutOfRange, "Subscript out of range"},
    {error_number::kTypeMismatch, "Type mismatch"},
    {error_number::kBadFileName, "Bad file name or number"},
    {error_number::kFileNotFound, "File not found"},
    {error_number::kBadFileMode, "Bad file mode"},
    {error_number::kFileAlreadyExists, "File already exists"},
    {error_number::kDiskFull, "Disk full"},
    {error_number::kInputPastEnd, "Input past end of file"},
    {error_number::kPermissionDenied, "Permission denied"},
    {error_number::kPathNotFound, "Path not found"},
    {error_number::kInvalidUseOfNull, "Invalid use of Null"},
    {error_number::kSystemFileNotFound, "The system cannot find the file specified."},
    {error_number::kAccessDenied, "Access is denied."},
    {error_number::kInvalidName,
     "The filename, directory name, or volume label syntax is incorrect."},
    {error_number::kUnspecified, "Unspecified error"},
    {error_number::kNetworkDown, "The network connection failed"},
    {error_number::kTimedOut, "Timed out"},
    {error_number::kConnectionRefused, "Connection refused"},
    {error_number::kHostNotFound, "Host not found"},
};

}  // namespace

const char* StandardErrorText(long number) {
  for (const StandardErrorEntry& entry : kStandardErrors) {
    if (entry.number == number) return entry.text;
  }
  return "";
}

HostError StandardError(long number) {
  return HostError(number, StandardErrorText(number));
}

std::string ErrorReportText(const HostError& error) {
  return "Error " + std::to_string(error.number()) + ": " + error.description();
}

}  // namespace quillon
