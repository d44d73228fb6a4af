// Scripted boxes: the answer queue (QUILLON_ANSWERS) and the dialog log
// (QUILLON_DIALOG_LOG), with the same files and lines as on the portable host
// (shared/box_script.h), so that one test script drives the programs on
// either host. Here: taking a line from the queue and appending to the log
// with this platform's file locks.
#pragma once

#include <optional>
#include <string>

#include "shared/backend/box_script.h"

namespace quillon {

// The queue's and the log's variables and rules are the portable host's;
// they answer to this backend's names too.
using ::quillon::JsonString;
using ::quillon::kAnswersVariable;
using ::quillon::kDialogLogVariable;
using ::quillon::MessageBoxAnswer;

// Takes the first line of the answer queue (without its line end) and
// removes it from the file, under an exclusive lock on the queue file.
// nullopt when the file is missing or holds no more lines. Throws HostError
// when the file exists but cannot be read or rewritten, or holds more than
// kMaxAnswerQueueBytes; the boxes then take their default answer.
std::optional<std::string> TakeQueuedAnswer(const std::string& queue_path);

// Appends one line and a line end to the dialog log in one piece. False when
// the log cannot be written: the log watches the boxes, it never changes what
// a program does.
bool AppendDialogLog(const std::string& log_path, const std::string& line);

}  // namespace quillon
