// window_probe TITLE: describes the visible top-level windows titled TITLE
// and their controls, one line each, so the end-to-end tests can check what
// a Windows dialog says without reading pixels. Run under Wine beside the
// program under test (same prefix, same wineserver).
//
//   window <class> style=<hex>
//   control <class> style=<hex> text=<text> [items=<a>|<b>] [icon=yes|no]
//
// items lists a combo box's entries (the dialogs' file type filters); icon
// tells whether an icon control actually holds an image.
// Exit status: 0 when at least one window was found, 1 when none, 2 for usage.
#include <windows.h>

#include <cstdio>
#include <cstring>

namespace {

void PrintText(HWND window) {
  char text[1024];
  int n = GetWindowTextA(window, text, sizeof text);
  for (int i = 0; i < n; ++i) {
    // One line per control: line breaks inside a text become "\n".
    if (text[i] == '\n') {
      std::fputs("\\n", stdout);
    } else if (text[i] != '\r') {
      std::fputc(text[i], stdout);
    }
  }
}

BOOL CALLBACK OnControl(HWND control, LPARAM) {
  if (!IsWindowVisible(control)) return TRUE;
  char cls[256];
  GetClassNameA(control, cls, sizeof cls);
  std::printf("control %s style=%08lx text=", cls,
              static_cast<unsigned long>(GetWindowLongA(control, GWL_STYLE)));
  PrintText(control);
  if (std::strcmp(cls, "ComboBox") == 0) {
    // Wide messages: the dialogs' combo boxes are Unicode windows of another
    // process, and the narrow form is not converted across processes.
    LRESULT count = SendMessageW(control, CB_GETCOUNT, 0, 0);
    std::fputs(" items=", stdout);
    for (LRESULT i = 0; i < count; ++i) {
      wchar_t item[512];
      char narrow[1024];
      if (SendMessageW(control, CB_GETLBTEXTLEN, static_cast<WPARAM>(i), 0) >=
          static_cast<LRESULT>(sizeof item / sizeof item[0]))
        continue;
      SendMessageW(control, CB_GETLBTEXT, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(item));
      if (!WideCharToMultiByte(CP_ACP, 0, item, -1, narrow, sizeof narrow, nullptr, nullptr))
        narrow[0] = '\0';
      std::printf("%s%s", i ? "|" : "", narrow);
    }
  }
  LONG style = GetWindowLongA(control, GWL_STYLE);
  if (std::strcmp(cls, "Static") == 0 && (style & SS_TYPEMASK) == SS_ICON)
    std::printf(" icon=%s", SendMessageA(control, STM_GETICON, 0, 0) ? "yes" : "no");
  std::fputc('\n', stdout);
  return TRUE;
}

struct Search {
  const char* title;
  int found;
};

BOOL CALLBACK OnTopLevel(HWND window, LPARAM param) {
  Search* search = reinterpret_cast<Search*>(param);
  char title[1024];
  GetWindowTextA(window, title, sizeof title);
  if (!IsWindowVisible(window) || std::strcmp(title, search->title) != 0) return TRUE;
  ++search->found;
  char cls[256];
  GetClassNameA(window, cls, sizeof cls);
  std::printf("window %s style=%08lx\n", cls,
              static_cast<unsigned long>(GetWindowLongA(window, GWL_STYLE)));
  EnumChildWindows(window, OnControl, 0);
  return TRUE;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fputs("usage: window_probe TITLE\n", stderr);
    return 2;
  }
  Search search{argv[1], 0};
  EnumWindows(OnTopLevel, reinterpret_cast<LPARAM>(&search));
  return search.found ? 0 : 1;
}
