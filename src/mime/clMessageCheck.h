// Where a message's structure is damaged, walked as the parser splits it: a multipart without its
// closing delimiter, multipart parts nested deeper than the parser splits, and parts whose transfer
// encoding does not decode cleanly. For a report of what is damaged where; nothing is decoded.
#pragma once

#include <cstddef>
#include <functional>
#include <span>
#include <string_view>

namespace qv {

enum class StructureFaultKind {
  Unclosed,  // a multipart whose closing delimiter never comes
  TooDeep,   // a multipart part below kMaxBodyNesting levels: kept whole as an attachment
  Encoding,  // content that its transfer encoding does not decode cleanly
};

struct StructureFault {
  StructureFaultKind kind;
  std::size_t line;    // index into the message's lines
  std::size_t column;  // of the first byte at fault (0 for a whole line)
  std::string_view what;
};

// Reports every fault of the message whose lines (header, empty line, body) are given, in the
// order of its lines.
void FindStructureFaults(std::span<const std::string_view> lines,
                         const std::function<void(const StructureFault&)>& report);

}  // namespace qv
