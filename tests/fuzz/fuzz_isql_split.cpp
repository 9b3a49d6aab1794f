// Fuzz target: the interactive tool's statement splitter, line by line and whole, and the text
// helpers it runs on each statement.
#include <cstdint>
#include <string>

#include "tools/isql/IsqlSplit.h"

using namespace zylisql;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string text(reinterpret_cast<const char*>(data), size);
  TStatementSplitter splitter;
  size_t start = 0;
  while (start <= text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    splitter.AddLine(text.substr(start, end - start));
    start = end + 1;
  }
  splitter.Finish();
  for (const TPiece& p : TStatementSplitter::SplitText(text)) {
    LeadingKeyword(p.Text);
    ReturnsRows(p.Text);
    std::vector<size_t> at = MarkerPositions(p.Text);
    ReplaceMarkers(p.Text, std::vector<std::string>(at.size(), "v"));
    ParseCallText(p.Text);
  }
  return 0;
}
