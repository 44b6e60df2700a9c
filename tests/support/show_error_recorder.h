// The tests' ShowError: it records every text instead of showing it.
#pragma once

#include <string>
#include <vector>

std::vector<std::string>& ShownErrors();
