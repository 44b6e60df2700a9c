// The two common file dialogs of the Windows program.
//
// Both fill one OPENFILENAMEA the same way (FillFileDialog, kept apart from
// the platform call so its fields can be checked): the record cleared, the
// old 76-byte layout, no owner window, the given instance, a single filter,
// an empty 260-byte path buffer, the title. The open dialog sets no flags;
// the save dialog asks before an existing file is replaced. Each returns
// true exactly when the user chose a file.
#pragma once

#include <windows.h>
#include <commdlg.h>

constexpr DWORD kPathBufferSize = MAX_PATH;  // 260 bytes, NUL included

// NUL-separated name and pattern; the literal's own NUL ends the list.
inline constexpr char kBlockDataFilter[] = "Block Data version1\0*.bd1\0";
inline constexpr char kDocumentFilter[] = "Metasequoia Document\0*.mqo\0";

void FillFileDialog(OPENFILENAMEA* record, const char* title, const char* filter, char* path,
                    DWORD pathSize, HWND owner, HINSTANCE instance, DWORD flags);

bool ChooseInputFile(HINSTANCE instance, char* path);   // "Open block data file"
bool ChooseOutputFile(HINSTANCE instance, char* path);  // "Save MQO file"
