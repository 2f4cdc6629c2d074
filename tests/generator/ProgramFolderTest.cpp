// A generated program folder: a profile and an old index the repair can read, which match the
// store in part, and the program that writes folders and stores.
#include "generator/ProgramFolder.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <string>
#include <vector>

#include "mailbox/qvMailbox.h"
#include "mailbox/qvProfile.h"
#include "platform/SystemPlatform.h"
#include "support/Process.h"

namespace qv::gen {
namespace {

namespace fs = std::filesystem;

std::string ReadFile(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

struct TempDir : ::testing::Test {
  fs::path dir;
  TempDir() {
    dir = fs::temp_directory_path() /
          ("qv_gen_" + std::to_string(test::ProcessId()) + "_" +
           ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(dir);
    fs::create_directories(dir);
  }
  ~TempDir() override { fs::remove_all(dir); }
};

using ProgramFolder = TempDir;

TEST_F(ProgramFolder, ProfileAndIndexLoadAndPartlyMatchTheStore) {
  ProgramOptions o;
  o.store.mix = Mix::kVaried;
  o.store.seed = 5;
  o.store.count = 120;
  o.store.lineEnds = LineEnds::kMixed;
  o.store.noIdEvery = 13;
  o.store.duplicateIdEvery = 17;
  o.dir = dir.string();
  o.mailbox = "Inbox2";
  platform::SystemFileSystem files;
  const ProgramSummary s = WriteProgramFolder(o, files);
  const fs::path folder = dir / "profile" / "default";

  // The store is the one the generator gives on its own.
  std::string expected;
  std::set<std::string> ids;
  WriteStore(
      o.store, [&](std::string_view m) { expected += m; },
      [&](const MessageInfo& m) { ids.insert(m.messageId); });
  EXPECT_EQ(ReadFile(folder / "Inbox2.mbx"), expected);
  EXPECT_EQ(s.store.messages, 120u);

  TqvProfile profile(nullptr);
  profile.LoadFromFile((folder / "profile.dat").string(), files);
  EXPECT_EQ(profile.Mailbox(), "Inbox2");
  ASSERT_EQ(profile.Accounts().Count(), 2);
  // The servers contain the recipients' domains, so the repair attributes messages to both.
  EXPECT_NE(profile.Accounts().ItemAt(0).Server().find("example.com"), std::string::npos);
  EXPECT_NE(profile.Accounts().ItemAt(1).Server().find("example.org"), std::string::npos);

  TqvMailBox index(nullptr);
  index.LoadFromFile((folder / "Inbox2.idx").string(), files);
  EXPECT_EQ(index.TreeItems().Count(), 5);
  EXPECT_EQ(index.TreeItems().ItemAt(4).Level(), 1);
  const TMailMessageList& entries = index.MailItems();
  ASSERT_EQ(static_cast<std::uint64_t>(entries.Count()), s.oldEntries);
  std::uint64_t matching = 0, stale = 0, elsewhere = 0, read = 0, emptyId = 0;
  for (int i = 0; i < entries.Count(); ++i) {
    const TMailMessageItem& e = entries.ItemAt(i);
    if (e.MessageId().empty()) {
      ++emptyId;
    } else if (ids.count(e.MessageId())) {
      ++matching;
      elsewhere += e.FolderKey() != "_msInbox";
      read += e.Read();
    } else {
      ++stale;
    }
  }
  EXPECT_EQ(matching, s.matching);
  EXPECT_EQ(elsewhere, s.outsideInbox);
  EXPECT_EQ(read, s.read);
  EXPECT_GT(matching, 30u);
  EXPECT_LT(matching, 110u);
  EXPECT_GT(elsewhere, 0u);
  EXPECT_GT(read, 0u);
  EXPECT_GT(stale, 0u);
  EXPECT_EQ(emptyId, 1u);
}

// Runs the program; returns its exit status and fills its standard error and peak memory.
int RunGenstore(const std::vector<std::string>& args, std::string* err = nullptr,
                long* maxRssKb = nullptr) {
  const std::string errFile =
      (fs::temp_directory_path() / ("qv_genstore_err_" + std::to_string(test::ProcessId())))
          .string();
  std::vector<std::string> argv = {QV_GENSTORE};
  argv.insert(argv.end(), args.begin(), args.end());
  // Under AddressSanitizer freed memory is held back for a while, which would make the peak
  // grow with the work done; the child gets none of that quarantine (this process read its
  // options when it started).
  const char* asan = std::getenv("ASAN_OPTIONS");
  const std::string saved = asan ? asan : "";
  test::SetEnv("ASAN_OPTIONS", (asan ? saved + ":" : std::string()) +
                                   "quarantine_size_mb=0:thread_local_quarantine_size_kb=0");
  int status = -1;
  try {
    test::ChildProcess child(argv, "", errFile);
    status = child.Wait();
    if (maxRssKb) *maxRssKb = child.PeakMemoryKiB();
  } catch (const std::exception&) {
  }
  if (asan)
    test::SetEnv("ASAN_OPTIONS", saved);
  else
    test::UnsetEnv("ASAN_OPTIONS");
  if (err) *err = ReadFile(errFile);
  fs::remove(errFile);
  return status;
}

using Genstore = TempDir;

TEST_F(Genstore, WritesTheStoreItReportsAndRefusesBadUsage) {
  const std::string out = (dir / "s.mbx").string();
  std::string err;
  ASSERT_EQ(
      RunGenstore({"--mix", "text", "--size", "200K", "--seed", "9", "--crlf", "--out", out}, &err),
      0)
      << err;
  StoreOptions o;
  o.mix = Mix::kText;
  o.size = 200 << 10;
  o.seed = 9;
  o.lineEnds = LineEnds::kCRLF;
  std::string expected;
  const StoreSummary s = WriteStore(o, [&](std::string_view m) { expected += m; });
  EXPECT_EQ(ReadFile(out), expected);
  EXPECT_EQ(err, "messages " + std::to_string(s.messages) + ", bytes " + std::to_string(s.bytes) +
                     ", largest " + std::to_string(s.largestMessage) + "\n");

  for (const std::vector<std::string>& bad : std::vector<std::vector<std::string>>{
           {},
           {"--mix", "text", "--seed", "1", "--out", out},                      // no limit
           {"--mix", "pictures", "--size", "1K", "--seed", "1", "--out", out},  // unknown mix
           {"--mix", "text", "--size", "1Q", "--seed", "1", "--out", out},      // bad size
           {"--mix", "text", "--size", "1K", "--out", out},                     // no seed
           {"--mix", "text", "--size", "1K", "--seed", "1"},                    // no output
           {"--mix", "text", "--size", "1K", "--seed", "1", "--out", out, "--program-dir", out},
           {"--mix", "text", "--size", "1K", "--seed", "1", "--bogus", "x", "--out", out}})
    EXPECT_EQ(RunGenstore(bad), 2);
  EXPECT_EQ(RunGenstore({"--mix", "text", "--size", "1K", "--seed", "1", "--out",
                         (dir / "missing" / "s.mbx").string()}),
            1);
}

// The program's peak memory is the same for a small and a large store.
TEST_F(Genstore, PeakMemoryDoesNotGrowWithSize) {
  long small = 0, large = 0;
  const std::string null = test::NullDevice();
  ASSERT_EQ(RunGenstore({"--mix", "attachments", "--size", "4M", "--seed", "3", "--out", null},
                        nullptr, &small),
            0);
  ASSERT_EQ(RunGenstore({"--mix", "attachments", "--size", "64M", "--seed", "3", "--out", null},
                        nullptr, &large),
            0);
  if (small == 0) GTEST_SKIP() << "the system does not tell a child's peak memory";
  EXPECT_LT(large, small + 8 * 1024) << "peak KiB: " << small << " vs " << large;
}

}  // namespace
}  // namespace qv::gen
