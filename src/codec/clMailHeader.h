// Header text of Internet mail to program values and back: encoded words (with charset
// translation), mail addresses with display names, and message dates. All routines are stateless.
#pragma once

#include <array>
#include <string>
#include <string_view>

#include "base/DateTime.h"
#include "base/Errors.h"
#include "codec/clEncoder.h"
#include "platform/Platform.h"

namespace qv {

class EclMailMessageError : public Exception {
 public:
  using Exception::Exception;
};

inline constexpr const char* kWrongEncodingMethod = "Wrong encoding method in field";

// Indexed by TclEncodeMethod: the Content-Transfer-Encoding value of each method, and the letter
// of an encoded word.
inline constexpr std::array<std::string_view, 5> TransferEncodingNames = {
    "7bit", "quoted-printable", "base64", "", "8bit"};
inline constexpr std::array<std::string_view, 5> EncodedWordLetters = {"", "Q", "B", "", ""};

// "B" (any case) gives cmMIMEBase64, "Q" cmMIMEQuotedPrintable, anything else cmNone; only the
// first character counts.
TclEncodeMethod EncodingLetterToMethod(std::string_view letter) noexcept;

// The method of a Content-Transfer-Encoding value, in any case: cmMIMEQuotedPrintable,
// cmMIMEBase64, or cmNone for any other (7bit, 8bit, binary, unknown).
TclEncodeMethod TransferEncodingToMethod(std::string_view value);

// Decodes the encoded words ("=?charset?B|Q?payload?=") of a header text, translating each from
// its charset ("_" of a "Q" word is a space). Text between words is kept as it is. Once a "utf-8"
// word has been met, decoded words are no longer translated. A text without any decoded word is
// translated from charSet as a whole. Malformed or undecodable words stay as text; this never
// fails.
std::string DecodeHeaderText(std::string_view text, std::string_view charSet);

// Encodes a header text in charSet as encoded words, one per encoded line, joined with CR LF;
// a text that needs no encoding (or an empty charSet) comes back unchanged. A message sent
// uuencoded gets the translated text without encoded words. In "Q" words a space becomes "_",
// and the text's own "_" and "?" are escaped.
std::string EncodeHeaderText(std::string_view text, std::string_view charSet,
                             TclEncodeMethod encoding, int charsPerLine);

// Splits "Name <address>" or "address (Name)" into its display name and address. Returns true
// when the bracketed part was found; both outputs start as the whole text.
bool ParseMailAddress(std::string_view text, std::string& name, std::string& address);
// "Name <address>" with the name quoted as needed, or the bare address when the name is empty or
// equal to the address.
std::string FormatMailAddress(std::string_view name, std::string_view address);
// The address with its display name decoded; a text without a bracketed part comes back as is.
std::string DecodeMailAddress(std::string_view text, std::string_view charSet);

// "hh:mm:ss" with optional AM/PM as a fraction of a day; missing or unreadable parts count as 0.
// An hour of 24 or more, or minutes or seconds of 60 or more, fail with EConvertError.
TDateTime ParseMailTime(std::string_view text);

// An RFC 822 date-time ("Tue, 1 Jun 2004 10:30:00 +0200") as local time. A text without day,
// month or year gives the clock's current local date and time. A date that does not exist, an
// out-of-range time or a numeric zone with non-digits fail with EConvertError.
TDateTime ParseMailDate(platform::Clock& clock, std::string_view text);

}  // namespace qv
