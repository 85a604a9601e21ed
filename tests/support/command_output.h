#pragma once
// What tests read files with through outside tools (poppler's pdftotext, pdfinfo, pdffonts): the
// tool's standard output taken whole and its complaints dropped, so a missing tool or a broken file
// reads as an empty text that the assertions then fail on, or that a test takes as a reason to skip.

#include <cstdio>
#include <filesystem>
#include <string>

namespace testing_support {

// The standard output of a shell command; empty when it cannot be started.
inline std::string commandOutput(const std::string& command) {
  std::string out;
  FILE* pipe = popen((command + " 2>/dev/null").c_str(), "r");
  if (!pipe) return out;
  char buffer[4096];
  while (size_t n = fread(buffer, 1, sizeof buffer, pipe)) out.append(buffer, n);
  pclose(pipe);
  return out;
}

// The PDF's text as poppler reads it, in reading order.
inline std::string pdfText(const std::filesystem::path& pdf) {
  return commandOutput("pdftotext '" + pdf.string() + "' -");
}

}  // namespace testing_support
