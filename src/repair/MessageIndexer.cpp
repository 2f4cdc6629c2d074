#include "repair/MessageIndexer.h"

#include <algorithm>

#include "base/StringUtils.h"

namespace qv {

namespace {
// A number as "%0*d" writes it, for a number of at least 0.
void AppendPadded(std::string& out, int value, int width) {
  char digits[16];
  int n = 0;
  do {
    digits[n++] = static_cast<char>('0' + value % 10);
    value /= 10;
  } while (value > 0);
  for (int i = n; i < width; ++i)
    out += '0';
  while (n > 0)
    out += digits[--n];
}
}  // namespace

std::string FormatSeparatorDate(TDateTime d, const platform::LocaleNames& names) {
  const DateParts date = DecodeDate(d);
  const TimeParts time = DecodeTime(d);
  const auto& day = names.shortDayNames[static_cast<std::size_t>(DayOfWeek(d) - 1)];
  const auto& month = names.shortMonthNames[static_cast<std::size_t>(date.month - 1)];
  if (date.year < 0 || date.day < 0 || time.hour < 0 || time.min < 0 || time.sec < 0)
    return day + " " + month + " " +
           Format("%02d %02d:%02d:%02d %04d", date.day, time.hour, time.min, time.sec, date.year);
  // Written for every message: without the formatting machinery of Format.
  std::string text;
  text.reserve(day.size() + month.size() + 22);
  text += day;
  text += ' ';
  text += month;
  text += ' ';
  AppendPadded(text, date.day, 2);
  text += ' ';
  AppendPadded(text, time.hour, 2);
  text += ':';
  AppendPadded(text, time.min, 2);
  text += ':';
  AppendPadded(text, time.sec, 2);
  text += ' ';
  AppendPadded(text, date.year, 4);
  return text;
}

std::string ExtractAngleAddress(std::string_view text) {
  const std::size_t lt = text.find('<');
  if (lt == std::string_view::npos) return std::string(text);
  const std::size_t gt = text.find('>');
  if (gt == std::string_view::npos) return std::string(text);
  if (gt <= lt) return "";
  return Trim(text.substr(lt + 1, gt - lt - 1));
}

std::string AccountForRecipients(const TAccounts& accounts, std::string_view recipients) {
  if (accounts.Count() == 0) return kDefaultAccount;
  std::string result = accounts.ItemAt(0).Account();
  const std::size_t at = recipients.find('@');
  const std::size_t comma = recipients.find(',');
  const std::size_t start = at == std::string_view::npos ? 0 : at + 1;
  const std::size_t end = comma == std::string_view::npos ? recipients.size() : comma;
  const std::string_view domain =
      end > start ? recipients.substr(start, end - start) : std::string_view();
  if (domain.empty()) return result;
  for (int i = 0; i < accounts.Count(); ++i) {
    const TAccount& account = accounts.ItemAt(i);
    if (LowerCase(account.Server()).find(domain) != std::string::npos) result = account.Account();
  }
  return result;
}

void MessageIndexer::Index(std::span<const std::string_view> lines) {
  // The message is read for its entry only: header fields and the classes of its parts.
  message_.LoadOutline(lines);

  // A stray CR of the sender's field stays out of the separator: a separator line holds none
  // inside, so it would not read back as one.
  std::string address = ExtractAngleAddress(message_.From());
  std::erase(address, '\r');
  const std::string separator =
      "From " + address + " " + FormatSeparatorDate(clock_.Now(), platform::EnglishNames());
  // An empty message gets the empty line alone, so that it reads back as the same block.
  const std::string_view ending = lines.empty() ? "\r\n" : lines.back().empty() ? "" : "\r\n\r\n";

  bool hasAttachment = false;
  if (message_.IsMultipart()) {
    const TclMessageBodies& bodies = message_.Bodies();
    for (int i = 0; i < bodies.Count(); ++i)
      if (dynamic_cast<const TclAttachmentBody*>(&bodies.Items(i)) != nullptr) hasAttachment = true;
  }
  const std::string recipients = message_.ToList().CommaText();
  std::string sender = message_.From();
  std::erase(sender, '"');

  TMailMessageItem entry;
  entry.SetFolderKey(kInboxKey);
  entry.SetMessageId(message_.MessageID());
  entry.SetRead(false);
  entry.SetPriority(message_.Priority() == mpHigh ? 2 : -1);
  entry.SetHasAttachment(hasAttachment);
  entry.SetFlag5(false);
  entry.SetAccount(AccountForRecipients(accounts_, recipients));
  entry.SetSender(sender);
  entry.SetRecipients(recipients);
  entry.SetSubject(message_.Subject());
  entry.SetDate(message_.Date());
  entry.SetReceivedDate(message_.Date());
  entry.SetNumber13(0);
  entry.SetText14("");

  const BlockPlace place = sink_.Put({entries_.Count(), separator, lines, ending}, entry);
  entry.SetOffset(place.offset);
  entry.SetBlockSize(place.size);
  entries_.Add(entry);
}

}  // namespace qv
