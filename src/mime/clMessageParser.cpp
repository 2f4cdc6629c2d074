// Splitting a message's lines into body parts: at the boundary lines of a multipart message, or
// into a main text and one attachment per uuencoded file for any other message.
#include <algorithm>
#include <charconv>
#include <cstring>
#include <vector>

#include "base/StringUtils.h"
#include "codec/clUtils.h"
#include "mime/clMailMessage.h"

namespace qv {

namespace {
bool StartsWithLower(std::string_view lowered, std::string_view prefix) {
  return lowered.substr(0, prefix.size()) == prefix;
}

// The content types (lower case) whose single part is an attachment.
bool IsAttachmentType(std::string_view lowered) {
  return StartsWithLower(lowered, "application/") || StartsWithLower(lowered, "message/") ||
         StartsWithLower(lowered, "audio/") || StartsWithLower(lowered, "video/");
}

// Whether a line holds a multipart's delimiter ("--" and the boundary) anywhere.
bool IsDelimiterLine(std::string_view line, std::string_view delimiter) {
  if (line.size() < delimiter.size()) return false;
  // Most lines (all of base64 content) hold no "-" where a delimiter could begin.
  const std::size_t last = line.size() - delimiter.size();
  const void* dash = std::memchr(line.data(), '-', last + 1);
  if (dash == nullptr) return false;
  const auto at = static_cast<std::size_t>(static_cast<const char*>(dash) - line.data());
  return line.find(delimiter, at) != std::string_view::npos;
}

// Reads a trimmed decimal integer; text that is no integer gives -1.
long long DecimalOrMinusOne(std::string_view s) {
  long long v = 0;
  if (s.empty()) return -1;
  std::size_t i = 0;
  if (s[0] == '+' || s[0] == '-') i = 1;
  auto [p, ec] = std::from_chars(s.data() + i, s.data() + s.size(), v);
  if (ec != std::errc() || p != s.data() + s.size() || i == s.size()) return -1;
  return s[0] == '-' ? -v : v;
}
}  // namespace

void TclMailMessage::ParseBodies(const TStringList& lines) {
  is_parsing_ = true;
  try {
    bool done = false;
    if (IsMultipart()) {
      ParseMultipartBodies(lines);
      done = bodies_->Count() > 0;
    }
    if (!done) {
      ParseSingleBody(lines);
      RemoveEmptyTextBodies();
    }
  } catch (...) {
    is_parsing_ = false;
    throw;
  }
  is_parsing_ = false;
}

void TclMailMessage::AppendBodyData(std::string_view text) {
  body_data_stream_.WriteBuffer(text.data(), text.size());
}

void TclMailMessage::FlushBodyData(TclMessageBody* body) {
  if (body == nullptr) return;
  if (body_data_stream_.Size() == 0) return;
  body_data_stream_.SetPosition(0);
  try {
    body->AddData(body_data_stream_);
  } catch (...) {
    body_data_stream_.Clear();
    throw;
  }
  body_data_stream_.Clear();
}

TclMessageBody& TclMailMessage::CreateBodyFromHeader(int i, const TStringList& lines) {
  TStringList fieldList;
  const int e = IndexHeaderFields(i, lines, fieldList);
  const std::string ct = GetHeaderFieldValue(lines, fieldList, "content-type");
  const std::string cd = GetHeaderFieldValue(lines, fieldList, "content-disposition");
  TclMessageBody& body = CreateBody(*bodies_, GetHeaderParam(ct, ""), GetHeaderParam(cd, ""));
  body.ParseBodyHeader(e + 1, lines, fieldList);
  return body;
}

TclMessageBody& TclMailMessage::OpenPart(const TStringList& lines, int i,
                                         std::string_view delimiter, int& dataStart,
                                         std::string_view& pending) {
  const int count = lines.Count();
  // A part's header ends at its first empty line. When a delimiter line comes first, the part
  // ends there without data, and its header is read from its own lines only: read on to the next
  // empty line, it would take fields of the parts after it, and a run of parts without empty
  // lines would be read again for every part.
  int headerEnd = i + 1;
  while (headerEnd < count && !lines[headerEnd].empty() &&
         !IsDelimiterLine(lines[headerEnd], delimiter))
    ++headerEnd;
  if (headerEnd < count && !lines[headerEnd].empty()) {
    TStringList header;
    header.Reserve(static_cast<std::size_t>(headerEnd - i));
    for (int k = i; k < headerEnd; ++k)
      header.Add(lines[k]);
    TclMessageBody& body = CreateBodyFromHeader(0, header);
    CopyHeaderLines(1, header, body.RawHeader());
    ParseExtraFields(body.RawHeader(), body.KnownFields(), body.ExtraFields());
    dataStart = headerEnd;
    pending = {};
    return body;
  }
  TclMessageBody& body = CreateBodyFromHeader(i, lines);
  dataStart = CopyHeaderLines(i + 1, lines, body.RawHeader());
  ParseExtraFields(body.RawHeader(), body.KnownFields(), body.ExtraFields());
  if (i + 1 >= count) {
    // A delimiter on the last line opens a part without header or data; it must not take a line
    // from the top of the message as its content.
    dataStart = count;
    pending = {};
    return body;
  }
  if (dataStart < count - 1) ++dataStart;
  pending = lines[dataStart];
  return body;
}

void TclMailMessage::ParseMultipartBodies(const TStringList& lines) {
  const std::string delimiter = "--" + boundary_;
  const std::string closing = delimiter + "--";
  TclMessageBody* current = nullptr;
  int dataStart = 0;
  std::string_view pending;
  const int count = lines.Count();
  // While a part collects data, each line is appended with its line break. (The stream grows
  // geometrically by itself; reserving the exact size for every line would copy the whole part
  // again per line where a library grants a reservation exactly.)
  // A part whose content goes nowhere (an attachment that no handler takes) gathers none.
  const TclMessageBody* askedFor = nullptr;
  bool receives = true;
  auto append = [&](std::string_view line) {
    if (current != askedFor) {
      askedFor = current;
      receives = current->ReceivesData();
    }
    if (!receives) return;
    AppendBodyData(line);
    AppendBodyData("\r\n");
  };
  for (int i = 0; i < count; ++i) {
    const std::string& line = lines[i];
    if (IsDelimiterLine(line, delimiter)) {
      if (current != nullptr && dataStart < i) append(pending);
      TclMessageBody* flushed = current;
      current = nullptr;
      FlushBodyData(flushed);
      if (line.find(closing) == std::string::npos)
        current = &OpenPart(lines, i, delimiter, dataStart, pending);
    } else if (current != nullptr && dataStart < i) {
      append(pending);
      pending = line;
    }
  }
  if (current != nullptr) {
    append(pending);
    FlushBodyData(current);
  }
}

TclMessageBody& TclMailMessage::CreateBody(TclMessageBodies& bodies, std::string_view contentType,
                                           std::string_view disposition) {
  const std::string ct = LowerCase(contentType);
  const std::string cd = LowerCase(disposition);
  if (StartsWithLower(ct, "multipart/")) {
    // Too deep a nesting is kept as an attachment with its raw content.
    if (nesting_level_ >= kMaxBodyNesting) return bodies.Add<TclAttachmentBody>();
    return bodies.Add<TclMultipartBody>();
  }
  if (StartsWithLower(ct, "image/")) return bodies.Add<TclImageBody>();
  if (cd == "attachment") return bodies.Add<TclAttachmentBody>();
  if (IsAttachmentType(ct)) return bodies.Add<TclAttachmentBody>();
  return bodies.Add<TclTextBody>();
}

bool TclMailMessage::SingleBodyIsAttachment() const {
  const std::string ct = LowerCase(content_type_);
  return LowerCase(content_disposition_) == "attachment" || IsAttachmentType(ct);
}

TclMessageBody& TclMailMessage::CreateSingleBody(const TStringList& lines,
                                                 TclMessageBodies& bodies) {
  TclMessageBody* body;
  if (SingleBodyIsAttachment())
    body = &bodies.Add<TclAttachmentBody>();
  else
    body = &bodies.Add<TclTextBody>();
  TStringList fieldList;
  const int e = IndexHeaderFields(0, lines, fieldList);
  body->ParseBodyHeader(e, lines, fieldList);
  CopyHeaderLines(0, lines, body->RawHeader());
  return *body;
}

TclAttachmentBody& TclMailMessage::CreateUUAttachment(TclMessageBodies& bodies,
                                                      const std::string& fileName) {
  TclAttachmentBody& body = bodies.Add<TclAttachmentBody>();
  body.SetFileName(fileName);
  body.SetEncoding(cmUUEncode);
  return body;
}

bool TclMailMessage::IsUUBeginLine(std::string_view line, std::string& fileName) {
  fileName.clear();
  if (!StartsText("begin", line)) return false;
  const std::size_t p = line.find(' ');
  if (p == std::string_view::npos) return false;
  std::string_view rest = line.substr(p + 1, 1000);
  while (!rest.empty() && IsTrimChar(rest.front()))
    rest.remove_prefix(1);
  const std::size_t q = rest.find(' ');
  if (q == std::string_view::npos) return false;
  if (DecimalOrMinusOne(TrimView(rest.substr(0, q))) < 0) return false;
  fileName = Trim(rest.substr(q + 1, 1000));
  return true;
}

bool TclMailMessage::IsUUEndLine(std::string_view line) {
  return SameText(TrimView(line), "end");
}

void TclMailMessage::ParseSingleBody(const TStringList& lines) {
  TclMessageBody* mainBody = nullptr;
  TclMessageBody* uuBody = nullptr;
  std::string fileName;
  const int count = lines.Count();
  for (int i = 0; i < count; ++i) {
    const std::string& line = lines[i];
    if (line.empty() && mainBody == nullptr) {
      mainBody = &CreateSingleBody(lines, *bodies_);
      continue;
    }
    if (mainBody == nullptr) continue;
    if (i == count - 1 && line.empty()) continue;
    if (IsUUBeginLine(line, fileName)) {
      SetMessageFormat(mfUUencode);
      FlushBodyData(uuBody != nullptr ? uuBody : mainBody);
      uuBody = &CreateUUAttachment(*bodies_, fileName);
      continue;
    }
    if (message_format_ == mfUUencode && IsUUEndLine(line)) {
      FlushBodyData(uuBody);
      uuBody = nullptr;
      continue;
    }
    AppendBodyData(line);
    AppendBodyData("\r\n");
  }
  FlushBodyData(mainBody);
}

void TclMailMessage::RemoveEmptyTextBodies() {
  for (int i = bodies_->Count() - 1; i >= 0; --i) {
    auto* text = dynamic_cast<TclTextBody*>(&bodies_->Items(i));
    if (text == nullptr) continue;
    bool blank = true;
    for (const auto& item : text->Strings()) {
      if (!TrimView(item.text).empty()) {
        blank = false;
        break;
      }
    }
    if (blank) bodies_->Delete(i);
  }
}

// --- the outline ---------------------------------------------------------------------------------
//
// LoadOutline makes the parts that ParseBodies makes, in the same order, walking the lines the same
// way, but gives them no content: a part's class follows from its header alone, except that a
// message's own text part is dropped when its content is blank, which ContentHasText tells
// without decoding in all but rare cases.

void TclMailMessage::OutlineBodies(std::span<const std::string_view> lines) {
  bool done = false;
  if (IsMultipart()) {
    OutlineMultipartBodies(lines);
    done = bodies_->Count() > 0;
  }
  if (!done) OutlineSingleBody(lines);
}

void TclMailMessage::OutlineMultipartBodies(std::span<const std::string_view> lines) {
  const std::string delimiter = "--" + boundary_;
  const std::string closing = delimiter + "--";
  const int count = static_cast<int>(lines.size());
  auto line = [&lines](int i) { return lines[static_cast<std::size_t>(i)]; };
  TStringList& fieldList = outline_fields_;
  for (int i = 0; i < count; ++i) {
    if (!IsDelimiterLine(line(i), delimiter) || line(i).find(closing) != std::string_view::npos)
      continue;
    // A part's header runs from its delimiter line to the first empty line or the next
    // delimiter line, whichever comes first (ParseMultipartBodies reads the same lines).
    int headerEnd = i + 1;
    while (headerEnd < count && !line(headerEnd).empty() &&
           !IsDelimiterLine(line(headerEnd), delimiter))
      ++headerEnd;
    const std::span<const std::string_view> header =
        lines.subspan(static_cast<std::size_t>(i), static_cast<std::size_t>(headerEnd - i));
    fieldList.Clear();
    IndexHeaderFields(0, header, fieldList);
    const std::string ct = GetHeaderFieldValue(header, fieldList, "content-type");
    const std::string cd = GetHeaderFieldValue(header, fieldList, "content-disposition");
    CreateBody(*bodies_, GetHeaderParam(ct, ""), GetHeaderParam(cd, ""));
    // The header's lines are no delimiter lines; the part's data lines may be.
    i = headerEnd - 1;
  }
}

void TclMailMessage::OutlineSingleBody(std::span<const std::string_view> lines) {
  TclMessageBody* mainBody = nullptr;
  TclMessageBody* uuBody = nullptr;
  // Only whether the main part is a text part that stays blank matters. The lines gathered for
  // the next flush are kept while that is open, until one of them shows that they hold text
  // whatever follows (usually the first that is not blank).
  bool mainText = false;
  bool mainHasText = false;
  std::vector<std::string_view> gathered;
  bool anyGathered = false;
  bool gatheredText = false;  // the lines gathered so far hold text, whatever follows
  bool tried = false;         // a line that could have shown it was met
  auto flush = [&](TclMessageBody* body) {
    if (body == nullptr || !anyGathered) return;  // the lines wait for the next flush
    if (body == mainBody && mainText && !mainHasText)
      mainHasText = gatheredText || ContentHasText(gathered);
    gathered.clear();
    anyGathered = gatheredText = tried = false;
  };
  std::string fileName;
  const std::size_t count = lines.size();
  for (std::size_t i = 0; i < count; ++i) {
    const std::string_view line = lines[i];
    if (line.empty() && mainBody == nullptr) {
      mainText = !SingleBodyIsAttachment();
      if (mainText)
        mainBody = &bodies_->Add<TclTextBody>();
      else
        mainBody = &bodies_->Add<TclAttachmentBody>();
      continue;
    }
    if (mainBody == nullptr) continue;
    if (i == count - 1 && line.empty()) continue;
    if (IsUUBeginLine(line, fileName)) {
      SetMessageFormat(mfUUencode);
      flush(uuBody != nullptr ? uuBody : mainBody);
      uuBody = &CreateUUAttachment(*bodies_, fileName);
      continue;
    }
    if (message_format_ == mfUUencode && IsUUEndLine(line)) {
      flush(uuBody);
      uuBody = nullptr;
      continue;
    }
    anyGathered = true;
    if (mainText && !mainHasText && !gatheredText) {
      gathered.push_back(line);
      if (!tried && line.find_first_not_of(" \t") != std::string_view::npos) {
        tried = true;
        gatheredText = StartHasText(gathered);
        if (gatheredText) gathered.clear();
      }
    }
  }
  flush(mainBody);
  // As RemoveEmptyTextBodies: the main part is the only text part here.
  if (mainText && !mainHasText) bodies_->Delete(bodies_->IndexOf(mainBody));
}

namespace {
// What the bytes of a text part's content give, read in order: a character above blank, or the
// NUL at which its lines end, or neither.
enum class TextScan { Text, End, Blank };
TextScan ScanForText(std::string_view bytes) {
  for (const char c : bytes) {
    const auto u = static_cast<unsigned char>(c);
    if (u > 32) return TextScan::Text;
    if (u == 0) return TextScan::End;
  }
  return TextScan::Blank;
}

// The same over lines joined by CR LF, which is blank.
TextScan ScanForText(std::span<const std::string_view> lines) {
  for (const std::string_view line : lines) {
    const TextScan scan = ScanForText(line);
    if (scan != TextScan::Blank) return scan;
  }
  return TextScan::Blank;
}
}  // namespace

bool TclMailMessage::StartHasText(std::span<const std::string_view> lines) {
  // A text part's lines are its content decoded (GetEncoding, here the message's Encoding) and
  // translated from its charset, cut at the first NUL; it is blank when every line trims to
  // nothing, that is when no byte above blank comes before a NUL. The charset tables keep NUL and
  // map every byte above blank to one above blank, so the translation is left out.
  if (encoding_ == cmMIMEQuotedPrintable) {
    // Quoted-printable copies every byte but "=" and the line breaks as it stands, blanks and
    // tabs included, and were the decoding to fail the content would be taken as it stands: the
    // first byte other than blank, tab and line breaks shows text when it is plain text.
    for (const std::string_view line : lines) {
      const std::size_t at = line.find_first_not_of(" \t");
      if (at == std::string_view::npos) continue;
      const auto c = static_cast<unsigned char>(line[at]);
      return c > 32 && c != '=';
    }
    return false;
  }
  const bool asItStands = ScanForText(lines) == TextScan::Text;
  if (encoding_ != cmMIMEBase64 || !asItStands) return asItStands;
  // Base64 gives three bytes per four symbols, and a shorter group the bytes its symbols fix, so
  // the first line that holds symbols decodes to the first bytes of the whole content. Should
  // the whole content not decode, it is taken as it stands, which has text too.
  for (const std::string_view line : lines) {
    if (line.empty()) continue;
    TclEncoder encoder;
    try {
      return ScanForText(encoder.DecodeString(line, cmMIMEBase64)) == TextScan::Text;
    } catch (const Exception&) {
      return false;
    }
  }
  return false;
}

bool TclMailMessage::ContentHasText(std::span<const std::string_view> lines) {
  if (StartHasText(lines)) return true;
  // Content taken as it stands is told by StartHasText either way, and so is quoted-printable
  // that holds only blanks, tabs and line breaks.
  if (encoding_ != cmMIMEQuotedPrintable && encoding_ != cmMIMEBase64) return false;
  if (encoding_ == cmMIMEQuotedPrintable &&
      std::all_of(lines.begin(), lines.end(), [](std::string_view line) {
        return line.find_first_not_of(" \t") == std::string_view::npos;
      }))
    return false;
  // Decoded as the part would decode it, content that does not decode taken as it stands.
  body_data_stream_.Clear();
  for (std::size_t i = 0; i < lines.size(); ++i) {
    if (i > 0) AppendBodyData("\r\n");
    AppendBodyData(lines[i]);
  }
  TMemoryStream decoded;
  TclEncoder encoder;
  bool raw = false;
  try {
    encoder.Decode(body_data_stream_, decoded, encoding_);
  } catch (const Exception&) {
    raw = true;
  }
  const std::string_view content = raw ? std::string_view(body_data_stream_.DataString())
                                       : std::string_view(decoded.DataString());
  const bool text = ScanForText(content) == TextScan::Text;
  body_data_stream_.Clear();
  return text;
}

}  // namespace qv
