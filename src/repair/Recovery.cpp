// Settling at the next start what a crash interrupted, and after a run what was written meanwhile.
#include "repair/Replacement.h"

#include <algorithm>
#include <array>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>
#include <type_traits>
#include <vector>

#include "base/Errors.h"
#include "base/Stream.h"
#include "base/StringUtils.h"

namespace qv {

using platform::FileStamp;
using platform::FileSystem;

// --- after a crash -----------------------------------------------------------------------------

namespace {

enum class JournalRead { Missing, Unreadable, Damaged, Read };

JournalRead ReadJournalFile(FileSystem& files, const std::string& path, ReplacementJournal& j,
                            std::string* why) {
  if (!files.FileExists(path)) {
    if (!files.EntryExists(path)) return JournalRead::Missing;
    // A folder, a named pipe or a link to nothing under the journal's name: not a journal, and
    // nothing a run could make its own journal beside.
    *why = "it is not a file";
    return JournalRead::Damaged;
  }
  // A journal is a few hundred bytes: a large file is not one, and is never read into memory.
  const std::int64_t size = files.FileSize(path);
  if (size > kMaxJournalBytes) {
    *why = FormatMessage("it is %s bytes long", {IntToStr(size)});
    return JournalRead::Damaged;
  }
  std::string text(static_cast<std::size_t>(kMaxJournalBytes) + 1, '\0');
  std::size_t got = 0;
  try {
    const std::unique_ptr<TStream> in = files.OpenRead(path);
    for (std::size_t n;
         got < text.size() && (n = in->Read(text.data() + got, text.size() - got)) > 0;)
      got += n;
  } catch (const Exception& e) {
    *why = e.what();
    return JournalRead::Unreadable;
  }
  text.resize(got);
  if (got > static_cast<std::size_t>(kMaxJournalBytes)) {
    *why = "it is too long";
    return JournalRead::Damaged;
  }
  if (!ParseJournal(text, j)) {
    *why = "it is not a whole record of a repair";
    return JournalRead::Damaged;
  }
  return JournalRead::Read;
}

// A store file of the size and time recorded (its identity aside: a copied folder, or a file
// system that numbers files by where their names stand, gives it another).
bool Unchanged(const FileStamp& f, const FileMark& m) {
  return f.exists && m.exists && f.size == m.size && f.modified == m.modified;
}
// The store file recorded, as it was or changed since.
bool IsStore(const FileStamp& f, const FileMark& m) {
  return m.SameFile(f) || Unchanged(f, m);
}
// Whether the index file at `path` holds the bytes recorded.
bool IndexHolds(FileSystem& files, const std::string& path, const FileStamp& f, const FileMark& m) {
  if (!f.exists || !m.exists || f.size != m.size) return false;
  if (m.SameFile(f) && f.modified == m.modified) return true;
  return FileChecksum(files, path) == m.sum;
}
bool SameFile(const FileStamp& a, const FileStamp& b) {
  return a.exists && b.exists && a.volume == b.volume && a.id == b.id;
}

std::string Listed(const std::string& path, const FileStamp& f) {
  return FormatMessage("\"%s\" (%s bytes)", {path, IntToStr(f.size)});
}

// A file of the replacement's left beside the old pair: the old files' second names are of its
// making only when they are the old files.
enum class Kept { None, Unchanged, Changed };

// One settlement of a journal: it looks at the files, decides what can be done safely, and does
// it one rename at a time, looking again after each.
class Settlement {
 public:
  Settlement(FileSystem& files, platform::Clock& clock, const MailboxPaths& paths,
             const ReplacementJournal& journal)
      : files_(files), clock_(clock), paths_(paths), j_(journal) {}

  RecoveryPlan Decide();
  // Carries the decision out. `keepJournalOnLeftovers`: a file that could not be removed keeps
  // the journal (a run); otherwise it is reported and the journal goes (a start, which must not
  // be stopped by what it cannot remove).
  // Removes what the settled state no longer needs, the journal last (kept, with
  // `keepJournalOnLeftovers`, while anything else stays). False when a file changed meanwhile: the
  // caller looks again.
  bool RemoveLeftovers(RecoveryPlan& plan, bool keepJournalOnLeftovers);
  Recovery Carry(RecoveryPlan& plan, bool keepJournalOnLeftovers);
  // Keeps the store and the index as they are (KeepCurrentFiles).
  bool KeepCurrent(std::string* report);

 private:
  std::string Name(Made kind) const {
    const int n = kind == Made::Repaired    ? j_.repairedNo
                  : kind == Made::IndexTemp ? j_.indexTempNo
                  : kind == Made::KeptIndex ? j_.keptIndexNo
                                            : j_.keptStoreNo;
    return n > 0 ? paths_.Name(files_, kind, n) : std::string();
  }
  FileStamp StampOf(Made kind) {
    const std::string path = Name(kind);
    return path.empty() ? FileStamp() : files_.Stamp(path);
  }
  void Look() {
    index_ = files_.Stamp(paths_.indexTarget);
    store_ = files_.Stamp(paths_.storeTarget);
    repaired_ = StampOf(Made::Repaired);
    temp_ = StampOf(Made::IndexTemp);
    keptIndex_ = StampOf(Made::KeptIndex);
    keptStore_ = StampOf(Made::KeptStore);
  }
  Kept KeptIndex() {
    if (!keptIndex_.exists || !j_.oldIndex.exists) return Kept::None;
    if (IndexHolds(files_, Name(Made::KeptIndex), keptIndex_, j_.oldIndex)) return Kept::Unchanged;
    return j_.oldIndex.SameFile(keptIndex_) ? Kept::Changed : Kept::None;
  }
  Kept KeptStore() const {
    if (!keptStore_.exists) return Kept::None;
    if (Unchanged(keptStore_, j_.oldStore)) return Kept::Unchanged;
    return j_.oldStore.SameFile(keptStore_) ? Kept::Changed : Kept::None;
  }
  bool NewIndexInPlace() {
    if (!index_.exists || !j_.newIndex.exists) return false;
    // (by its bytes: once the new index is gone, another file may get its identity)
    if (j_.oldIndex.SameFile(index_) && index_.modified == j_.oldIndex.modified) return false;
    return IndexHolds(files_, paths_.indexTarget, index_, j_.newIndex);
  }
  // An old file's name at a new file's name, where a swap of the two left it (a crash before the
  // run removed it): true while it is still that old file and its bytes are kept elsewhere too.
  bool Displaced(const std::string& path, const FileMark& old, Made keptKind,
                 const std::string& target) {
    const FileStamp now = files_.Stamp(path);
    if (path.empty() || !old.SameFile(now)) return false;
    if (SameFile(now, StampOf(keptKind)) || SameFile(now, files_.Stamp(target))) return true;
    return keptKind == Made::KeptIndex ? IndexHolds(files_, path, now, old) : Unchanged(now, old);
  }
  void RemoveDisplaced() {
    const std::string temp = Name(Made::IndexTemp), repaired = Name(Made::Repaired);
    if (Displaced(temp, j_.oldIndex, Made::KeptIndex, paths_.indexTarget))
      steps_.push_back({Step::Remove, temp, "", [this, temp] {
                          return Displaced(temp, j_.oldIndex, Made::KeptIndex, paths_.indexTarget);
                        }});
    if (Displaced(repaired, j_.oldStore, Made::KeptStore, paths_.storeTarget))
      steps_.push_back({Step::Remove, repaired, "", [this, repaired] {
                          return Displaced(repaired, j_.oldStore, Made::KeptStore,
                                           paths_.storeTarget);
                        }});
  }
  RecoveryPlan AfterBothRenames();
  RecoveryPlan AfterIndexRename();
  RecoveryPlan Clear();
  RecoveryPlan Refuse(std::string why);
  // What a decision does: renames (then the files are looked at again), or removals.
  struct Step {
    enum Kind { Replace, Move, Delete, Remove } kind;
    std::string from, to;  // Remove: `from` goes when it is still the file `want` says
    std::function<bool()> stillSo;
  };
  bool DoRenames(std::string* error);

  FileSystem& files_;
  platform::Clock& clock_;
  const MailboxPaths& paths_;
  ReplacementJournal j_;
  FileStamp index_, store_, repaired_, temp_, keptIndex_, keptStore_;
  std::vector<Step> steps_;
};

RecoveryPlan Settlement::Refuse(std::string why) {
  RecoveryPlan plan;
  plan.action = Recovery::Failed;
  std::vector<std::string> found;
  auto note = [&](const std::string& path, const FileStamp& f) {
    if (f.exists && !path.empty()) found.push_back(Listed(path, f));
  };
  note(paths_.storeTarget, store_);
  note(paths_.indexTarget, index_);
  note(Name(Made::KeptStore), keptStore_);
  note(Name(Made::KeptIndex), keptIndex_);
  note(Name(Made::Repaired), repaired_);
  note(Name(Made::IndexTemp), temp_);
  note(paths_.journal, files_.Stamp(paths_.journal));
  std::string list;
  for (const std::string& f : found)
    list += (list.empty() ? "" : ", ") + f;
  plan.detail = why + " Found: " + list + ". To keep the mailbox and its index as they are and " +
                "remove what the repair left, run: " + kKeepCurrentCommand;
  return plan;
}

RecoveryPlan Settlement::Decide() {
  Look();
  steps_.clear();
  if (!j_.ready) return Clear();
  // The store is renamed last: once it is the repaired one, both were put in place.
  if (IsStore(store_, j_.newStore)) return AfterBothRenames();
  if (NewIndexInPlace()) return AfterIndexRename();
  return Clear();
}

RecoveryPlan Settlement::AfterBothRenames() {
  RecoveryPlan plan;
  const Kept store = KeptStore(), index = KeptIndex();
  if (store != Kept::Changed && index != Kept::Changed) {
    // The new pair stands; the old files' second names go, each only while it is still as the
    // run left it (what is written to it meanwhile would otherwise be lost).
    plan.action = Recovery::Finished;
    RemoveDisplaced();
    if (index == Kept::Unchanged) {
      const std::string kept = Name(Made::KeptIndex);
      steps_.push_back({Step::Remove, kept, "", [this, kept] {
                          return IndexHolds(files_, kept, files_.Stamp(kept), j_.oldIndex);
                        }});
    }
    if (store == Kept::Unchanged) {
      const std::string kept = Name(Made::KeptStore);
      steps_.push_back({Step::Remove, kept, "",
                        [this, kept] { return Unchanged(files_.Stamp(kept), j_.oldStore); }});
    }
    return plan;
  }
  // The old store or index was written to after the last check, and the new pair lacks it: the
  // old pair goes back, as long as the new one is as the run made it.
  const bool oldThere = store != Kept::None && (!j_.oldIndex.exists || index != Kept::None);
  if (!oldThere || !Unchanged(store_, j_.newStore) ||
      !IndexHolds(files_, paths_.indexTarget, index_, j_.newIndex))
    return Refuse(
        "The mailbox was written to after the repair had put the new one in place, and the "
        "files can no longer be put together safely.");
  plan.action = Recovery::Undone;
  plan.reason = store == Kept::Changed ? kStoreChangedAfter : kIndexChangedAfter;
  plan.detail = store == Kept::Changed
                    ? WhatChanged(paths_.storeTarget, j_.oldStore, keptStore_, false)
                    : WhatChanged(paths_.indexTarget, j_.oldIndex, keptIndex_, false);
  steps_.push_back({Step::Replace, Name(Made::KeptStore), paths_.storeTarget, nullptr});
  if (j_.oldIndex.exists)
    steps_.push_back({Step::Replace, Name(Made::KeptIndex), paths_.indexTarget, nullptr});
  else
    steps_.push_back({Step::Delete, paths_.indexTarget, "", nullptr});
  return plan;
}

RecoveryPlan Settlement::AfterIndexRename() {
  RecoveryPlan plan;
  // The old store in place, or (where there are no hard links) already under its second name.
  const bool inPlace = IsStore(store_, j_.oldStore);
  const bool movedAside = j_.storeMoved && !store_.exists && KeptStore() != Kept::None;
  const Kept store = inPlace ? (Unchanged(store_, j_.oldStore) ? Kept::Unchanged : Kept::Changed)
                     : movedAside ? KeptStore()
                                  : Kept::None;
  if (store == Kept::None)
    return Refuse(
        "The new index is in place, but the mailbox is neither the old one nor the repaired one.");
  const bool repairedReady = IsStore(repaired_, j_.newStore) && Unchanged(repaired_, j_.newStore);
  const Kept index = KeptIndex();
  if (store == Kept::Unchanged && repairedReady && index != Kept::Changed) {
    plan.action = Recovery::Completed;
    if (j_.storeMoved) {
      if (inPlace)
        steps_.push_back({Step::Move, paths_.storeTarget, Name(Made::KeptStore), nullptr});
      steps_.push_back({Step::Move, Name(Made::Repaired), paths_.storeTarget, nullptr});
    } else {
      steps_.push_back({Step::Replace, Name(Made::Repaired), paths_.storeTarget, nullptr});
    }
    return plan;
  }
  // The repaired store cannot complete the pair, or mail was added to the old store since: the
  // old index goes back beside the store as it is.
  if (!IndexHolds(files_, paths_.indexTarget, index_, j_.newIndex) ||
      (j_.oldIndex.exists && index == Kept::None))
    return Refuse(
        "The new index is in place beside the old mailbox, and the old index cannot be "
        "put back safely.");
  plan.action = Recovery::Undone;
  if (store == Kept::Changed) {
    plan.reason = kStoreChangedAfter;
    plan.detail =
        WhatChanged(paths_.storeTarget, j_.oldStore, inPlace ? store_ : keptStore_, false);
  }
  if (movedAside)
    steps_.push_back({Step::Move, Name(Made::KeptStore), paths_.storeTarget, nullptr});
  if (j_.oldIndex.exists)
    steps_.push_back({Step::Replace, Name(Made::KeptIndex), paths_.indexTarget, nullptr});
  else
    steps_.push_back({Step::Delete, paths_.indexTarget, "", nullptr});
  return plan;
}

RecoveryPlan Settlement::Clear() {
  // Nothing of the replacement is in place (or it was put back): what it made goes, each file
  // only when it is the very one it made.
  if (j_.repaired.SameFile(store_) || j_.indexTemp.SameFile(index_))
    return Refuse(
        "Files the repair made are in place, but its journal does not say that it "
        "put them there.");
  RecoveryPlan plan;
  plan.action = j_.ready ? Recovery::Undone : Recovery::Cleared;
  auto removeIfSame = [this](const std::string& path, const FileMark& made) {
    steps_.push_back(
        {Step::Remove, path, "", [this, path, made] { return made.SameFile(files_.Stamp(path)); }});
  };
  if (j_.repaired.SameFile(repaired_)) removeIfSame(Name(Made::Repaired), j_.repaired);
  if (j_.indexTemp.SameFile(temp_)) removeIfSame(Name(Made::IndexTemp), j_.indexTemp);
  RemoveDisplaced();
  // The old files' second names go when the files in place are the old ones or newer: otherwise
  // they may hold what the files in place lack.
  // Once the journal says that the renames may have begun, only the old files themselves do: a
  // newer file in place may have come after the new one.
  if (KeptIndex() != Kept::None) {
    const bool settles = j_.oldIndex.SameFile(index_) ||
                         (!j_.ready && index_.exists && index_.modified >= j_.oldIndex.modified);
    if (!settles)
      return Refuse(
          "The index is not the one the repair kept: it is gone, or another program put another "
          "file in its place.");
    const std::string kept = Name(Made::KeptIndex);
    steps_.push_back({Step::Remove, kept, "", [this, kept] {
                        const FileStamp now = files_.Stamp(kept);
                        return j_.oldIndex.SameFile(now) ||
                               IndexHolds(files_, kept, now, j_.oldIndex);
                      }});
  }
  if (KeptStore() != Kept::None) {
    const bool settles = j_.oldStore.SameFile(store_) ||
                         (!j_.ready && store_.exists && store_.modified >= j_.oldStore.modified);
    if (!settles)
      return Refuse(
          "The mailbox is not the one the repair kept: it is gone, or another program put another "
          "file in its place.");
    const std::string kept = Name(Made::KeptStore);
    steps_.push_back({Step::Remove, kept, "", [this, kept] {
                        const FileStamp now = files_.Stamp(kept);
                        return SameFile(now, files_.Stamp(paths_.storeTarget)) ||
                               Unchanged(now, j_.oldStore);
                      }});
  }
  return plan;
}

bool Settlement::DoRenames(std::string* error) {
  for (const Step& step : steps_) {
    bool ok = true;
    if (step.kind == Step::Replace) ok = files_.ReplaceFile(step.from, step.to, error);
    if (step.kind == Step::Move) ok = files_.MoveFile(step.from, step.to, error);
    if (step.kind == Step::Delete) ok = files_.DeleteFile(step.from, error);
    if (!ok) {
      if (error)
        *error = FormatMessage("Cannot replace file \"%s\". %s",
                               {step.kind == Step::Delete ? step.from : step.to, *error});
      return false;
    }
  }
  return true;
}

bool Settlement::RemoveLeftovers(RecoveryPlan& plan, bool keepJournalOnLeftovers) {
  // Every name must be on the disk before what the next start would need goes.
  std::string error;
  if (!SyncReplacementFolders(files_, paths_, &error)) {
    plan.detail = error;
    return true;
  }
  std::string leftovers;
  for (const Step& step : steps_) {
    if (!step.stillSo()) return false;
    std::string why;
    if (!files_.DeleteFile(step.from, &why) && files_.EntryExists(step.from))
      leftovers += FormatMessage(" \"%s\" could not be removed: %s.", {step.from, why});
  }
  // Another program's file under a name the run made (put there while the run was stopped
  // between two steps) is left to it, and named.
  for (const Made kind : {Made::IndexTemp, Made::Repaired}) {
    const std::string path = Name(kind);
    const FileMark& mine = kind == Made::IndexTemp ? j_.indexTemp : j_.repaired;
    if (!path.empty() && files_.EntryExists(path) && !mine.SameFile(files_.Stamp(path)))
      plan.detail += (plan.detail.empty() ? "" : "\n") +
                     FormatMessage(
                         "\"%s\" holds a file that the repair did not make; it was "
                         "left as it is.",
                         {path});
  }
  if (!leftovers.empty()) {
    plan.detail += (plan.detail.empty() ? "" : "\n") +
                   std::string("What the repair left beside the mailbox is not all gone.") +
                   leftovers;
    if (keepJournalOnLeftovers) return true;
  }
  std::string why;
  if (!files_.DeleteFile(paths_.journal, &why) && files_.EntryExists(paths_.journal))
    plan.detail += (plan.detail.empty() ? "" : "\n") +
                   FormatMessage("\"%s\" could not be removed: %s.", {paths_.journal, why});
  SyncReplacementFolders(files_, paths_, nullptr);
  return true;
}

Recovery Settlement::Carry(RecoveryPlan& plan, bool keepJournalOnLeftovers) {
  bool renamed = false;
  RecoveryPlan first;
  // A few rounds at most: each rename is followed by a fresh look at the files, which then call
  // for removals only (or, when something was written to a kept file meanwhile, for putting the
  // old pair back).
  for (int round = 0; round < 4; ++round) {
    RecoveryPlan now = Decide();
    if (!renamed) first = now;
    if (now.action == Recovery::Failed) {
      plan = now;
      return Recovery::Failed;
    }
    const bool renames = std::any_of(steps_.begin(), steps_.end(),
                                     [](const Step& s) { return s.kind != Step::Remove; });
    if (renames) {
      std::string error;
      if (!DoRenames(&error)) {
        plan = now;
        plan.action = Recovery::Failed;
        plan.detail = error;
        return Recovery::Failed;
      }
      if (!renamed) first = now;
      renamed = true;
      continue;
    }
    plan = first;
    if (RemoveLeftovers(plan, keepJournalOnLeftovers)) return plan.action;
  }
  plan = Refuse("The files kept changing while they were put together.");
  return Recovery::Failed;
}

bool Settlement::KeepCurrent(std::string* report) {
  Look();
  std::string done, failed;
  auto remove = [&](const std::string& path) {
    std::string why;
    if (files_.DeleteFile(path, &why))
      done += FormatMessage(" Removed \"%s\".", {path});
    else
      failed += FormatMessage(" \"%s\" could not be removed: %s.", {path, why});
  };
  // A file that may hold mail the store in place lacks is kept under a backup's name.
  auto keep = [&](const std::string& path) {
    const std::string backup = FreeBackupName(files_, clock_, path);
    std::string why;
    if (files_.MoveFile(path, backup, &why))
      done += FormatMessage(" Kept \"%s\" as \"%s\".", {path, backup});
    else
      failed += FormatMessage(" \"%s\" could not be renamed: %s.", {path, why});
  };
  if (j_.indexTemp.SameFile(temp_) && !SameFile(temp_, index_)) remove(Name(Made::IndexTemp));
  // An old file's name that a swap left: a second name where the file has another.
  if (Displaced(Name(Made::IndexTemp), j_.oldIndex, Made::KeptIndex, paths_.indexTarget))
    remove(Name(Made::IndexTemp));
  if (Displaced(Name(Made::Repaired), j_.oldStore, Made::KeptStore, paths_.storeTarget))
    remove(Name(Made::Repaired));
  // (also a second name of the index in place: the index keeps its own)
  if (KeptIndex() != Kept::None) remove(Name(Made::KeptIndex));
  const bool oldStoreKept = KeptStore() != Kept::None;
  if (oldStoreKept) {
    if (SameFile(keptStore_, store_))
      remove(Name(Made::KeptStore));
    else
      keep(Name(Made::KeptStore));
  }
  if (j_.repaired.SameFile(repaired_) && !SameFile(repaired_, store_)) {
    // Made from the old store: of no use while that is the store or was kept just now.
    if (oldStoreKept || j_.oldStore.SameFile(store_))
      remove(Name(Made::Repaired));
    else
      keep(Name(Made::Repaired));
  }
  if (failed.empty()) {
    std::string why;
    if (files_.DeleteFile(paths_.journal, &why))
      done += FormatMessage(" Removed \"%s\".", {paths_.journal});
    else
      failed += FormatMessage(" \"%s\" could not be removed: %s.", {paths_.journal, why});
  }
  SyncReplacementFolders(files_, paths_, nullptr);
  if (report) *report = Trim(done + failed);
  return failed.empty();
}

// Files that a repair of this mailbox may have left, by the names a replacement gives them:
// those that hold anything.
std::vector<std::string> PossibleLeftovers(FileSystem& files, const MailboxPaths& paths) {
  std::vector<std::string> found;
  for (const Made kind : {Made::Repaired, Made::IndexTemp, Made::KeptIndex, Made::KeptStore}) {
    for (int n = 1; n <= kMaxNameNumber; ++n) {
      const std::string path = paths.Name(files, kind, n);
      const FileStamp f = files.Stamp(path);
      if (f.exists && f.size > 0) found.push_back(Listed(path, f));
    }
  }
  return found;
}

std::string DamagedName(FileSystem& files, platform::Clock& clock, const MailboxPaths& paths) {
  return FreeDatedName(files, clock, paths.journal, "damaged");
}

// What to do with a journal that cannot be read: it is moved aside when nothing a replacement
// makes is found, so that the next start is not stopped by it for ever.
RecoveryPlan PlanDamaged(FileSystem& files, const MailboxPaths& paths, const std::string& why) {
  RecoveryPlan plan;
  const std::vector<std::string> found = PossibleLeftovers(files, paths);
  if (found.empty()) {
    plan.action = Recovery::MovedAside;
    plan.detail = FormatMessage("The journal \"%s\" cannot be read (%s).", {paths.journal, why});
    return plan;
  }
  std::string list;
  for (const std::string& f : found)
    list += (list.empty() ? "" : ", ") + f;
  plan.action = Recovery::Failed;
  plan.detail = FormatMessage(
      "The journal \"%s\" cannot be read (%s), and files that a repair may have left exist: %s. To "
      "keep the mailbox and its index as they are, run: %s (the journal is moved aside; those "
      "files stay).",
      {paths.journal, why, list, kKeepCurrentCommand});
  return plan;
}

}  // namespace

Recovery RecoverAfterRun(FileSystem& files, platform::Clock& clock, const MailboxPaths& paths,
                         const ReplacementJournal& journal, RecoveryPlan& plan) {
  Recovery outcome;
  try {
    outcome = Settlement(files, clock, paths, journal).Carry(plan, true);
  } catch (const Exception& e) {
    // An index that cannot be read cannot be told: every file stays as it is.
    plan = {Recovery::Failed, "", e.what()};
    outcome = Recovery::Failed;
  }
  if (outcome == Recovery::Failed && plan.reason.empty())
    plan.reason = "The mailbox changed during the repair, and every file was kept as it is.";
  if (outcome == Recovery::Finished && !plan.detail.empty() && files.FileExists(paths.journal))
    plan.reason =
        "The repaired mailbox is in place, but the next start of this utility has to "
        "make sure of it.";
  return outcome;
}

RecoveryPlan PlanRecovery(FileSystem& files, platform::Clock& clock, const MailboxPaths& paths) {
  ReplacementJournal journal;
  std::string why;
  switch (ReadJournalFile(files, paths.journal, journal, &why)) {
    case JournalRead::Missing:
      return {Recovery::Cleared, "", ""};
    case JournalRead::Unreadable:
      return {Recovery::Failed, "", why};
    case JournalRead::Damaged:
      return PlanDamaged(files, paths, why);
    case JournalRead::Read:
      break;
  }
  try {
    return Settlement(files, clock, paths, journal).Decide();
  } catch (const Exception& e) {
    return {Recovery::Failed, "", e.what()};  // an index that cannot be read cannot be told
  }
}

Recovery RecoverReplacement(FileSystem& files, platform::Clock& clock, const MailboxPaths& paths,
                            std::string* detail) {
  ReplacementJournal journal;
  std::string why;
  RecoveryPlan plan;
  switch (ReadJournalFile(files, paths.journal, journal, &why)) {
    case JournalRead::Missing:
      return Recovery::Cleared;
    case JournalRead::Unreadable:
      if (detail) *detail = why;
      return Recovery::Failed;
    case JournalRead::Damaged: {
      plan = PlanDamaged(files, paths, why);
      if (plan.action == Recovery::MovedAside) {
        const std::string aside = DamagedName(files, clock, paths);
        std::string error;
        if (!files.MoveFile(paths.journal, aside, &error)) {
          if (detail) *detail = FormatMessage("Cannot rename \"%s\". %s", {paths.journal, error});
          return Recovery::Failed;
        }
        plan.detail += FormatMessage(" It was renamed to \"%s\".", {aside});
      }
      if (detail) *detail = plan.detail;
      return plan.action;
    }
    case JournalRead::Read:
      break;
  }
  Recovery outcome;
  try {
    // The journal stays while anything the replacement made could not be removed: the next start
    // tries again, and no run starts beside those files.
    outcome = Settlement(files, clock, paths, journal).Carry(plan, true);
  } catch (const Exception& e) {
    plan = {Recovery::Failed, "", e.what()};  // an index that cannot be read cannot be told
    outcome = Recovery::Failed;
  }
  if (detail) *detail = plan.reason.empty() ? plan.detail : plan.reason + "\n" + plan.detail;
  return outcome;
}

bool KeepCurrentFiles(FileSystem& files, platform::Clock& clock, const MailboxPaths& paths,
                      std::string* report) {
  ReplacementJournal journal;
  std::string why;
  switch (ReadJournalFile(files, paths.journal, journal, &why)) {
    case JournalRead::Missing:
      if (report) *report = "";
      return true;
    case JournalRead::Unreadable:
      if (report) *report = why;
      return false;
    case JournalRead::Damaged: {
      const std::string aside = DamagedName(files, clock, paths);
      std::string error;
      if (!files.MoveFile(paths.journal, aside, &error)) {
        if (report) *report = FormatMessage("Cannot rename \"%s\". %s", {paths.journal, error});
        return false;
      }
      if (report)
        *report = FormatMessage("The journal \"%s\" (%s) was renamed to \"%s\".",
                                {paths.journal, why, aside});
      return true;
    }
    case JournalRead::Read:
      break;
  }
  try {
    return Settlement(files, clock, paths, journal).KeepCurrent(report);
  } catch (const Exception& e) {
    if (report) *report = e.what();
    return false;
  }
}

}  // namespace qv
