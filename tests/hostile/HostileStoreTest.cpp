// Hostile stores through the whole repair, and hostile messages through LoadMessage: huge part
// counts, nesting to the bound and beyond, a header folded over a million lines, NUL and
// end-of-file bytes everywhere. Every message line must come through unchanged and in order
// (CheckRepair), in bounded time.
#include <gtest/gtest.h>

#include <chrono>
#include <string>

#include "base/StringList.h"
#include "base/StringUtils.h"
#include "generator/StoreGenerator.h"
#include "mime/clMailMessage.h"
#include "support/FixedClock.h"
#include "targets/StoreCheck.h"

namespace qv::test {
namespace {

using fuzz::CheckRepair;
using fuzz::RepairOutcome;
using fuzz::RunRepair;
using fuzz::ScratchProgramFolder;

#if defined(__SANITIZE_ADDRESS__)
constexpr double kSlowdown = 5;  // the sanitizer runs several times slower
#else
constexpr double kSlowdown = 1;
#endif

const std::string kSeparator = "From a@example.com Tue Dec 08 14:23:50 2026\n";

double Seconds(std::chrono::steady_clock::time_point since) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

// Repairs the store in a scratch folder and checks the result; returns the outcome.
RepairOutcome Repair(const std::string& store) {
  ScratchProgramFolder folder("hostile");
  folder.Prepare(store);
  const RepairOutcome outcome = RunRepair(folder.Dir());
  TFileStream repaired(folder.StorePath(), FileMode::OpenRead);
  EXPECT_NO_THROW(CheckRepair(store, outcome, repaired.ReadRest()));
  return outcome;
}

// Nested multipart levels around a text part; each level opens its own boundary (none a part of
// another, since a delimiter is found anywhere in a line).
std::string Nested(int levels) {
  std::string text;
  for (int level = 0; level < levels; ++level) {
    const std::string b = "L" + IntToStr(level) + "Z";
    text += "Content-Type: multipart/mixed; boundary=\"" + b + "\"\n\n--" + b + "\n";
  }
  text += "Content-Type: text/plain\n\ninnermost\n";
  for (int level = levels - 1; level >= 0; --level)
    text += "--L" + IntToStr(level) + "Z--\n";
  return text;
}

TEST(HostileStore, AMessageWithAHundredThousandPartsIsRepairedWhole) {
  std::string store = kSeparator + "Subject: parts\nContent-Type: multipart/mixed; boundary=p\n\n";
  for (int i = 0; i < 100000; ++i)
    store += "--p\nContent-Type: application/octet-stream\n\npart " + IntToStr(i) + "\n";
  store += "--p--\n" + kSeparator + "Subject: after\n\nbody\n";
  const auto start = std::chrono::steady_clock::now();
  const RepairOutcome outcome = Repair(store);
  EXPECT_LT(Seconds(start), 30 * kSlowdown);
  ASSERT_EQ(outcome.attachments.size(), 2u);
  EXPECT_TRUE(outcome.attachments[0]);
  EXPECT_FALSE(outcome.attachments[1]);
}

TEST(HostileStore, NestingToTheBoundIsParsedAndBeyondItKeptRaw) {
  FixedClock clock(46364.6);
  // The message is level 0; its parts nest kMaxBodyNesting levels below it at most.
  for (const int levels : {kMaxBodyNesting + 1, kMaxBodyNesting + 2, 2000}) {
    TclMailMessage message(nullptr, clock);
    TStringList lines;
    lines.SetText(Nested(levels));
    message.LoadMessage(lines);
    // Walk down the first part of every level.
    int depth = 0;
    const TclMessageBody* body = &message.Bodies().Items(0);
    while (const auto* multipart = dynamic_cast<const TclMultipartBody*>(body)) {
      ++depth;
      ASSERT_GT(multipart->Bodies().Count(), 0) << levels << " at " << depth;
      body = &multipart->Bodies().Items(0);
    }
    if (levels <= kMaxBodyNesting + 1) {
      EXPECT_EQ(depth, levels - 1);  // the top level is the message itself
      EXPECT_NE(dynamic_cast<const TclTextBody*>(body), nullptr);
    } else {
      EXPECT_EQ(depth, kMaxBodyNesting);
      EXPECT_NE(dynamic_cast<const TclAttachmentBody*>(body), nullptr) << levels;
    }
  }
  // The same through the repair: nothing of the deep message is lost.
  Repair(kSeparator + Nested(kMaxBodyNesting + 2) + kSeparator + Nested(2000));
}

TEST(HostileStore, AHeaderOfAMillionFoldedLinesLoadsInLinearTime) {
  const int folds = 1000000;
  std::string message = "Subject: start\n";
  for (int i = 0; i < folds; ++i)
    message += "\tw\n";
  message += "From: a@example.com\n\nbody\n";

  FixedClock clock(46364.6);
  TclMailMessage parsed(nullptr, clock);
  TStringList lines;
  lines.SetText(message);
  auto start = std::chrono::steady_clock::now();
  parsed.LoadMessage(lines);
  EXPECT_LT(Seconds(start), 10 * kSlowdown);
  EXPECT_TRUE(parsed.Subject().starts_with("start"));
  EXPECT_GE(parsed.Subject().size(), std::size_t{folds});
  EXPECT_EQ(parsed.From(), "a@example.com");

  start = std::chrono::steady_clock::now();
  Repair(kSeparator + message);
  EXPECT_LT(Seconds(start), 20 * kSlowdown);
}

TEST(HostileStore, NulAndEndOfFileBytesEverywhereLoseNoLine) {
  gen::StoreOptions options;
  options.mix = gen::Mix::kVaried;
  options.lineEnds = gen::LineEnds::kMixed;
  options.count = 24;
  std::string clean;
  gen::WriteStore(options, [&](std::string_view m) { clean += m; });
  // A NUL or a 0x1A after every n-th byte: with n = 1 no separator survives and the store must be
  // left alone; with larger n some messages keep their separator and the rest ride along.
  for (const int every : {1, 2, 7, 61, 997}) {
    std::string store;
    for (std::size_t i = 0; i < clean.size(); ++i) {
      store += clean[i];
      if (i % static_cast<std::size_t>(every) == 0) store += (i / every) % 2 ? '\x1A' : '\0';
    }
    Repair(store);
  }
  // Separators intact, every message line full of them.
  std::string store;
  for (std::size_t i = 0; i < clean.size(); ++i) {
    store += clean[i];
    if (clean[i] == '\n' && clean.compare(i + 1, 5, "From ") != 0)
      store += std::string("\0\x1A", 2);
  }
  const RepairOutcome outcome = Repair(store);
  EXPECT_EQ(outcome.offsets.size(), 24u);
}

}  // namespace
}  // namespace qv::test
