// A whole run with one failure injected at every point where the run writes: after each number of
// bytes written, and at each create, commit, sync, rename and folder sync the run makes. Whatever
// fails, the folder holds the complete old pair or the complete new pair, the failure is reported
// and the window ends in Done.
#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <memory>

#include "components/ComponentFile.h"
#include "repair/RepairFixture.h"

namespace qv::test {
namespace {

// Four messages in about a kilobyte and a half: LF and CR LF ends, a ">From " line, a multipart
// message with an attachment, a message whose last line has no break.
const std::string kSample =
    "From a@b.c Mon Jan 05 10:00:00 2004\n"
    "Message-ID: <1@x>\nFrom: Ann <ann@b.c>\nTo: bob@d.e\nSubject: plain\n\n"
    "first line\n>From the start\n\nlast line\n"
    "From a@b.c Mon Jan 05 10:01:00 2004\r\n"
    "Message-ID: <2@x>\r\nFrom: bob@d.e\r\nSubject: crlf\r\n\r\n"
    "one\r\ntwo\r\n\r\n"
    "From a@b.c Mon Jan 05 10:02:00 2004\n"
    "Message-ID: <3@x>\nFrom: Cy <cy@f.g>\nSubject: parts\nMIME-Version: 1.0\n"
    "Content-Type: multipart/mixed; boundary=\"BB\"\n\n"
    "preamble\n--BB\nContent-Type: text/plain\n\nthe text part\nwith two lines\n"
    "--BB\nContent-Type: application/octet-stream; name=\"a.bin\"\n"
    "Content-Transfer-Encoding: base64\nContent-Disposition: attachment; filename=\"a.bin\"\n\n"
    "AAECAwQFBgcICQoLDA0ODxAREhMUFRYXGBkaGxwdHh8gISIjJCUmJygpKissLS4vMDEyMzQ1Njc4\n"
    "OTo7PD0+P0BBQkNERUZHSElKS0xNTk9QUVJTVFVWV1hZWltcXV5fYGFiY2RlZmdoaWprbG1ub3Bx\n"
    "--BB--\n"
    "From a@b.c Mon Jan 05 10:03:00 2004\n"
    "Message-ID: <4@x>\nFrom: dee@h.i\nSubject: no break at the end\n\n"
    "a line of text that goes on for a while so that the message is not tiny at all\n"
    "and the last one";

// The sample's message lines, each message's without its separator, line ends removed.
std::vector<std::vector<std::string>> SampleMessages() {
  std::vector<std::vector<std::string>> messages;
  std::size_t at = 0;
  while (at < kSample.size()) {
    std::size_t end = kSample.find('\n', at);
    if (end == std::string::npos) end = kSample.size();
    std::string line = kSample.substr(at, end - at);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    at = end + 1;
    if (line.rfind("From a@b.c Mon Jan 05", 0) == 0)
      messages.emplace_back();
    else
      messages.back().push_back(line);
  }
  return messages;
}

std::vector<std::string> CrLfLines(const std::string& text) {
  std::vector<std::string> lines;
  std::size_t at = 0;
  while (at < text.size()) {
    const std::size_t end = text.find("\r\n", at);
    if (end == std::string::npos) {
      lines.push_back(text.substr(at));
      break;
    }
    lines.push_back(text.substr(at, end - at));
    at = end + 2;
  }
  return lines;
}

class FaultSweep : public RepairFixture {
 protected:
  struct Pair {
    std::string store, index;
  };

  void SetUp() override {
    RepairFixture::SetUp();
    UseMemoryFolder();  // (thousands of runs)
    fake_.files.realSync = false;
    WriteIndex({{"<1@x>", "_msSent", true}, {"<3@x>", "_msSent", false}});
    old_ = {kSample, ReadFile(File("mailbox.idx"))};
  }

  // The old pair in a clean folder, and no fault switched on.
  void Arrange() {
    fs::remove_all(Folder());
    fs::create_directories(Folder());
    WriteFile(File("mailbox.mbx"), old_.store);
    WriteFile(File("mailbox.idx"), old_.index);
    FaultyFileSystem& files = fake_.files;
    files.failing.clear();
    files.failWhen = nullptr;
    files.writeLimit = -1;
    files.written = 0;
    files.log.clear();
    files.calls.clear();
    view_ = RecordingView();
    view_.beeper = &fake_.beeper;
    fake_.beeper.beeps = 0;
  }

  std::unique_ptr<TForm1> Run() {
    auto form = Start();
    EXPECT_EQ(form->CurrentState(), TForm1::State::Ready);
    form->SetBackup(backup_);
    form->Button1Click();
    return form;
  }

  Pair InPlace() const { return {ReadFile(File("mailbox.mbx")), ReadFile(File("mailbox.idx"))}; }

  // A run without faults: its pair, the bytes it writes and the file steps it takes.
  void RunClean() {
    Arrange();
    auto form = Run();
    ASSERT_TRUE(form->Replaced());
    ASSERT_TRUE(view_.errors.empty());
    new_ = InPlace();
    bytes_ = fake_.files.written;
    steps_ = fake_.files.log;
  }

  // What every failed run must leave. `leftoversAllowed`: a removal was made to fail, so a file of
  // the run may stay beside the pair (never in place of it).
  void ExpectSafe(const TForm1& form, bool leftoversAllowed) {
    EXPECT_EQ(form.CurrentState(), TForm1::State::Done);
    EXPECT_TRUE(form.Button2.Enabled());
    EXPECT_EQ(form.Button2.Caption(), "Close");
    EXPECT_FALSE(form.Button1.Enabled());
    ASSERT_FALSE(view_.errors.empty());
    EXPECT_EQ(fake_.beeper.beeps, static_cast<int>(view_.errors.size()));
    EXPECT_EQ(view_.beepsAtErrors, fake_.beeper.beeps);
    ExpectWholePair(form.Replaced(), leftoversAllowed);
  }

  // The old or the new pair in place, whole; nothing else beside it but what a failed removal
  // left.
  void ExpectWholePair(bool replaced, bool leftoversAllowed) {
    const Pair now = InPlace();
    const bool isOld = now.store == old_.store && now.index == old_.index;
    const bool isNew = now.store == new_.store && now.index == new_.index;
    EXPECT_TRUE(isOld || isNew);
    EXPECT_EQ(replaced, isNew);
    std::vector<std::string> names = FolderEntries();
    if (leftoversAllowed)
      std::erase_if(names, [](const std::string& n) {
        return n == "mailbox.xyz" || n == "mailbox.idx.tmp" || n == "mailbox.idx.restore" ||
               n == "mailbox.mbx.restore" || n == "mailbox.idx.journal" ||
               n.find(".bak-") != std::string::npos;
      });
    // Backups are made before anything is replaced and stay once the pair is; a run that stops
    // takes its backups with it.
    std::erase_if(names, [replaced](const std::string& n) {
      return replaced && n.find(".bak-") != std::string::npos;
    });
    EXPECT_EQ(names, (std::vector<std::string>{"mailbox.idx", "mailbox.mbx"}));
  }

  // A run whose end could not be made sure of leaves its journal; the next start of the program
  // settles it, and the folder then holds the new pair alone.
  void ExpectNextStartCompletes() {
    fake_.files.failWhen = nullptr;
    fake_.files.failing.clear();
    view_ = RecordingView();
    auto next = Start();
    EXPECT_EQ(next->InterruptedReplacement(), TForm1::Interrupted::Completed);
    ASSERT_EQ(view_.messages.size(), 1u);
    EXPECT_TRUE(view_.messages[0] == kReplacementCompleted ||
                view_.messages[0] == kReplacementFinished)
        << view_.messages[0];
    EXPECT_EQ(InPlace().store, new_.store);
    EXPECT_EQ(InPlace().index, new_.index);
    std::vector<std::string> names = FolderEntries();
    std::erase_if(names, [](const std::string& n) { return n.find(".bak-") != std::string::npos; });
    EXPECT_EQ(names, (std::vector<std::string>{"mailbox.idx", "mailbox.mbx"}));
  }

  // Fails the call of `step` ("op path") at its `nth` occurrence, and every removal when asked.
  void FailStep(const std::string& step, int nth, bool failDeletes) {
    auto seen = std::make_shared<int>(0);
    fake_.files.failWhen = [=](const std::string& op, const std::string& path) {
      if (failDeletes && op == "delete") return true;
      return op + " " + path == step && ++*seen == nth;
    };
  }

  Pair old_, new_;
  bool backup_ = false;
  std::int64_t bytes_ = 0;
  std::vector<std::string> steps_;
};

TEST_F(FaultSweep, TheNewPairHoldsEveryMessageLineInOrder) {
  RunClean();
  const auto messages = SampleMessages();
  ASSERT_EQ(messages.size(), 4u);
  const std::vector<std::string> lines = CrLfLines(new_.store);
  std::size_t at = 0;
  for (const auto& message : messages) {
    ASSERT_LT(at, lines.size());
    EXPECT_EQ(lines[at].rfind("From ", 0), 0u) << lines[at];
    ++at;
    for (const auto& line : message) {
      ASSERT_LT(at, lines.size());
      EXPECT_EQ(lines[at++], line);
    }
    // Then only the empty lines that end a block.
    const std::size_t block = at;
    while (at < lines.size() && lines[at].empty())
      ++at;
    if (message.empty() || !message.back().empty()) {
      EXPECT_GT(at, block);
    }
  }
  EXPECT_EQ(at, lines.size());
  EXPECT_EQ(LoadIndex().MailItems().Count(), 4);
  // The sweep below must cover both files, the journal and every step of the replacement.
  EXPECT_GT(bytes_, static_cast<std::int64_t>(new_.store.size() + new_.index.size()));
}

TEST_F(FaultSweep, DiskFullAfterEveryByteCountLeavesAWholePair) {
  // With hard links the old index is kept under a second name; without them, by a copy, whose
  // bytes (after those of the repaired store and the new index, which are the same either way)
  // are swept as well.
  for (const bool hardLinks : {true, false}) {
    fake_.files.hardLinks = hardLinks;
    RunClean();
    const auto from =
        hardLinks ? 0 : static_cast<std::int64_t>(new_.store.size() + new_.index.size());
    for (const bool failDeletes : {false, true}) {
      for (std::int64_t n = from; n <= bytes_; ++n) {
        SCOPED_TRACE("disk full after " + std::to_string(n) + " bytes" +
                     (failDeletes ? ", removals failing" : "") +
                     (hardLinks ? "" : ", no hard links"));
        Arrange();
        fake_.files.writeLimit = n;
        if (failDeletes)
          fake_.files.failWhen = [](const std::string& op, const std::string&) {
            return op == "delete";
          };
        auto form = Run();
        if (n == bytes_) {
          // Room for everything: the run succeeds, but says so only when it left nothing behind.
          EXPECT_EQ(view_.errors.empty(), !failDeletes);
          EXPECT_EQ(form->Unsettled(), failDeletes);
          EXPECT_EQ(InPlace().store, new_.store);
          EXPECT_EQ(InPlace().index, new_.index);
          continue;
        }
        ExpectSafe(*form, failDeletes);
        // What failed and why: the file that filled the disk.
        ASSERT_EQ(view_.errors.size(), 1u);
        EXPECT_EQ(view_.errors[0].rfind("Stream write error\n\"" + Folder().string(), 0), 0u)
            << view_.errors[0];
        EXPECT_NE(view_.errors[0].find("No space left on device"), std::string::npos);
        if (::testing::Test::HasFailure()) return;
      }
    }
  }
}

TEST_F(FaultSweep, FailureAtEveryFileStepLeavesAWholePair) {
  for (const bool backup : {false, true}) {
    SCOPED_TRACE(backup ? "with backups" : "without backups");
    backup_ = backup;
    RunClean();
    const std::string folder = (Folder() / "").string();
    // Every create, commit, sync, link, rename, removal and folder sync of a run, in order (the
    // backups are two more links; where renames swap names, the old files' names at the new
    // files' are two more removals, which the settlement after the renames makes again).
    const std::string displacedIndex = "delete " + folder + "mailbox.idx.tmp";
    const std::string displacedStore = "delete " + folder + "mailbox.xyz";
#ifdef _WIN32
    ASSERT_EQ(steps_.size(), backup ? 24u : 22u);
#else
    ASSERT_EQ(steps_.size(), backup ? 26u : 24u);
#endif
    std::map<std::string, int> occurrences;
    for (const bool failDeletes : {false, true}) {
      occurrences.clear();
      bool renamed = false;  // the step failed comes after both renames
      for (const std::string& step : steps_) {
        const int nth = ++occurrences[step];
        SCOPED_TRACE(step + " (" + std::to_string(nth) + ")" +
                     (failDeletes ? ", removals failing" : ""));
        Arrange();
        FailStep(step, nth, failDeletes);
        auto form = Run();
        if (step == "create " + folder + "mailbox.xyz") {
          // The run cannot start: it says so and the window closes.
          ExpectSafe(*form, failDeletes);
          ASSERT_FALSE(view_.errors.empty());
          EXPECT_EQ(view_.errors[0].rfind(std::string(kErrorCreatingBackup) + "\n", 0), 0u);
          EXPECT_TRUE(view_.closed);
        } else if (!renamed && step != displacedIndex) {
          ExpectSafe(*form, failDeletes);
          EXPECT_FALSE(form->Replaced());
        } else {
          // The pair is in place; what could not be made sure of afterwards is settled by the
          // next start. A failed folder sync, or a file of the run left behind, is worth an error
          // box (no success is reported while something is left).
          EXPECT_TRUE(form->Replaced());
          const bool left = failDeletes || (step.rfind("delete", 0) == 0 &&
                                            step != displacedIndex && step != displacedStore);
          EXPECT_EQ(view_.errors.size(), (step.rfind("syncdir", 0) == 0 && nth == 2) || left);
          EXPECT_EQ(form->Unsettled(), fs::exists(File("mailbox.idx.journal")));
          ExpectWholePair(true, true);
          if (!failDeletes && fs::exists(File("mailbox.idx.journal"))) ExpectNextStartCompletes();
        }
        if (step == "replace " + folder + "mailbox.xyz") renamed = true;
        if (::testing::Test::HasFailure()) return;
      }
    }
  }
}

}  // namespace
}  // namespace qv::test
