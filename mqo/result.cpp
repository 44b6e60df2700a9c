// The outcomes of a conversion and their texts, apart from the file steps so
// that a front end with no file system (the page) can use them too.
#include "mqo/mqo.h"

MqoResult MqoResultOfRead(ReadResult result) {
  switch (result) {
    case ReadResult::Ok: return MqoResult::Ok;
    case ReadResult::OpenFailed: return MqoResult::InputOpenFailed;
    case ReadResult::OutOfMemory: return MqoResult::OutOfMemory;
    case ReadResult::Truncated:
    case ReadResult::NegativeCount: break;
  }
  return MqoResult::InputReadFailed;
}

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

const char* MqoResultStep(MqoResult result) {
  switch (result) {
    case MqoResult::Ok: return nullptr;
    case MqoResult::InputOpenFailed:
    case MqoResult::OutputOpenFailed: return "open file";
    case MqoResult::InputReadFailed: return "read file";
    case MqoResult::OutOfMemory: return "allocate memory";
    case MqoResult::OutputWriteFailed: return "write file";
  }
  return "";
}
