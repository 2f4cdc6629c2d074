#include "targets/StoreCheck.h"

#include <unistd.h>

#include <filesystem>
#include <system_error>

#include "FuzzTargets.h"
#include "base/DateTime.h"
#include "base/Stream.h"
#include "base/StringUtils.h"
#include "components/Component.h"
#include "components/ComponentStream.h"
#include "mailbox/qvMailbox.h"
#include "platform/SystemPlatform.h"
#include "repair/Findings.h"
#include "repair/Repair.h"
#include "repair/StoreReader.h"
#include "support/FakePlatform.h"

namespace qv::fuzz {

namespace fs = std::filesystem;

namespace {

// The fixed clock of every run: Tue Dec 08 14:23:50 2026.
TDateTime RunTime() {
  return EncodeDateTime(2026, 12, 8, 14, 23, 50);
}

// The old index every scratch folder gets: two folders and one entry.
const std::string& OldIndex() {
  static const std::string bytes = [] {
    TqvMailBox box(nullptr);
    box.SetName("MailBox");
    box.TreeItems().NewItem().SetText("Inbox");
    box.TreeItems().NewItem().SetText("Sent");
    TMailMessageItem& item = box.MailItems().NewItem();
    item.SetFolderKey("Sent");
    item.SetRead(true);
    item.SetMessageId("<old@example.com>");
    TMemoryStream out;
    WriteComponentStream(out, box);
    return out.TakeData();
  }();
  return bytes;
}

}  // namespace

std::vector<StoreMessage> SplitStore(std::string_view store, std::int64_t* leading) {
  test::FixedClock clock(RunTime());
  const platform::LocaleNames& names = platform::EnglishNames();
  TViewStream in(store);
  // Small blocks: the lines are the same whatever the block size, and a large buffer per call
  // would cost the fuzzer more than the check.
  StoreReader reader(in, 4096);
  std::vector<StoreMessage> messages;
  StoreMessage before;  // the lines before the first separator
  bool text = false;    // some of them are not blank
  std::string_view line;
  while (reader.ReadLine(line)) {
    if (IsSeparatorLine(line, names, clock)) {
      messages.push_back({reader.LineOffset(), {}});
    } else if (!messages.empty()) {
      messages.back().lines.emplace_back(line);
    } else {
      before.lines.emplace_back(line);
      text = text || line.find_first_not_of(" \t\r") != std::string_view::npos;
    }
  }
  if (leading) *leading = static_cast<std::int64_t>(before.lines.size());
  // Text before the first separator is a message of its own, the first.
  if (text && !messages.empty()) messages.insert(messages.begin(), std::move(before));
  return messages;
}

ScratchProgramFolder::ScratchProgramFolder(const std::string& tag, bool inMemory) {
  std::error_code ec;
  const fs::path base = inMemory && fs::is_directory("/dev/shm", ec) ? fs::path("/dev/shm")
                                                                     : fs::temp_directory_path();
  dir_ = (base / ("qvfuzz-" + tag + "-" + std::to_string(::getpid()))).string() + "/";
  fs::remove_all(dir_, ec);
  fs::create_directories(fs::path(dir_) / "profile" / "default");
}

ScratchProgramFolder::~ScratchProgramFolder() {
  std::error_code ec;
  fs::remove_all(dir_, ec);
}

std::string ScratchProgramFolder::StorePath() const {
  return dir_ + "profile/default/mailbox.mbx";
}

void ScratchProgramFolder::PrepareIndexOnly() {
  const fs::path folder = fs::path(dir_) / "profile" / "default";
  std::error_code ec;
  for (const auto& entry : fs::directory_iterator(folder, ec))
    fs::remove_all(entry.path(), ec);
  TFileStream index((folder / "mailbox.idx").string(), FileMode::Create);
  index.WriteString(OldIndex());
  index.Close();
}

void ScratchProgramFolder::Prepare(std::string_view store) {
  PrepareIndexOnly();
  TFileStream out(StorePath(), FileMode::Create);
  out.WriteBuffer(store.data(), store.size());
  out.Close();
}

RepairOutcome RunRepair(const std::string& programDir, bool dryRun, Findings* findings) {
  test::FakeServices fake(RunTime());
  test::RecordingView view;
  TComponentRegistry registry;
  RepairOutcome outcome;
  TForm1 form(fake.services(), view, registry);
  form.SetAppDir(programDir);
  form.SetDryRun(dryRun);
  form.SetFindings(findings);
  form.FormShow();
  form.Button1Click();
  outcome.done = form.CurrentState() == TForm1::State::Done;
  outcome.replaced = form.Replaced();
  outcome.errors = view.errors;
  outcome.messages = form.Figures().messages;
  outcome.fileSteps = fake.files.log.size();
  outcome.withoutMessageId = form.Figures().withoutMessageId;
  outcome.duplicateMessageIds = form.Figures().duplicateMessageIds;
  outcome.droppedEntries = form.Figures().droppedEntries;
  const TCompactMessageList& entries = form.IndexEntries();
  TMailMessageItem item;
  for (std::size_t i = 0; i < entries.Count(); ++i) {
    entries.Get(i, item);
    outcome.offsets.push_back(item.Offset());
    outcome.sizes.push_back(item.BlockSize());
    outcome.attachments.push_back(item.HasAttachment());
  }
  return outcome;
}

void CheckFindings(std::string_view store, const RepairOutcome& outcome, const Findings& findings) {
  Check(findings.Count(FindingKind::NoMessageId) == outcome.withoutMessageId,
        "the findings count other messages without Message-ID than the merge");
  Check(findings.Count(FindingKind::DuplicateMessageId) == outcome.duplicateMessageIds,
        "the findings count other duplicate Message-IDs than the merge");
  Check(findings.Count(FindingKind::DroppedEntry) == outcome.droppedEntries,
        "the findings count other dropped entries than the merge");
  const auto size = static_cast<std::int64_t>(store.size());
  for (std::size_t k = 0; k < kFindingKinds; ++k) {
    const auto kind = static_cast<FindingKind>(k);
    Check(findings.Count(kind) >= static_cast<std::int64_t>(findings.Listed(kind).size()),
          "a kind of finding lists more than it counts");
    if (kind == FindingKind::DroppedEntry) continue;  // placed where the old index said
    for (const Finding& f : findings.Listed(kind)) {
      Check(f.message >= 0 && f.message < outcome.messages, "a finding names no message");
      const std::int64_t begin = findings.MessageOffset(static_cast<std::size_t>(f.message));
      const std::int64_t end = findings.MessageOffset(static_cast<std::size_t>(f.message) + 1);
      Check(f.offset >= begin && f.offset <= (end < 0 ? size : end) && f.offset <= size,
            "a finding lies outside its message");
      const char byte = kind == FindingKind::StrayCr   ? '\r'
                        : kind == FindingKind::NulByte ? '\0'
                                                       : '\x1a';
      if (kind == FindingKind::StrayCr || kind == FindingKind::NulByte ||
          kind == FindingKind::CtrlZByte)
        Check(f.offset < size && store[static_cast<std::size_t>(f.offset)] == byte,
              "a stray byte's finding is not at that byte");
    }
  }
}

void CheckRepair(std::string_view original, const RepairOutcome& outcome,
                 std::string_view repaired) {
  Check(outcome.done, "the run did not reach Done");
  const std::vector<StoreMessage> before = SplitStore(original);
  if (before.empty() && !original.empty()) {
    Check(!outcome.replaced, "a store without messages was replaced");
    // The text, then the store and why on a second line.
    Check(outcome.errors.size() == 1 &&
              outcome.errors[0].starts_with(std::string(kNoMessagesFound) + "\n"),
          "a store without messages was not reported as such");
    Check(repaired == original, "a store without messages was changed");
    return;
  }
  if (!outcome.errors.empty()) Broken("the repair failed: " + outcome.errors[0]);
  Check(outcome.replaced, "the repair did not replace the files");

  std::int64_t leading = 0;
  const std::vector<StoreMessage> after = SplitStore(repaired, &leading);
  Check(leading == 0, "the repaired store has lines before its first separator");
  Check(after.size() == before.size(),
        "the repaired store does not hold as many messages as the original");
  Check(outcome.offsets.size() == after.size(), "the index does not have one entry per message");
  for (std::size_t i = 0; i < after.size(); ++i) {
    const auto& in = before[i].lines;
    const auto& out = after[i].lines;
    Check(out.size() >= in.size() && out.size() <= in.size() + 2,
          "a repaired message has lost or gained lines");
    for (std::size_t k = 0; k < in.size(); ++k)
      if (out[k] != in[k])
        Broken("line " + std::to_string(k) + " of message " + std::to_string(i) + " was changed");
    for (std::size_t k = in.size(); k < out.size(); ++k)
      Check(out[k].empty(), "a repaired message ends with a line that is not empty");
    const std::int64_t end =
        i + 1 < after.size() ? after[i + 1].offset : static_cast<std::int64_t>(repaired.size());
    Check(outcome.offsets[i] == after[i].offset, "an index entry has the wrong offset");
    Check(outcome.sizes[i] == end - after[i].offset, "an index entry has the wrong size");
  }
}

}  // namespace qv::fuzz
