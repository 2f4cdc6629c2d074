#include "components/StreamTree.h"

#include <charconv>
#include <string>

#include "base/Errors.h"
#include "base/StringUtils.h"
#include "components/Filer.h"
#include "platform/CodePage.h"

namespace qv {

namespace {

std::string FormatReal(double d) {
  char buf[64];
  const auto r = std::to_chars(buf, buf + sizeof buf, d);
  return std::string(buf, r.ptr);
}

std::string Quote(const std::string& utf8) {
  std::string out = "\"";
  for (char c : utf8) {
    const auto u = static_cast<unsigned char>(c);
    switch (c) {
      case '"':
        out += "\\\"";
        break;
      case '\\':
        out += "\\\\";
        break;
      case '\r':
        out += "\\r";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\t':
        out += "\\t";
        break;
      default:
        if (u < 0x20 || u == 0x7F) {
          out += Format("\\x%02X", u);
        } else {
          out += c;
        }
    }
  }
  return out + "\"";
}

std::string Utf8Text(TValueType t, const std::string& bytes) {
  if (t == TValueType::WString) return platform::Utf16ToUtf8(Utf16FromBytes(bytes));
  // Malformed sequences show as U+FFFD.
  if (t == TValueType::Utf8String) return platform::Utf16ToUtf8(platform::Utf8ToUtf16(bytes));
  return platform::AnsiToUtf8(bytes);
}

std::string Hex(const std::string& bytes) {
  std::string hex = "{";
  for (char c : bytes)
    hex += Format("%02X", static_cast<unsigned char>(c));
  return hex + "}";
}

std::string Currency(std::int64_t v) {
  const std::uint64_t mag =
      v < 0 ? 0 - static_cast<std::uint64_t>(v) : static_cast<std::uint64_t>(v);
  return Format("%s%llu.%04llu", v < 0 ? "-" : "", static_cast<unsigned long long>(mag / 10000),
                static_cast<unsigned long long>(mag % 10000));
}

// Reads the records and writes their lines as it goes, in pieces of about kPiece bytes.
class TTreeWriter : public TReader {
 public:
  static constexpr std::size_t kPiece = 1 << 16;

  TTreeWriter(TStream& stream, const TTextOutput& output) : TReader(stream), output_(output) {}

  void Root() {
    char sig[4];
    Read(sig, sizeof sig);
    if (std::string_view(sig, 4) != "TPF0") throw EReadError(kInvalidStreamFormat);
    Record(0);
  }

  void Flush() {
    if (!out_.empty()) output_(out_);
    out_.clear();
  }

 private:
  // The text of one value: its lines start with `lead` at `depth`.
  class TValueText final : public TValueVisitor {
   public:
    TValueText(TTreeWriter& w, std::string lead, int depth)
        : w_(w), lead_(std::move(lead)), depth_(depth) {}

    bool Accepts(TValueType t) override {
      type_ = t;
      return TValueVisitor::Accepts(t);
    }
    void Ident(TValueType, std::string name) override { Put(name); }
    void Integer(TValueType t, std::int64_t v) override {
      Put(t == TValueType::Currency ? Currency(v) : IntToStr(v));
    }
    void Real(TValueType, double v) override { Put(FormatReal(v)); }
    void Text(TValueType t, std::string bytes) override {
      Put(t == TValueType::Binary ? Hex(bytes) : Quote(Utf8Text(t, bytes)));
    }
    void Set(std::vector<std::string> members) override {
      std::string s = "[";
      for (std::size_t i = 0; i < members.size(); ++i)
        s += (i ? ", " : "") + members[i];
      Put(s + "]");
    }
    void List(TReader&) override {
      if (Open("()", "(")) return;
      while (!w_.EndOfList())
        w_.Value("", depth_ + 1);
      w_.Line(depth_, ")");
    }
    void Collection(TReader&) override {
      if (Open("<>", "<")) return;
      while (!w_.EndOfList())
        w_.Item(depth_ + 1);
      w_.Line(depth_, ">");
    }
    // A list or collection cut off before its first element still shows its opening line.
    void Unfinished() {
      if (opened_) return;
      if (type_ == TValueType::List) Put("(");
      if (type_ == TValueType::Collection) Put("<");
    }

   private:
    void Put(const std::string& text) { w_.Line(depth_, lead_ + text); }
    // Writes the opening line (`empty` when the end follows at once); true when it was empty.
    bool Open(const char* empty, const char* open) {
      const bool none = w_.EndOfList();
      opened_ = true;
      Put(none ? empty : open);
      return none;
    }

    TTreeWriter& w_;
    std::string lead_;
    int depth_;
    TValueType type_ = TValueType::Null;
    bool opened_ = false;
  };

  void Record(int depth) {
    EnterNesting();
    std::uint8_t flags = 0;  // prefix flags: 1 inherited, 2 child position, 4 inline
    std::int64_t position = 0;
    if ((PeekByte() & 0xF0) == 0xF0) {
      flags = ReadByte() & 0x0F;
      if (flags & 0x02) position = ReadInteger();
    }
    const std::string className = ReadStr();
    const std::string name = ReadStr();
    const char* word = (flags & 0x01) ? "inherited" : (flags & 0x04) ? "inline" : "object";
    Line(depth, Format("%s %s: %s", word, name.c_str(), className.c_str()) +
                    ((flags & 0x02) ? " [" + IntToStr(position) + "]" : std::string()));
    Entries(depth + 1);
    while (!EndOfList())
      Record(depth + 1);
    ReadByte();
    Line(depth, "end");
    LeaveNesting();
  }

  void Entries(int depth) {
    while (!EndOfList()) {
      const std::string name = ReadStr();
      Value(name + " = ", depth);
    }
    ReadByte();
  }

  void Value(std::string lead, int depth) {
    TValueText text(*this, std::move(lead), depth);
    try {
      ReadValueWith(text);
    } catch (...) {
      text.Unfinished();
      throw;
    }
  }

  void Item(int depth) {
    const bool numbered = IsShortInteger(NextValue());
    std::int64_t number = 0;
    const auto head = [&] { Line(depth, numbered ? "item [" + IntToStr(number) + "]" : "item"); };
    if (numbered) {
      try {
        number = ReadInteger();
      } catch (...) {
        head();  // a number cut off shows as 0
        throw;
      }
    }
    head();
    if (ReadValue() != TValueType::List) ThrowInvalidPropertyValue();
    Entries(depth + 1);
    Line(depth, "end");
  }

  void Line(int depth, const std::string& text) {
    out_.append(static_cast<std::size_t>(depth) * 2, ' ');
    out_ += text;
    out_ += '\n';
    if (out_.size() >= kPiece) Flush();
  }

  const TTextOutput& output_;
  std::string out_;
};

}  // namespace

void WriteStreamTree(TStream& stream, const TTextOutput& output) {
  TTreeWriter writer(stream, output);
  try {
    writer.Root();
  } catch (...) {
    writer.Flush();
    throw;
  }
  writer.Flush();
}

}  // namespace qv
