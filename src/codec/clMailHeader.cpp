#include "codec/clMailHeader.h"

#include <algorithm>

#include "base/StringList.h"
#include "base/StringUtils.h"
#include "codec/clTranslator.h"
#include "codec/clUtils.h"

namespace qv {

namespace {

constexpr std::size_t npos = std::string_view::npos;

// Finds "?=" at or after `from`. Searches start at increasing positions, so a match found
// earlier is still the first one for any later start up to it: the text is scanned once.
class CloseFinder {
 public:
  explicit CloseFinder(std::string_view text) : text_(text) {}
  std::size_t Find(std::size_t from) {
    if (!valid_ || (found_ != npos && found_ < from)) {
      found_ = text_.find("?=", from);
      valid_ = true;
    }
    return found_;
  }

 private:
  std::string_view text_;
  std::size_t found_ = npos;
  bool valid_ = false;
};

// Quoted-printable text as the payload of a "Q" word: a space is written as "_"; an underscore
// or question mark of the text is escaped, since a reader would take the one for a space and the
// other for the end of the word.
std::string ToQWordText(std::string_view encoded) {
  std::string result;
  result.reserve(encoded.size() + 8);
  for (char c : encoded) {
    switch (c) {
      case ' ':
        result += '_';
        break;
      case '_':
        result += "=5F";
        break;
      case '?':
        result += "=3F";
        break;
      default:
        result += c;
    }
  }
  return result;
}

}  // namespace

TclEncodeMethod TransferEncodingToMethod(std::string_view value) {
  const std::string lower = LowerCase(value);
  if (lower == TransferEncodingNames[cmMIMEQuotedPrintable]) return cmMIMEQuotedPrintable;
  if (lower == TransferEncodingNames[cmMIMEBase64]) return cmMIMEBase64;
  return cmNone;
}

TclEncodeMethod EncodingLetterToMethod(std::string_view letter) noexcept {
  if (letter.empty()) return cmNone;
  switch (AsciiUpperChar(letter[0])) {
    case 'B':
      return cmMIMEBase64;
    case 'Q':
      return cmMIMEQuotedPrintable;
    default:
      return cmNone;
  }
}

std::string DecodeHeaderText(std::string_view text, std::string_view charSet) {
  std::string result;
  bool decodedAny = false;
  bool utf8 = false;
  TclEncoder encoder;
  encoder.SetSuppressCrlf(false);
  CloseFinder closes(text);
  std::size_t rest = 0;  // start of the text not yet handled
  for (;;) {
    const std::size_t open = text.find("=?", rest);
    if (open == npos) break;
    result.append(text.substr(rest, open - rest));
    // "=?" charset "?" letter "?" payload "?="
    const std::size_t q1 = text.find('?', open + 2);
    const std::size_t q2 = q1 == npos ? npos : text.find('?', q1 + 1);
    const std::size_t close = (q2 == npos || q2 != q1 + 2) ? npos : closes.Find(q2 + 1);
    if (close == npos) {
      rest = open;  // malformed: the rest goes in as it is
      break;
    }
    const std::string_view wordCharSet = text.substr(open + 2, q1 - open - 2);
    const std::string_view letter = text.substr(q1 + 1, 1);
    const std::string_view payload = text.substr(q2 + 1, close - q2 - 1);
    try {
      const TclEncodeMethod method = EncodingLetterToMethod(letter);
      if (method == cmNone) throw EclMailMessageError(kWrongEncodingMethod);
      std::string decoded;
      if (method == cmMIMEQuotedPrintable) {
        // "_" stands for a space; an escaped underscore ("=5F") is an underscore.
        std::string q(payload);
        std::replace(q.begin(), q.end(), '_', ' ');
        decoded = encoder.DecodeString(q, method);
      } else {
        decoded = encoder.DecodeString(payload, method);
      }
      if (!utf8 && SameText(wordCharSet, "utf-8")) utf8 = true;
      if (utf8)
        result += decoded;
      else
        result += TclCharSetTranslator::TranslateFromCharSet(wordCharSet, decoded);
      decodedAny = true;
      rest = close + 2;
    } catch (const Exception&) {
      // Not decodable: keep "=?" and read on right after it.
      result += "=?";
      rest = open + 2;
    }
  }
  result.append(text.substr(rest));
  if (!decodedAny && !utf8) return TclCharSetTranslator::TranslateFromCharSet(charSet, text);
  return result;
}

std::string EncodeHeaderText(std::string_view text, std::string_view charSet,
                             TclEncodeMethod encoding, int charsPerLine) {
  if (text.empty()) return "";
  if (encoding == cmUUEncode) return TclCharSetTranslator::TranslateToCharSet(charSet, text);
  TclEncoder encoder;
  encoder.SetCharsPerLine(charsPerLine);
  encoder.SetSuppressCrlf(false);
  const TclEncodeMethod method = TclEncoder::GetPreferredEncoding(text);
  if (method == cmNone || charSet.empty()) return std::string(text);
  std::string encoded =
      encoder.EncodeString(TclCharSetTranslator::TranslateToCharSet(charSet, text), method);
  if (method == cmMIMEQuotedPrintable) encoded = ToQWordText(encoded);
  TStringList lines;
  lines.SetText(encoded);
  const std::string_view letter = EncodedWordLetters[method];
  std::string result;
  for (int i = 0; i < lines.Count(); ++i) {
    if (i > 0) result += "\r\n";
    result += "=?";
    result += charSet;
    result += '?';
    result += letter;
    result += '?';
    result += lines[i];
    result += "?=";
  }
  return result;
}

bool ParseMailAddress(std::string_view text, std::string& name, std::string& address) {
  name = address = std::string(text);
  bool found = false;
  if (const std::size_t lt = text.find('<'); lt != npos) {
    name = Trim(text.substr(0, lt));
    if (const std::size_t gt = text.find('>', lt + 1); gt != npos) {
      address = Trim(text.substr(lt + 1, gt - lt - 1));
      found = true;
    }
  } else if (const std::size_t lp = text.find('('); lp != npos) {
    address = Trim(text.substr(0, lp));
    if (const std::size_t rp = text.find(')', lp + 1); rp != npos) {
      name = Trim(text.substr(lp + 1, rp - lp - 1));
      found = true;
    }
  }
  if (found) {
    name = Trim(UnquoteDisplayName(name));
    if (name.size() > 1 && name.front() == '\'' && name.back() == '\'')
      name = name.substr(1, name.size() - 2);
  }
  return found;
}

std::string FormatMailAddress(std::string_view name, std::string_view address) {
  if (!name.empty() && name != address)
    return QuoteDisplayName(name) + " <" + std::string(address) + ">";
  return std::string(address);
}

std::string DecodeMailAddress(std::string_view text, std::string_view charSet) {
  std::string name, address;
  if (ParseMailAddress(text, name, address))
    return FormatMailAddress(DecodeHeaderText(name, charSet), address);
  return std::string(text);
}

TDateTime ParseMailTime(std::string_view text) {
  std::string s = UpperCase(text);
  const std::size_t pm = s.find("PM");
  const std::size_t am = s.find("AM");
  if (pm != npos) s.resize(pm);
  if (am != npos && am < s.size()) s.resize(am);
  s = Trim(s);
  static constexpr TCharSet kColon(":");
  int hours = StrToIntDef(ExtractWordAt(1, s, kColon), 0);
  const int minutes = StrToIntDef(ExtractWordAt(2, s, kColon), 0);
  const int seconds = StrToIntDef(ExtractWordAt(3, s, kColon), 0);
  if (pm != npos && hours < 12) hours += 12;
  if (am != npos && hours == 12) hours = 0;
  return EncodeTime(hours, minutes, seconds, 0);
}

TDateTime ParseMailDate(platform::Clock& clock, std::string_view text) {
  const TDateTime now = clock.Now();
  const DateParts today = DecodeDate(now);
  int day = 0, month = 0, year = 0;
  TDateTime time = 0;

  std::string s = Trim(text);
  // The weekday, its comma and the character after it.
  if (const std::size_t comma = s.find(','); comma != npos)
    s.erase(0, std::min(comma + 2, s.size()));

  // Takes the word in front of the first space of the trimmed text, if there is a space.
  auto nextWord = [&s](std::string& word) {
    s = Trim(s);
    const std::size_t space = s.find(' ');
    if (space == npos) return false;
    word = s.substr(0, space);
    s.erase(0, space + 1);
    return true;
  };

  std::string word;
  if (nextWord(word)) day = StrToIntDef(word, today.day);
  if (nextWord(word)) month = IndexOfTextInArray(word, MonthShortNames) + 1;
  if (nextWord(word)) {
    year = StrToIntDef(word, today.year);
    if (year < 100) year += year <= 10 ? 2000 : 1900;
  }
  if (nextWord(word)) time = ParseMailTime(word);

  if (year == 0 || month == 0 || day == 0) return now;
  // What is left, untrimmed, is the zone.
  const TDateTime utc = EncodeDate(year, month, day) + time - TimeZoneOffset(s);
  return UtcToLocalTime(clock, utc);
}

}  // namespace qv
