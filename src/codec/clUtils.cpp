#include "codec/clUtils.h"

#include <algorithm>
#include <vector>

#include "base/StringUtils.h"

namespace qv {

namespace {

constexpr std::size_t kMaxValueChars = 1000;

bool IsContinuation(std::string_view line) noexcept {
  return !line.empty() && (line[0] == '\t' || line[0] == ' ');
}

bool IsQuote(char c) noexcept {
  return c == '"' || c == '\'';
}

// Runs EndUpdate even when an operation inside the bracket fails.
class UpdateBracket {
 public:
  explicit UpdateBracket(TStringList& list) : list_(list) { list_.BeginUpdate(); }
  ~UpdateBracket() { list_.EndUpdate(); }
  UpdateBracket(const UpdateBracket&) = delete;
  UpdateBracket& operator=(const UpdateBracket&) = delete;

 private:
  TStringList& list_;
};

template <typename Strings>
int IndexOfText(std::string_view text, const Strings& array) noexcept {
  for (std::size_t i = 0; i < array.size(); ++i)
    if (SameText(array[i], text)) return static_cast<int>(i);
  return -1;
}

void AddListField(TStringList& lines, std::span<const std::string> items, std::string_view name,
                  std::string_view separator) {
  if (items.empty()) return;
  std::string first = items[0];
  if (items.size() > 1) first += separator;
  AddHeaderField(lines, name, first);
  for (std::size_t i = 1; i < items.size(); ++i) {
    std::string line = "\t" + items[i];
    if (i + 1 < items.size()) line += separator;
    lines.Add(std::move(line));
  }
}

// The header routines work alike on a string list and on a list of views.
int LineCount(const TStringList& lines) noexcept {
  return lines.Count();
}
int LineCount(std::span<const std::string_view> lines) noexcept {
  return static_cast<int>(lines.size());
}
std::string_view LineAt(const TStringList& lines, int i) noexcept {
  return lines[i];
}
std::string_view LineAt(std::span<const std::string_view> lines, int i) noexcept {
  return lines[static_cast<std::size_t>(i)];
}

template <class Lines>
int IndexFields(int startLine, const Lines& lines, TStringList& fieldList) {
  int i = std::max(startLine, 0);
  const int count = LineCount(lines);
  for (; i < count; ++i) {
    const std::string_view line = LineAt(lines, i);
    if (line.empty()) break;
    if (IsContinuation(line)) continue;
    const std::size_t colon = line.find(':');
    if (colon != std::string::npos) fieldList.AddObject(LowerCase(line.substr(0, colon)), i);
  }
  return i;
}

template <class Lines>
std::string FieldValueAt(const Lines& lines, const TStringList& fieldList, int index) {
  if (index < 0 || index >= fieldList.Count()) return "";
  const auto lineNo = static_cast<int>(fieldList.Objects(index));
  const int count = LineCount(lines);
  if (lineNo < 0 || lineNo >= count) return "";
  // The value begins right after the name and its colon.
  const std::size_t skip = fieldList[index].size() + 1;
  const std::string_view first = LineAt(lines, lineNo);
  std::string value =
      skip < first.size() ? TrimLeft(first.substr(skip, kMaxValueChars)) : std::string();
  for (int n = lineNo + 1; n < count && IsContinuation(LineAt(lines, n)); ++n)
    value += TrimView(LineAt(lines, n));
  return value;
}

}  // namespace

int IndexHeaderFields(int startLine, const TStringList& lines, TStringList& fieldList) {
  return IndexFields(startLine, lines, fieldList);
}

int IndexHeaderFields(int startLine, std::span<const std::string_view> lines,
                      TStringList& fieldList) {
  return IndexFields(startLine, lines, fieldList);
}

// The index holds lower-cased names and IndexOf ignores ASCII case, so the name is looked up as
// it is given.
std::string GetHeaderFieldValue(const TStringList& lines, const TStringList& fieldList,
                                std::string_view name) {
  return FieldValueAt(lines, fieldList, fieldList.IndexOf(name));
}

std::string GetHeaderFieldValue(std::span<const std::string_view> lines,
                                const TStringList& fieldList, std::string_view name) {
  return FieldValueAt(lines, fieldList, fieldList.IndexOf(name));
}

std::string GetHeaderFieldValueAt(const TStringList& lines, const TStringList& fieldList,
                                  int index) {
  return FieldValueAt(lines, fieldList, index);
}

std::string GetHeaderFieldValueAt(std::span<const std::string_view> lines,
                                  const TStringList& fieldList, int index) {
  return FieldValueAt(lines, fieldList, index);
}

std::string GetHeaderParamRaw(std::string_view value, std::string_view paramName) {
  std::size_t start;
  if (paramName.empty()) {
    if (value.empty()) return "";
    start = 0;
  } else {
    start = LowerCase(value).find(paramName);
    if (start == std::string::npos) return "";
    start += paramName.size();
  }
  const std::string_view text = value.substr(std::min(start, value.size()), kMaxValueChars);
  char quote = 0;
  bool quoted = false;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (quote == 0 && IsQuote(c)) {
      quote = c;
      quoted = true;
    } else if (quote != 0 && c == quote) {
      quoted = !quoted;
    } else if (!quoted && (c == ',' || c == ';')) {
      return std::string(text.substr(0, i));
    }
  }
  return std::string(text);
}

std::string GetHeaderParam(std::string_view value, std::string_view paramName) {
  std::string result = Trim(GetHeaderParamRaw(value, paramName));
  if (!result.empty() && IsQuote(result.front()) && IsQuote(result.back()))
    result = result.size() >= 2 ? result.substr(1, result.size() - 2) : std::string();
  return result;
}

bool AppendTextLines(TStringList& lines, std::string_view text, bool joinFirst) {
  UpdateBracket bracket(lines);
  if (text.empty()) return false;
  const std::size_t n = text.size();
  std::size_t i = 0;
  bool first = true;
  while (i < n && text[i] != '\0') {
    std::size_t j = i;
    while (j < n && text[j] != '\r' && text[j] != '\n' && text[j] != '\0')
      ++j;
    const std::string_view piece = text.substr(i, j - i);
    if (first && joinFirst && !lines.Empty()) {
      const int last = lines.Count() - 1;
      std::string joined = lines[last];
      joined += piece;
      lines.SetString(last, std::move(joined));
    } else {
      lines.Add(std::string(piece));
    }
    first = false;
    if (j < n && text[j] == '\r') ++j;
    if (j < n && text[j] == '\n') ++j;
    i = j;
  }
  return n >= 2 && text[n - 2] != '\r' && text[n - 1] != '\n';
}

void AddHeaderField(TStringList& lines, std::string_view name, std::string_view value) {
  if (value.empty()) return;
  std::string folded;
  folded.reserve(value.size() + 16);
  for (std::size_t i = 0; i < value.size(); ++i) {
    folded += value[i];
    if (value[i] == '\r' && i + 1 < value.size() && value[i + 1] == '\n') {
      folded += "\n\t";
      ++i;
    }
  }
  if (!folded.empty() && folded.back() == '\t') folded.pop_back();
  std::string field(name);
  field += ": ";
  field += folded;
  AppendTextLines(lines, field, false);
}

void AddHeaderListField(TStringList& lines, const TStringList& items, std::string_view name,
                        std::string_view separator) {
  std::vector<std::string> texts;
  texts.reserve(static_cast<std::size_t>(items.Count()));
  for (const auto& item : items)
    texts.push_back(item.text);
  AddListField(lines, texts, name, separator);
}

void AddHeaderArrayField(TStringList& lines, std::span<const std::string> items,
                         std::string_view separator, std::string_view name) {
  AddListField(lines, items, name, separator);
}

std::string QuoteDisplayName(std::string_view name) {
  static constexpr TCharSet kSpecials("\"()\\");
  std::string result;
  if (CountCharsInSet(name, kSpecials) > 0) {
    result.reserve(name.size() + 8);
    result += '"';
    for (char c : name) {
      if (kSpecials.Contains(c)) result += '\\';
      result += c;
    }
    result += '"';
  } else {
    result = name;
  }
  if (result.find(' ') != std::string::npos && result.front() != '"' && result.back() != '"')
    result = '"' + result + '"';
  return result;
}

std::string UnquoteDisplayName(std::string_view text) {
  std::string result;
  result.reserve(text.size());
  bool escaped = false;
  for (char c : text) {
    if (escaped) {
      result += c;
      escaped = false;
    } else if (c == '\\') {
      escaped = true;
    } else if (c == '"') {
      result += ' ';
    } else {
      result += c;
    }
  }
  return result;
}

int CountCharsInSet(std::string_view text, const TCharSet& set) noexcept {
  return static_cast<int>(
      std::count_if(text.begin(), text.end(), [&](char c) { return set.Contains(c); }));
}

int PosFrom(std::string_view sub, std::string_view text, int start) noexcept {
  if (start <= 0 || static_cast<std::size_t>(start) > text.size() || sub.empty()) return 0;
  const std::size_t p = text.find(sub, static_cast<std::size_t>(start - 1));
  return p == std::string_view::npos ? 0 : static_cast<int>(p) + 1;
}

int LastPosText(std::string_view sub, std::string_view text, int start) noexcept {
  if (sub.empty()) return 0;
  const auto len = static_cast<std::int64_t>(text.size());
  const auto subLen = static_cast<std::int64_t>(sub.size());
  std::int64_t f = start == -1 ? len : start;
  f = std::min(f, len - subLen + 1);
  for (; f >= 1; --f)
    if (SameText(text.substr(static_cast<std::size_t>(f - 1), sub.size()), sub))
      return static_cast<int>(f);
  return 0;
}

int WordStart(int n, std::string_view text, const TCharSet& delimiters) noexcept {
  if (n <= 0) return 0;
  int count = 0;
  std::size_t i = 0;
  while (i < text.size()) {
    while (i < text.size() && delimiters.Contains(text[i]))
      ++i;
    if (i == text.size()) break;
    if (++count == n) return static_cast<int>(i) + 1;
    while (i < text.size() && !delimiters.Contains(text[i]))
      ++i;
  }
  return 0;
}

std::string ExtractWordAt(int n, std::string_view text, const TCharSet& delimiters) {
  const int start = WordStart(n, text, delimiters);
  if (start == 0) return "";
  std::size_t end = static_cast<std::size_t>(start - 1);
  while (end < text.size() && !delimiters.Contains(text[end]))
    ++end;
  return std::string(text.substr(static_cast<std::size_t>(start - 1), end - (start - 1)));
}

int IndexOfTextInArray(std::string_view text, std::span<const std::string_view> array) noexcept {
  return IndexOfText(text, array);
}

int IndexOfTextInArray(std::string_view text, std::span<const std::string> array) noexcept {
  return IndexOfText(text, array);
}

int IndexOfTextInList(const TStringList& list, std::string_view text) noexcept {
  return list.IndexOf(text);
}

TDateTime TimeZoneOffset(std::string_view zone) {
  if (zone.size() != 5 || (zone[0] != '+' && zone[0] != '-')) return 0;
  int hours = StrToInt(zone.substr(1, 2));
  int minutes = StrToInt(zone.substr(3, 2));
  if (hours > 23) hours = 0;
  if (minutes > 59) minutes = 0;
  const double offset = hours / 24.0 + minutes / 1440.0;
  return zone[0] == '-' ? -offset : offset;
}

TDateTime UtcToLocalTime(platform::Clock& clock, TDateTime utc) {
  return clock.UtcToLocal(utc);
}

}  // namespace qv
