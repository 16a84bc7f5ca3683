// The window's modal message boxes: the system's message box with the
// error icon and its sound, owned by the window so it stays in front of it.
// The window's own error boxes ("error open port") carry a single Cancel
// button, which the system's boxes do not offer: a one-button box is made
// and its button becomes Cancel (caption, identifier and default) before it
// shows. Both return when the user has dismissed the box. The calling
// thread's messages are served meanwhile by the box's own loop.
#pragma once

#include "platform/win32/windows_headers.h"

#include <string>

namespace app::win32 {

// The box of an operation that went wrong: error icon, one Cancel button.
void ShowCancelErrorBox(HWND owner, const std::string& text);

// The application's error display: error icon, an OK button, `title` as
// the caption.
void ShowErrorMessage(HWND owner, const std::string& title, const std::string& text);

}  // namespace app::win32
