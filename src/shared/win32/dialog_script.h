// Scripted boxes: the answer queue (QUILLON_ANSWERS) and the dialog log
// (QUILLON_DIALOG_LOG), with the same files and lines as on the portable host,
// so that one test script drives the programs on either host.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace quillon::win32 {

inline constexpr char kAnswersVariable[] = "QUILLON_ANSWERS";
inline constexpr char kDialogLogVariable[] = "QUILLON_DIALOG_LOG";
// The queue line that presses an input box's Cancel button.
inline constexpr char kCancelLine[] = "<Cancel>";

// Takes the first line of the answer queue (without its line end) and
// removes it from the file, under an exclusive lock on the queue file.
// nullopt when the file is missing or holds no more lines. Throws HostError
// when the file exists but cannot be read or rewritten.
std::optional<std::string> TakeQueuedAnswer(const std::string& queue_path);

// The button a queued answer presses in a box of the given style. Answers
// name a button ("Yes", "no ", ...: blanks around and letter case do not
// matter); an answer that the box does not offer (or none at all) presses the
// default button: Cancel where the box has one, else No, else its first one.
int MessageBoxAnswer(const std::optional<std::string>& answer, int style);

// The text a queued line types into an input box: queue files are UTF-8, so
// a line that is valid UTF-8 is converted to the system code page; any other
// line is taken as already being in it.
std::string QueuedText(const std::string& line);

// "OK", "Cancel", "Abort", "Retry", "Ignore", "Yes", "No" for a button id.
std::string ButtonName(int button);

// One dialog-log line (without its line end) for a message box and for an
// input box (answer nullopt: Cancel). Texts are in the system code page; the
// line is JSON in UTF-8.
std::string MessageBoxLogLine(const std::string& program, const std::string& title, int style,
                              const std::string& text, int button);
std::string InputBoxLogLine(const std::string& program, const std::string& title,
                            const std::string& text, const std::optional<std::string>& answer);

// Appends one line and a line end to the dialog log in one piece. False when
// the log cannot be written: the log watches the boxes, it never changes what
// a program does.
bool AppendDialogLog(const std::string& log_path, const std::string& line);

// A text of the system code page as a JSON string literal, quotes included.
std::string JsonString(std::string_view text);

}  // namespace quillon::win32
