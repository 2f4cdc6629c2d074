// A store of one 512 MiB line, alone and as the body of a message, repaired in a child process
// whose peak memory (getrusage of that child) is measured: a message's line is held once, a line
// that belongs to no message is never held whole. About a minute: these tests carry the CTest
// label "slow", which the sanitizer preset leaves out.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <functional>
#include <string>

#include "base/Stream.h"
#include "repair/Repair.h"
#include "repair/StoreReader.h"
#include "targets/StoreCheck.h"

namespace qv::test {
namespace {

using fuzz::RepairOutcome;
using fuzz::RunRepair;
using fuzz::ScratchProgramFolder;

constexpr std::size_t kLine = std::size_t{512} << 20;
#if defined(__SANITIZE_ADDRESS__)
constexpr bool kUnderSanitizer = true;
#else
constexpr bool kUnderSanitizer = false;
#endif
const std::string kSeparator = "From a@example.com Tue Dec 08 14:23:50 2026\n";

// Runs `body` in a child; returns its exit status and its peak resident size in MiB.
std::pair<int, long> InChild(const std::function<int()>& body) {
  std::fflush(nullptr);
  const pid_t pid = ::fork();
  if (pid == 0) {
    int status = 1;
    try {
      status = body();
    } catch (const std::exception& e) {
      std::fprintf(stderr, "child: %s\n", e.what());
    }
    std::fflush(nullptr);
    ::_exit(status);
  }
  int status = 0;
  rusage usage{};
  ::wait4(pid, &status, 0, &usage);
  return {WIFEXITED(status) ? WEXITSTATUS(status) : 128, usage.ru_maxrss / 1024};
}

void WriteLine(TFileStream& out) {
  const std::string chunk(std::size_t{1} << 20, 'x');
  for (std::size_t done = 0; done < kLine; done += chunk.size())
    out.WriteString(chunk);
}

int Fail(const char* what) {
  std::fprintf(stderr, "child: %s\n", what);
  return 1;
}

// The lines of the repaired store, checked one by one: the messages' lines and the empty lines
// the repair adds, with the huge line intact.
int CheckRepaired(const std::string& path, std::size_t expectedSeparators) {
  TFileStream in(path, FileMode::OpenRead);
  StoreReader reader(in);
  std::string_view line;
  std::size_t separators = 0, huge = 0;
  while (reader.ReadLine(line)) {
    if (line.size() == kLine) {
      if (line.find_first_not_of('x') != std::string_view::npos) return Fail("the line changed");
      ++huge;
    } else if (line.starts_with("From ")) {
      ++separators;
    }
  }
  if (separators != expectedSeparators) return Fail("the separators are not all there");
  if (huge != 1) return Fail("the huge line is not there");
  return 0;
}

TEST(HugeLine, AMessageOfOne512MiBLineIsRepairedInBoundedMemory) {
  if (kUnderSanitizer) GTEST_SKIP() << "too slow under the sanitizers";
  const auto [status, peakMiB] = InChild([] {
    ScratchProgramFolder folder("huge-message", false);
    folder.PrepareIndexOnly();
    {
      TFileStream out(folder.StorePath(), FileMode::Create);
      out.WriteString(kSeparator + "Subject: huge\n\n");
      WriteLine(out);
      out.WriteString("\n" + kSeparator + "Subject: after\n\nbody\n");
      out.Close();
    }
    const RepairOutcome outcome = RunRepair(folder.Dir());
    if (!outcome.replaced || !outcome.errors.empty()) return Fail("the repair failed");
    if (outcome.offsets.size() != 2) return Fail("not two messages");
    return CheckRepaired(folder.StorePath(), 2);
  });
  EXPECT_EQ(status, 0);
  std::printf("peak RSS, one message of a 512 MiB line: %ld MiB\n", peakMiB);
  RecordProperty("peak_rss_mib", static_cast<int>(peakMiB));
  // Measured: the line once and a few MiB (the reader's buffer holds the message; it is parsed
  // and written from there). At most twice the line.
  EXPECT_LE(peakMiB, 2 * 512);
}

TEST(HugeLine, AStoreOfOne512MiBLineIsLeftAloneInBoundedMemory) {
  if (kUnderSanitizer) GTEST_SKIP() << "too slow under the sanitizers";
  const auto [status, peakMiB] = InChild([] {
    ScratchProgramFolder folder("huge-line", false);
    folder.PrepareIndexOnly();
    {
      TFileStream out(folder.StorePath(), FileMode::Create);
      WriteLine(out);
      out.Close();
    }
    const RepairOutcome outcome = RunRepair(folder.Dir());
    if (outcome.replaced) return Fail("a store without messages was replaced");
    if (outcome.errors.size() != 1 || outcome.errors[0] != kNoMessagesFound)
      return Fail("not reported as a store without messages");
    TFileStream in(folder.StorePath(), FileMode::OpenRead);
    if (in.Size() != static_cast<std::int64_t>(kLine)) return Fail("the store changed");
    return 0;
  });
  EXPECT_EQ(status, 0);
  std::printf("peak RSS, a store of one 512 MiB line: %ld MiB\n", peakMiB);
  RecordProperty("peak_rss_mib", static_cast<int>(peakMiB));
  // Measured: a few MiB (the line is read through a buffer of 1 MiB, never held whole).
  EXPECT_LE(peakMiB, 64);
}

}  // namespace
}  // namespace qv::test
