// Real processes on a copy of the bundled sample: a repair killed at every file step, a repair
// held at every file step while a second one is started, and two repairs started together. After
// each, the folder holds the old pair or the new pair with every message, never a mix.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "repair/Repair.h"
#include "support/Files.h"
#include "support/Process.h"
#include "support/Scratch.h"

#if !defined(QV_CRASH_RUNNER) || !defined(QV_CLI_PATH) || !defined(QV_SAMPLE_DIR)
#error "the runner, the command line and the sample are given by the build"
#endif

namespace qv::test {
namespace {

namespace fs = std::filesystem;

struct Pair {
  std::string store, index;
};

class Crash : public ::testing::Test {
 protected:
  void SetUp() override {
    base_ = FreshFolder("qv-crash");
    old_ = Read(QV_SAMPLE_DIR);
    // What an undisturbed run makes of the sample.
    const fs::path clean = Fresh("clean");
    ASSERT_EQ(RunProgram({QV_CRASH_RUNNER, "--dir", clean.string()}), 0);
    new_ = Read(clean);
  }
  void TearDown() override { fs::remove_all(base_); }

  fs::path Fresh(const std::string& name) {
    const fs::path app = base_ / name;
    fs::remove_all(app);
    fs::copy(QV_SAMPLE_DIR, app, fs::copy_options::recursive);
    return app;
  }
  static fs::path Folder(const fs::path& app) { return app / "profile" / "default"; }
  static Pair Read(const fs::path& app) {
    return {ReadFile(Folder(app) / "mailbox.mbx"), ReadFile(Folder(app) / "mailbox.idx")};
  }

  // The store of a run, apart from the times in its separator lines (the last 24 characters of a
  // line that begins with "From ").
  static bool SameApartFromSeparatorTimes(const std::string& a, const std::string& b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
      if (a[i] == b[i]) continue;
      const std::size_t start = a.rfind('\n', i) == std::string::npos ? 0 : a.rfind('\n', i) + 1;
      const std::size_t end = a.find("\r\n", i);
      if (a.compare(start, 5, "From ") != 0 || end == std::string::npos || end - i > 24)
        return false;
    }
    return true;
  }

  // The old pair or the new one, whole.
  void ExpectWholePair(const fs::path& app, bool* isNew = nullptr) {
    const Pair now = Read(app);
    const bool oldPair = now.store == old_.store && now.index == old_.index;
    const bool newPair =
        now.index == new_.index && SameApartFromSeparatorTimes(now.store, new_.store);
    EXPECT_TRUE(oldPair || newPair);
    if (isNew) *isNew = newPair;
  }

  fs::path base_;
  Pair old_, new_;
};

TEST_F(Crash, KilledAtEveryFileStepTheNextStartLeavesTheOldOrTheNewPair) {
  int kills = 0;
  bool sawOld = false, sawNew = false;
  for (int step = 1;; ++step) {
    SCOPED_TRACE("killed at file step " + std::to_string(step));
    const fs::path app = Fresh("run");
    const int status =
        RunProgram({QV_CRASH_RUNNER, "--dir", app.string(), "--kill-at", std::to_string(step)});
    if (status == 0) break;  // the run had fewer steps than this and finished
    ASSERT_EQ(status, 137);
    ++kills;
    // The next start settles what the crash left, and the repair is offered again.
    const std::string out = (base_ / "out").string();
    EXPECT_EQ(RunProgram({QV_CRASH_RUNNER, "--dir", app.string(), "--start-only"}, out), 0)
        << ReadFile(out);
    EXPECT_EQ(ReadFile(out).find("error:"), std::string::npos) << ReadFile(out);
    // ... and nothing the run made stays beside the pair (but the empty files that a kill before
    // the journal's first record leaves: nothing names them as the run's).
    EXPECT_FALSE(fs::exists(Folder(app) / "mailbox.idx.journal"));
    for (const char* made :
         {"mailbox.xyz", "mailbox.idx.tmp", "mailbox.idx.restore", "mailbox.mbx.restore"})
      EXPECT_TRUE(!fs::exists(Folder(app) / made) || fs::file_size(Folder(app) / made) == 0)
          << made;
    bool isNew = false;
    ExpectWholePair(app, &isNew);
    (isNew ? sawNew : sawOld) = true;
    if (::testing::Test::HasFailure()) return;
  }
  EXPECT_GE(kills, 15);
  EXPECT_TRUE(sawOld);
  EXPECT_TRUE(sawNew);
}

TEST_F(Crash, ASecondRepairIsRefusedWhileTheFirstIsHeldAtAnyFileStep) {
  int held = 0;
  for (int step = 1;; ++step) {
    SCOPED_TRACE("first run held at file step " + std::to_string(step));
    const fs::path app = Fresh("run");
    const fs::path mark = base_ / "paused", release = base_ / "release";
    fs::remove(mark);
    fs::remove(release);
    ChildProcess first({QV_CRASH_RUNNER, "--dir", app.string(), "--pause-at", std::to_string(step),
                        mark.string(), release.string()});
    while (!fs::exists(mark) && !first.Ended())
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    if (!fs::exists(mark)) {
      EXPECT_EQ(first.Wait(), 0);
      break;
    }
    ++held;
    std::vector<std::pair<std::string, std::uintmax_t>> before;
    for (const auto& e : fs::directory_iterator(Folder(app)))
      before.emplace_back(e.path().filename().string(), fs::file_size(e.path()));

    const std::string err = (base_ / "err").string();
    EXPECT_EQ(RunProgram({QV_CLI_PATH, "repair", "--dir", app.string()}, "", err), 1);
    EXPECT_EQ(ReadFile(err), std::string("Error: ") + kRepairRunning + "\n");
    // A check beside it does not take the run's journal for an interrupted one.
    const std::string out = (base_ / "out").string();
    RunProgram({QV_CLI_PATH, "check", "--json", "--dir", app.string()}, out, err);
    EXPECT_NE(ReadFile(out).find("\"interrupted_replacement\": false"), std::string::npos)
        << ReadFile(out);
    std::vector<std::pair<std::string, std::uintmax_t>> after;
    for (const auto& e : fs::directory_iterator(Folder(app)))
      after.emplace_back(e.path().filename().string(), fs::file_size(e.path()));
    std::sort(before.begin(), before.end());
    std::sort(after.begin(), after.end());
    EXPECT_EQ(after, before);

    WriteFile(release, "");
    EXPECT_EQ(first.Wait(), 0);
    bool isNew = false;
    ExpectWholePair(app, &isNew);
    EXPECT_TRUE(isNew);
    if (::testing::Test::HasFailure()) return;
  }
  EXPECT_GE(held, 15);
}

// Another program writes while the run is held at a file step: mail appended to the store, or
// the index rewritten in place (as the client does when it moves a message). What it wrote is
// never lost: it is in the new pair (written after the pair was in place), or the run saw it and
// left or put back the old pair, said so and failed.
TEST_F(Crash, WhatAnotherProgramWritesAtAnyFileStepIsKept) {
  const std::string mail = "From late@x Mon Jan 05 10:00:00 2004\r\nSubject: late\r\n\r\nlate\r\n";
  std::string index = old_.index;
  index[index.size() / 2] ^= 1;
  for (const bool toIndex : {false, true}) {
    int held = 0;
    for (int step = 1;; ++step) {
      SCOPED_TRACE(std::string(toIndex ? "index rewritten" : "mail appended") + " at file step " +
                   std::to_string(step));
      const fs::path app = Fresh("run");
      const fs::path mark = base_ / "paused", release = base_ / "release", out = base_ / "out";
      fs::remove(mark);
      fs::remove(release);
      ChildProcess run({QV_CRASH_RUNNER, "--dir", app.string(), "--pause-at", std::to_string(step),
                        mark.string(), release.string()},
                       out.string());
      while (!fs::exists(mark) && !run.Ended())
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
      if (!fs::exists(mark)) {
        EXPECT_EQ(run.Wait(), 0);
        break;
      }
      ++held;
      const fs::path file = Folder(app) / (toIndex ? "mailbox.idx" : "mailbox.mbx");
      bool wrote = false;
      {
        // (Windows keeps others from writing to the store while it is scanned)
        std::ofstream w(
            file, toIndex ? std::ios::binary | std::ios::trunc : std::ios::binary | std::ios::app);
        if (w) w << (toIndex ? index : mail);
        w.close();
        wrote = !w.fail();
      }
      WriteFile(release, "");
      const int status = run.Wait();
      const Pair now = Read(app);
      if (!wrote) {
        ExpectWholePair(app);
      } else if (toIndex) {
        EXPECT_EQ(now.index, index);
        EXPECT_TRUE(status == 0 ? SameApartFromSeparatorTimes(now.store, new_.store)
                                : now.store == old_.store);
      } else {
        ASSERT_GE(now.store.size(), mail.size());
        const std::string before = now.store.substr(0, now.store.size() - mail.size());
        EXPECT_EQ(now.store.substr(before.size()), mail);
        EXPECT_TRUE(status == 0
                        ? SameApartFromSeparatorTimes(before, new_.store) && now.index == new_.index
                        : before == old_.store && now.index == old_.index);
      }
      if (wrote && status != 0) {
        EXPECT_NE(ReadFile(out).find("changed during the repair"), std::string::npos)
            << ReadFile(out);
      }
      EXPECT_FALSE(fs::exists(Folder(app) / "mailbox.idx.journal"));
      if (::testing::Test::HasFailure()) return;
    }
    EXPECT_GE(held, 15);
  }
}

TEST_F(Crash, TwoRepairsStartedTogetherLeaveTheNewPair) {
  for (int round = 0; round < 5; ++round) {
    SCOPED_TRACE("round " + std::to_string(round));
    const fs::path app = Fresh("run");
    ChildProcess a({QV_CLI_PATH, "repair", "--dir", app.string()});
    ChildProcess b({QV_CLI_PATH, "repair", "--dir", app.string()});
    const int sa = a.Wait(), sb = b.Wait();
    // One of them repairs; the other is refused or, if it came after, repairs the result again.
    EXPECT_TRUE(sa == 0 || sb == 0) << sa << " " << sb;
    EXPECT_TRUE(sa <= 1 && sb <= 1) << sa << " " << sb;
    bool isNew = false;
    ExpectWholePair(app, &isNew);
    EXPECT_TRUE(isNew);
    EXPECT_FALSE(fs::exists(Folder(app) / "mailbox.xyz"));
  }
}

}  // namespace
}  // namespace qv::test
