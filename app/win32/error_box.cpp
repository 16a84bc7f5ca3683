#include "app/win32/error_box.h"

#include "platform/message_window.h"

namespace app::win32 {
namespace {

constexpr const char* kErrorBoxTitle = "Error";
// DM_SETDEFID, which the system headers define through WM_USER.
constexpr UINT kSetDefaultButton = platform::WM_USER + 1;

// The hook of the box being made on this thread; boxes on one thread are
// made one after the other, so one slot is enough.
HHOOK boxHook = nullptr;

// Called for the box's windows before they show: the first activation is
// the box itself, whose only button turns into Cancel.
LRESULT CALLBACK MakeTheButtonCancel(int code, WPARAM wParam, LPARAM lParam) {
  const HHOOK hook = boxHook;
  const LRESULT next = ::CallNextHookEx(hook, code, wParam, lParam);
  if (code != HCBT_ACTIVATE) return next;
  const auto box = reinterpret_cast<HWND>(wParam);
  if (HWND button = ::GetDlgItem(box, IDOK)) {
    ::SetWindowTextA(button, "Cancel");
    ::SetWindowLongPtrA(button, GWLP_ID, IDCANCEL);
    ::SendMessageA(box, kSetDefaultButton, IDCANCEL, 0);
  }
  ::UnhookWindowsHookEx(hook);
  boxHook = nullptr;
  return next;
}

}  // namespace

void ShowCancelErrorBox(HWND owner, const std::string& text) {
  boxHook = ::SetWindowsHookExA(WH_CBT, MakeTheButtonCancel, nullptr, ::GetCurrentThreadId());
  ::MessageBoxA(owner, text.c_str(), kErrorBoxTitle, MB_OK | MB_ICONERROR);
  if (boxHook != nullptr) {
    // The box never showed (no desktop): nothing is left to change.
    ::UnhookWindowsHookEx(boxHook);
    boxHook = nullptr;
  }
}

void ShowErrorMessage(HWND owner, const std::string& title, const std::string& text) {
  ::MessageBoxA(owner, text.c_str(), title.c_str(), MB_OK | MB_ICONERROR);
}

}  // namespace app::win32
