// One message through LoadMessage and LoadOutline, split into lines as the store scan splits a
// store; the header routines on their own.
#include <cmath>
#include <vector>

#include "FuzzTargets.h"
#include "base/Errors.h"
#include "base/Stream.h"
#include "base/StringList.h"
#include "codec/clMailHeader.h"
#include "components/ComponentStream.h"
#include "mime/MimeTestUtil.h"
#include "mime/clMailMessage.h"
#include "repair/StoreReader.h"
#include "support/FixedClock.h"

namespace qv::fuzz {

namespace {

TDateTime Now() {
  return EncodeDateTime(2026, 12, 8, 14, 23, 50);
}

std::string Write(TComponent& c) {
  TMemoryStream out;
  WriteComponentStream(out, c);
  return out.TakeData();
}

// Up to the first LF, and the rest after it.
std::pair<std::string_view, std::string_view> FirstLine(std::string_view input) {
  const std::size_t lf = input.find('\n');
  if (lf == std::string_view::npos) return {input, {}};
  return {input.substr(0, lf), input.substr(lf + 1)};
}

}  // namespace

void FuzzLoadMessage(std::string_view input) {
  TStringList lines;
  TViewStream in(input);
  StoreReader reader(in, 4096);  // the lines do not depend on the block size
  std::string_view line;
  while (reader.ReadLine(line))
    lines.Add(std::string(line));
  std::vector<std::string_view> views;
  for (const auto& item : lines)
    views.push_back(item.text);

  test::FixedClock clock(Now());
  TclMailMessage message(nullptr, clock);
  try {
    message.LoadMessage(lines);
  } catch (const Exception& e) {
    Broken(std::string("a message failed to load: ") + e.what());
  }
  // What the indexing step asks of it.
  Check(std::isfinite(message.Date()), "the message date is not a number");
  (void)message.ToList().CommaText();
  (void)message.IsMultipart();
  for (int i = 0; i < message.Bodies().Count(); ++i)
    (void)message.Bodies().Items(i).ContentType();

  // The outline the repair indexes with says what the whole parse says of envelope and parts.
  TclMailMessage outline(nullptr, clock);
  try {
    outline.LoadOutline(views);
  } catch (const Exception& e) {
    Broken(std::string("a message's outline failed to load: ") + e.what());
  }
  Check(test::OutlineSummary(outline) == test::OutlineSummary(message),
        "the outline of a message differs from its parse");

  // The parsed message in a component stream reads back, and what it reads back as is stored
  // the same way again. (An empty string property is not stored, so a value cleared by the parse
  // comes back as the constructor's default: the first rewrite may differ, the second may not.)
  const std::string first = Write(message);
  std::string stored = first;
  for (int pass = 0; pass < 2; ++pass) {
    TclMailMessage copy(nullptr, clock);
    TMemoryStream again(stored);
    try {
      ReadComponentStream(again, copy);
    } catch (const Exception& e) {
      Broken(std::string("a stored message does not read back: ") + e.what());
    }
    const std::string rewritten = Write(copy);
    if (pass == 1) Check(rewritten == stored, "a stored message reads back differently");
    stored = rewritten;
  }
}

void FuzzHeaderText(std::string_view input) {
  // The first line names the charset, the rest is the header text.
  const auto [charset, text] = FirstLine(input);
  if (charset.size() > 64) return;
  (void)DecodeHeaderText(text, charset);
  (void)DecodeMailAddress(text, charset);
  std::string name, address;
  (void)ParseMailAddress(text, name, address);
  (void)FormatMailAddress(name, address);
}

void FuzzMailDate(std::string_view input) {
  test::FixedClock clock(Now());
  try {
    Check(std::isfinite(ParseMailDate(clock, input)), "a mail date is not a number");
  } catch (const EConvertError&) {
  }
  try {
    Check(std::isfinite(ParseMailTime(input)), "a mail time is not a number");
  } catch (const EConvertError&) {
  }
}

}  // namespace qv::fuzz
