// What an export makes of a message and of a folder name. The message (split into lines as the
// store scan splits a store; its first byte says whether it was read) through the mboxrd form: no
// line but the From_ line opens with "From ", and a reader that takes one ">" from each quoted
// line and drops the Status field gets the message back, less its own Status and X-Status fields.
// The name (the input as UTF-8) through the portable and the Maildir++ forms: nothing a path or
// a level would take apart, within the limits, and the IMAP name decodes to the portable one.
#include <vector>

#include "FuzzTargets.h"
#include "base/Stream.h"
#include "base/StringUtils.h"
#include "platform/CodePage.h"
#include "repair/ExportFormat.h"
#include "repair/StoreReader.h"

namespace qv::fuzz {

namespace {

// Modified UTF-7 back to UTF-16; false when it is not well formed.
bool DecodeModifiedUtf7(std::string_view name, std::u16string& text) {
  static constexpr std::string_view kBase64 =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+,";
  for (std::size_t i = 0; i < name.size(); ++i) {
    if (name[i] != '&') {
      text += static_cast<char16_t>(static_cast<unsigned char>(name[i]));
      continue;
    }
    const std::size_t end = name.find('-', i);
    if (end == std::string_view::npos) return false;
    if (end == i + 1) {
      text += u'&';
    } else {
      std::uint32_t bits = 0;
      int count = 0;
      for (std::size_t k = i + 1; k < end; ++k) {
        const std::size_t v = kBase64.find(name[k]);
        if (v == std::string_view::npos) return false;
        bits = (bits << 6) | static_cast<std::uint32_t>(v);
        count += 6;
        if (count >= 16) {
          count -= 16;
          text += static_cast<char16_t>((bits >> count) & 0xFFFF);
        }
      }
    }
    i = end;
  }
  return true;
}

void CheckName(std::string_view utf8) {
  const std::string portable = PortableName(utf8);
  Check(!portable.empty() && portable.size() <= kMaxNamePart, "a portable name's length");
  for (const char c : portable) {
    const auto u = static_cast<unsigned char>(c);
    Check(
        u >= 0x20 && u != 0x7F && std::string_view("/\\:*?\"<>|").find(c) == std::string_view::npos,
        "a portable name holds a character a path takes apart");
  }
  Check(portable.front() != '.' && portable.back() != '.' && portable.back() != ' ',
        "a portable name's ends");
  const std::string level = MaildirLevelName(utf8);
  for (const char c : level)
    Check(c >= 0x20 && c < 0x7F && c != '.' && c != '/', "a Maildir level holds a separator");
  std::u16string decoded;
  Check(DecodeModifiedUtf7(level, decoded), "a Maildir level is not modified UTF-7");
  std::string dotless = portable;
  for (char& c : dotless)
    if (c == '.') c = '_';
  // (a level too long for a file name is the name cut short, never to nothing)
  Check(!level.empty(), "a Maildir level is empty");
  bool found = false;
  for (std::size_t n = dotless.size(); !found && n > 0; --n)
    found = decoded == platform::Utf8ToUtf16(std::string_view(dotless).substr(0, n));
  Check(found, "a Maildir level decodes to another name");
}

}  // namespace

void FuzzExportMessage(std::string_view input) {
  CheckName(input.substr(0, 300));
  if (input.empty()) return;
  const bool read = (input[0] & 1) != 0;
  std::vector<std::string> lines;
  TViewStream in(input.substr(1));
  StoreReader reader(in, 4096);
  std::string_view line;
  while (reader.ReadLine(line))
    lines.emplace_back(line);
  const std::vector<std::string_view> views(lines.begin(), lines.end());

  std::vector<std::string> out;
  ForEachMboxLine(views, read, [&](bool quoted, std::string_view l) {
    out.push_back((quoted ? ">" : "") + std::string(l));
  });
  Check(!out.empty() && out.front() == MboxStatusLine(read), "the Status line is not first");
  Check(out.back().empty(), "an mbox message does not end with an empty line");
  // A reader's view: one ">" less on quoted lines, the Status fields of the header dropped.
  std::vector<std::string> back, want;
  bool header = true, dropping = false;
  for (std::size_t i = 1; i < out.size(); ++i) {
    std::string l = out[i];
    Check(!l.starts_with("From "), "a line of an mbox message opens with \"From \"");
    if (IsMboxFromLine(l)) l.erase(0, 1);
    back.push_back(l);
  }
  for (const std::string& l : lines) {
    if (header && l.empty()) header = false;
    if (header && dropping && (l[0] == ' ' || l[0] == '\t')) continue;
    if (header && (dropping = IsStatusField(l))) continue;
    want.push_back(l);
  }
  if (want.empty() || !want.back().empty()) want.emplace_back();
  Check(back == want, "unquoting an mbox message does not give the message back");
}

}  // namespace qv::fuzz
