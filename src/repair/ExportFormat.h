// The forms an export gives folders and messages: folder names as parts of paths (a Maildir++
// level takes its IMAP name), a message's file name in a Maildir, and a message's lines as an
// mboxrd file holds them. Pure functions: the writers (ExportWriter.h) put them on the disk.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "base/DateTime.h"
#include "platform/Platform.h"

namespace qv {

// A folder's name (UTF-8) as one part of a path that both Windows and POSIX take: every character
// that a file name may not hold on either ("/", "\", ":", "*", "?", "\"", "<", ">", "|", control
// characters) and a "." at either end replaced by "_", blanks at both ends dropped, a Windows
// device name ("CON", "LPT1.txt") given a "_", cut to at most kMaxNamePart bytes at a character's
// end; "_" for a name that is left empty.
std::string PortableName(std::string_view utf8);
inline constexpr std::size_t kMaxNamePart = 200;

// IMAP's modified UTF-7 of a UTF-8 text (RFC 3501 5.1.3): printable ASCII as it is but "&" as
// "&-", every other character in UTF-16 as "&" + Base64 (with "," for "/") + "-".
std::string ModifiedUtf7(std::string_view utf8);

// One level of a Maildir++ folder's name (".A.B" for B below A): the portable name with "." also
// replaced (it would open a level of its own), in modified UTF-7, as IMAP servers keep names.
// At most `maxBytes` long: the name is cut at a character's end until it fits ("" when not even
// one character does).
std::string MaildirLevelName(std::string_view utf8, std::size_t maxBytes = 255);

// A message's file name in a Maildir: "<run>.<number, ten digits>.qvrepair", unique by its number
// and sorted by names in store order. In cur/ it ends with its flags after the info separator:
// ":2," and "S" when it was read (`colon` false: "!", for systems whose names may not hold ":").
std::string MaildirBaseName(std::int64_t runTime, std::size_t number);
std::string MaildirFlags(bool read, bool colon);

// A date value of the clock's local time as the UTC date that the clock gives as it (the earlier
// one in the hour that a change to winter time repeats).
TDateTime LocalToUtc(platform::Clock& clock, TDateTime local);

// The line that opens a message in an mbox file: "From <address> <UTC date in asctime form>"; the
// address is MAILER-DAEMON unless it is one word of printable ASCII, the date `now` unless the
// message's date lies in the years 1970 to 9999.
std::string MboxFromLine(std::string_view address, TDateTime utc, TDateTime now);

// Whether a line is one that mboxrd quotes with one more ">": ">" any number of times, then
// "From ".
bool IsMboxFromLine(std::string_view line) noexcept;
// Whether a header line opens a "Status" or "X-Status" field (any case, blanks before the colon).
bool IsStatusField(std::string_view line) noexcept;
inline std::string_view MboxStatusLine(bool read) noexcept {
  return read ? "Status: RO" : "Status: O";
}

// A message's lines (without the separator) as an mboxrd file holds them after its From_ line,
// each handed to `put(quoted, line)` (quoted: one more ">" goes before it): first the Status line
// of `read` (readers take the first Status field, and a header that a reader takes to end early at
// a malformed line still shows it), then the lines, every one that IsMboxFromLine quoted, less the
// Status and X-Status fields (with their folded lines) of the header, which ends at the first empty
// line; last an empty line unless the last line is one already.
template <class Put>
void ForEachMboxLine(std::span<const std::string_view> lines, bool read, Put&& put) {
  put(false, MboxStatusLine(read));
  bool header = true, dropping = false, endsEmpty = false;
  for (const std::string_view line : lines) {
    if (header) {
      if (line.empty()) {
        header = false;
      } else if (dropping && (line[0] == ' ' || line[0] == '\t')) {
        continue;  // folded into a field that goes
      } else if ((dropping = IsStatusField(line))) {
        continue;
      }
    }
    put(IsMboxFromLine(line), line);
    endsEmpty = line.empty();
  }
  if (!endsEmpty) put(false, std::string_view());
}

}  // namespace qv
