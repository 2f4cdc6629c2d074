// message: how one message parses, as one JSON object on standard output.
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <optional>
#include <string>
#include <string_view>

#include "Commands.h"
#include "Json.h"
#include "base/DateTime.h"
#include "base/Stream.h"
#include "base/StringList.h"
#include "base/StringUtils.h"
#include "mime/clMailMessage.h"
#include "platform/CodePage.h"
#include "platform/SystemPlatform.h"
#include "repair/StoreReader.h"

namespace qv::cli {

namespace {

// Sets the C library's time zone (the TZ variable) for the rest of the run.
void SetZone(const std::string& zone) {
#ifdef _WIN32
  ::_putenv_s("TZ", zone.c_str());
  ::_tzset();
#else
  ::setenv("TZ", zone.c_str(), 1);
  ::tzset();
#endif
}

#ifdef _WIN32
// Local time by the C runtime's reading of TZ ("UTC", "EST5EDT"), which --tz sets: the system's
// clock follows the zone of the Windows settings instead.
TDateTime FromTm(const std::tm& t) {
  TDateTime d = 0, time = 0;
  TryEncodeDate(t.tm_year + 1900, t.tm_mon + 1, t.tm_mday, d);
  TryEncodeTime(t.tm_hour, t.tm_min, t.tm_sec > 59 ? 59 : t.tm_sec, 0, time);
  return d + time;
}

TDateTime RuntimeNow() {
  const __time64_t now = ::_time64(nullptr);
  std::tm t{};
  return ::_localtime64_s(&t, &now) == 0 ? FromTm(t) : 0;
}

TDateTime RuntimeUtcToLocal(TDateTime utc) {
  // As the system's clock does: whole seconds through the zone, rounded to the millisecond first.
  const double secs = std::round((utc - 25569.0) * 86400000.0) / 1000.0;
  if (!std::isfinite(secs) || std::fabs(secs) > 4e11) return utc;
  const auto whole = static_cast<__time64_t>(std::floor(secs));
  std::tm t{};
  if (::_localtime64_s(&t, &whole) != 0) return utc;
  const __time64_t local = ::_mkgmtime64(&t);
  if (local == -1) return utc;
  return IncMilliseconds(utc, static_cast<std::int64_t>(local - whole) * 1000);
}
#endif

// The system's clock, with "now" optionally fixed; with a zone given, local time is that zone's.
class CommandClock : public platform::Clock {
 public:
  CommandClock(std::optional<TDateTime> now, bool zoneGiven) : now_(now), zone_given_(zoneGiven) {}
  TDateTime Now() override {
    if (now_) return *now_;
#ifdef _WIN32
    if (zone_given_) return RuntimeNow();
#endif
    return system_.Now();
  }
  TDateTime UtcToLocal(TDateTime utc) override {
#ifdef _WIN32
    if (zone_given_) return RuntimeUtcToLocal(utc);
#endif
    return system_.UtcToLocal(utc);
  }

 private:
  platform::SystemClock system_;
  std::optional<TDateTime> now_;
  [[maybe_unused]] bool zone_given_;
};

// "YYYY-MM-DDTHH:MM:SS" as a date value; false for anything else or a time that does not exist.
bool ParseNow(const std::string& text, TDateTime& value) {
  if (text.size() != 19 || text[4] != '-' || text[7] != '-' || text[10] != 'T' || text[13] != ':' ||
      text[16] != ':')
    return false;
  auto number = [&text](std::size_t pos, std::size_t len, int& out) {
    out = 0;
    for (std::size_t i = pos; i < pos + len; ++i) {
      if (text[i] < '0' || text[i] > '9') return false;
      out = out * 10 + (text[i] - '0');
    }
    return true;
  };
  int y, mo, d, h, mi, s;
  if (!number(0, 4, y) || !number(5, 2, mo) || !number(8, 2, d) || !number(11, 2, h) ||
      !number(14, 2, mi) || !number(17, 2, s))
    return false;
  TDateTime date, time;
  if (!TryEncodeDate(y, mo, d, date) || !TryEncodeTime(h, mi, s, 0, time)) return false;
  value = date + time;
  return true;
}

// The file's lines as the store scanner reads them: LF or CR LF ends a line, a lone CR is
// dropped.
TStringList ReadMessageLines(const std::string& fileName) {
  TFileStream file(fileName, FileMode::OpenRead);
  StoreReader reader(file);
  TStringList lines;
  std::string_view line;
  while (reader.ReadLine(line))
    lines.Add(std::string(line));
  return lines;
}

// A value of an enumeration as a JSON string of its name in the class tables.
std::string EnumName(const TEnumInfo& info, int value) {
  return "\"" + std::string(info.NameOf(value)) + "\"";
}

void WriteBodies(JsonWriter& json, const TclMessageBodies& bodies) {
  json.BeginArray("Bodies");
  for (int i = 0; i < bodies.Count(); ++i) {
    const TclMessageBody& body = bodies.Items(i);
    json.BeginObject();
    json.String("Class", body.ClassName());
    json.String("ContentType", body.ContentType());
    json.Raw("Encoding", EnumName(kEncodeMethodInfo, body.Encoding()));
    json.String("ContentDisposition", body.ContentDisposition());
    if (auto* text = dynamic_cast<const TclTextBody*>(&body))
      json.String("CharSet", text->CharSet());
    if (auto* att = dynamic_cast<const TclAttachmentBody*>(&body)) {
      json.String("FileName", att->FileName());
      json.String("ContentID", att->ContentID());
    }
    json.List("ExtraFields", body.ExtraFields());
    if (auto* text = dynamic_cast<const TclTextBody*>(&body)) json.List("Strings", text->Strings());
    if (auto* multi = dynamic_cast<const TclMultipartBody*>(&body))
      WriteBodies(json, multi->Bodies());
    json.EndObject();
  }
  json.EndArray();
}

std::string MessageJson(const TclMailMessage& m) {
  JsonWriter json;
  json.BeginObject();
  json.String("From", m.From());
  json.List("ToList", m.ToList());
  json.List("CCList", m.CCList());
  json.List("BCCList", m.BCCList());
  json.String("Subject", m.Subject());
  json.Number("Date", m.Date());
  json.String("MessageID", m.MessageID());
  json.Raw("Priority", EnumName(kMessagePriorityInfo, m.Priority()));
  json.String("ContentType", m.ContentType());
  json.String("ContentSubType", m.ContentSubType());
  json.String("CharSet", m.CharSet());
  json.String("ContentDisposition", m.ContentDisposition());
  json.Raw("MessageFormat", EnumName(kMessageFormatInfo, m.MessageFormat()));
  json.Raw("Encoding", EnumName(kEncodeMethodInfo, m.Encoding()));
  json.String("ReplyTo", m.ReplyTo());
  json.String("ReadReceiptTo", m.ReadReceiptTo());
  json.List("References", m.References());
  json.List("NewsGroups", m.NewsGroups());
  json.List("ExtraFields", m.ExtraFields());
  json.Bool("IsMultipart", m.IsMultipart());
  WriteBodies(json, m.Bodies());
  json.EndObject();
  return json.Take();
}

}  // namespace

int RunMessage(const Args& args) {
  std::string fileName;
  std::optional<TDateTime> now;
  bool zoneGiven = false;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (a == "--now" || a == "--tz") {
      if (i + 1 >= args.size()) return UsageError("message: " + a + " needs a value");
      const std::string& value = args[++i];
      if (a == "--tz") {
        SetZone(value);
        zoneGiven = true;
      } else {
        TDateTime t;
        if (!ParseNow(value, t))
          return UsageError("message: --now wants YYYY-MM-DDTHH:MM:SS, not '" + value + "'");
        now = t;
      }
    } else if (a.starts_with("--") || !fileName.empty()) {
      return UsageError("message: unexpected argument '" + a + "'");
    } else {
      fileName = a;
    }
  }
  if (fileName.empty()) return UsageError("message: FILE is missing");

  const TStringList lines = ReadMessageLines(fileName);
  CommandClock clock(now, zoneGiven);
  TclMailMessage message(nullptr, clock);
  message.LoadMessage(lines);
  const std::string json = MessageJson(message);
  if (std::fwrite(json.data(), 1, json.size(), stdout) != json.size() || std::fflush(stdout) != 0) {
    std::fprintf(stderr, "qvrepair-cli: cannot write standard output\n");
    return 1;
  }
  return 0;
}

}  // namespace qv::cli
