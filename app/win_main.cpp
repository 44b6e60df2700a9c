// The Windows program: the open dialog, the save dialog, one conversion.
// No main window, no command line; the exit status is 1 on every path.
#include <windows.h>

#include "app/file_dialog.h"
#include "job/job.h"

void ShowError(const char* text) { MessageBoxA(nullptr, text, "Error", MB_OK); }

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  // The module's own handle, which is also what the runtime passes in.
  HINSTANCE self = GetModuleHandleA(nullptr);
  char input[kPathBufferSize];
  char output[kPathBufferSize];
  if (ChooseInputFile(self, input) && ChooseOutputFile(self, output))
    ConvertBlockDataToMqo(input, output);
  return 1;
}
