// The store generator: reproducible bytes, separators that the repair's scan recognises and
// lookalikes that it does not, the limits and identifier options, and bounded memory.
#include "generator/StoreGenerator.h"

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "base/Stream.h"
#include "platform/Platform.h"
#include "repair/StoreReader.h"

namespace qv::gen {
namespace {

struct Generated {
  std::string bytes;
  std::vector<MessageInfo> messages;
  StoreSummary summary;
};

Generated Generate(const StoreOptions& options) {
  Generated g;
  g.summary = WriteStore(
      options, [&](std::string_view m) { g.bytes += m; },
      [&](const MessageInfo& info) { g.messages.push_back(info); });
  return g;
}

StoreOptions Options(Mix mix, std::uint64_t size, LineEnds ends = LineEnds::kMixed,
                     std::uint64_t seed = 42) {
  StoreOptions o;
  o.mix = mix;
  o.size = size;
  o.lineEnds = ends;
  o.seed = seed;
  return o;
}

// The separator pattern has no two-digit year, so the clock is never asked.
struct UnusedClock : platform::Clock {
  TDateTime Now() override { return 0; }
  TDateTime UtcToLocal(TDateTime t) override { return t; }
};

constexpr Mix kMixes[] = {Mix::kAttachments, Mix::kText, Mix::kVaried};

TEST(StoreGenerator, SameSeedGivesSameBytesAndAnotherSeedOthers) {
  for (Mix mix : kMixes) {
    for (LineEnds ends : {LineEnds::kLF, LineEnds::kCRLF, LineEnds::kMixed}) {
      const StoreOptions o = Options(mix, 512 << 10, ends);
      const Generated a = Generate(o);
      const Generated b = Generate(o);
      ASSERT_EQ(a.bytes, b.bytes);
      StoreOptions other = o;
      other.seed = 43;
      other.count = 2;
      EXPECT_NE(Generate(other).bytes.substr(0, 4096), a.bytes.substr(0, 4096));
    }
  }
}

// Every line the scan would take for a separator opens a generated message, every message is
// opened by one, and the "From " lines inside bodies are all taken for ordinary lines.
TEST(StoreGenerator, SeparatorsAreExactlyTheMessageStarts) {
  UnusedClock clock;
  for (Mix mix : kMixes) {
    const Generated g =
        Generate(Options(mix, mix == Mix::kAttachments ? 12u << 20 : 6u << 20, LineEnds::kMixed));
    std::set<std::int64_t> starts;
    for (const MessageInfo& m : g.messages)
      starts.insert(static_cast<std::int64_t>(m.offset));

    TViewStream stream(g.bytes);
    StoreReader reader(stream);
    std::string_view line;
    std::uint64_t separators = 0, lookalikes = 0, quoted = 0;
    while (reader.ReadLine(line)) {
      const bool start = starts.count(reader.LineOffset()) != 0;
      if (line.starts_with(">From ")) ++quoted;
      if (!line.starts_with("From ")) {
        EXPECT_FALSE(start) << "message at " << reader.LineOffset() << " opens with " << line;
        continue;
      }
      const bool separator = IsSeparatorLine(line, platform::EnglishNames(), clock);
      EXPECT_EQ(separator, start) << line;
      separators += separator;
      lookalikes += !separator;
    }
    EXPECT_EQ(separators, g.summary.messages);
    EXPECT_EQ(g.messages.size(), g.summary.messages);
    EXPECT_EQ(g.summary.bytes, g.bytes.size());
    // The store must really hold the lines that could fool a scan.
    EXPECT_GT(lookalikes, 0u);
    EXPECT_GT(quoted, 0u);
  }
}

TEST(StoreGenerator, SeparatorLineFormat) {
  EXPECT_EQ(SeparatorLine("sender@example.com", FromCivil(2026, 12, 8, 14, 23, 50)),
            "From sender@example.com Tue Dec 08 14:23:50 2026");
  EXPECT_EQ(SeparatorLine("a@b", FromCivil(2024, 2, 29, 0, 0, 5)),
            "From a@b Thu Feb 29 00:00:05 2024");
  EXPECT_EQ(SeparatorLine("a@b", FromCivil(2000, 1, 1, 23, 59, 59)),
            "From a@b Sat Jan 01 23:59:59 2000");
  // The calendar conversion is exact both ways over the years the generator uses.
  for (std::int64_t t = FromCivil(2018, 12, 30, 0, 0, 0); t < FromCivil(2027, 1, 2, 0, 0, 0);
       t += 86400 + 3601) {
    const CivilTime c = ToCivil(t);
    ASSERT_EQ(FromCivil(c.year, c.month, c.day, c.hour, c.minute, c.second), t);
  }
}

// LF stores hold no CR, CR LF stores no bare LF, and a mixed store has messages of both kinds,
// each consistent within itself.
TEST(StoreGenerator, LineEndsAsAsked) {
  for (Mix mix : kMixes) {
    const Generated lf = Generate(Options(mix, 2 << 20, LineEnds::kLF));
    EXPECT_EQ(lf.bytes.find('\r'), std::string::npos);
    const Generated crlf = Generate(Options(mix, 2 << 20, LineEnds::kCRLF));
    for (std::size_t i = crlf.bytes.find('\n'); i != std::string::npos;
         i = crlf.bytes.find('\n', i + 1))
      ASSERT_TRUE(i > 0 && crlf.bytes[i - 1] == '\r') << "bare LF at " << i;

    const Generated mixed = Generate(Options(mix, 2 << 20, LineEnds::kMixed));
    int withCr = 0, withoutCr = 0;
    for (const MessageInfo& m : mixed.messages) {
      const std::string_view msg = std::string_view(mixed.bytes).substr(m.offset, m.size);
      std::size_t lfs = 0, crlfs = 0;
      for (std::size_t i = 0; i < msg.size(); ++i) {
        if (msg[i] != '\n') continue;
        ++lfs;
        crlfs += i > 0 && msg[i - 1] == '\r';
      }
      ASSERT_TRUE(crlfs == 0 || crlfs == lfs) << "message " << m.number;
      (crlfs == 0 ? withoutCr : withCr)++;
    }
    EXPECT_GT(withCr, 0);
    EXPECT_GT(withoutCr, 0);
  }
}

TEST(StoreGenerator, StopsAtCountOrWithTheMessageThatReachesTheSize) {
  StoreOptions byCount = Options(Mix::kText, 0);
  byCount.count = 37;
  EXPECT_EQ(Generate(byCount).messages.size(), 37u);

  const Generated bySize = Generate(Options(Mix::kText, 300000));
  ASSERT_FALSE(bySize.messages.empty());
  EXPECT_GE(bySize.bytes.size(), 300000u);
  EXPECT_LT(bySize.bytes.size() - bySize.messages.back().size, 300000u);

  // With both, the first limit reached ends the store.
  StoreOptions both = Options(Mix::kText, 300000);
  both.count = 5;
  EXPECT_EQ(Generate(both).messages.size(), 5u);
}

// Every n-th message lacks its Message-ID field; every m-th reuses an identifier of an earlier
// message; all others are unique.
TEST(StoreGenerator, MissingAndDuplicatedMessageIds) {
  StoreOptions o = Options(Mix::kVaried, 0);
  o.count = 200;
  o.noIdEvery = 13;
  o.duplicateIdEvery = 17;
  const Generated g = Generate(o);
  std::set<std::string> seen;
  for (const MessageInfo& m : g.messages) {
    const std::uint64_t n = m.number + 1;
    const std::string_view msg = std::string_view(g.bytes).substr(m.offset, m.size);
    const std::string_view header = msg.substr(
        0, msg.find("\n\n") == std::string_view::npos ? msg.find("\r\n\r\n") : msg.find("\n\n"));
    const bool hasField = header.find("\nMessage-ID: ") != std::string_view::npos ||
                          header.find("\nMessage-Id: ") != std::string_view::npos;
    if (n % 13 == 0) {
      EXPECT_TRUE(m.messageId.empty()) << n;
      EXPECT_FALSE(hasField) << n;
      continue;
    }
    ASSERT_FALSE(m.messageId.empty()) << n;
    EXPECT_NE(header.find(m.messageId), std::string_view::npos) << n;
    EXPECT_EQ(m.duplicateId, n % 17 == 0) << n;
    EXPECT_EQ(seen.count(m.messageId) != 0, m.duplicateId) << n;
    seen.insert(m.messageId);
  }
}

// The attachment mix is mostly base64; the text mix is many small messages that carry encoded
// words, quoted-printable and base64 text.
TEST(StoreGenerator, MixesHaveTheirCharacter) {
  const Generated att = Generate(Options(Mix::kAttachments, 12 << 20, LineEnds::kLF));
  std::size_t base64 = 0;
  for (std::size_t pos = 0; pos < att.bytes.size();) {
    std::size_t end = att.bytes.find('\n', pos);
    if (end == std::string::npos) end = att.bytes.size();
    const std::string_view line = std::string_view(att.bytes).substr(pos, end - pos);
    if (line.size() == 76 &&
        line.find_first_not_of(
            "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/") ==
            std::string_view::npos)
      base64 += line.size() + 1;
    pos = end + 1;
  }
  EXPECT_GT(static_cast<double>(base64) / static_cast<double>(att.bytes.size()), 0.9);
  const double attMean = static_cast<double>(att.bytes.size()) / att.messages.size();
  EXPECT_GT(attMean, 50e3);
  EXPECT_LT(attMean, 200e3);

  const Generated text = Generate(Options(Mix::kText, 6 << 20, LineEnds::kLF));
  const double textMean = static_cast<double>(text.bytes.size()) / text.messages.size();
  EXPECT_GT(textMean, 2e3);
  EXPECT_LT(textMean, 12e3);
  for (const char* feature :
       {"=?UTF-8?B?", "=?UTF-8?Q?", "=?ISO-8859-1?Q?", "quoted-printable", "base64",
        "multipart/alternative", "message/rfc822", "\nbegin 644 ", "\n>From ", "X-Priority: 1",
        "Importance: high", "\n\t", "\nReceived: from "})
    EXPECT_NE(text.bytes.find(feature), std::string::npos) << feature;
}

// The generator keeps nothing per message: its buffers follow the largest message, not the
// store's size.
TEST(StoreGenerator, MemoryDoesNotGrowWithTheStore) {
  const auto run = [](std::uint64_t size, std::size_t& capacity, std::uint64_t& largest) {
    StoreGenerator gen(Options(Mix::kAttachments, size));
    std::string message;
    std::uint64_t total = 0;
    while (gen.Next(message))
      total += message.size();
    capacity = message.capacity();
    largest = gen.LargestMessage();
    return total;
  };
  std::size_t smallCap = 0, bigCap = 0;
  std::uint64_t smallLargest = 0, bigLargest = 0;
  run(4 << 20, smallCap, smallLargest);
  EXPECT_GE(run(32 << 20, bigCap, bigLargest), 32u << 20);
  EXPECT_LE(bigCap, 2 * bigLargest + 4096);
  EXPECT_LE(bigLargest, 400u << 10);
}

}  // namespace
}  // namespace qv::gen
