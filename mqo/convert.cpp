#include "mqo/mqo.h"
#include "mqo/output_file.h"

namespace {

MqoResult FromRead(ReadResult result) {
  switch (result) {
    case ReadResult::Ok: return MqoResult::Ok;
    case ReadResult::OpenFailed: return MqoResult::InputOpenFailed;
    case ReadResult::OutOfMemory: return MqoResult::OutOfMemory;
    case ReadResult::Truncated:
    case ReadResult::NegativeCount: break;
  }
  return MqoResult::InputReadFailed;
}

// Large enough that the largest map goes out in a few hundred writes, small
// enough for any stack.
constexpr std::size_t kChunk = 64 * 1024;

MqoResult WriteDocument(const BlockData& data, OutputFile* file) {
  char chunk[kChunk];
  MqoCursor cursor{};
  while (std::size_t n = MqoDocumentNext(data, &cursor, chunk, sizeof chunk)) {
    if (!WriteOutput(file, chunk, n)) {
      AbandonOutput(file);
      return MqoResult::OutputWriteFailed;
    }
  }
  return CommitOutput(file);
}

}  // namespace

const char* MqoResultMessage(MqoResult result) {
  switch (result) {
    case MqoResult::Ok: return nullptr;
    case MqoResult::InputOpenFailed: return "Failed: open file (bd)";
    case MqoResult::InputReadFailed: return "Failed: read file (bd)";
    case MqoResult::OutOfMemory: return "Failed: allocate memory";
    case MqoResult::OutputOpenFailed: return "Failed: open file (mqo)";
    case MqoResult::OutputWriteFailed: return "Failed: write file (mqo)";
  }
  return "Failed";
}

MqoResult ConvertFile(const char* inputPath, const char* outputPath) {
  BlockData data;
  MqoResult result = FromRead(ReadBlockDataFile(inputPath, &data));
  if (result != MqoResult::Ok) return result;
  // The input is closed by now, so the output may be the very same file.
  OutputFile file;
  result = OpenOutput(outputPath, &file);
  if (result == MqoResult::Ok) result = WriteDocument(data, &file);
  ReleaseBlockData(&data);
  return result;
}

void ConvertBlockDataToMqo(const char* inputPath, const char* outputPath) {
  MqoResult result = ConvertFile(inputPath, outputPath);
  if (result != MqoResult::Ok) ShowError(MqoResultMessage(result));
}
