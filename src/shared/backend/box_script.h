// Unattended boxes and the logs that watch a machine, the same on every host
// so that one test script drives the programs on either: which button a line
// of the answer queue presses in a message box, what it types into an input
// box, and the JSON lines of the dialog log and the run log. The backends
// read the queue and append to the logs; the rules for what the lines mean
// and say are here.
#pragma once

#include <cstddef>
#include <functional>
#include <nlohmann/json_fwd.hpp>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quillon {

// The answer queue: each box takes (and removes) the queue's first line.
inline constexpr char kAnswersVariable[] = "QUILLON_ANSWERS";
// The dialog log: every box appends one JSON line.
inline constexpr char kDialogLogVariable[] = "QUILLON_DIALOG_LOG";
// The queue line that presses an input box's Cancel button.
inline constexpr char kCancelLine[] = "<Cancel>";
// The most of a queue file a box reads. A queue holds a few short lines; a
// larger file, or one that never ends (a device), is not a queue of answers.
inline constexpr std::size_t kMaxAnswerQueueBytes = std::size_t{4} << 20;

// A box's queued answer: take_line takes the queue's first line (nullopt for
// a missing or empty queue) and may throw. A queue that cannot be read or
// rewritten never makes the box fail: the box gets nullopt (its default) and
// stderr gets "<box>: answer queue <queue_path>: <reason>; <outcome>", e.g.
// box 'Zentrel: message box "Title"' and outcome "answered No".
std::optional<std::string> QueuedAnswerOrDefault(
    const std::function<std::optional<std::string>()>& take_line, std::string_view queue_path,
    std::string_view box, std::string_view outcome);

// Message box answers besides kIdOk, kIdCancel, kIdYes and kIdNo.
inline constexpr int kIdAbort = 3;
inline constexpr int kIdRetry = 4;
inline constexpr int kIdIgnore = 5;

// The buttons a message box of the style offers, in the order it shows them
// (the low four bits of the style choose them; unknown choices give OK).
std::vector<int> BoxButtons(int style);

// The button a box of the style presses when nobody answers it: Cancel where
// it has one, else No, else its first button.
int DefaultButton(int style);

// "OK", "Cancel", "Abort", "Retry", "Ignore", "Yes", "No" for a button;
// any other number as decimal digits.
std::string ButtonName(int button);

// The button of a box of the style that an answer names ("Yes", "no ", ...:
// blanks and tabs around it and letter case do not matter); nullopt when the
// box has no button of that name.
std::optional<int> NamedButton(std::string_view answer, int style);

// The button a queued answer presses: the one it names, else (also for no
// answer at all) the box's default.
int MessageBoxAnswer(const std::optional<std::string>& answer, int style);

// The text a queued or typed line gives an input box: queue files and
// terminals speak UTF-8, so a line that is valid UTF-8 is converted to the
// system code page; any other line is taken as already being in it.
std::string QueuedText(std::string_view line);

// A text of the system code page as a JSON string literal: quoted, UTF-8,
// with quotes, backslashes and control characters escaped.
std::string JsonString(std::string_view text);

// A JSON value as one line, keys in the order they were added.
std::string JsonText(const nlohmann::ordered_json& value);

// One dialog-log line (without its line end) for a message box and for an
// input box (answer nullopt: Cancel). program is the program's base name.
std::string MessageBoxLogLine(std::string_view program, std::string_view title, int style,
                              std::string_view text, int button);
std::string InputBoxLogLine(std::string_view program, std::string_view title, std::string_view text,
                            const std::optional<std::string>& answer);

// One run-log line (without its line end) for a program start: the starting
// program's base name, the command line (with every password hidden, see
// CommandForLog), the window style and the wait flag.
std::string RunLogLine(std::string_view program, std::string_view command, int style, bool wait);

// A command line as a log may show it: the value of every database engine
// password parameter (a word that starts with SAPWD=, in any case) becomes
// ********, so that no log holds the password.
std::string CommandForLog(std::string_view command);

}  // namespace quillon
