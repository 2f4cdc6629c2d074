#include "mime/clMessageCheck.h"

#include <optional>
#include <string>

#include "base/StringList.h"
#include "base/StringUtils.h"
#include "codec/clEncodingCheck.h"
#include "codec/clUtils.h"
#include "mime/clMailMessage.h"

namespace qv {

namespace {

using Lines = std::span<const std::string_view>;
using Report = std::function<void(const StructureFault&)>;

class Walk {
 public:
  Walk(Lines lines, const Report& report) : lines_(lines), report_(report) {}

  // The part of lines [first, end) whose header ends at `headerEnd` (the empty line, or `end`),
  // `level` multipart levels below the message.
  void Part(std::size_t first, std::size_t headerEnd, std::size_t end, int level);

 private:
  void Multipart(std::size_t bodyStart, std::size_t end, const std::string& boundary, int level);
  void Content(std::size_t first, std::size_t end, TclEncodeMethod encoding);
  void Uuencoded(std::size_t first, std::size_t end);
  void Fault(StructureFaultKind kind, std::size_t line, std::size_t column, std::string_view what) {
    report_({kind, line, column, what});
  }

  Lines lines_;
  const Report& report_;
  TStringList fields_;
};

void Walk::Part(std::size_t first, std::size_t headerEnd, std::size_t end, int level) {
  const Lines header = lines_.subspan(first, headerEnd - first);
  fields_.Clear();
  IndexHeaderFields(0, header, fields_);
  const std::string ct = GetHeaderFieldValue(header, fields_, "content-type");
  const TclEncodeMethod encoding =
      TransferEncodingToMethod(GetHeaderFieldValue(header, fields_, "content-transfer-encoding"));
  const std::size_t bodyStart = headerEnd < end ? headerEnd + 1 : end;
  // The message itself is split wherever its header gives a boundary; a part only when it is a
  // multipart, and not at all below kMaxBodyNesting levels (it is kept whole as an attachment).
  const bool multipartType = LowerCase(GetHeaderParam(ct, "")).starts_with("multipart/");
  if (multipartType && level > kMaxBodyNesting) {
    Fault(StructureFaultKind::TooDeep, first, 0, "multipart parts nested beyond the limit");
    return;
  }
  const std::string boundary = GetHeaderParam(ct, "boundary=");
  if (!boundary.empty() && (level == 0 || multipartType)) {
    Multipart(bodyStart, end, boundary, level);
    return;
  }
  Content(bodyStart, end, encoding);
  if (level == 0) Uuencoded(bodyStart, end);
}

void Walk::Multipart(std::size_t bodyStart, std::size_t end, const std::string& boundary,
                     int level) {
  // Delimiter lines are found where the parser finds them: anywhere in a line.
  const std::string delimiter = "--" + boundary;
  const std::string closing = delimiter + "--";
  auto isDelimiter = [&](std::size_t i) {
    return lines_[i].find(delimiter) != std::string_view::npos;
  };
  std::optional<std::size_t> open;  // the delimiter line of the part being read
  auto finishPart = [&](std::size_t next) {
    if (!open) return;
    // Its header runs to the first empty line or delimiter line, as the parser reads it.
    std::size_t headerEnd = *open + 1;
    while (headerEnd < next && !lines_[headerEnd].empty())
      ++headerEnd;
    Part(*open + 1, headerEnd, next, level + 1);
  };
  for (std::size_t i = bodyStart; i < end; ++i) {
    if (!isDelimiter(i)) continue;
    finishPart(i);
    if (lines_[i].find(closing) != std::string_view::npos) return;
    open = i;
  }
  finishPart(end);
  Fault(StructureFaultKind::Unclosed, end > 0 ? end - 1 : 0, 0,
        "a multipart without its closing delimiter");
}

void Walk::Content(std::size_t first, std::size_t end, TclEncodeMethod encoding) {
  std::optional<EncodingFault> fault;
  const Lines content = lines_.subspan(first, end - first);
  if (encoding == cmMIMEBase64)
    fault = FindBase64Fault(content);
  else if (encoding == cmMIMEQuotedPrintable)
    fault = FindQuotedPrintableFault(content);
  if (fault) Fault(StructureFaultKind::Encoding, first + fault->line, fault->column, fault->what);
}

void Walk::Uuencoded(std::size_t first, std::size_t end) {
  std::string fileName;
  for (std::size_t i = first; i < end; ++i) {
    if (!TclMailMessage::IsUUBeginLine(lines_[i], fileName)) continue;
    std::size_t last = i + 1;
    while (last < end && !TclMailMessage::IsUUEndLine(lines_[last]))
      ++last;
    if (auto fault = FindUUEncodeFault(lines_.subspan(i + 1, last - i - 1)))
      Fault(StructureFaultKind::Encoding, i + 1 + fault->line, fault->column, fault->what);
    i = last;
  }
}

}  // namespace

void FindStructureFaults(Lines lines, const Report& report) {
  std::size_t headerEnd = 0;
  while (headerEnd < lines.size() && !lines[headerEnd].empty())
    ++headerEnd;
  Walk(lines, report).Part(0, headerEnd, lines.size(), 0);
}

}  // namespace qv
