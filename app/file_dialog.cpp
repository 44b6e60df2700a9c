#include "app/file_dialog.h"

#include <cstddef>
#include <cstring>

#ifndef _WIN64
// The shipped 32-bit program hands the dialogs the 76-byte record.
static_assert(offsetof(OPENFILENAMEA, lpTemplateName) + sizeof(LPCSTR) == 76);
#endif

void FillFileDialog(OPENFILENAMEA* record, const char* title, const char* filter, char* path,
                    DWORD pathSize, HWND owner, HINSTANCE instance, DWORD flags) {
  std::memset(record, 0, sizeof *record);
  // The layout without the three fields later versions add, which every
  // version of the dialog accepts.
  record->lStructSize = OPENFILENAME_SIZE_VERSION_400A;  // 76 bytes in a 32-bit program
  record->hwndOwner = owner;
  record->hInstance = instance;
  record->lpstrFilter = filter;
  record->nFilterIndex = 0;
  path[0] = '\0';  // no initial name
  record->lpstrFile = path;
  record->nMaxFile = pathSize;
  record->lpstrTitle = title;
  record->Flags = flags;
}

bool ChooseInputFile(HINSTANCE instance, char* path) {
  OPENFILENAMEA record;
  FillFileDialog(&record, "Open block data file", kBlockDataFilter, path, kPathBufferSize, nullptr,
                 instance, 0);
  return GetOpenFileNameA(&record) != 0;
}

bool ChooseOutputFile(HINSTANCE instance, char* path) {
  OPENFILENAMEA record;
  FillFileDialog(&record, "Save MQO file", kDocumentFilter, path, kPathBufferSize, nullptr, instance,
                 OFN_OVERWRITEPROMPT);
  return GetSaveFileNameA(&record) != 0;
}
