// The one place where a program's untrapped errors end up: the standard error
// report (a message box "Error <number>: <description>", style 16, titled with
// the program's name) and exit status 1.
#pragma once

#include <functional>
#include <ostream>
#include <string>
#include <vector>

#include "shared/host.h"
#include "shared/host_error.h"

namespace quillon {

// The body of a program: its entry procedure, given the host and its whole
// argument text.
using ProgramBody = std::function<void(Host& host, const std::string& argument_text)>;

// Runs a program body with the given host; an error that leaves the body is
// reported once and turned into exit status 1. Returns the exit status.
int RunProgramBody(Host& host, const std::string& program_name, const std::string& argument_text,
                   const ProgramBody& body);

// Creates the real host of this platform, reads the argument text the
// platform's way and runs the body, reporting what leaves it. Used by every
// program's main().
int RunProgram(const std::string& program_name, int argc, char** argv, const ProgramBody& body);

// The body of a console program (one that writes to a terminal instead of
// showing boxes): its arguments after the program's name and the streams
// for its output and its error messages, all in the system code page.
// Returns the exit status.
using ConsoleBody = std::function<int(Host& host, const std::vector<std::string>& arguments,
                                      std::ostream& out, std::ostream& err)>;

// Runs a console body; an error that leaves it is written to err as
// "<program>: Error <number>: <description>" and gives exit status 1.
int RunConsoleProgramBody(Host& host, const std::string& program_name,
                          const std::vector<std::string>& arguments, const ConsoleBody& body,
                          std::ostream& out, std::ostream& err);

// The exit status of a console program whose command line cannot be read.
inline constexpr int kConsoleUsageStatus = 2;

// Creates the real host of this platform, takes the arguments from argv and
// runs the console body with the terminal's output and error streams, in
// the terminal's encoding (backend-specific). On Windows the arguments come
// from the platform's UTF-16 command line in the system code page (one that
// code page cannot hold is refused with kConsoleUsageStatus), and a console
// is written through UTF-16, so that its OEM code page shows the letters
// right; redirected output keeps the system code page's bytes.
int RunConsoleProgram(const std::string& program_name, int argc, char** argv,
                      const ConsoleBody& body);

// What runs with the real host and the argument text; returns the exit
// status and reports its own failures.
using HostedRun = std::function<int(Host& host, const std::string& argument_text)>;

// Creates the real host of this platform (backend-specific) and hands it,
// with the argument text read the platform's way, to `run`. For programs
// that show no error report (the mailer).
int RunWithHost(const std::string& program_name, int argc, char** argv, const HostedRun& run);

// RunWithHost for a CGI program: standard input and output pass bytes as
// they are (the Windows C runtime would otherwise turn LF into CR LF on
// output and, on input, shrink CR LF and stop at Ctrl-Z, so a body of
// CONTENT_LENGTH bytes could never be read whole). Shows no error report: a
// web server has nobody to show a box to.
int RunCgiProgram(const std::string& program_name, int argc, char** argv, const HostedRun& run);

}  // namespace quillon
