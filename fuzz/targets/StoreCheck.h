// A whole store through a repair run, as the utility does it over files: a scratch program folder
// with a small index, the window model driven headless (fixed clock, English names, a recording
// view), and the check that the repaired store keeps every message line unchanged and in order.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace qv {
class Findings;
}

namespace qv::fuzz {

// One message of a store as the scan sees it.
struct StoreMessage {
  std::int64_t offset = 0;         // of its separator line
  std::vector<std::string> lines;  // the lines after the separator, without line ends
};

// The messages of a store: what follows each separator line up to the next one. Lines before the
// first separator are a message of their own (the first, at offset 0) when the store has a
// separator and they are not all blank; `leading` (when given) counts those lines.
std::vector<StoreMessage> SplitStore(std::string_view store, std::int64_t* leading = nullptr);

struct RepairOutcome {
  bool done = false;      // the window reached its Done state
  bool replaced = false;  // the run put a new pair in place
  std::vector<std::string> errors;
  std::vector<std::int64_t> offsets;  // of the new index's entries, in order
  std::vector<std::int64_t> sizes;
  std::vector<bool> attachments;  // the attachment marks
  std::int64_t messages = 0;      // the messages the scan found
  std::size_t fileSteps = 0;      // what the run asked of the file layer
  // The merge's figures that the findings count as well.
  std::int64_t withoutMessageId = 0, duplicateMessageIds = 0, droppedEntries = 0;
};

// A program folder of its own, removed when destroyed: under /dev/shm when there is one and
// inMemory holds (fast, for many small runs), else in the temporary folder.
class ScratchProgramFolder {
 public:
  explicit ScratchProgramFolder(const std::string& tag, bool inMemory = true);
  ~ScratchProgramFolder();
  ScratchProgramFolder(const ScratchProgramFolder&) = delete;
  ScratchProgramFolder& operator=(const ScratchProgramFolder&) = delete;

  const std::string& Dir() const noexcept { return dir_; }
  std::string StorePath() const;
  // Empties the folder, then writes the store and a small old index beside it.
  void Prepare(std::string_view store);
  // Empties the folder and writes the old index only; the caller writes the store to StorePath()
  // (for stores too large to hold in memory).
  void PrepareIndexOnly();

 private:
  std::string dir_;
};

// Runs the repair, or a dry run, over the program folder (FormShow, then Button1Click), recording
// what it finds damaged in `findings` when given.
RepairOutcome RunRepair(const std::string& programDir, bool dryRun = false,
                        Findings* findings = nullptr);

// The invariants of the findings of a run over `store`: every kind counts at least what it lists;
// the counts of messages without or with a duplicate Message-ID and of dropped entries are the
// merge's figures; each finding in a message lies in the store, within its message, and a stray
// byte's offset holds that byte. Throws FuzzInvariantBroken.
void CheckFindings(std::string_view store, const RepairOutcome& outcome, const Findings& findings);

// The invariants of a run over `original`, whose repaired store is `repaired` (the file now in
// place when the run replaced the pair): a store with a separator line (or an empty one) is
// repaired without an error; the repaired store holds the same messages in the same order, each
// with its lines unchanged and only empty lines added at its end; the index has one entry per
// message with its offset and size. A store without any separator is left alone with "No
// messages were found in the mailbox. Nothing was changed.". Throws FuzzInvariantBroken.
void CheckRepair(std::string_view original, const RepairOutcome& outcome,
                 std::string_view repaired);

}  // namespace qv::fuzz
