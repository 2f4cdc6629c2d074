#include "repair/StoreReader.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "support/FixedClock.h"
#include "support/TestStreams.h"

namespace qv {
namespace {

struct Line {
  std::string text;
  std::int64_t offset;
  bool operator==(const Line&) const = default;
};

// How the store reaches the reader: whole blocks, one byte per read, or small blocks that split
// line ends and force the buffer to grow.
enum class Feed { Blocks, Trickle, Block1, Block3, Block16 };
constexpr Feed kFeeds[] = {Feed::Blocks, Feed::Trickle, Feed::Block1, Feed::Block3, Feed::Block16};

std::vector<Line> ReadAll(const std::string& data, Feed feed, std::size_t* capacity = nullptr) {
  std::unique_ptr<TStream> stream;
  if (feed == Feed::Trickle)
    stream = std::make_unique<test::TrickleStream>(data);
  else
    stream = std::make_unique<TMemoryStream>(data);
  const std::size_t block = feed == Feed::Block1    ? 1
                            : feed == Feed::Block3  ? 3
                            : feed == Feed::Block16 ? 16
                                                    : StoreReader::kBlockSize;
  StoreReader reader(*stream, block);
  std::vector<Line> lines;
  std::string_view line;
  while (reader.ReadLine(line)) {
    lines.push_back({std::string(line), reader.LineOffset()});
    EXPECT_EQ(reader.LineCount(), static_cast<std::int64_t>(lines.size()));
  }
  EXPECT_TRUE(line.empty());
  EXPECT_FALSE(reader.ReadLine(line)) << "the end stays the end";
  EXPECT_EQ(reader.Offset(), static_cast<std::int64_t>(data.size())) << "every byte consumed";
  if (capacity) *capacity = reader.BufferCapacity();
  return lines;
}

TEST(StoreReader, LineEndsAndDroppedCarriageReturns) {
  struct Case {
    std::string input;
    std::vector<Line> want;
  };
  const Case cases[] = {
      {"", {}},
      {"a", {{"a", 0}}},
      {"a\n", {{"a", 0}}},
      {"a\nb", {{"a", 0}, {"b", 2}}},
      {"ab\r\ncd\r\n", {{"ab", 0}, {"cd", 4}}},
      {"x\r\ny\nz\r\n", {{"x", 0}, {"y", 3}, {"z", 5}}},
      {"\n", {{"", 0}}},
      {"\n\n", {{"", 0}, {"", 1}}},
      {"\r\n\r\n", {{"", 0}, {"", 2}}},
      // A CR not followed by LF stays in the line: no byte is lost.
      {"a\rb\n", {{"a\rb", 0}}},
      {"a\r\r\nb", {{"a\r", 0}, {"b", 4}}},
      {"\r\ra\r\rb\r\r", {{"\r\ra\r\rb\r\r", 0}}},
      {"a\r", {{"a\r", 0}}},
      // Bytes after the last line end make a line.
      {"a\n\r", {{"a", 0}, {"\r", 2}}},
      {"\r", {{"\r", 0}}},
      {"a\n\rb", {{"a", 0}, {"\rb", 2}}},
      // 0x1A and NUL are ordinary characters; nothing after them is lost.
      {"\x1A", {{"\x1A", 0}}},
      {"a\x1A"
       "b\n\x1A\nc",
       {{"a\x1A"
         "b",
         0},
        {"\x1A", 4},
        {"c", 6}}},
      {std::string("a\0b\n\0", 5), {{std::string("a\0b", 3), 0}, {std::string("\0", 1), 4}}},
      {"\xFF\xE9\n", {{"\xFF\xE9", 0}}},
  };
  for (const Case& c : cases) {
    for (Feed feed : kFeeds) {
      EXPECT_EQ(ReadAll(c.input, feed), c.want)
          << "input \"" << c.input << "\" feed " << static_cast<int>(feed);
    }
  }
}

// The store as lines: split at LF, the CR before it removed, trailing bytes form a last line.
std::vector<std::string> ModelLines(std::string_view in) {
  std::vector<std::string> lines;
  std::string cur;
  bool open = false;
  for (char c : in) {
    if (c == '\n') {
      if (!cur.empty() && cur.back() == '\r') cur.pop_back();
      lines.push_back(cur);
      cur.clear();
      open = false;
    } else {
      open = true;
      cur += c;
    }
  }
  if (open) lines.push_back(cur);
  return lines;
}

// Random stores with lines up to many times the block size: every feed gives the same lines
// and offsets, and the buffer stays within twice the longest line.
TEST(StoreReader, EveryFeedGivesTheSameLinesAndBoundedMemory) {
  std::mt19937 rng(3);
  for (int round = 0; round < 40; ++round) {
    std::string data;
    std::size_t longest = 0;
    std::uniform_int_distribution<int> kind(0, 9), length(0, round < 20 ? 40 : 400);
    while (data.size() < 4000) {
      const std::size_t start = data.size();
      for (int n = length(rng); n > 0; --n) {
        const int k = kind(rng);
        data += k == 0 ? '\r' : k == 1 ? '\x1A' : char('a' + k);
      }
      data += kind(rng) < 5 ? "\r\n" : "\n";
      longest = std::max(longest, data.size() - start);
    }
    if (round % 2) data.resize(data.size() - 1 - static_cast<std::size_t>(kind(rng) % 3));

    const std::vector<std::string> want = ModelLines(data);
    const std::vector<Line> blocks = ReadAll(data, Feed::Blocks);
    ASSERT_EQ(blocks.size(), want.size());
    for (std::size_t i = 0; i < want.size(); ++i)
      ASSERT_EQ(blocks[i].text, want[i]) << i;
    for (Feed feed : kFeeds) {
      std::size_t capacity = 0;
      ASSERT_EQ(ReadAll(data, feed, &capacity), blocks) << static_cast<int>(feed);
      if (feed == Feed::Block16) {
        EXPECT_LE(capacity, std::max<std::size_t>(16, 2 * longest));
      }
    }
  }
}

TEST(StoreReader, LinesLongerThanTheBlock) {
  const std::string longLine(100000, 'x');
  const std::string data = "a\n" + longLine + "\r\n" + longLine + "\rb\n" + "c";
  for (Feed feed : {Feed::Blocks, Feed::Block1, Feed::Block16}) {
    const std::vector<Line> lines = ReadAll(data, feed);
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_EQ(lines[1].text, longLine);
    EXPECT_EQ(lines[2].text, longLine + "\rb");
    EXPECT_EQ(lines[2].offset, 2 + 100002);
    EXPECT_EQ(lines[3].text, "c");
  }
}

// A reader over `data` fed as `feed` says.
struct FedReader {
  FedReader(const std::string& data, Feed feed)
      : stream(feed == Feed::Trickle ? std::unique_ptr<TStream>(new test::TrickleStream(data))
                                     : std::unique_ptr<TStream>(new TMemoryStream(data))),
        block(feed == Feed::Block1    ? 1
              : feed == Feed::Block3  ? 3
              : feed == Feed::Block16 ? 16
                                      : StoreReader::kBlockSize),
        reader(*stream, block) {}
  std::unique_ptr<TStream> stream;
  std::size_t block;
  StoreReader reader;
};

// Random lines of blanks, tabs, CRs, text and 0x1A, some long, with either line end.
std::string RandomStore(std::mt19937& rng, std::size_t size, int longest) {
  std::uniform_int_distribution<int> kind(0, 9), length(0, longest);
  std::string data;
  while (data.size() < size) {
    for (int n = length(rng); n > 0; --n) {
      const int k = kind(rng);
      data += k == 0 ? '\r' : k == 1 ? '\x1A' : k < 4 ? ' ' : k == 4 ? '\t' : char('a' + k);
    }
    data += kind(rng) < 5 ? "\r\n" : "\n";
  }
  return data;
}

// Lines read after Hold stay in Held() at the place each had relative to the first, with every
// feed, while the buffer moves and grows; the buffer stays within a few times what is held.
TEST(StoreReader, HeldLinesStayInPlaceWhileTheBufferMoves) {
  std::mt19937 rng(5);
  for (int round = 0; round < 20; ++round) {
    const std::string data = RandomStore(rng, 6000, round < 10 ? 40 : 300);
    const std::vector<std::string> want = ModelLines(data);
    for (Feed feed : kFeeds) {
      SCOPED_TRACE(static_cast<int>(feed));
      FedReader fed(data, feed);
      StoreReader& reader = fed.reader;
      struct Kept {
        std::size_t at;
        std::string text;
      };
      std::vector<Kept> kept;
      bool holding = false;
      std::int64_t holdOffset = 0;
      std::size_t largest = 0, longest = 0;
      auto check = [&] {
        const std::string_view held = reader.Held();
        ASSERT_EQ(held.size(), static_cast<std::size_t>(reader.Offset() - holdOffset));
        for (const Kept& k : kept)
          ASSERT_EQ(held.substr(k.at, k.text.size()), k.text);
      };
      std::uniform_int_distribution<int> every(1, 12);
      std::string_view line;
      std::size_t n = 0;
      int untilHold = every(rng);
      // While lines are held, they come whole from either call.
      while (holding ? reader.ReadLineOrSketch(line) : reader.ReadLine(line)) {
        ASSERT_LT(n, want.size());
        ASSERT_EQ(line, want[n]);
        longest = std::max(longest, line.size() + 2);
        if (holding) {
          kept.push_back({static_cast<std::size_t>(line.data() - reader.Held().data()), want[n]});
          largest = std::max(largest, reader.Held().size());
        }
        ++n;
        if (--untilHold == 0) {
          if (holding) check();
          // Mostly a new run of held lines, sometimes none.
          holding = n % 3 != 0;
          if (holding) {
            reader.Hold();
            holdOffset = reader.Offset();
          } else {
            reader.Release();
            EXPECT_TRUE(reader.Held().empty());
          }
          kept.clear();
          untilHold = every(rng);
        }
      }
      if (holding) check();
      EXPECT_EQ(n, want.size());
      // About twice the most held at once: what the buffer reserves is charged in full on some
      // systems.
      EXPECT_LE(reader.BufferCapacity(), 2 * std::max(largest, longest) + 2 * fed.block);
    }
  }
}

// The sketch of a line too long for the buffer is a separator, and holds text, exactly when the
// line does; offsets and counts are the line's. The buffer does not grow for such lines.
TEST(StoreReader, SketchesOfLongLinesAreJudgedAsTheLines) {
  test::FixedClock clock(EncodeDate(2026, 1, 1));
  const platform::LocaleNames& names = platform::EnglishNames();
  auto hasText = [](std::string_view l) {
    return l.find_first_not_of(" \t\r") != std::string_view::npos;
  };
  std::mt19937 rng(7);
  std::uniform_int_distribution<int> pick(0, 7), pad(0, 60);
  const char* const kDates[] = {"Mon Jan 05 09:03:07 2026", "Mon Jan 05 24:03:07 2026",
                                "Jan 05 09:03:07 2026"};
  std::string data;
  for (int i = 0; i < 400; ++i) {
    std::string line;
    if (pick(rng) < 5) line += "From ";
    std::string filler;
    for (int n = pad(rng); n > 0; --n) {
      const int k = pick(rng);
      filler += k == 0 ? '\r' : k < 3 ? ' ' : k == 3 ? '\t' : 'x';
    }
    if (pick(rng) < 4) filler = std::string(filler.size(), ' ');
    line += filler;
    if (pick(rng) < 6) line += kDates[pick(rng) % 3];
    line.append(static_cast<std::size_t>(pick(rng) % 3 == 0 ? pick(rng) : 0), '\r');
    data += line;
    data += pick(rng) < 4 ? "\r\n" : "\n";
  }
  data += "From Mon Jan 05 09:03:07 2026\r";  // the last line, without a line end
  const std::vector<Line> whole = ReadAll(data, Feed::Blocks);
  for (Feed feed : {Feed::Block1, Feed::Block3, Feed::Block16}) {
    SCOPED_TRACE(static_cast<int>(feed));
    FedReader fed(data, feed);
    std::string_view line;
    std::size_t n = 0;
    while (fed.reader.ReadLineOrSketch(line)) {
      ASSERT_LT(n, whole.size());
      const std::string& real = whole[n].text;
      EXPECT_EQ(IsSeparatorLine(line, names, clock), IsSeparatorLine(real, names, clock)) << real;
      EXPECT_EQ(hasText(line), hasText(real)) << real;
      EXPECT_EQ(fed.reader.LineOffset(), whole[n].offset);
      ++n;
      EXPECT_EQ(fed.reader.LineCount(), static_cast<std::int64_t>(n));
    }
    EXPECT_EQ(n, whole.size());
    EXPECT_EQ(fed.reader.Offset(), static_cast<std::int64_t>(data.size()));
    EXPECT_LE(fed.reader.BufferCapacity(), std::max<std::size_t>(2, fed.block));
  }
}

TEST(StoreReader, ReadsFromTheStreamPosition) {
  TMemoryStream stream(std::string("skip\nfirst\nsecond"));
  stream.SetPosition(5);
  StoreReader reader(stream);
  std::string_view line;
  ASSERT_TRUE(reader.ReadLine(line));
  EXPECT_EQ(line, "first");
  EXPECT_EQ(reader.LineOffset(), 0);
  ASSERT_TRUE(reader.ReadLine(line));
  EXPECT_EQ(line, "second");
  EXPECT_EQ(reader.LineOffset(), 6);
  EXPECT_FALSE(reader.ReadLine(line));
}

// A stream of endless 64 KiB lines, made on the fly, for offsets past 4 GiB.
class GeneratedStore : public TStream {
 public:
  explicit GeneratedStore(std::int64_t size) : size_(size) {}
  std::size_t Read(void* buffer, std::size_t n) override {
    const auto left = static_cast<std::size_t>(size_ - pos_);
    n = std::min(n, left);
    auto* out = static_cast<char*>(buffer);
    std::memset(out, 'x', n);
    // The first LF at or after pos_ ends a line at every multiple of kLine, less one.
    for (std::int64_t at = pos_ + (kLine - 1 - pos_ % kLine); at < pos_ + std::int64_t(n);
         at += kLine)
      out[at - pos_] = '\n';
    pos_ += static_cast<std::int64_t>(n);
    return n;
  }
  std::size_t Write(const void*, std::size_t) override { return 0; }
  std::int64_t Seek(std::int64_t, SeekOrigin) override { return pos_; }
  void SetSize(std::int64_t) override {}
  static constexpr std::int64_t kLine = 65536;

 private:
  std::int64_t size_, pos_ = 0;
};

TEST(StoreReader, OffsetsPastFourGibibytes) {
  constexpr std::int64_t kSize = (std::int64_t{1} << 32) + 3 * GeneratedStore::kLine;
  GeneratedStore store(kSize);
  StoreReader reader(store);
  std::string_view line;
  std::int64_t expected = 0;
  while (reader.ReadLine(line)) {
    ASSERT_EQ(reader.LineOffset(), expected);
    ASSERT_EQ(line.size(), static_cast<std::size_t>(GeneratedStore::kLine - 1));
    expected += GeneratedStore::kLine;
  }
  EXPECT_EQ(reader.Offset(), kSize);
  EXPECT_EQ(reader.LineCount(), kSize / GeneratedStore::kLine);
}

TEST(SeparatorLine, NeedsFromBlankAndADateAtTheEnd) {
  struct Case {
    const char* line;
    bool want;
  };
  const Case cases[] = {
      {"From someone@example.com Mon Jan 05 09:03:07 2026", true},
      {"From Mon Jan 05 09:03:07 2026", true},
      {"From  Thu Jan  1 00:00:00 1970", true},
      // The address part is not examined.
      {"From \x1A<<bad Mon Jan 05 09:03:07 2026", true},
      {"From xxx feb 28 23:59:59 1999", true},
      // Shorter than 24 characters: the whole line is read by the pattern.
      {"From 05 09:03:07 2026", true},
      {"From: someone Mon Jan 05 09:03:07 2026", false},
      {"from someone Mon Jan 05 09:03:07 2026", false},
      {"FROM someone Mon Jan 05 09:03:07 2026", false},
      {">From someone Mon Jan 05 09:03:07 2026", false},
      {" From someone Mon Jan 05 09:03:07 2026", false},
      {"From\tsomeone Mon Jan 05 09:03:07 2026", false},
      // A zone after the year, or a trailing blank, moves the date out of the last 24.
      {"From someone Mon Jan 05 09:03:07 2026 +0100", false},
      {"From someone Mon Jan 05 09:03:07 2026 ", false},
      {"From someone Mon Feb 30 09:03:07 2026", false},
      {"From someone Mon Jan 05 24:03:07 2026", false},
      {"From someone", false},
      {"From ", false},
      {"From", false},
      {"", false},
      // Stray CRs at the end do not hide a separator; a CR inside means lines that end in CR
      // alone, whose text is a message's, never a separator.
      {"From someone Mon Jan 05 09:03:07 2026\r", true},
      {"From someone Mon Jan 05 09:03:07 2026\r\r", true},
      {"From someone Mon Jan 05 09:03:07 2026\rSubject: x\rMon Jan 05 09:03:07 2026", false},
  };
  test::FixedClock clock(EncodeDate(2026, 1, 1));
  for (const Case& c : cases)
    EXPECT_EQ(IsSeparatorLine(c.line, platform::EnglishNames(), clock), c.want) << c.line;

  // Separators in English are read whatever the locale; the locale's own names (in the ANSI code
  // page) are read too, as stores written by earlier versions under that locale hold them.
  platform::LocaleNames french = platform::EnglishNames();
  french.longDayNames = {"dimanche", "lundi", "mardi", "mercredi", "jeudi", "vendredi", "samedi"};
  french.longMonthNames = {"janvier",
                           "f\xE9vrier",
                           "mars",
                           "avril",
                           "mai",
                           "juin",
                           "juillet",
                           "ao\xFBt",
                           "septembre",
                           "octobre",
                           "novembre",
                           "d\xE9"
                           "cembre"};
  for (const char* line : {"From a Tue Dec 08 18:27:10 2026",
                           "From a mar. d\xE9"
                           "c 08 18:27:10 2026",
                           "From a lun. avr 06 18:27:10 2026"})
    EXPECT_TRUE(IsSeparatorLine(line, french, clock)) << line;
  EXPECT_FALSE(
      IsSeparatorLine("From a mar. d\xE9"
                      "c 08 18:27:10 2026",
                      platform::EnglishNames(), clock));
}

}  // namespace
}  // namespace qv
