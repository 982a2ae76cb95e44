// Writing the page and its JSON summary together: both appear, or neither
// is left behind.
#pragma once

#include <string>

bool writeOutputs(const std::string& pagePath, const std::string& page, const std::string& jsonPath,
                  const std::string& json, std::string& error);
