// Splitting a message's lines into body parts: at the boundary lines of a multipart message, or
// into a main text and one attachment per uuencoded file for any other message.
#include <charconv>

#include "base/StringUtils.h"
#include "codec/clUtils.h"
#include "mime/clMailMessage.h"

namespace qv {

namespace {
bool StartsWithLower(std::string_view lowered, std::string_view prefix) {
  return lowered.substr(0, prefix.size()) == prefix;
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
  auto isDelimiterLine = [&delimiter](const std::string& line) {
    return line.size() >= delimiter.size() && line.find(delimiter) != std::string::npos;
  };
  for (int i = 0; i < count; ++i) {
    const std::string& line = lines[i];
    if (isDelimiterLine(line)) {
      if (current != nullptr && dataStart < i) append(pending);
      TclMessageBody* flushed = current;
      current = nullptr;
      FlushBodyData(flushed);
      if (line.find(closing) == std::string::npos) {
        // A part's header ends at its first empty line. When a delimiter line comes first, the
        // part ends there without data, and its header is read from its own lines only: read on
        // to the next empty line, it would take fields of the parts after it, and a run of parts
        // without empty lines would be read again for every part.
        int headerEnd = i + 1;
        while (headerEnd < count && !lines[headerEnd].empty() && !isDelimiterLine(lines[headerEnd]))
          ++headerEnd;
        if (headerEnd < count && !lines[headerEnd].empty()) {
          TStringList header;
          header.Reserve(static_cast<std::size_t>(headerEnd - i));
          for (int k = i; k < headerEnd; ++k)
            header.Add(lines[k]);
          current = &CreateBodyFromHeader(0, header);
          CopyHeaderLines(1, header, current->RawHeader());
          ParseExtraFields(current->RawHeader(), current->KnownFields(), current->ExtraFields());
          dataStart = headerEnd;
          pending = {};
          continue;
        }
        current = &CreateBodyFromHeader(i, lines);
        dataStart = CopyHeaderLines(i + 1, lines, current->RawHeader());
        ParseExtraFields(current->RawHeader(), current->KnownFields(), current->ExtraFields());
        if (i + 1 >= count) {
          // A delimiter on the last line opens a part without header or data; it must not take
          // a line from the top of the message as its content.
          dataStart = count;
          pending = {};
          continue;
        }
        if (dataStart < count - 1) ++dataStart;
        pending = lines[dataStart];
      }
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
  if (StartsWithLower(ct, "application/") || StartsWithLower(ct, "message/") ||
      StartsWithLower(ct, "audio/") || StartsWithLower(ct, "video/"))
    return bodies.Add<TclAttachmentBody>();
  return bodies.Add<TclTextBody>();
}

TclMessageBody& TclMailMessage::CreateSingleBody(const TStringList& lines,
                                                 TclMessageBodies& bodies) {
  const std::string ct = LowerCase(content_type_);
  TclMessageBody* body;
  if (LowerCase(content_disposition_) == "attachment" || StartsWithLower(ct, "application/") ||
      StartsWithLower(ct, "message/") || StartsWithLower(ct, "audio/") ||
      StartsWithLower(ct, "video/"))
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

}  // namespace qv
