// window_probe: what the system knows of a running quillane window, for the
// test that drives the program on an X display. Finds the window by its
// class and caption and prints one line per fact:
//   window LEFT TOP WIDTH HEIGHT      the window's rectangle on the screen
//   client WIDTH HEIGHT               its client area
//   framed-client WIDTH HEIGHT        the client area its style leaves of it
//   NAME LEFT TOP WIDTH HEIGHT        a control's rectangle on the screen
//   log TEXT                          the log in UTF-8, line breaks as \n
// With "close" it asks the window to close instead. Exit status 1 when no
// such window exists.
#include "platform/win32/windows_headers.h"

#include <cstdio>
#include <string>

namespace {

constexpr const char* kFormClass = "TfrmSerialServer";
constexpr const char* kCaption = "serial server; Korrin service";

void PrintRect(const char* name, HWND window) {
  RECT rect{};
  ::GetWindowRect(window, &rect);
  std::printf("%s %ld %ld %ld %ld\n", name, rect.left, rect.top, rect.right - rect.left,
              rect.bottom - rect.top);
}

// The log through WM_GETTEXT, which the system carries across processes,
// as UTF-8.
std::string LogText(HWND log) {
  const auto length = ::SendMessageW(log, WM_GETTEXTLENGTH, 0, 0);
  std::wstring text(static_cast<std::size_t>(length) + 1, L'\0');
  const auto copied = ::SendMessageW(log, WM_GETTEXT, static_cast<WPARAM>(text.size()),
                                     reinterpret_cast<LPARAM>(text.data()));
  text.resize(static_cast<std::size_t>(copied));
  std::wstring oneLine;
  for (const wchar_t c : text) {
    if (c == L'\r') continue;
    oneLine += c == L'\n' ? std::wstring(L"\\n") : std::wstring(1, c);
  }
  std::string utf8(oneLine.size() * 3, '\0');
  const int bytes =
      ::WideCharToMultiByte(CP_UTF8, 0, oneLine.data(), static_cast<int>(oneLine.size()),
                            utf8.data(), static_cast<int>(utf8.size()), nullptr, nullptr);
  utf8.resize(static_cast<std::size_t>(bytes > 0 ? bytes : 0));
  return utf8;
}

}  // namespace

int main(int argc, char** argv) {
  HWND form = ::FindWindowA(kFormClass, kCaption);
  if (form == nullptr) {
    std::fprintf(stderr, "window_probe: no window \"%s\"\n", kCaption);
    return 1;
  }
  if (argc > 1 && std::string(argv[1]) == "close") {
    ::PostMessageA(form, WM_CLOSE, 0, 0);
    return 0;
  }
  PrintRect("window", form);
  RECT client{};
  ::GetClientRect(form, &client);
  std::printf("client %ld %ld\n", client.right, client.bottom);
  RECT frame{0, 0, 0, 0};
  ::AdjustWindowRectEx(&frame, static_cast<DWORD>(::GetWindowLongA(form, GWL_STYLE)), FALSE,
                       static_cast<DWORD>(::GetWindowLongA(form, GWL_EXSTYLE)));
  RECT window{};
  ::GetWindowRect(form, &window);
  std::printf("framed-client %ld %ld\n", (window.right - window.left) - (frame.right - frame.left),
              (window.bottom - window.top) - (frame.bottom - frame.top));

  HWND panel = ::FindWindowExA(form, nullptr, "TPanel", nullptr);
  HWND port = ::FindWindowExA(panel, nullptr, "ComboBox", nullptr);
  HWND baud = ::FindWindowExA(panel, port, "ComboBox", nullptr);
  PrintRect("paTop", panel);
  PrintRect("cbComPortNr", port);
  PrintRect("cbBaudRate", baud);
  PrintRect("btOpenPort", ::FindWindowExA(panel, nullptr, "Button", "open port"));
  PrintRect("btClosePort", ::FindWindowExA(panel, nullptr, "Button", "close port"));
  PrintRect("cbSimulation",
            ::FindWindowExA(panel, nullptr, "Button", "run temperraure measurement (simulation)"));
  HWND log = ::FindWindowExA(form, nullptr, "Edit", nullptr);
  PrintRect("meRX", log);
  std::printf("log %s\n", LogText(log).c_str());
  return 0;
}
