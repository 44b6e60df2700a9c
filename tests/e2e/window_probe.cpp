// window_probe TITLE: one line for each visible control of the visible
// windows titled TITLE, so the end-to-end suite reads what a Windows dialog
// says rather than its pixels. Runs under Wine beside the program (same
// prefix, same wineserver). Each window found opens with a line "window".
//
//   control <class> text=<text> [items=<a>|<b>] [icon=yes|no]
//
// items: a combo box's entries (the file type filters); icon: whether an
// icon control holds an image.
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace {

BOOL CALLBACK OnControl(HWND control, LPARAM) {
  if (!IsWindowVisible(control)) return TRUE;
  char cls[256], text[1024];
  GetClassNameA(control, cls, sizeof cls);
  const int n = GetWindowTextA(control, text, sizeof text);
  std::replace_if(text, text + n, [](char c) { return c == '\r' || c == '\n'; }, ' ');
  std::printf("control %s text=%s", cls, text);
  if (std::strcmp(cls, "ComboBox") == 0) {
    // Wide messages: the combo box is a Unicode window of another process,
    // and the narrow ones are not converted across processes.
    std::fputs(" items=", stdout);
    for (LRESULT i = 0, count = SendMessageW(control, CB_GETCOUNT, 0, 0); i < count; ++i) {
      wchar_t item[512] = L"";
      if (SendMessageW(control, CB_GETLBTEXTLEN, static_cast<WPARAM>(i), 0) < 512)
        SendMessageW(control, CB_GETLBTEXT, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(item));
      std::printf("%s%ls", i ? "|" : "", item);
    }
  }
  if (std::strcmp(cls, "Static") == 0 && (GetWindowLongA(control, GWL_STYLE) & SS_TYPEMASK) == SS_ICON)
    std::printf(" icon=%s", SendMessageA(control, STM_GETICON, 0, 0) ? "yes" : "no");
  std::fputc('\n', stdout);
  return TRUE;
}

BOOL CALLBACK OnTopLevel(HWND window, LPARAM param) {
  char title[1024];
  GetWindowTextA(window, title, sizeof title);
  if (!IsWindowVisible(window) || std::strcmp(title, *reinterpret_cast<char**>(param)) != 0) return TRUE;
  std::puts("window");
  EnumChildWindows(window, OnControl, 0);
  return TRUE;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) return 2;
  EnumWindows(OnTopLevel, reinterpret_cast<LPARAM>(&argv[1]));
  return 0;
}
