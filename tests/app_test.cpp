#include "app/file_dialog.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace {

TEST(FileDialog, RecordIsClearedAndFilledForTheOldLayout) {
  OPENFILENAMEA record;
  std::memset(&record, 0xAB, sizeof record);  // whatever was there before
  char path[kPathBufferSize];
  std::memset(path, 'x', sizeof path);
  HINSTANCE self = GetModuleHandleA(nullptr);
  FillFileDialog(&record, "Save MQO file", kDocumentFilter, path, kPathBufferSize, nullptr, self,
                 OFN_OVERWRITEPROMPT);
  // 76 bytes in the 32-bit program; the 64-bit test build has wider pointers.
  EXPECT_EQ(record.lStructSize, static_cast<DWORD>(OPENFILENAME_SIZE_VERSION_400A));
#ifndef _WIN64
  EXPECT_EQ(record.lStructSize, 76u);
#endif
  EXPECT_EQ(record.hwndOwner, nullptr);
  EXPECT_EQ(record.hInstance, self);
  EXPECT_EQ(record.lpstrFilter, kDocumentFilter);
  EXPECT_EQ(record.nFilterIndex, 0u);
  EXPECT_EQ(record.lpstrFile, path);
  EXPECT_EQ(path[0], '\0');
  EXPECT_EQ(record.nMaxFile, 260u);
  EXPECT_STREQ(record.lpstrTitle, "Save MQO file");
  EXPECT_EQ(record.Flags, static_cast<DWORD>(OFN_OVERWRITEPROMPT));
  EXPECT_EQ(record.Flags, 2u);
  // Everything else stays zero: no custom filter, title buffer, initial
  // directory, default extension, hook or template.
  EXPECT_EQ(record.lpstrCustomFilter, nullptr);
  EXPECT_EQ(record.nMaxCustFilter, 0u);
  EXPECT_EQ(record.lpstrFileTitle, nullptr);
  EXPECT_EQ(record.nMaxFileTitle, 0u);
  EXPECT_EQ(record.lpstrInitialDir, nullptr);
  EXPECT_EQ(record.nFileOffset, 0u);
  EXPECT_EQ(record.nFileExtension, 0u);
  EXPECT_EQ(record.lpstrDefExt, nullptr);
  EXPECT_EQ(record.lCustData, 0);
  EXPECT_EQ(record.lpfnHook, nullptr);
  EXPECT_EQ(record.lpTemplateName, nullptr);
  // The three later fields lie past the old layout and are cleared too.
  const std::size_t old = OPENFILENAME_SIZE_VERSION_400A;
  ASSERT_GT(sizeof record, old);
  const auto* tail = reinterpret_cast<const unsigned char*>(&record) + old;
  for (std::size_t i = 0; i < sizeof record - old; ++i) EXPECT_EQ(tail[i], 0) << i;
}

TEST(FileDialog, FiltersAreSinglePairsEndingInTwoNuls) {
  EXPECT_EQ(std::string(kBlockDataFilter, sizeof kBlockDataFilter),
            std::string("Block Data version1\0*.bd1\0\0", 27));
  EXPECT_EQ(std::string(kDocumentFilter, sizeof kDocumentFilter),
            std::string("Metasequoia Document\0*.mqo\0\0", 28));
}

}  // namespace
