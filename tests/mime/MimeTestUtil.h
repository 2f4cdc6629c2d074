// Helpers of the message tests: messages written as text, a readable summary of a parsed message,
// and handlers that collect the content handed to body parts.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "base/DateTime.h"
#include "base/StringList.h"
#include "base/StringUtils.h"
#include "mime/clMailMessage.h"
#include "support/FixedClock.h"

namespace qv::test {

// The lines of a text split at "\n"; text after the last "\n" is one more line when not empty.
inline TStringList Lines(std::string_view text) {
  TStringList lines;
  std::size_t start = 0;
  while (start < text.size()) {
    const std::size_t nl = text.find('\n', start);
    if (nl == std::string_view::npos) {
      lines.Add(std::string(text.substr(start)));
      break;
    }
    lines.Add(std::string(text.substr(start, nl - start)));
    start = nl + 1;
  }
  return lines;
}

inline std::vector<std::string> Items(const TStringList& list) {
  std::vector<std::string> v;
  for (const auto& item : list)
    v.push_back(item.text);
  return v;
}

inline std::string Summary(const TclMessageBodies& bodies, const std::string& indent);

// Every field of a body, one per line; nested parts indented below it.
inline std::string Summary(const TclMessageBody& b, const std::string& indent) {
  std::string s = indent + b.ClassName() + " type=" + b.ContentType() +
                  " enc=" + IntToStr(b.Encoding()) + " disp=" + b.ContentDisposition() +
                  " extra=[" + b.ExtraFields().CommaText() + "] raw=[" + b.RawHeader().CommaText() +
                  "]";
  if (auto* t = dynamic_cast<const TclTextBody*>(&b))
    s += " charset=" + t->CharSet() + " strings=[" + t->Strings().CommaText() + "]";
  if (auto* a = dynamic_cast<const TclAttachmentBody*>(&b))
    s += " file=" + a->FileName() + " id=" + a->ContentID();
  s += "\n";
  if (auto* m = dynamic_cast<const TclMultipartBody*>(&b)) {
    s += indent + " sub=" + m->ContentSubType() + " boundary=" + m->Boundary() + "\n";
    s += Summary(m->Bodies(), indent + "  ");
  }
  return s;
}

inline std::string Summary(const TclMessageBodies& bodies, const std::string& indent) {
  std::string s;
  for (int i = 0; i < bodies.Count(); ++i)
    s += Summary(bodies.Items(i), indent);
  return s;
}

// Every property of a message that a parse sets, one per line, and its bodies.
inline std::string Summary(const TclMailMessage& m) {
  std::string s;
  auto add = [&s](std::string_view name, const std::string& value) {
    s += std::string(name) + "=" + value + "\n";
  };
  add("Subject", m.Subject());
  add("From", m.From());
  add("To", m.ToList().CommaText());
  add("Cc", m.CCList().CommaText());
  add("Bcc", m.BCCList().CommaText());
  add("Priority", IntToStr(m.Priority()));
  add("Date", Format("%.10f", m.Date()));
  add("CharSet", m.CharSet());
  add("ContentType", m.ContentType());
  add("ContentSubType", m.ContentSubType());
  add("ContentDisposition", m.ContentDisposition());
  add("MessageFormat", IntToStr(m.MessageFormat()));
  add("Encoding", IntToStr(m.Encoding()));
  add("MimeOLE", m.MimeOLE());
  add("ReplyTo", m.ReplyTo());
  add("References", m.References().CommaText());
  add("NewsGroups", m.NewsGroups().CommaText());
  add("ExtraFields", m.ExtraFields().CommaText());
  add("ReadReceiptTo", m.ReadReceiptTo());
  add("MessageID", m.MessageID());
  add("Boundary", m.Boundary());
  add("RawHeader", m.RawHeader().CommaText());
  add("IsMultipart", m.IsMultipart() ? "yes" : "no");
  return s + Summary(m.Bodies(), "");
}

// What LoadOutline promises to set as LoadMessage does, one per line: the envelope, the content
// fields and the class of every part.
inline std::string OutlineSummary(const TclMailMessage& m) {
  std::string s =
      "From=" + m.From() + "\nTo=" + m.ToList().CommaText() + "\nSubject=" + m.Subject() +
      "\nDate=" + Format("%.10f", m.Date()) + "\nPriority=" + IntToStr(m.Priority()) +
      "\nMessageID=" + m.MessageID() + "\nCharSet=" + m.CharSet() +
      "\nContentType=" + m.ContentType() + "\nContentSubType=" + m.ContentSubType() +
      "\nBoundary=" + m.Boundary() + "\nContentDisposition=" + m.ContentDisposition() +
      "\nEncoding=" + IntToStr(m.Encoding()) + "\nMessageFormat=" + IntToStr(m.MessageFormat()) +
      "\nIsMultipart=" + (m.IsMultipart() ? "yes" : "no") + "\nParts=";
  for (int i = 0; i < m.Bodies().Count(); ++i)
    s += m.Bodies().Items(i).ClassName() + " ";
  return s + "\n";
}

// Gives every attachment a memory stream and records what each part receives, in order.
struct DataRecorder {
  struct Entry {
    std::string className;
    std::string fileName;
    std::string data;
  };
  std::vector<Entry> entries;

  void Attach(TclMailMessage& m) {
    m.OnGetDataStream = [](TclMailMessage&, TclMessageBody&, const std::string&,
                           std::unique_ptr<TStream>& data, bool& handled) {
      data = std::make_unique<TMemoryStream>();
      handled = true;
    };
    m.OnDataAdded = [this](TclMailMessage&, TclMessageBody& body, TStream& data) {
      std::string name;
      if (auto* a = dynamic_cast<TclAttachmentBody*>(&body)) name = a->FileName();
      entries.push_back({body.ClassName(), name, data.ReadRest()});
    };
  }
  // The data of the first entry made for that file name, or "<none>".
  std::string DataOf(std::string_view fileName) const {
    for (const auto& e : entries)
      if (e.fileName == fileName) return e.data;
    return "<none>";
  }
};

// A fixed "now" of the message tests: 1 March 2026 12:00 local time.
inline TDateTime TestNow() {
  return EncodeDateTime(2026, 3, 1, 12, 0, 0);
}

}  // namespace qv::test
