// JSON output of the commands.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "base/StringList.h"
#include "base/StringUtils.h"
#include "platform/CodePage.h"

namespace qv::cli {

// Writes JSON with two blanks of indentation per level. Texts are ANSI bytes, written as UTF-8.
class JsonWriter {
 public:
  std::string Take() { return std::move(out_) + "\n"; }

  void BeginObject(std::string_view key = {}) { Open(key, '{'); }
  void EndObject() { Close('}'); }
  void BeginArray(std::string_view key = {}) { Open(key, '['); }
  void EndArray() { Close(']'); }

  void String(std::string_view key, std::string_view ansi) {
    Key(key);
    Quoted(platform::AnsiToUtf8(ansi));
  }
  void String(std::string_view ansi) { String({}, ansi); }
  // A text that is UTF-8 already (a file name of the system).
  void Text(std::string_view key, std::string_view utf8) {
    Key(key);
    Quoted(utf8);
  }
  void Raw(std::string_view key, std::string_view json) {
    Key(key);
    out_ += json;
  }
  void Bool(std::string_view key, bool v) { Raw(key, v ? "true" : "false"); }
  void Number(std::string_view key, double v) { Raw(key, Format("%.17g", v)); }
  void Integer(std::string_view key, std::int64_t v) { Raw(key, std::to_string(v)); }
  void List(std::string_view key, const TStringList& list) {
    BeginArray(key);
    for (const auto& item : list)
      String(item.text);
    EndArray();
  }

 private:
  void Key(std::string_view key) {
    if (!first_) out_ += ',';
    first_ = false;
    if (depth_ > 0) {
      out_ += '\n';
      out_.append(static_cast<std::size_t>(depth_) * 2, ' ');
    }
    if (!key.empty()) {
      Quoted(key);
      out_ += ": ";
    }
  }
  void Open(std::string_view key, char bracket) {
    Key(key);
    out_ += bracket;
    ++depth_;
    first_ = true;
  }
  void Close(char bracket) {
    --depth_;
    if (!first_) {
      out_ += '\n';
      out_.append(static_cast<std::size_t>(depth_) * 2, ' ');
    }
    out_ += bracket;
    first_ = false;
  }
  void Quoted(std::string_view utf8) {
    out_ += '"';
    for (char c : utf8) {
      const auto b = static_cast<unsigned char>(c);
      switch (c) {
        case '"':
          out_ += "\\\"";
          break;
        case '\\':
          out_ += "\\\\";
          break;
        case '\n':
          out_ += "\\n";
          break;
        case '\r':
          out_ += "\\r";
          break;
        case '\t':
          out_ += "\\t";
          break;
        default:
          if (b < 0x20)
            out_ += Format("\\u%04x", b);
          else
            out_ += c;
      }
    }
    out_ += '"';
  }

  std::string out_;
  int depth_ = 0;
  bool first_ = true;
};

}  // namespace qv::cli
