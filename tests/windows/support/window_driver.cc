#include "support/window_driver.h"

#include <thread>
#include <utility>

namespace quillon::testing {
namespace {

std::string WindowText(HWND window) {
  const int length = GetWindowTextLengthA(window);
  std::string text(static_cast<std::size_t>(length > 0 ? length : 0) + 1, '\0');
  const int copied = GetWindowTextA(window, text.data(), static_cast<int>(text.size()));
  text.resize(static_cast<std::size_t>(copied > 0 ? copied : 0));
  return text;
}

std::string ClassOf(HWND window) {
  char name[64] = {};
  GetClassNameA(window, name, sizeof name);
  return name;
}

std::string WithoutAccelerator(const std::string& caption) {
  std::string plain;
  for (char c : caption) {
    if (c != '&') plain += c;
  }
  return plain;
}

struct Search {
  const std::string* title;
  HWND found;
};

BOOL CALLBACK MatchTopLevel(HWND window, LPARAM parameter) {
  auto* search = reinterpret_cast<Search*>(parameter);
  if (IsWindowVisible(window) && ClassOf(window) == "#32770" &&
      WindowText(window) == *search->title) {
    search->found = window;
    return FALSE;
  }
  return TRUE;
}

std::vector<HWND> ChildrenOf(HWND box) {
  std::vector<HWND> children;
  EnumChildWindows(
      box,
      [](HWND child, LPARAM parameter) -> BOOL {
        reinterpret_cast<std::vector<HWND>*>(parameter)->push_back(child);
        return TRUE;
      },
      reinterpret_cast<LPARAM>(&children));
  return children;
}

}  // namespace

HWND WaitForBox(const std::string& title, DWORD timeout_ms) {
  const ULONGLONG deadline = GetTickCount64() + timeout_ms;
  while (true) {
    Search search{&title, nullptr};
    EnumWindows(MatchTopLevel, reinterpret_cast<LPARAM>(&search));
    if (search.found != nullptr) return search.found;
    if (GetTickCount64() >= deadline) return nullptr;
    ::Sleep(20);
  }
}

BoxSeen ReadBox(HWND box) {
  BoxSeen seen;
  seen.found = true;
  seen.title = WindowText(box);
  bool field_seen = false;
  for (HWND child : ChildrenOf(box)) {
    const std::string kind = ClassOf(child);
    const std::string text = WindowText(child);
    if (kind == "Static" && !text.empty()) {
      if (!seen.text.empty()) seen.text += "\n";
      seen.text += text;
    } else if (kind == "Button") {
      seen.buttons.push_back(WithoutAccelerator(text));
    } else if (kind == "Edit" && !field_seen) {
      seen.field_before = text;
      field_seen = true;
    }
  }
  return seen;
}

bool PressButton(HWND box, const std::string& caption) {
  for (HWND child : ChildrenOf(box)) {
    if (ClassOf(child) != "Button" || WithoutAccelerator(WindowText(child)) != caption) continue;
    // What a click on the button sends its box.
    const int id = GetDlgCtrlID(child);
    PostMessageA(box, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(child));
    return true;
  }
  return false;
}

bool TypeIntoField(HWND box, const std::string& text) {
  for (HWND child : ChildrenOf(box)) {
    if (ClassOf(child) != "Edit") continue;
    SendMessageA(child, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()));
    return true;
  }
  return false;
}

std::future<BoxSeen> AnswerBox(const std::string& title, const std::string& button,
                               std::optional<std::string> typed_text, DWORD timeout_ms) {
  return std::async(std::launch::async,
                    [title, button, typed_text = std::move(typed_text), timeout_ms] {
                      HWND box = WaitForBox(title, timeout_ms);
                      if (box == nullptr) return BoxSeen{};
                      BoxSeen seen = ReadBox(box);
                      if (typed_text) TypeIntoField(box, *typed_text);
                      PressButton(box, button);
                      return seen;
                    });
}

}  // namespace quillon::testing
