#include "host_error.h"

namespace quillon {

std::string ErrorReportText(const HostError& error) {
  return "Error " + std::to_string(error.number()) + ": " + error.description();
}

}  // namespace quillon
