#include "tests/support/show_error_recorder.h"

#include "mqo/mqo.h"

std::vector<std::string>& ShownErrors() {
  static std::vector<std::string> texts;
  return texts;
}

void ShowError(const char* text) { ShownErrors().push_back(text); }
