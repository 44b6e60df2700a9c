#include <cstdlib>

#include "mqo/mqo.h"
#include "mqo/output_file.h"

namespace {

MqoResult WriteDocument(const BlockData& data, char* chunk, OutputFile* file) {
  MqoCursor cursor{};
  while (std::size_t n = MqoDocumentNext(data, &cursor, chunk, kMqoWriteChunk)) {
    if (WriteOutput(file, chunk, n).status != OutputStatus::Ok) {
      AbandonOutput(file);
      return MqoResult::OutputWriteFailed;
    }
  }
  return MqoResultOfOutput(CommitOutput(file));
}

}  // namespace

MqoResult ConvertFile(const char* inputPath, const char* outputPath, MqoHazards* hazards) {
  BlockData data;
  MqoResult result = MqoResultOfRead(ReadBlockDataFile(inputPath, &data));
  if (result != MqoResult::Ok) return result;
  if (hazards) *hazards = CountMqoHazards(data);
  // Taken before the output is opened, so that a failure leaves it untouched.
  char* chunk = static_cast<char*>(std::malloc(kMqoWriteChunk));
  if (!chunk) {
    ReleaseBlockData(&data);
    return MqoResult::OutOfMemory;
  }
  // The input is closed by now, so the output may be the very same file.
  OutputFile file;
  result = MqoResultOfOutput(OpenOutput(outputPath, &file));
  if (result == MqoResult::Ok) result = WriteDocument(data, chunk, &file);
  std::free(chunk);
  ReleaseBlockData(&data);
  return result;
}

void ConvertBlockDataToMqo(const char* inputPath, const char* outputPath) {
  MqoResult result = ConvertFile(inputPath, outputPath);
  if (result != MqoResult::Ok) ShowError(MqoResultMessage(result));
}
