#include "repair/Replacement.h"

#include <algorithm>
#include <array>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>
#include <type_traits>
#include <utility>
#include <vector>

#include "base/Errors.h"
#include "base/Stream.h"
#include "base/StringUtils.h"

namespace qv {

using platform::FileStamp;
using platform::FileSystem;

// --- names -------------------------------------------------------------------------------------

MailboxPaths MailboxPaths::For(FileSystem& files, const std::string& folder,
                               const std::string& fileName) {
  MailboxPaths p;
  p.folder = folder;
  const std::string base = folder + fileName;
  p.store = base + ".mbx";
  p.index = base + ".idx";
  p.storeTarget = files.ResolveLinks(p.store);
  p.indexTarget = files.ResolveLinks(p.index);
  p.journal = files.SiblingPath(p.index, ".journal");
  p.repaired = p.Name(files, Made::Repaired, 1);
  p.indexTemp = p.Name(files, Made::IndexTemp, 1);
  p.restore = p.Name(files, Made::KeptIndex, 1);
  p.storeRestore = p.Name(files, Made::KeptStore, 1);
  return p;
}

std::string MailboxPaths::Name(const FileSystem& files, Made kind, int number) const {
  const std::string more = number > 1 ? "-" + std::to_string(number) : std::string();
  switch (kind) {
    case Made::Repaired: {
      const std::string& t = storeTarget;
      const bool mbx = t.size() > 4 && SameText(std::string_view(t).substr(t.size() - 4), ".mbx");
      if (t == store || mbx) return t.substr(0, t.size() - 4) + ".xyz" + more;
      return files.SiblingPath(t, ".xyz" + more);
    }
    case Made::IndexTemp:
      return files.SiblingPath(indexTarget, ".tmp" + more);
    case Made::KeptIndex:
      return files.SiblingPath(indexTarget, ".restore" + more);
    case Made::KeptStore:
      return files.SiblingPath(storeTarget, ".restore" + more);
  }
  return {};
}

std::vector<std::string> MailboxPaths::Folders(const FileSystem& files) const {
  std::vector<std::string> folders;
  for (const std::string* path : {&journal, &indexTarget, &storeTarget}) {
    std::string f = files.FolderOf(*path);
    if (f.empty()) f = ".";
    if (std::find(folders.begin(), folders.end(), f) == folders.end()) folders.push_back(f);
  }
  return folders;
}

// --- the steps before the first rename ---------------------------------------------------------

namespace {
// The text with a full stop at its end (the system's reasons come without one).
std::string Sentence(std::string text) {
  if (!text.empty() && text.back() != '.') text += '.';
  return text;
}
[[noreturn]] void Raise(const char* pattern, const std::string& path, const std::string& error) {
  throw EWriteError(FormatMessage(pattern, {path, error}));
}
constexpr const char* kFlushFile = "Cannot flush file \"%s\". %s";
constexpr const char* kReplaceFile = "Cannot replace file \"%s\". %s";

}  // namespace

std::string WhatChanged(const std::string& path, const FileMark& before, const FileStamp& now,
                        bool statusToo) {
  if (!before.exists) return now.exists ? FormatMessage("\"%s\" was made.", {path}) : "";
  if (!now.exists) return FormatMessage("\"%s\" was removed.", {path});
  if (!before.SameFile(now)) return FormatMessage("\"%s\" was replaced by another file.", {path});
  if (now.size != before.size)
    return FormatMessage("\"%s\" was %s bytes long and is now %s bytes long.",
                         {path, IntToStr(before.size), IntToStr(now.size)});
  if (now.modified != before.modified)
    return FormatMessage("\"%s\" was written to (its size is the same).", {path});
  return statusToo ? FormatMessage("\"%s\" was changed (its status changed).", {path}) : "";
}

void LinkOrCopy(FileSystem& files, const std::string& from, const std::string& to,
                bool keepRights) {
  std::string error;
  switch (files.LinkFile(from, to, &error)) {
    case platform::LinkOutcome::Linked:
      return;
    case platform::LinkOutcome::Failed:
      throw EFCreateError(FormatMessage(kFCreateError, {to, error}));
    case platform::LinkOutcome::NotSupported:
      break;
  }
  {
    const std::unique_ptr<TStream> in = files.OpenRead(from);
    std::unique_ptr<TStream> out = files.CreateFile(to);
    try {
      out->CopyFrom(*in, 0);
      out->Commit();
    } catch (...) {
      out.reset();  // (Windows removes no file that is open)
      files.DeleteFile(to, nullptr);
      throw;
    }
  }
  if ((keepRights && !files.CopyPermissions(from, to, &error)) || !files.SyncFile(to, &error)) {
    files.DeleteFile(to, nullptr);
    Raise(kFlushFile, to, error);
  }
}

bool SyncReplacementFolders(FileSystem& files, const MailboxPaths& paths, std::string* error) {
  for (const std::string& folder : paths.Folders(files)) {
    if (!files.SyncFolder(folder, error)) {
      if (error) *error = FormatMessage("Cannot flush folder \"%s\". %s", {folder, *error});
      return false;
    }
  }
  return true;
}

std::string FreeDatedName(FileSystem& files, platform::Clock& clock, const std::string& path,
                          const char* tag, const std::string& alsoFree) {
  const TDateTime now = clock.Now();
  const DateParts d = DecodeDate(now);
  const TimeParts t = DecodeTime(now);
  const std::string stamp =
      Format(".%s-%04d%02d%02d-%02d%02d%02d", tag, d.year, d.month, d.day, t.hour, t.min, t.sec);
  // An earlier backup of the same second (or of the hour a clock change repeats) keeps its name.
  for (int n = 1;; ++n) {
    const std::string suffix = n > 1 ? stamp + "-" + std::to_string(n) : stamp;
    const std::string name = files.SiblingPath(path, suffix);
    if (n < kMaxNameNumber &&
        (files.EntryExists(name) ||
         (!alsoFree.empty() && files.EntryExists(files.SiblingPath(alsoFree, suffix)))))
      continue;
    return name;
  }
}

std::string FreeBackupName(FileSystem& files, platform::Clock& clock, const std::string& path,
                           const std::string& alsoFree) {
  return FreeDatedName(files, clock, path, "bak", alsoFree);
}

// --- the replacement ---------------------------------------------------------------------------

Replacement::~Replacement() = default;

std::string Replacement::Name(Made kind) const {
  const int n = kind == Made::Repaired    ? journal_.repairedNo
                : kind == Made::IndexTemp ? journal_.indexTempNo
                : kind == Made::KeptIndex ? journal_.keptIndexNo
                                          : journal_.keptStoreNo;
  return paths_.Name(files_, kind, std::max(n, 1));
}

int& Replacement::Number(Made kind) {
  return kind == Made::Repaired    ? journal_.repairedNo
         : kind == Made::IndexTemp ? journal_.indexTempNo
         : kind == Made::KeptIndex ? journal_.keptIndexNo
                                   : journal_.keptStoreNo;
}

std::unique_ptr<TStream> Replacement::CreateFree(Made kind) {
  int& n = Number(kind);
  for (n = 1;; ++n) {
    const std::string path = paths_.Name(files_, kind, n);
    // A name that any entry has is another's (or an earlier run's that no journal names).
    if (n < kMaxNameNumber && files_.EntryExists(path)) continue;
    try {
      return files_.CreateFile(path);
    } catch (const EFCreateError&) {
      // Taken meanwhile: the next name.
      if (n < kMaxNameNumber && files_.EntryExists(path)) continue;
      n = 0;
      throw;
    }
  }
}

bool Replacement::HoldStore(std::string* error) {
  hold_ = files_.HoldAgainstWriters(paths_.storeTarget, error);
  return hold_ != nullptr;
}

TStream& Replacement::CreateRepairedStore() {
  repaired_.reset();
  repaired_ = CreateFree(Made::Repaired);
  repairedMade_ = true;
  repaired_stamp_ = files_.Stamp(RepairedPath());
  journal_.repaired = FileMark::Of(repaired_stamp_);
  return *repaired_;
}

bool Replacement::KeepUnderSecondName(Made kind, const std::string& from) {
  const std::string to = Name(kind);
  if (kind == Made::KeptIndex) {
    LinkOrCopy(files_, from, to, false);
    return true;
  }
  std::string error;
  switch (files_.LinkFile(from, to, &error)) {
    case platform::LinkOutcome::Linked:
      return true;
    case platform::LinkOutcome::NotSupported:
      return false;  // renamed there just before the repaired store takes its place
    case platform::LinkOutcome::Failed:
      break;
  }
  throw EFCreateError(FormatMessage(kFCreateError, {to, error}));
}

void Replacement::Begin() {
  if (journaled_) return;
  indexFile_ = CreateFree(Made::IndexTemp);
  temp_ = true;
  journal_.indexTemp = FileMark::Of(files_.Stamp(Name(Made::IndexTemp)));
  journal_.oldStore = FileMark::Of(files_.Stamp(paths_.storeTarget));
  // The second names of the old files must be free now; a program that takes one before it is
  // made stops the run.
  auto firstFree = [this](Made kind) {
    int n = 1;
    while (n < kMaxNameNumber && files_.EntryExists(paths_.Name(files_, kind, n)))
      ++n;
    return n;
  };
  journal_.keptIndexNo = journal_.oldIndex.exists ? firstFree(Made::KeptIndex) : 0;
  journal_.keptStoreNo = firstFree(Made::KeptStore);

  std::string error;
  {
    const std::unique_ptr<TStream> out = files_.CreateFile(paths_.journal);
    journaled_ = true;
    out->WriteString(FormatJournalBegin(journal_));
    out->Commit();
  }
  if (!files_.SyncFile(paths_.journal, &error)) Raise(kFlushFile, paths_.journal, error);
  // The journal's name must be on the disk before anything it names holds data.
  const std::string folder = files_.FolderOf(paths_.journal);
  if (!files_.SyncFolder(folder.empty() ? "." : folder, &error))
    Raise("Cannot flush folder \"%s\". %s", folder, error);

  if (journal_.oldIndex.exists)
    keptIndex_ = KeepUnderSecondName(Made::KeptIndex, paths_.indexTarget);
  keptStore_ = KeepUnderSecondName(Made::KeptStore, paths_.storeTarget);
  journal_.storeMoved = !keptStore_;
  // A second name changes a file's status: what follows is compared with the files as they are
  // now.
  store_ref_ = files_.Stamp(paths_.storeTarget);
  index_ref_ = files_.Stamp(paths_.indexTarget);
}

void Replacement::CloseRepairedStore(std::int64_t bytes) {
  repaired_size_ = bytes;
  if (!repaired_) return;
  const std::unique_ptr<TStream> store = std::move(repaired_);
  store->Commit();
}

void Replacement::Discard() {
  hold_.reset();
  repaired_.reset();
  indexFile_.reset();
  if (placed_) return;
  bool all = true;
  auto remove = [&](bool& made, const std::string& path) {
    if (!made) return;
    std::string ignored;
    if (files_.DeleteFile(path, &ignored) || !files_.EntryExists(path))
      made = false;
    else
      all = false;
  };
  // A second name of an old file goes only while the file is still in place; otherwise (another
  // program put its own file there) the old file is kept as a backup.
  auto keep = [&](bool& made, Made kind, const std::string& target, const std::string& name) {
    if (!made) return;
    const std::string path = Name(kind);
    if (IsMine(target, kind == Made::KeptStore ? journal_.oldStore : journal_.oldIndex))
      return remove(made, path);
    const std::string backup = FreeBackupName(files_, clock_, name);
    std::string why;
    if (files_.MoveFile(path, backup, &why)) {
      made = false;
      backups_kept_ += FormatMessage(" The old file \"%s\" is kept as \"%s\".", {target, backup});
    } else {
      all = false;
      backups_kept_ += FormatMessage(" The old file \"%s\" is kept as \"%s\" (%s).",
                                     {target, path, Sentence(why)});
    }
  };
  keep(keptStore_, Made::KeptStore, paths_.storeTarget, paths_.store);
  keep(keptIndex_, Made::KeptIndex, paths_.indexTarget, paths_.index);
  remove(temp_, Name(Made::IndexTemp));
  remove(repairedMade_, RepairedPath());
  RemoveBackups();
  // What could not be removed stays named in the journal, for the next start.
  if (journaled_ && all && files_.DeleteFile(paths_.journal, nullptr)) journaled_ = false;
}

Replacement::Outcome Replacement::Abandon(std::string text) {
  Discard();
  if (!backups_kept_.empty()) {
    // (another program's file now stands where the old one did)
    if (const std::size_t at = text.find(" Nothing was changed."); at != std::string::npos)
      text.erase(at, 21);
    text = Sentence(std::move(text)) + std::exchange(backups_kept_, {});
  }
  return {false, !journaled_, std::move(text)};
}

std::string Replacement::ChangedSinceRead(const Request& request, bool sums) {
  const MailboxPaths& p = paths_;
  // A mail client that ran during the run may have added mail that the repaired store lacks.
  const FileStamp store = files_.Stamp(p.storeTarget);
  std::string what = WhatChanged(p.storeTarget, FileMark::Of(request.scannedStore), store, false);
  if (what.empty() && store_ref_.exists && store != store_ref_)
    what = WhatChanged(p.storeTarget, FileMark::Of(store_ref_), store, true);
  if (what.empty() && !sums && request.clientRunning && request.clientRunning())
    what =
        "Quorvane, or another program that holds the mailbox open, was started during the "
        "repair.";
  if (!what.empty()) return std::string(kStoreChanged) + "\n" + what;
  // The client may have moved messages since the run read the index.
  const FileStamp index = files_.Stamp(p.indexTarget);
  what = WhatChanged(p.indexTarget, journal_.oldIndex, index, false);
  if (what.empty() && index_ref_.exists && index != index_ref_)
    what = WhatChanged(p.indexTarget, FileMark::Of(index_ref_), index, true);
  if (what.empty() && sums && index.exists &&
      FileChecksum(files_, p.indexTarget) != journal_.oldIndex.sum)
    what = FormatMessage("\"%s\" was written to (its size is the same).", {p.indexTarget});
  return what.empty() ? what : std::string(kIndexChanged) + "\n" + what;
}

void Replacement::MakeBackups() {
  backups_.clear();
  try {
    std::vector<std::pair<const std::string*, const std::string*>> pair;
    for (const auto& [name, target] : {std::pair(&paths_.store, &paths_.storeTarget),
                                       std::pair(&paths_.index, &paths_.indexTarget)})
      if (files_.FileExists(*target)) pair.emplace_back(name, target);
    if (pair.empty()) return;
    // One suffix for both, free for both: an earlier backup is never written over.
    const std::string first =
        FreeBackupName(files_, clock_, *pair[0].first, pair.size() > 1 ? *pair[1].first : "");
    const std::string suffix = first.substr(files_.SiblingPath(*pair[0].first, "").size());
    for (const auto& [name, target] : pair) {
      const std::string backup = files_.SiblingPath(*name, suffix);
      LinkOrCopy(files_, *target, backup, true);
      backups_.push_back(backup);
    }
  } catch (...) {
    RemoveBackups();
    throw;
  }
}

void Replacement::RemoveBackups() {
  // Backups of a pair that stays in place are of no use; those of a pair that another program
  // replaced meanwhile stay.
  const bool inPlace = IsMine(paths_.storeTarget, journal_.oldStore) &&
                       (!journal_.oldIndex.exists || IsMine(paths_.indexTarget, journal_.oldIndex));
  for (const std::string& backup : backups_) {
    if (inPlace)
      files_.DeleteFile(backup, nullptr);
    else
      backups_kept_ += FormatMessage(" The backup \"%s\" is kept.", {backup});
  }
  backups_.clear();
}

void Replacement::WriteNewIndex(const Request& request) {
  const std::string temp = Name(Made::IndexTemp);
  {
    const std::unique_ptr<TStream> out = std::move(indexFile_);
    try {
      WriteComponentStream(*out, request.index, request.entries);
      out->Commit();
    } catch (const Exception& e) {
      if (!e.Detail().empty()) throw;
      throw EWriteError(e.Message(), FileDetail(temp, "the file could not be written"));
    }
  }
  // The new file gets the rights of the one it replaces (it was made for its owner only).
  std::string error;
  if (files_.FileExists(paths_.indexTarget) &&
      !files_.CopyPermissions(paths_.indexTarget, temp, &error))
    throw EFCreateError(FormatMessage(kFCreateError, {temp, error}));
  if (!files_.SyncFile(temp, &error)) throw EWriteError(kStreamWriteError, FileDetail(temp, error));
}

bool Replacement::PutStoreInPlace(std::string* error) {
  // The old store takes its second name first, and the repaired store the free name (which
  // nobody may have taken meanwhile).
  const std::string kept = Name(Made::KeptStore);
  if (!files_.MoveFile(paths_.storeTarget, kept, error)) return false;
  keptStore_ = true;
  if (files_.MoveFile(RepairedPath(), paths_.storeTarget, error)) return true;
  if (files_.MoveFile(kept, paths_.storeTarget, nullptr)) keptStore_ = false;
  return false;
}

Replacement::Outcome Replacement::PutOldIndexBack(std::string text) {
  const MailboxPaths& p = paths_;
  std::string error;
  text = Sentence(std::move(text));
  if (journal_.storeMoved && keptStore_) {
    // The old store is under its second name and could not go back: the next start puts the
    // files together.
    text += FormatMessage(" The mailbox is kept as \"%s\", the repaired mailbox as \"%s\".",
                          {Name(Made::KeptStore), RepairedPath()});
    return {false, false, std::move(text)};
  }
  if (!IsMine(p.indexTarget, journal_.indexTemp)) {
    // Another program put its own index in place of the new one: it stays, and the old index is
    // kept as a backup (Discard).
    placed_ = false;
    return Abandon(text + FormatMessage(" \"%s\" was replaced by another program meanwhile and "
                                        "was left as it is.",
                                        {p.indexTarget}));
  }
  const bool back = journal_.oldIndex.exists
                        ? files_.ReplaceFile(Name(Made::KeptIndex), p.indexTarget, &error)
                        : files_.DeleteFile(p.indexTarget, &error);
  if (back) {
    keptIndex_ = false;
    placed_ = false;
    SyncReplacementFolders(files_, p, nullptr);
    if (text.find("Nothing was changed.") == std::string::npos)
      text += " The old mailbox and its index are in place.";
    return Abandon(std::move(text));
  }
  // The new index is in place and describes the repaired store: that is kept, and the journal
  // with it, so that the next start puts the pair together.
  text += FormatMessage(" The old index could not be put back: %s", {Sentence(error)});
  text += FormatMessage(" The repaired mailbox is kept as \"%s\".", {RepairedPath()});
  return {false, false, std::move(text)};
}

std::string Replacement::CheckRepairedStore(const Request& request) {
  const MailboxPaths& p = paths_;
  std::string error;
  const std::string repairedPath = RepairedPath();
  if (!files_.SyncFile(repairedPath, &error))
    return FormatMessage(kFlushFile, {repairedPath, error});
  // The repaired store must still be the very file this run wrote, whole. Another program's file
  // under that name is left to it.
  const FileStamp repaired = files_.Stamp(repairedPath);
  if (!repaired.SameFile(repaired_stamp_) || repaired.size != repaired_size_) {
    if (!repaired.SameFile(repaired_stamp_)) repairedMade_ = false;
    return kRepairedChanged;
  }
  if (std::string changed = ChangedSinceRead(request, false); !changed.empty()) return changed;
  // The repaired store takes the access rights (and owner) of the store it replaces.
  if (!files_.CopyPermissions(p.storeTarget, repairedPath, &error))
    return FormatMessage("Cannot set the access rights of \"%s\". %s", {repairedPath, error});
  return "";
}

void Replacement::PrepareRenames(const Request& request) {
  const MailboxPaths& p = paths_;
  if (request.backup) {
    MakeBackups();
    // (their names changed the files' status, as the second names did)
    store_ref_ = files_.Stamp(p.storeTarget);
    index_ref_ = files_.Stamp(p.indexTarget);
  }
  WriteNewIndex(request);
  const std::string temp = Name(Made::IndexTemp);
  journal_.newIndex = FileMark::Of(files_.Stamp(temp), FileChecksum(files_, temp));
  journal_.newStore = FileMark::Of(files_.Stamp(RepairedPath()));
  journal_.ready = true;
  std::string error;
  if (!files_.AppendFile(p.journal, FormatJournalReady(journal_), &error))
    throw EWriteError(kStreamWriteError, FileDetail(p.journal, error));
}

Replacement::Outcome Replacement::SettleAfterRenames() {
  // The old store and index are still reachable under their second names: what was written to
  // them since the last check is found there, and the old pair goes back as the next start would
  // put it back.
  RecoveryPlan plan;
  const Recovery settled = RecoverAfterRun(files_, clock_, paths_, journal_, plan);
  keptIndex_ = keptStore_ = false;
  journaled_ = files_.FileExists(paths_.journal);
  Outcome outcome{settled == Recovery::Finished, !journaled_, ""};
  if (settled == Recovery::Undone) RemoveBackups();
  if (!plan.reason.empty() || !plan.detail.empty())
    outcome.error = plan.reason.empty()   ? plan.detail
                    : plan.detail.empty() ? plan.reason
                                          : plan.reason + "\n" + plan.detail;
  else if (!outcome.replaced)
    outcome.error =
        "The repaired mailbox could not be put in place. The old mailbox and its "
        "index were put back.";
  // Another program may have put its own index in place of the new one at once.
  if (outcome.replaced && !journal_.newIndex.SameFile(files_.Stamp(paths_.indexTarget)))
    outcome.error += (outcome.error.empty() ? "" : "\n") +
                     FormatMessage(
                         "\"%s\" was replaced by another program once the repair had "
                         "put the new index in place: it may not match the mailbox.",
                         {paths_.indexTarget});
  // ... or made the mailbox's names (links) lead elsewhere.
  for (const auto& [name, target] : {std::pair(&paths_.store, &paths_.storeTarget),
                                     std::pair(&paths_.index, &paths_.indexTarget)})
    if (outcome.replaced && !files_.Stamp(*name).SameFile(files_.Stamp(*target)))
      outcome.error += (outcome.error.empty() ? "" : "\n") +
                       FormatMessage(
                           "\"%s\" no longer leads to \"%s\", where the repaired file "
                           "was put: another program changed it during the repair.",
                           {*name, *target});
  return outcome;
}

std::string Replacement::ReplacedSince(const std::string& path, const FileMark& mark) {
  const FileStamp now = files_.Stamp(path);
  if (mark.exists ? mark.SameFile(now) : !now.exists) return "";
  return WhatChanged(path, mark, now, false);
}

bool Replacement::IsMine(const std::string& path, const FileMark& mine) {
  // (a link to the file is another's entry)
  return mine.SameFile(files_.Stamp(path)) && files_.ResolveLinks(path) == path;
}

Replacement::Swap Replacement::SwapInto(const std::string& from, const std::string& to,
                                        const FileMark& old, const FileMark& mine,
                                        std::string* text) {
  if (!IsMine(from, mine)) {
    *text = WhatChanged(from, mine, files_.Stamp(from), false);
    return Swap::NotMine;
  }
  if (std::string replaced = ReplacedSince(to, old); !replaced.empty()) {
    *text = std::move(replaced);
    return Swap::Taken;
  }
  if (!old.exists) {
    // Nothing to replace: a file that another program makes meanwhile stops the rename.
    if (files_.MoveFile(from, to, text)) return Swap::Swapped;
    std::string replaced = ReplacedSince(to, old);
    if (replaced.empty()) return Swap::Failed;
    *text = std::move(replaced);
    return Swap::Taken;
  }
  switch (files_.ExchangeFiles(from, to, text)) {
    case platform::ExchangeOutcome::Exchanged:
      break;
    case platform::ExchangeOutcome::NotSupported:
      return files_.ReplaceFile(from, to, text) ? Swap::Swapped : Swap::Failed;
    case platform::ExchangeOutcome::Failed: {
      std::string replaced = ReplacedSince(to, old);
      if (replaced.empty()) return Swap::Failed;
      *text = std::move(replaced);
      return Swap::Taken;
    }
  }
  // What now stands in place must be this run's file, and what was there the old one: then the old
  // file's name here goes (it keeps its second name until the pair is settled; a name left here
  // is removed by that settlement). Otherwise another program changed one of the two names at the
  // same moment, and the swap is undone; an old file that is then no longer in place is kept as
  // a backup (Discard).
  const bool mineInPlace = IsMine(to, mine);
  if (mineInPlace && old.SameFile(files_.Stamp(from)) && files_.ResolveLinks(from) == from) {
    files_.DeleteFile(from, nullptr);
    return Swap::Swapped;
  }
  *text = FormatMessage(
      "\"%s\" or \"%s\" was changed by another program at the same moment; what it put there "
      "is now \"%s\".",
      {to, from, mineInPlace ? to : from});
  std::string error;
  if (files_.ExchangeFiles(from, to, &error) != platform::ExchangeOutcome::Exchanged) {
    *text = FormatMessage(
        "\"%s\" or \"%s\" was changed by another program at the same moment, "
        "and the swap could not be undone: %s.",
        {to, from, error});
    return Swap::Stuck;
  }
  return mineInPlace ? Swap::Taken : Swap::NotMine;
}

Replacement::Outcome Replacement::Replace(const Request& request) {
  // The running-check below opens the store; the hold would count as another program's.
  hold_.reset();
  try {
    Begin();  // (an empty store gave the repaired store no byte)
  } catch (const Exception& e) {
    return Abandon(e.what());
  }
  if (std::string problem = CheckRepairedStore(request); !problem.empty())
    return Abandon(std::move(problem));
  try {
    PrepareRenames(request);
  } catch (const Exception& e) {
    journal_.ready = false;
    return Abandon(e.what());
  }
  // Once more, just before the renames: the store and the index, the index by its bytes as well.
  if (std::string changed = ChangedSinceRead(request, true); !changed.empty())
    return Abandon(std::move(changed));
  return RenamePair();
}

Replacement::Outcome Replacement::RenamePair() {
  const MailboxPaths& p = paths_;
  std::string error;
  // Each rename replaces only the file the run read (what was written to it meanwhile is found
  // through its second name after the renames); another's file put there meanwhile stays.
  switch (SwapInto(Name(Made::IndexTemp), p.indexTarget, journal_.oldIndex, journal_.indexTemp,
                   &error)) {
    case Swap::Swapped:
      break;
    case Swap::Failed:
      return Abandon(FormatMessage(kReplaceFile, {p.indexTarget, error}));
    case Swap::Taken:
      return Abandon(std::string(kIndexChanged) + "\n" + error);
    case Swap::NotMine:
      temp_ = false;  // (the name is another's now)
      return Abandon(std::string(kNewIndexChanged) + "\n" + error);
    case Swap::Stuck:
      placed_ = true;
      return {false, false, std::string(kSwapStuck) + "\n" + error};
  }
  temp_ = false;
  placed_ = true;
  return RenameStore();
}

Replacement::Outcome Replacement::RenameStore() {
  const MailboxPaths& p = paths_;
  std::string error;
  if (journal_.storeMoved) {
    if (std::string replaced = ReplacedSince(p.storeTarget, journal_.oldStore); !replaced.empty())
      return PutOldIndexBack(std::string(kStoreChanged) + "\n" + replaced);
    if (!PutStoreInPlace(&error))
      return PutOldIndexBack(FormatMessage(kReplaceFile, {p.storeTarget, error}));
  } else {
    switch (SwapInto(RepairedPath(), p.storeTarget, journal_.oldStore, journal_.repaired, &error)) {
      case Swap::Swapped:
        break;
      case Swap::Failed:
        return PutOldIndexBack(FormatMessage(kReplaceFile, {p.storeTarget, error}));
      case Swap::Taken:
        return PutOldIndexBack(std::string(kStoreChanged) + "\n" + error);
      case Swap::NotMine:
        repairedMade_ = false;
        return PutOldIndexBack(std::string(kRepairedChanged) + "\n" + error);
      case Swap::Stuck:
        return {false, false, std::string(kSwapStuck) + "\n" + error};
    }
  }
  repairedMade_ = false;  // it is the store now
  return SettleAfterRenames();
}

}  // namespace qv
