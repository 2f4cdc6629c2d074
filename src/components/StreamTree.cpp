#include "components/StreamTree.h"

#include <charconv>
#include <cmath>
#include <cstring>

#include "base/Errors.h"
#include "base/StringUtils.h"
#include "platform/CodePage.h"

namespace qv {

namespace {

class TTreeReader : public TReader {
 public:
  using TReader::TReader;

  void ReadRecord(TStreamRecord& rec) {
    EnterNesting();
    if ((PeekByte() & 0xF0) == 0xF0) {
      rec.flags = ReadByte() & 0x0F;
      if (rec.flags & 0x02) rec.position = ReadInteger();
    }
    rec.className = ReadStr();
    rec.name = ReadStr();
    rec.headerRead = true;
    ReadEntries(rec.entries);
    while (!EndOfList()) {
      rec.children.emplace_back();
      ReadRecord(rec.children.back());
    }
    ReadByte();
    rec.complete = true;
    LeaveNesting();
  }

 private:
  void ReadEntries(std::vector<TStreamEntry>& entries) {
    while (!EndOfList()) {
      entries.emplace_back();
      entries.back().name = ReadStr();
      ReadAnyValue(entries.back().value);
    }
    ReadByte();
  }

  template <class T>
  T Get() {
    std::uint8_t b[sizeof(T)];
    Read(b, sizeof b);
    std::make_unsigned_t<T> u = 0;
    for (std::size_t i = 0; i < sizeof(T); ++i)
      u = static_cast<decltype(u)>(u | (static_cast<decltype(u)>(b[i]) << (8 * i)));
    return static_cast<T>(u);
  }

  void ReadAnyValue(TStreamValue& v) {
    ReadValueOnly(v);
    v.complete = true;
  }

  void ReadValueOnly(TStreamValue& v) {
    v.type = NextValue();
    switch (v.type) {
      case TValueType::Null:
      case TValueType::False:
      case TValueType::True:
      case TValueType::Nil:
      case TValueType::Ident:
        v.text = ReadIdent();
        return;
      case TValueType::List:
        ReadByte();
        EnterNesting();
        while (!EndOfList()) {
          v.list.emplace_back();
          ReadAnyValue(v.list.back());
        }
        ReadByte();
        LeaveNesting();
        return;
      case TValueType::Int8:
      case TValueType::Int16:
      case TValueType::Int32:
      case TValueType::Int64:
        v.integer = ReadInt64();
        return;
      case TValueType::Extended:
      case TValueType::Double:
        v.real = ReadFloat();
        return;
      case TValueType::Single: {
        ReadByte();
        const auto bits = Get<std::uint32_t>();
        float f;
        std::memcpy(&f, &bits, sizeof f);
        v.real = f;
        return;
      }
      case TValueType::Date: {
        ReadByte();
        const auto bits = Get<std::uint64_t>();
        std::memcpy(&v.real, &bits, sizeof v.real);
        return;
      }
      case TValueType::Currency:
        ReadByte();
        v.integer = Get<std::int64_t>();
        return;
      case TValueType::String:
      case TValueType::LString:
        v.text = platform::AnsiToUtf8(ReadString());
        return;
      case TValueType::WString: {
        ReadByte();
        const std::uint32_t n = Get<std::uint32_t>();
        const std::string bytes = ReadBytes(std::uint64_t{n} * 2);
        std::u16string wide(n, u'\0');
        for (std::size_t i = 0; i < wide.size(); ++i)
          wide[i] = static_cast<char16_t>(static_cast<std::uint8_t>(bytes[2 * i]) |
                                          (static_cast<std::uint8_t>(bytes[2 * i + 1]) << 8));
        v.text = platform::Utf16ToUtf8(wide);
        return;
      }
      case TValueType::Utf8String: {
        ReadByte();
        // Malformed sequences show as U+FFFD.
        v.text = platform::Utf16ToUtf8(platform::Utf8ToUtf16(ReadBytes(Get<std::uint32_t>())));
        return;
      }
      case TValueType::Binary:
        v.text = ReadBinary();
        return;
      case TValueType::Set:
        ReadByte();
        while (true) {
          std::string m = ReadStr();
          if (m.empty()) break;
          v.members.push_back(std::move(m));
        }
        return;
      case TValueType::Collection:
        ReadByte();
        EnterNesting();
        while (!EndOfList()) {
          v.items.emplace_back();
          TStreamItem& item = v.items.back();
          const TValueType t = NextValue();
          if (t == TValueType::Int8 || t == TValueType::Int16 || t == TValueType::Int32) {
            item.hasNumber = true;
            item.number = ReadInteger();
          }
          if (ReadValue() != TValueType::List) ThrowInvalidPropertyValue();
          ReadEntries(item.entries);
          item.complete = true;
        }
        ReadByte();
        LeaveNesting();
        return;
    }
    ThrowInvalidPropertyValue();
  }
};

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

class TTreeFormatter {
 public:
  std::string out;

  void Record(const TStreamRecord& rec, int depth) {
    if (!rec.headerRead) return;
    const char* word = (rec.flags & 0x01) ? "inherited" : (rec.flags & 0x04) ? "inline" : "object";
    Line(depth, Format("%s %s: %s", word, rec.name.c_str(), rec.className.c_str()) +
                    ((rec.flags & 0x02) ? " [" + IntToStr(rec.position) + "]" : std::string()));
    Entries(rec.entries, depth + 1);
    for (const auto& child : rec.children)
      Record(child, depth + 1);
    if (rec.complete) Line(depth, "end");
  }

 private:
  void Line(int depth, const std::string& text) {
    out.append(static_cast<std::size_t>(depth) * 2, ' ');
    out += text;
    out += '\n';
  }

  void Entries(const std::vector<TStreamEntry>& entries, int depth) {
    for (const auto& e : entries)
      Value(e.name + " = ", e.value, depth);
  }

  // Writes a value that starts a line with `lead`.
  void Value(const std::string& lead, const TStreamValue& v, int depth) {
    switch (v.type) {
      case TValueType::List:
        if (v.list.empty() && v.complete) {
          Line(depth, lead + "()");
          return;
        }
        Line(depth, lead + "(");
        for (const auto& x : v.list)
          Value("", x, depth + 1);
        if (v.complete) Line(depth, ")");
        return;
      case TValueType::Collection:
        if (v.items.empty() && v.complete) {
          Line(depth, lead + "<>");
          return;
        }
        Line(depth, lead + "<");
        for (const auto& item : v.items) {
          Line(depth + 1, item.hasNumber ? "item [" + IntToStr(item.number) + "]" : "item");
          Entries(item.entries, depth + 2);
          if (item.complete) Line(depth + 1, "end");
        }
        if (v.complete) Line(depth, ">");
        return;
      default:
        if (v.complete) Line(depth, lead + Scalar(v));
    }
  }

  static std::string Scalar(const TStreamValue& v) {
    switch (v.type) {
      case TValueType::Null:
      case TValueType::False:
      case TValueType::True:
      case TValueType::Nil:
      case TValueType::Ident:
        return v.text;
      case TValueType::Int8:
      case TValueType::Int16:
      case TValueType::Int32:
      case TValueType::Int64:
        return IntToStr(v.integer);
      case TValueType::Extended:
      case TValueType::Single:
      case TValueType::Date:
      case TValueType::Double:
        return FormatReal(v.real);
      case TValueType::Currency: {
        const std::uint64_t mag = v.integer < 0 ? 0 - static_cast<std::uint64_t>(v.integer)
                                                : static_cast<std::uint64_t>(v.integer);
        return Format("%s%llu.%04llu", v.integer < 0 ? "-" : "",
                      static_cast<unsigned long long>(mag / 10000),
                      static_cast<unsigned long long>(mag % 10000));
      }
      case TValueType::String:
      case TValueType::LString:
      case TValueType::WString:
      case TValueType::Utf8String:
        return Quote(v.text);
      case TValueType::Binary: {
        std::string hex = "{";
        for (char c : v.text)
          hex += Format("%02X", static_cast<unsigned char>(c));
        return hex + "}";
      }
      case TValueType::Set: {
        std::string s = "[";
        for (std::size_t i = 0; i < v.members.size(); ++i)
          s += (i ? ", " : "") + v.members[i];
        return s + "]";
      }
      default:
        return "?";
    }
  }
};

}  // namespace

void ReadStreamTree(TStream& stream, TStreamRecord& root) {
  TTreeReader reader(stream);
  char sig[4];
  reader.Read(sig, sizeof sig);
  if (std::string_view(sig, 4) != "TPF0") throw EReadError(kInvalidStreamFormat);
  reader.ReadRecord(root);
}

std::string FormatStreamTree(const TStreamRecord& root) {
  TTreeFormatter f;
  f.Record(root, 0);
  return std::move(f.out);
}

}  // namespace qv
