#pragma once
// What the report tests read PDFs with: poppler's command-line tools through the shared helpers,
// so a missing or broken file reads as an empty text the assertions then fail on.

#include "support/command_output.h"

namespace reports {

using testing_support::commandOutput;
using testing_support::pdfText;

}  // namespace reports
