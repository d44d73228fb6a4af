// Drives the real boxes of another thread or process the way a person would:
// waits for a box by its title, reads its texts, types into its text field and
// presses one of its buttons.
#pragma once

#include <future>
#include <optional>
#include <string>
#include <vector>

#include "shared/win32/windows_api.h"

namespace quillon::testing {

// What a box showed when it was answered.
struct BoxSeen {
  bool found = false;
  std::string title;
  std::string text;                  // the box's static texts, joined by "\n"
  std::vector<std::string> buttons;  // button captions, "&" removed
  std::string field_before;          // the text field's content before typing
};

// The first visible dialog window (class #32770) with exactly this title,
// waiting up to timeout_ms for it to appear; nullptr if none appeared.
HWND WaitForBox(const std::string& title, DWORD timeout_ms);

// Reads a box: its title, static texts, button captions and text field.
BoxSeen ReadBox(HWND box);

// Presses the button whose caption (without "&") is caption. False when the
// box has no such button.
bool PressButton(HWND box, const std::string& caption);

// Replaces the text of the box's (first) text field.
bool TypeIntoField(HWND box, const std::string& text);

// Answers the next box with this title on a thread of its own: reads it,
// types typed_text into its field when given, presses the button. The future
// gives what the box showed (found false when no box appeared in time).
std::future<BoxSeen> AnswerBox(const std::string& title, const std::string& button,
                               std::optional<std::string> typed_text = std::nullopt,
                               DWORD timeout_ms = 60000);

}  // namespace quillon::testing
