#include <cstdio>
#include <cwchar>
#include <utility>
#include <vector>

#include "shared/win32/dialog_script.h"
#include "shared/win32/this_process.h"
#include "shared/win32/win32_error.h"
#include "shared/win32/win32_platform.h"

namespace quillon {
namespace {

// Control ids of the input box besides IDOK and IDCANCEL.
constexpr WORD kPromptId = 100;
constexpr WORD kTextId = 101;

void Log(const std::string& line) {
  const std::optional<std::string> log = VariableValue(kDialogLogVariable);
  if (!log || log->empty()) return;
  if (!AppendDialogLog(*log, line)) {
    std::fprintf(stderr, "cannot append to the dialog log %s\n", log->c_str());
  }
}

std::string ProgramNameOfModule() {
  const std::string path = ModulePath();
  std::string name = path.substr(path.find_last_of("\\/:") + 1);
  const std::size_t dot = name.rfind('.');
  if (dot != std::string::npos && dot > 0) {
    std::string extension = name.substr(dot);
    for (char& c : extension) c = static_cast<char>(c >= 'a' && c <= 'z' ? c - 32 : c);
    if (extension == ".EXE") name.resize(dot);
  }
  return name;
}

// A dialog template built in memory: DLGTEMPLATE, its menu, class, title and
// font, then one DLGITEMTEMPLATE per control, each on a DWORD boundary.
class DialogTemplate {
 public:
  DialogTemplate(DWORD style, short width, short height, const wchar_t* font, WORD point_size) {
    DLGTEMPLATE header{};
    header.style = style;
    header.cx = width;
    header.cy = height;
    Append(&header, sizeof header);
    AppendWord(0);      // no menu
    AppendWord(0);      // the standard dialog class
    AppendString(L"");  // the title is set when the box opens
    AppendWord(point_size);
    AppendString(font);
  }

  // class_atom: 0x0080 button, 0x0081 edit, 0x0082 static.
  void AddControl(WORD class_atom, WORD id, DWORD style, short x, short y, short width,
                  short height) {
    Align();
    DLGITEMTEMPLATE item{};
    item.style = style | WS_CHILD | WS_VISIBLE;
    item.x = x;
    item.y = y;
    item.cx = width;
    item.cy = height;
    item.id = id;
    Append(&item, sizeof item);
    AppendWord(0xFFFF);
    AppendWord(class_atom);
    AppendString(L"");  // texts are set when the box opens
    AppendWord(0);      // no creation data
    ++Header().cdit;
  }

  const DLGTEMPLATE* get() const { return reinterpret_cast<const DLGTEMPLATE*>(words_.data()); }

 private:
  DLGTEMPLATE& Header() { return *reinterpret_cast<DLGTEMPLATE*>(words_.data()); }

  void Append(const void* data, std::size_t size) {
    const auto* bytes = static_cast<const WORD*>(data);
    words_.insert(words_.end(), bytes, bytes + size / sizeof(WORD));
  }
  void AppendWord(WORD word) { words_.push_back(word); }
  void AppendString(const wchar_t* text) {
    for (const wchar_t* c = text; *c != L'\0'; ++c) words_.push_back(static_cast<WORD>(*c));
    words_.push_back(0);
  }
  void Align() {
    if (words_.size() % 2 != 0) words_.push_back(0);
  }

  // WORDs, so the template starts on a DWORD boundary as vector storage does.
  std::vector<WORD> words_;
};

struct InputBoxState {
  const std::string* prompt;
  const std::string* title;
  const std::string* default_text;
  std::string typed;
};

INT_PTR CALLBACK InputBoxProcedure(HWND dialog, UINT message, WPARAM wparam, LPARAM lparam) {
  auto* state = reinterpret_cast<InputBoxState*>(GetWindowLongPtrA(dialog, DWLP_USER));
  switch (message) {
    case WM_INITDIALOG: {
      state = reinterpret_cast<InputBoxState*>(lparam);
      SetWindowLongPtrA(dialog, DWLP_USER, lparam);
      SetWindowTextA(dialog, state->title->c_str());
      SetDlgItemTextA(dialog, kPromptId, state->prompt->c_str());
      SetDlgItemTextA(dialog, IDOK, "OK");
      SetDlgItemTextA(dialog, IDCANCEL, "Cancel");
      SetDlgItemTextA(dialog, kTextId, state->default_text->c_str());
      HWND text = GetDlgItem(dialog, kTextId);
      SendMessageA(text, EM_SETSEL, 0, -1);
      SetFocus(text);
      return FALSE;  // the focus is set here
    }
    case WM_COMMAND:
      switch (LOWORD(wparam)) {
        case IDOK: {
          HWND text = GetDlgItem(dialog, kTextId);
          std::vector<char> buffer(static_cast<std::size_t>(GetWindowTextLengthA(text)) + 1, '\0');
          const int length = GetWindowTextA(text, buffer.data(), static_cast<int>(buffer.size()));
          state->typed.assign(buffer.data(), static_cast<std::size_t>(length > 0 ? length : 0));
          EndDialog(dialog, IDOK);
          return TRUE;
        }
        case IDCANCEL:
          EndDialog(dialog, IDCANCEL);
          return TRUE;
        default:
          return FALSE;
      }
    default:
      return FALSE;
  }
}

// The input box as a real window: the prompt at the top left, OK and Cancel
// on the right, one text field along the bottom.
std::optional<std::string> ShowInputBox(const std::string& prompt, const std::string& title,
                                        const std::string& default_text) {
  DialogTemplate layout(DS_MODALFRAME | DS_CENTER | DS_SETFONT | DS_SETFOREGROUND | WS_POPUP |
                            WS_CAPTION | WS_SYSMENU,
                        280, 100, L"MS Shell Dlg", 8);
  layout.AddControl(0x0082, kPromptId, SS_LEFT | SS_NOPREFIX, 7, 7, 205, 68);
  layout.AddControl(0x0080, IDOK, BS_DEFPUSHBUTTON | WS_TABSTOP, 220, 7, 53, 14);
  layout.AddControl(0x0080, IDCANCEL, BS_PUSHBUTTON | WS_TABSTOP, 220, 25, 53, 14);
  layout.AddControl(0x0081, kTextId, ES_AUTOHSCROLL | WS_BORDER | WS_TABSTOP, 7, 80, 266, 13);

  InputBoxState state{&prompt, &title, &default_text, {}};
  const INT_PTR result =
      DialogBoxIndirectParamA(GetModuleHandleA(nullptr), layout.get(), nullptr, InputBoxProcedure,
                              reinterpret_cast<LPARAM>(&state));
  if (result == -1 || result == 0) throw LastHostError(ErrorSource::kShell);
  if (result != IDOK) return std::nullopt;
  return std::move(state.typed);
}

}  // namespace

// A box's queued answer; a queue that cannot be used gives the box its
// default and a note on stderr.
std::optional<std::string> Win32Dialogs::QueuedAnswer(const std::string& queue, const char* kind,
                                                      const std::string& title,
                                                      const std::string& outcome) const {
  if (queue.empty()) return std::nullopt;
  return QueuedAnswerOrDefault([&] { return TakeQueuedAnswer(queue); }, queue,
                               program_name_ + ": " + kind + " \"" + title + "\"", outcome);
}

Win32Dialogs::Win32Dialogs() : program_name_(ProgramNameOfModule()) {}

Win32Dialogs::Win32Dialogs(std::string program_name) : program_name_(std::move(program_name)) {}

int Win32Dialogs::MsgBox(const std::string& prompt, int style, const std::string& title) {
  int button = 0;
  // With a queue (even an empty or missing one) no window is shown.
  if (const std::optional<std::string> queue = VariableValue(kAnswersVariable)) {
    button = MessageBoxAnswer(
        QueuedAnswer(*queue, "message box", title, "answered " + ButtonName(DefaultButton(style))),
        style);
  } else {
    button = MessageBoxA(nullptr, prompt.c_str(), title.c_str(), static_cast<UINT>(style));
    if (button == 0) throw LastHostError(ErrorSource::kShell);
  }
  Log(MessageBoxLogLine(program_name_, title, style, prompt, button));
  return button;
}

std::optional<std::string> Win32Dialogs::InputBox(const std::string& prompt,
                                                  const std::string& title,
                                                  const std::string& default_text) {
  std::optional<std::string> answer;
  if (const std::optional<std::string> queue = VariableValue(kAnswersVariable)) {
    const std::optional<std::string> line = QueuedAnswer(*queue, "input box", title, "cancelled");
    if (line && *line != kCancelLine) answer = QueuedText(*line);
  } else {
    answer = ShowInputBox(prompt, title, default_text);
  }
  Log(InputBoxLogLine(program_name_, title, prompt, answer));
  return answer;
}

}  // namespace quillon
