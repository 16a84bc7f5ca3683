// <windows.h> for our Windows files, included before any platform header.
//
// The platform API keeps the Win32 names (INFINITE, WAIT_OBJECT_0,
// CreateEvent, SendMessage, QS_POSTMESSAGE, ...) as constants and functions
// of namespace platform, with the system's values. The system headers
// define many of them as macros, which would rewrite our declarations;
// they are undefined here once, and our code uses platform's constants,
// which are equal to the system's.
#pragma once

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#undef INFINITE
#undef WAIT_OBJECT_0
#undef WAIT_TIMEOUT
#undef WAIT_FAILED
#undef CreateEvent
#undef SendMessage
#undef PostMessage
#undef DefWindowProc
#undef WM_NULL
#undef WM_USER
#undef QS_KEY
#undef QS_MOUSEMOVE
#undef QS_MOUSEBUTTON
#undef QS_POSTMESSAGE
#undef QS_TIMER
#undef QS_PAINT
#undef QS_SENDMESSAGE
#undef QS_HOTKEY
#undef QS_ALLINPUT
