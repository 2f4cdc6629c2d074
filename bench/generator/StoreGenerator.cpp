#include "generator/StoreGenerator.h"

#include <array>
#include <cstdio>

namespace qv::gen {

namespace {

// --- word lists ----------------------------------------------------------------------------

// Never "from": a sentence must not start a body line with "From ".
constexpr std::array<std::string_view, 96> kWords = {
    "the",      "meeting",  "report",   "schedule", "project", "budget",   "review",  "draft",
    "please",   "attached", "version",  "thanks",   "team",    "customer", "order",   "invoice",
    "shipment", "delay",    "question", "answer",   "update",  "release",  "server",  "backup",
    "folder",   "message",  "account",  "password", "weekend", "monday",   "friday",  "lunch",
    "office",   "travel",   "hotel",    "flight",   "ticket",  "agenda",   "minutes", "notes",
    "figures",  "quarter",  "results",  "sales",    "numbers", "table",    "chart",   "summary",
    "and",      "or",       "but",      "with",     "for",     "to",       "of",      "in",
    "on",       "at",       "by",       "about",    "after",   "before",   "until",   "next",
    "last",     "first",    "second",   "final",    "new",     "old",      "small",   "large",
    "quick",    "careful",  "good",     "better",   "best",    "short",    "long",    "open",
    "closed",   "pending",  "approved", "rejected", "we",      "you",      "they",    "it",
    "should",   "could",    "will",     "must",     "can",     "might",    "is",      "are"};

// Words with letters beyond ASCII, in UTF-8; all but the last few fit ISO-8859-1.
constexpr std::array<std::string_view, 16> kAccented = {
    "Grüße",  "Müller", "café",     "naïve",  "Zürich",    "São Paulo", "Ångström", "Bjørn",
    "Señora", "Crème",  "Français", "Málaga", "Übersicht", "Größe",     "Привет",   "Ελληνικά"};
constexpr std::size_t kLatin1Accented = 14;

struct Person {
  std::string_view first, last, local;
};

constexpr std::array<Person, 16> kPeople = {{{"Anna", "Berg", "anna.berg"},
                                             {"Jörg", "Müller", "joerg.mueller"},
                                             {"Chloé", "Dubois", "chloe.dubois"},
                                             {"Bjørn", "Larsen", "bjorn"},
                                             {"Maria", "Garcia", "mgarcia"},
                                             {"Tom", "O'Neill", "tom.oneill"},
                                             {"Li", "Wei", "li.wei"},
                                             {"Sofia", "Rossi", "s.rossi"},
                                             {"Peter", "Smith", "psmith"},
                                             {"Ines", "Peña", "ines.pena"},
                                             {"Lars", "Ångström", "lars.a"},
                                             {"Emma", "Brown", "emma"},
                                             {"Noah", "Taylor", "ntaylor"},
                                             {"Zoë", "Fischer", "zoe.fischer"},
                                             {"Olga", "Ivanova", "olga"},
                                             {"Ken", "Sato", "ken.sato"}}};

// Recipient domains: the first two are served by the two accounts of a generated profile.
constexpr std::array<std::string_view, 6> kDomains = {"example.com",       "example.org",
                                                      "example.net",       "mail.example.com",
                                                      "lists.example.net", "post.example.org"};

constexpr std::array<std::string_view, 7> kDayNames = {"Sun", "Mon", "Tue", "Wed",
                                                       "Thu", "Fri", "Sat"};
constexpr std::array<std::string_view, 12> kMonthNames = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                                          "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

struct Zone {
  int minutes;
  std::string_view text;  // as written after the time
};
constexpr std::array<Zone, 9> kZones = {{{0, "+0000"},
                                         {0, "GMT"},
                                         {0, "+0000 (UTC)"},
                                         {60, "+0100"},
                                         {120, "+0200 (CEST)"},
                                         {-300, "-0500"},
                                         {-480, "-0800 (PST)"},
                                         {330, "+0530"},
                                         {540, "+0900"}}};

struct Attachment {
  std::string_view name, type;
};
constexpr std::array<Attachment, 8> kFiles = {{{"report.pdf", "application/pdf"},
                                               {"Quarterly results.xlsx",
                                                "application/vnd.openxmlformats-officedocument."
                                                "spreadsheetml.sheet"},
                                               {"archive.zip", "application/zip"},
                                               {"notes.txt", "text/plain"},
                                               {"data.bin", "application/octet-stream"},
                                               {"Präsentation.pptx",
                                                "application/vnd.openxmlformats-officedocument."
                                                "presentationml.presentation"},
                                               {"invoice-4711.pdf", "application/pdf"},
                                               {"scan.tiff", "image/tiff"}}};

struct Image {
  std::string_view extension, type, magic;
};
const std::array<Image, 3> kImageTypes = {
    {{"png", "image/png", std::string_view("\x89PNG\r\n\x1a\n", 8)},
     {"jpg", "image/jpeg", std::string_view("\xff\xd8\xff\xe0\0\x10JFIF\0", 11)},
     {"gif", "image/gif", "GIF89a"}}};

// Lines that begin with "From " inside a body but are no separator (nothing, or something else
// than a separator date, at the end).
constexpr std::array<std::string_view, 4> kFromLookalikes = {
    "From the look of it, we should be done by Friday.",
    "From alice@example.com Tue Dec 08 14:23:50 2026 +0100", "From here on the numbers are final",
    "From Bob's notes (page 3):"};

// Quoted separator lines, as mail programs escape them in bodies.
constexpr std::array<std::string_view, 2> kQuotedFroms = {
    ">From bob@example.org Mon Jan 05 09:03:07 2026", ">From the archive: an old thread follows."};

// --- message kinds and mixes -----------------------------------------------------------------

enum Kind : unsigned {
  kPlain,             // text/plain 7bit or 8bit, or no MIME fields at all
  kQuotedPrintable,   // text/plain quoted-printable
  kBase64Text,        // text/plain base64
  kAlternative,       // multipart/alternative: text/plain and text/html
  kMixedAttachment,   // multipart/mixed: text and base64 attachments
  kImages,            // multipart/related or mixed with base64 images
  kNested,            // multipart/mixed with a message/rfc822 part
  kUuencode,          // plain text with a uuencoded file
  kSingleAttachment,  // a message whose only part is a base64 attachment
  kKindCount
};

struct MixParams {
  std::vector<unsigned> weights;  // per Kind
  int textLinesMin, textLinesMax;
  std::uint32_t attachMin, attachMax;  // raw bytes per attachment
  int attachCountMax;
  unsigned extrasPercent;  // chance of ">From " and "From " lookalike lines in plain bodies
};

const MixParams& ParamsOf(Mix mix) {
  static const MixParams attachments{
      {1, 1, 0, 1, 55, 25, 8, 5, 7}, 3, 20, 16 << 10, 80 << 10, 2, 10};
  static const MixParams text{{30, 22, 10, 20, 4, 3, 6, 3, 2}, 8, 120, 1 << 10, 8 << 10, 1, 12};
  static const MixParams varied{{1, 1, 1, 1, 1, 1, 1, 1, 1}, 4, 16, 400, 2000, 2, 40};
  switch (mix) {
    case Mix::kAttachments:
      return attachments;
    case Mix::kText:
      return text;
    case Mix::kVaried:
      break;
  }
  return varied;
}

// --- encoders --------------------------------------------------------------------------------

constexpr char kBase64Chars[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
constexpr char kHex[] = "0123456789ABCDEF";

void AppendBase64(std::string& out, std::string_view data) {
  std::size_t i = 0;
  const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(data[k]); };
  for (; i + 3 <= data.size(); i += 3) {
    const unsigned v = (byte(i) << 16) | (byte(i + 1) << 8) | byte(i + 2);
    out += kBase64Chars[(v >> 18) & 63];
    out += kBase64Chars[(v >> 12) & 63];
    out += kBase64Chars[(v >> 6) & 63];
    out += kBase64Chars[v & 63];
  }
  if (i + 1 == data.size()) {
    const unsigned v = byte(i) << 16;
    out += kBase64Chars[(v >> 18) & 63];
    out += kBase64Chars[(v >> 12) & 63];
    out += "==";
  } else if (i + 2 == data.size()) {
    const unsigned v = (byte(i) << 16) | (byte(i + 1) << 8);
    out += kBase64Chars[(v >> 18) & 63];
    out += kBase64Chars[(v >> 12) & 63];
    out += kBase64Chars[(v >> 6) & 63];
    out += '=';
  }
}

}  // namespace

std::string Utf8ToLatin1(std::string_view utf8) {
  std::string out;
  for (std::size_t i = 0; i < utf8.size(); ++i) {
    const auto c = static_cast<unsigned char>(utf8[i]);
    if (c < 0x80) {
      out += static_cast<char>(c);
    } else if ((c & 0xE0) == 0xC0 && i + 1 < utf8.size()) {
      const unsigned cp = ((c & 0x1Fu) << 6) | (static_cast<unsigned char>(utf8[++i]) & 0x3Fu);
      out += cp < 256 ? static_cast<char>(cp) : '?';
    } else {
      while (i + 1 < utf8.size() && (static_cast<unsigned char>(utf8[i + 1]) & 0xC0) == 0x80)
        ++i;
      out += '?';
    }
  }
  return out;
}

namespace {

std::string ToLatin1(std::string_view utf8) {
  return Utf8ToLatin1(utf8);
}

bool IsAscii(std::string_view s) {
  for (char c : s)
    if (static_cast<unsigned char>(c) >= 0x80) return false;
  return true;
}

// Encoded words for `text` (already in `charset`), each of at most about 20 source bytes, never
// splitting a UTF-8 sequence, joined by a folding line break.
std::string EncodedWords(std::string_view text, std::string_view charset, bool base64,
                         std::string_view eol) {
  std::string out;
  std::size_t i = 0;
  while (i < text.size()) {
    std::size_t n = std::min<std::size_t>(20, text.size() - i);
    while (i + n < text.size() && (static_cast<unsigned char>(text[i + n]) & 0xC0) == 0x80)
      ++n;
    if (!out.empty()) {
      out += eol;
      out += ' ';
    }
    out += "=?";
    out += charset;
    out += base64 ? "?B?" : "?Q?";
    const std::string_view chunk = text.substr(i, n);
    if (base64) {
      AppendBase64(out, chunk);
    } else {
      for (char ch : chunk) {
        const auto c = static_cast<unsigned char>(ch);
        if (c == ' ') {
          out += '_';
        } else if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
                   c == '.' || c == '-') {
          out += static_cast<char>(c);
        } else {
          out += '=';
          out += kHex[c >> 4];
          out += kHex[c & 15];
        }
      }
    }
    out += "?=";
    i += n;
  }
  return out;
}

// Quoted-printable lines of one text line, soft-broken before 76 columns.
void AppendQuotedPrintable(std::string& out, std::string_view line, std::string_view eol) {
  std::string cur;
  for (std::size_t i = 0; i < line.size(); ++i) {
    const auto c = static_cast<unsigned char>(line[i]);
    const bool last = i + 1 == line.size();
    char piece[4] = {static_cast<char>(c), 0, 0, 0};
    std::size_t len = 1;
    const bool plain = (c >= 33 && c <= 126 && c != '=') || ((c == ' ' || c == '\t') && !last);
    // A line that would begin with "From " is written with the F encoded, as mail programs do.
    const bool fromAtStart = cur.empty() && c == 'F' && line.substr(i, 5) == "From ";
    if (!plain || fromAtStart) {
      piece[0] = '=';
      piece[1] = kHex[c >> 4];
      piece[2] = kHex[c & 15];
      len = 3;
    }
    if (cur.size() + len > 75) {
      out += cur;
      out += '=';
      out += eol;
      cur.clear();
    }
    cur.append(piece, len);
  }
  out += cur;
  out += eol;
}

void AppendUuencode(std::string& out, std::string_view data, std::string_view eol) {
  const auto enc = [](unsigned v) { return v == 0 ? '`' : static_cast<char>(32 + v); };
  for (std::size_t i = 0; i < data.size(); i += 45) {
    const std::size_t n = std::min<std::size_t>(45, data.size() - i);
    out += enc(static_cast<unsigned>(n));
    for (std::size_t k = 0; k < n; k += 3) {
      unsigned b[3] = {0, 0, 0};
      for (std::size_t j = 0; j < 3 && k + j < n; ++j)
        b[j] = static_cast<unsigned char>(data[i + k + j]);
      out += enc(b[0] >> 2);
      out += enc(((b[0] << 4) | (b[1] >> 4)) & 63);
      out += enc(((b[1] << 2) | (b[2] >> 6)) & 63);
      out += enc(b[2] & 63);
    }
    out += eol;
  }
  out += '`';
  out += eol;
}

std::string TwoDigits(int v) {
  char buf[4];
  std::snprintf(buf, sizeof buf, "%02d", v % 100);
  return buf;
}

std::string HexId(std::uint64_t v, int digits) {
  std::string s;
  for (int i = digits - 1; i >= 0; --i)
    s += kHex[(v >> (4 * i)) & 15];
  return s;
}

// --- one message -----------------------------------------------------------------------------

class MessageWriter {
 public:
  MessageWriter(Random& rng, const MixParams& params, std::string& out, std::string& scratch,
                std::string_view eol)
      : rng_(rng), params_(params), out_(out), scratch_(scratch), eol_(eol) {}

  void Line(std::string_view text) {
    out_ += text;
    out_ += eol_;
  }
  void Field(std::string_view name, std::string_view value) {
    out_ += name;
    out_ += ": ";
    out_ += value;
    out_ += eol_;
  }
  std::string_view Eol() const { return eol_; }

  // "Tue, 8 Dec 2026 14:23:50 +0100" and its variants, for a UTC time in a random zone.
  std::string MailDate(std::int64_t utc) {
    const Zone& zone = kZones[rng_.Below(kZones.size())];
    const CivilTime t = ToCivil(utc + zone.minutes * 60);
    std::string s;
    const unsigned style = static_cast<unsigned>(rng_.Below(10));
    if (style != 0) {
      s += kDayNames[static_cast<std::size_t>(t.weekday)];
      s += ", ";
    }
    s += style == 1 ? TwoDigits(t.day) : std::to_string(t.day);
    s += ' ';
    s += kMonthNames[static_cast<std::size_t>(t.month - 1)];
    s += ' ';
    s += std::to_string(t.year);
    s += ' ';
    s += TwoDigits(t.hour) + ":" + TwoDigits(t.minute) + ":" + TwoDigits(t.second);
    s += ' ';
    s += zone.text;
    return s;
  }

  std::string Address(const Person& p, std::string_view domain) {
    return std::string(p.local) + "@" + std::string(domain);
  }

  // A From or To value for a person in one of several common forms.
  std::string Mailbox(const Person& p, std::string_view domain) {
    const std::string addr = Address(p, domain);
    const std::string display = std::string(p.first) + " " + std::string(p.last);
    switch (rng_.Below(7)) {
      case 0:
        return addr;
      case 1:
        if (IsAscii(display)) return display + " <" + addr + ">";
        [[fallthrough]];
      case 2:
        return EncodedWords(display, "UTF-8", true, eol_) + " <" + addr + ">";
      case 3:
        return EncodedWords(ToLatin1(display), "ISO-8859-1", false, eol_) + " <" + addr + ">";
      case 4:
        return "\"" + ToLatin1(std::string(p.last) + ", " + std::string(p.first)) + "\" <" + addr +
               ">";
      case 5:
        return addr + " (" + ToLatin1(display) + ")";
      default:
        return "\"" + ToLatin1(display) + "\" <" + addr + ">";
    }
  }

  // A sentence-like line of words, about `width` characters, with a capital first letter.
  std::string TextLine(std::size_t width, bool accented) {
    std::string s;
    while (s.size() < width) {
      if (!s.empty()) s += ' ';
      if (accented && rng_.Chance(10))
        s += kAccented[rng_.Below(kLatin1Accented)];
      else
        s += kWords[rng_.Below(kWords.size())];
    }
    if (s[0] >= 'a' && s[0] <= 'z') s[0] = static_cast<char>(s[0] - 'a' + 'A');
    if (rng_.Chance(30)) s += '.';
    return s;
  }

  // The lines of a text body, with paragraphs and, sometimes, quoted or lookalike "From " lines.
  std::vector<std::string> TextLines(bool accented, bool extras) {
    std::vector<std::string> lines;
    const int n = static_cast<int>(rng_.Between(params_.textLinesMin, params_.textLinesMax));
    lines.push_back(rng_.Chance(50) ? "Hello," : "Hi all,");
    lines.emplace_back();
    for (int i = 0; i < n; ++i) {
      if (i > 0 && rng_.Chance(15))
        lines.emplace_back();
      else
        lines.push_back(TextLine(static_cast<std::size_t>(rng_.Between(40, 72)), accented));
    }
    if (extras && rng_.Chance(params_.extrasPercent)) {
      const auto at = static_cast<std::ptrdiff_t>(2 + rng_.Below(lines.size() - 1));
      lines.insert(lines.begin() + at, std::string(kQuotedFroms[rng_.Below(kQuotedFroms.size())]));
    }
    if (extras && rng_.Chance(params_.extrasPercent)) {
      const auto at = static_cast<std::ptrdiff_t>(2 + rng_.Below(lines.size() - 1));
      lines.insert(lines.begin() + at,
                   std::string(kFromLookalikes[rng_.Below(kFromLookalikes.size())]));
    }
    lines.emplace_back();
    lines.push_back("--");
    lines.push_back(std::string(kPeople[rng_.Below(kPeople.size())].first));
    return lines;
  }

  // Fills the scratch buffer with `n` pseudo-random bytes after `magic`.
  std::string_view RandomBytes(std::size_t n, std::string_view magic = {}) {
    scratch_.assign(magic);
    scratch_.resize(magic.size() + n);
    std::size_t i = magic.size();
    for (; i + 8 <= scratch_.size(); i += 8) {
      std::uint64_t v = rng_.Next();
      for (int k = 0; k < 8; ++k) {
        scratch_[i + static_cast<std::size_t>(k)] = static_cast<char>(v & 0xFF);
        v >>= 8;
      }
    }
    for (std::uint64_t v = rng_.Next(); i < scratch_.size(); ++i, v >>= 8)
      scratch_[i] = static_cast<char>(v & 0xFF);
    return scratch_;
  }

  std::size_t AttachmentSize() {
    return static_cast<std::size_t>(rng_.Between(params_.attachMin, params_.attachMax));
  }

  std::string Boundary() {
    switch (rng_.Below(3)) {
      case 0:
        return "----=_NextPart_000_" + HexId(rng_.Next(), 4) + "_" + HexId(rng_.Next(), 8);
      case 1:
        return "=_" + HexId(rng_.Next(), 16);
      default:
        return "b1_" + HexId(rng_.Next(), 12) + HexId(rng_.Next(), 12);
    }
  }

  void ContentType(std::string_view type, std::string_view params) {
    if (params.empty()) {
      Field("Content-Type", type);
    } else if (rng_.Chance(50)) {
      Field("Content-Type", std::string(type) + "; " + std::string(params));
    } else {
      Line("Content-Type: " + std::string(type) + ";");
      Line("\t" + std::string(params));
    }
  }

  // --- entities: content fields, empty line, body ---

  // A text/plain entity; a whole message (`topLevel`) is sometimes written without MIME fields.
  void PlainText(bool topLevel) {
    const unsigned style = static_cast<unsigned>(rng_.Below(4));
    const bool latin1 = style == 2;
    if (style == 0 && topLevel) {
      // An old-style message without MIME fields.
      Line("");
    } else {
      ContentType("text/plain", latin1 ? "charset=\"iso-8859-1\"" : "charset=us-ascii");
      Field("Content-Transfer-Encoding", latin1 ? "8bit" : "7bit");
      Line("");
    }
    for (const std::string& l : TextLines(latin1, true))
      Line(latin1 ? ToLatin1(l) : l);
  }

  void QuotedPrintableText(std::string_view subtype, bool extras) {
    const bool utf8 = rng_.Chance(60);
    ContentType("text/" + std::string(subtype),
                utf8 ? "charset=\"utf-8\"" : "charset=\"iso-8859-1\"");
    Field("Content-Transfer-Encoding", "quoted-printable");
    Line("");
    std::vector<std::string> lines = TextLines(true, extras);
    if (subtype == "html") {
      lines.insert(lines.begin(),
                   "<html><head><meta http-equiv=\"Content-Type\" "
                   "content=\"text/html; charset=utf-8\"></head><body>");
      for (std::size_t i = 1; i < lines.size(); ++i)
        lines[i] = lines[i].empty() ? "<br>" : "<p style=\"margin:0\">" + lines[i] + "</p>";
      lines.push_back("</body></html>");
    }
    for (const std::string& l : lines)
      AppendQuotedPrintable(out_, utf8 ? l : ToLatin1(l), eol_);
  }

  void Base64Text() {
    ContentType("text/plain", "charset=\"utf-8\"");
    Field("Content-Transfer-Encoding", "base64");
    Line("");
    std::string text;
    for (const std::string& l : TextLines(true, false))
      text += l + "\r\n";
    AppendBase64Lines(out_, text, eol_);
  }

  // A base64 attachment part; the file name sometimes as encoded words.
  void AttachmentPart(const Attachment& file, std::string_view data) {
    std::string name(file.name);
    if (!IsAscii(name)) name = EncodedWords(name, "UTF-8", false, "");
    ContentType(file.type, "name=\"" + name + "\"");
    Field("Content-Transfer-Encoding", "base64");
    Field("Content-Disposition", "attachment; filename=\"" + name + "\"");
    Line("");
    AppendBase64Lines(out_, data, eol_);
  }

  void ImagePart(int number, bool inlined) {
    const Image& img = kImageTypes[rng_.Below(kImageTypes.size())];
    const std::string name = "image" + std::string(3 - std::to_string(number).size(), '0') +
                             std::to_string(number) + "." + std::string(img.extension);
    ContentType(img.type, "name=\"" + name + "\"");
    Field("Content-Transfer-Encoding", "base64");
    if (inlined) {
      Field("Content-ID", "<" + name + "@" + HexId(rng_.Next(), 8) + ">");
      Field("Content-Disposition", "inline; filename=\"" + name + "\"");
    } else {
      Field("Content-Disposition", "attachment; filename=\"" + name + "\"");
    }
    Line("");
    AppendBase64Lines(out_, RandomBytes(AttachmentSize(), img.magic), eol_);
  }

  void Preamble() {
    if (rng_.Chance(50)) Line("This is a multi-part message in MIME format.");
    Line("");
  }

  void Multipart(std::string_view subtype, const std::string& boundary,
                 std::string_view extra = {}) {
    std::string params = "boundary=\"" + boundary + "\"";
    if (!extra.empty()) params = std::string(extra) + "; " + params;
    ContentType("multipart/" + std::string(subtype), params);
    Line("");
    Preamble();
  }

  void Alternative() {
    const std::string b = Boundary();
    Multipart("alternative", b);
    Line("--" + b);
    QuotedPrintableText("plain", false);
    Line("");
    Line("--" + b);
    QuotedPrintableText("html", false);
    Line("");
    Line("--" + b + "--");
  }

  void MixedAttachments() {
    const std::string b = Boundary();
    Multipart("mixed", b);
    Line("--" + b);
    if (rng_.Chance(30))
      Alternative();
    else
      PlainText(false);
    const int n = static_cast<int>(rng_.Between(1, params_.attachCountMax));
    for (int i = 0; i < n; ++i) {
      Line("");
      Line("--" + b);
      AttachmentPart(kFiles[rng_.Below(kFiles.size())], RandomBytes(AttachmentSize()));
    }
    Line("");
    Line("--" + b + "--");
  }

  void Images() {
    const std::string b = Boundary();
    const bool related = rng_.Chance(50);
    const int n = static_cast<int>(rng_.Between(1, params_.attachCountMax + 1));
    if (related) {
      Multipart("related", b, "type=\"text/html\"");
      Line("--" + b);
      QuotedPrintableText("html", false);
    } else {
      Multipart("mixed", b);
      Line("--" + b);
      PlainText(false);
    }
    for (int i = 1; i <= n; ++i) {
      Line("");
      Line("--" + b);
      ImagePart(i, related);
    }
    Line("");
    Line("--" + b + "--");
  }

  void Uuencoded() {
    if (rng_.Chance(50)) {
      ContentType("text/plain", "charset=us-ascii");
      Field("Content-Transfer-Encoding", "7bit");
    }
    Line("");
    for (const std::string& l : TextLines(false, true))
      Line(l);
    Line("");
    const Attachment& file = kFiles[rng_.Below(kFiles.size())];
    std::string name(file.name);
    for (char& c : name)
      if (c == ' ' || static_cast<unsigned char>(c) >= 0x80) c = '_';
    Line("begin 644 " + name);
    AppendUuencode(out_, RandomBytes(AttachmentSize()), eol_);
    Line("end");
  }

  void SingleAttachment() {
    AttachmentPart(kFiles[rng_.Below(kFiles.size())], RandomBytes(AttachmentSize()));
  }

  // A forwarded message inside a message/rfc822 part.
  void Nested(std::int64_t when) {
    const std::string b = Boundary();
    Multipart("mixed", b);
    Line("--" + b);
    ContentType("text/plain", "charset=us-ascii");
    Line("");
    Line("Forwarding this, see below.");
    Line("");
    Line("--" + b);
    Field("Content-Type", "message/rfc822");
    if (rng_.Chance(50)) Field("Content-Disposition", "attachment; filename=\"forwarded.eml\"");
    Line("");
    const Person& p = kPeople[rng_.Below(kPeople.size())];
    const Person& q = kPeople[rng_.Below(kPeople.size())];
    Field("From", Mailbox(p, kDomains[rng_.Below(kDomains.size())]));
    Field("To", Mailbox(q, kDomains[rng_.Below(kDomains.size())]));
    Field("Subject", TextLine(30, false));
    Field("Date", MailDate(when - rng_.Between(86400, 86400 * 30)));
    Field("Message-ID", "<" + HexId(rng_.Next(), 12) + "@" +
                            std::string(kDomains[rng_.Below(kDomains.size())]) + ">");
    Field("MIME-Version", "1.0");
    switch (rng_.Below(3)) {
      case 0:
        PlainText(false);
        break;
      case 1:
        QuotedPrintableText("plain", false);
        break;
      default:
        MixedAttachments();
        break;
    }
    Line("");
    Line("--" + b + "--");
  }

  void Body(Kind kind, std::int64_t when) {
    switch (kind) {
      case kPlain:
        PlainText(true);
        break;
      case kQuotedPrintable:
        QuotedPrintableText("plain", true);
        break;
      case kBase64Text:
        Base64Text();
        break;
      case kAlternative:
        Alternative();
        break;
      case kMixedAttachment:
        MixedAttachments();
        break;
      case kImages:
        Images();
        break;
      case kNested:
        Nested(when);
        break;
      case kUuencode:
        Uuencoded();
        break;
      case kSingleAttachment:
      case kKindCount:
        SingleAttachment();
        break;
    }
  }

 private:
  Random& rng_;
  const MixParams& params_;
  std::string& out_;
  std::string& scratch_;
  std::string_view eol_;
};

std::string Subject(Random& rng, std::string& plain, MessageWriter& w) {
  std::string words;
  const int n = static_cast<int>(rng.Between(2, 9));
  bool accented = false;
  for (int i = 0; i < n; ++i) {
    if (!words.empty()) words += ' ';
    if (rng.Chance(12)) {
      words += kAccented[rng.Below(kAccented.size())];
      accented = true;
    } else {
      words += kWords[rng.Below(kWords.size())];
    }
  }
  words[0] = static_cast<char>(words[0] >= 'a' && words[0] <= 'z' ? words[0] - 32 : words[0]);
  static constexpr std::array<std::string_view, 5> kPrefixes = {"", "", "Re: ", "Fwd: ", "AW: "};
  plain = std::string(kPrefixes[rng.Below(kPrefixes.size())]) + words;
  if (!accented) {
    if (plain.size() > 40 && rng.Chance(30)) {
      // A long subject folded at a blank.
      const std::size_t cut = plain.find(' ', 30);
      if (cut != std::string::npos)
        return plain.substr(0, cut) + std::string(w.Eol()) + plain.substr(cut);
    }
    return plain;
  }
  const bool latin1 = rng.Chance(40);
  bool fits = true;
  for (std::size_t i = kLatin1Accented; i < kAccented.size(); ++i)
    if (plain.find(kAccented[i]) != std::string::npos) fits = false;
  if (latin1 && fits) return EncodedWords(ToLatin1(plain), "ISO-8859-1", false, w.Eol());
  return EncodedWords(plain, "UTF-8", rng.Chance(50), w.Eol());
}

}  // namespace

// --- public helpers ---------------------------------------------------------------------------

std::size_t Random::Pick(const std::vector<unsigned>& weights) {
  std::uint64_t total = 0;
  for (unsigned w : weights)
    total += w;
  std::uint64_t r = Below(total);
  for (std::size_t i = 0; i < weights.size(); ++i) {
    if (r < weights[i]) return i;
    r -= weights[i];
  }
  return weights.size() - 1;
}

CivilTime ToCivil(std::int64_t unixSeconds) {
  std::int64_t days = unixSeconds / 86400;
  std::int64_t secs = unixSeconds % 86400;
  if (secs < 0) {
    secs += 86400;
    --days;
  }
  CivilTime t{};
  t.hour = static_cast<int>(secs / 3600);
  t.minute = static_cast<int>(secs / 60 % 60);
  t.second = static_cast<int>(secs % 60);
  t.weekday = static_cast<int>(((days % 7) + 11) % 7);  // 1970-01-01 was a Thursday
  // Days to civil date, after H. Hinnant's algorithm.
  const std::int64_t z = days + 719468;
  const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const std::int64_t doe = z - era * 146097;
  const std::int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const std::int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const std::int64_t mp = (5 * doy + 2) / 153;
  t.day = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
  t.month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  t.year = static_cast<int>(yoe + era * 400 + (t.month <= 2 ? 1 : 0));
  return t;
}

std::int64_t FromCivil(int year, int month, int day, int hour, int minute, int second) {
  const std::int64_t y = year - (month <= 2 ? 1 : 0);
  const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
  const std::int64_t yoe = y - era * 400;
  const std::int64_t mp = month > 2 ? month - 3 : month + 9;
  const std::int64_t doy = (153 * mp + 2) / 5 + day - 1;
  const std::int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  const std::int64_t days = era * 146097 + doe - 719468;
  return days * 86400 + hour * 3600 + minute * 60 + second;
}

std::string SeparatorLine(std::string_view address, std::int64_t unixSeconds) {
  const CivilTime t = ToCivil(unixSeconds);
  std::string s = "From ";
  s += address;
  s += ' ';
  s += kDayNames[static_cast<std::size_t>(t.weekday)];
  s += ' ';
  s += kMonthNames[static_cast<std::size_t>(t.month - 1)];
  s += ' ';
  s += TwoDigits(t.day) + " " + TwoDigits(t.hour) + ":" + TwoDigits(t.minute) + ":" +
       TwoDigits(t.second) + " ";
  s += std::to_string(t.year);
  return s;
}

void AppendBase64Lines(std::string& out, std::string_view data, std::string_view eol) {
  for (std::size_t i = 0; i < data.size(); i += 57) {
    AppendBase64(out, data.substr(i, 57));
    out += eol;
  }
}

// --- the generator -----------------------------------------------------------------------------

namespace {
const std::int64_t kFirstDate = FromCivil(2019, 1, 1, 0, 0, 0);
const std::int64_t kLastDate = FromCivil(2026, 12, 31, 23, 59, 59);
constexpr std::size_t kIdPool = 256;
}  // namespace

StoreGenerator::StoreGenerator(const StoreOptions& options)
    : options_(options), rng_(options.seed), clock_(kFirstDate) {
  clock_ += static_cast<std::int64_t>(rng_.Below(86400 * 365));
}

bool StoreGenerator::Next(std::string& out, MessageInfo* info) {
  out.clear();
  if (options_.count != 0 && count_ >= options_.count) return false;
  if (options_.size != 0 && bytes_ >= options_.size) return false;

  const MixParams& params = ParamsOf(options_.mix);
  bool crlf = options_.lineEnds == LineEnds::kCRLF;
  if (options_.lineEnds == LineEnds::kMixed) crlf = rng_.Chance(50);
  const std::string_view eol = crlf ? "\r\n" : "\n";
  MessageWriter w(rng_, params, out, scratch_, eol);

  const Kind kind = options_.mix == Mix::kVaried ? static_cast<Kind>(count_ % kKindCount)
                                                 : static_cast<Kind>(rng_.Pick(params.weights));

  clock_ += rng_.Between(60, 6 * 3600);
  if (clock_ > kLastDate) clock_ = kFirstDate + rng_.Between(0, 86400);
  const std::int64_t received = clock_;
  const std::int64_t sent = received - rng_.Between(2, 900);

  const Person& sender = kPeople[rng_.Below(kPeople.size())];
  const std::string_view senderDomain = kDomains[rng_.Below(kDomains.size())];
  const std::string senderAddr = w.Address(sender, senderDomain);
  const Person& rcpt = kPeople[rng_.Below(kPeople.size())];
  const std::uint64_t d = rng_.Below(20);
  const std::string_view rcptDomain = d < 9 ? kDomains[0] : d < 16 ? kDomains[1] : kDomains[2];
  const std::string rcptAddr = w.Address(rcpt, rcptDomain);

  // The separator: the envelope sender, sometimes a bounce address of a list.
  std::string envelope = senderAddr;
  if (rng_.Chance(5)) envelope = "bounces+" + std::to_string(count_) + "@lists.example.net";
  w.Line(SeparatorLine(envelope, received));

  if (rng_.Chance(80)) w.Field("Return-Path", "<" + envelope + ">");
  const int hops = static_cast<int>(rng_.Between(1, 4));
  std::int64_t hopTime = received;
  for (int h = 0; h < hops; ++h) {
    const std::string host = "mx" + std::to_string(h + 1) + "." + std::string(senderDomain);
    const std::string ip = "203.0.113." + std::to_string(rng_.Between(1, 254));
    if (rng_.Chance(20)) {
      w.Field("Received", "(qmail " + std::to_string(rng_.Between(1000, 99999)) +
                              " invoked by uid 89); " + w.MailDate(hopTime));
    } else {
      w.Line("Received: from " + host + " (" + host + " [" + ip + "])");
      w.Line("\tby mail" + std::to_string(h) + "." + std::string(rcptDomain) +
             " (Postfix) with ESMTPS id " + HexId(rng_.Next(), 10));
      w.Line("\tfor <" + rcptAddr + ">; " + w.MailDate(hopTime));
    }
    hopTime -= rng_.Between(1, 120);
  }

  std::string id;
  const std::uint64_t number = count_ + 1;
  bool duplicate = false;
  if (!(options_.noIdEvery != 0 && number % options_.noIdEvery == 0)) {
    if (options_.duplicateIdEvery != 0 && number % options_.duplicateIdEvery == 0 &&
        !pastIds_.empty()) {
      id = pastIds_[rng_.Below(pastIds_.size())];
      duplicate = true;
    } else {
      id = "<" + HexId(rng_.Next(), 16) + "." + std::to_string(number) + "@" +
           std::string(senderDomain) + ">";
      if (pastIds_.size() < kIdPool)
        pastIds_.push_back(id);
      else
        pastIds_[rng_.Below(kIdPool)] = id;
    }
  }

  const std::string from = w.Mailbox(sender, senderDomain);
  std::string subjectPlain;
  const std::string subject = Subject(rng_, subjectPlain, w);

  // Field order varies a little, as it does between mail programs.
  if (!rng_.Chance(3)) w.Field("Date", w.MailDate(sent));
  w.Field("From", from);
  if (rng_.Chance(25)) {
    const Person& other = kPeople[rng_.Below(kPeople.size())];
    w.Line("To: " + w.Mailbox(rcpt, rcptDomain) + ",");
    w.Line("\t" + w.Mailbox(other, kDomains[rng_.Below(kDomains.size())]));
  } else {
    w.Field("To", rng_.Chance(60) ? rcptAddr : w.Mailbox(rcpt, rcptDomain));
  }
  if (rng_.Chance(15))
    w.Field("Cc", w.Mailbox(kPeople[rng_.Below(kPeople.size())], kDomains[rng_.Below(3)]));
  w.Field("Subject", subject);
  if (!id.empty()) w.Field(rng_.Chance(20) ? "Message-Id" : "Message-ID", id);
  if (rng_.Chance(15)) {
    static constexpr std::array<std::string_view, 4> kPriority = {"1 (Highest)", "2 (High)",
                                                                  "3 (Normal)", "5 (Lowest)"};
    w.Field("X-Priority", kPriority[rng_.Below(kPriority.size())]);
  }
  if (rng_.Chance(8)) w.Field("Importance", rng_.Chance(70) ? "high" : "low");
  if (rng_.Chance(30)) {
    static constexpr std::array<std::string_view, 4> kMailers = {
        "Quorvane Mail 2.3", "Microsoft Outlook 16.0", "Apple Mail (2.3774)", "Mutt/2.2.9"};
    w.Field(rng_.Chance(50) ? "X-Mailer" : "User-Agent", kMailers[rng_.Below(kMailers.size())]);
  }
  if (kind != kPlain || rng_.Chance(70)) w.Field("MIME-Version", "1.0");
  w.Body(kind, sent);
  // Most messages end with an empty line before the next separator; a few do not.
  if (!rng_.Chance(10)) w.Line("");

  if (info) {
    info->number = count_;
    info->offset = bytes_;
    info->size = out.size();
    info->messageId = id;
    info->duplicateId = duplicate;
    info->from = from;
    info->to = rcptAddr;
    info->subject = subjectPlain;
    info->date = sent;
    info->attachments = kind == kMixedAttachment || kind == kImages || kind == kNested;
  }
  ++count_;
  bytes_ += out.size();
  if (out.size() > largest_) largest_ = out.size();
  return true;
}

StoreSummary WriteStore(const StoreOptions& options,
                        const std::function<void(std::string_view)>& sink,
                        const std::function<void(const MessageInfo&)>& each) {
  StoreGenerator gen(options);
  std::string message;
  MessageInfo info;
  while (gen.Next(message, each ? &info : nullptr)) {
    sink(message);
    if (each) each(info);
  }
  return {gen.MessageCount(), gen.BytesWritten(), gen.LargestMessage()};
}

}  // namespace qv::gen
