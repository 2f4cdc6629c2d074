#include "repair/Replacement.h"

#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <memory>
#include <sstream>

#include "base/Errors.h"
#include "base/Stream.h"
#include "base/StringUtils.h"
#include "components/ComponentFile.h"

namespace qv {

using platform::FileStamp;
using platform::FileSystem;

MailboxPaths MailboxPaths::For(FileSystem& files, const std::string& folder,
                               const std::string& fileName) {
  MailboxPaths p;
  p.folder = folder;
  const std::string base = folder + fileName;
  p.store = base + ".mbx";
  p.index = base + ".idx";
  p.storeTarget = files.ResolveLinks(p.store);
  p.indexTarget = files.ResolveLinks(p.index);
  if (p.storeTarget == p.store) {
    p.repaired = base + ".xyz";
  } else {
    const std::string& t = p.storeTarget;
    const bool mbx = t.size() > 4 && SameText(std::string_view(t).substr(t.size() - 4), ".mbx");
    p.repaired = mbx ? t.substr(0, t.size() - 4) + ".xyz" : files.SiblingPath(t, ".xyz");
  }
  p.indexTemp = TemporarySaveName(p.indexTarget, files);
  p.restore = files.SiblingPath(p.indexTarget, ".restore");
  p.journal = files.SiblingPath(p.index, ".journal");
  return p;
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

// --- the record --------------------------------------------------------------------------------

namespace {
constexpr const char* kRecordHead = "qvrepair replacement 1";
constexpr const char* kRecordEnd = "end";
const char* const kRecordFields[] = {"old-index", "new-index", "old-store", "new-store"};

FileStamp* Field(ReplacementRecord& r, int i) {
  FileStamp* fields[] = {&r.oldIndex, &r.newIndex, &r.oldStore, &r.newStore};
  return fields[i];
}
}  // namespace

std::string FormatReplacementRecord(const ReplacementRecord& record) {
  ReplacementRecord r = record;
  std::string text = std::string(kRecordHead) + "\n";
  for (int i = 0; i < 4; ++i) {
    const FileStamp& s = *Field(r, i);
    char line[160];
    std::snprintf(line, sizeof line, "%s %d %" PRIu64 " %" PRIu64 " %" PRId64 "\n",
                  kRecordFields[i], s.exists ? 1 : 0, s.volume, s.id, s.size);
    text += line;
  }
  return text + kRecordEnd + "\n";
}

bool ParseReplacementRecord(const std::string& text, ReplacementRecord& record) {
  std::istringstream in(text);
  std::string line;
  if (!std::getline(in, line) || line != kRecordHead) return false;
  ReplacementRecord r;
  for (int i = 0; i < 4; ++i) {
    if (!std::getline(in, line)) return false;
    std::istringstream fields(line);
    std::string name;
    int exists = 0;
    FileStamp& s = *Field(r, i);
    if (!(fields >> name >> exists >> s.volume >> s.id >> s.size) || name != kRecordFields[i])
      return false;
    s.exists = exists == 1;
  }
  if (!std::getline(in, line) || line != kRecordEnd) return false;
  record = r;
  return true;
}

// --- the steps before the first rename ---------------------------------------------------------

namespace {
[[noreturn]] void Raise(const char* pattern, const std::string& path, const std::string& error) {
  throw EWriteError(FormatMessage(pattern, {path, error}));
}
constexpr const char* kFlushFile = "Cannot flush file \"%s\". %s";
}  // namespace

void KeepOldIndex(FileSystem& files, const MailboxPaths& paths) {
  std::string error;
  // Whatever an earlier run left under the name goes first.
  if (files.FileExists(paths.restore)) files.DeleteFile(paths.restore, nullptr);
  switch (files.LinkFile(paths.indexTarget, paths.restore, &error)) {
    case platform::LinkOutcome::Linked:
      return;
    case platform::LinkOutcome::Failed:
      throw EFCreateError(FormatMessage(kFCreateError, {paths.restore, error}));
    case platform::LinkOutcome::NotSupported:
      break;
  }
  {
    TFileStream in(paths.indexTarget, FileMode::OpenRead);
    const std::unique_ptr<TStream> out = files.CreateFile(paths.restore);
    try {
      out->CopyFrom(in, 0);
      out->Commit();
    } catch (...) {
      files.DeleteFile(paths.restore, nullptr);
      throw;
    }
  }
  if (!files.SyncFile(paths.restore, &error)) {
    files.DeleteFile(paths.restore, nullptr);
    Raise(kFlushFile, paths.restore, error);
  }
}

void WriteJournal(FileSystem& files, const MailboxPaths& paths, const ReplacementRecord& record) {
  std::string error;
  try {
    const std::unique_ptr<TStream> out = files.CreateFile(paths.journal);
    out->WriteString(FormatReplacementRecord(record));
    out->Commit();
    if (!files.SyncFile(paths.journal, &error)) Raise(kFlushFile, paths.journal, error);
    // The journal's name must be on the disk before anything is renamed.
    const std::string folder = files.FolderOf(paths.journal);
    if (!files.SyncFolder(folder.empty() ? "." : folder, &error))
      Raise("Cannot flush folder \"%s\". %s", folder, error);
  } catch (...) {
    files.DeleteFile(paths.journal, nullptr);
    throw;
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

// --- after a crash -----------------------------------------------------------------------------

namespace {

// Whether the file found is the one recorded as `want`: the same file, or, where its identity
// was lost (the folder was copied), one of the recorded size that is not `other`.
bool Is(const FileStamp& found, const FileStamp& want, const FileStamp& other) {
  if (!found.exists || !want.exists) return false;
  if (found.volume == want.volume && found.id == want.id) return found.size == want.size;
  const bool isOther = other.exists && found.volume == other.volume && found.id == other.id;
  return !isOther && found.size == want.size && !(other.exists && other.size == want.size);
}

std::string Describe(const char* what, const FileStamp& s) {
  return s.exists ? FormatMessage("%s: %s bytes", {what, IntToStr(s.size)})
                  : FormatMessage("%s: missing", {what});
}

}  // namespace

Recovery RecoverReplacement(FileSystem& files, const MailboxPaths& paths, std::string* detail) {
  std::string text;
  try {
    TFileStream in(paths.journal, FileMode::OpenRead);
    text = in.ReadRest();
  } catch (const Exception& e) {
    if (detail) *detail = e.what();
    return Recovery::Failed;
  }
  std::string error;
  auto removeIfThere = [&files](const std::string& path) {
    if (files.FileExists(path)) files.DeleteFile(path, nullptr);
  };
  // The journal goes last: until then the next start can still tell what happened.
  auto finish = [&](Recovery outcome) {
    SyncReplacementFolders(files, paths, nullptr);
    removeIfThere(paths.indexTemp);
    removeIfThere(paths.restore);
    if (outcome == Recovery::Undone) removeIfThere(paths.repaired);
    files.DeleteFile(paths.journal, nullptr);
    SyncReplacementFolders(files, paths, nullptr);
    return outcome;
  };

  ReplacementRecord r;
  // A journal cut short was being written when the run ended: nothing had been renamed yet.
  if (!ParseReplacementRecord(text, r)) return finish(Recovery::Undone);

  const FileStamp index = files.Stamp(paths.indexTarget);
  const FileStamp store = files.Stamp(paths.storeTarget);
  const FileStamp repaired = files.Stamp(paths.repaired);
  const bool indexNew = Is(index, r.newIndex, r.oldIndex);
  const bool indexOld =
      !indexNew && (r.oldIndex.exists ? Is(index, r.oldIndex, r.newIndex) : !index.exists);
  const bool storeNew = Is(store, r.newStore, r.oldStore);
  const bool storeOld = !storeNew && Is(store, r.oldStore, r.newStore);
  const bool repairedReady = Is(repaired, r.newStore, r.oldStore);

  if (indexNew && storeNew) return finish(Recovery::Completed);
  if (indexNew && storeOld && repairedReady) {
    if (files.ReplaceFile(paths.repaired, paths.storeTarget, &error))
      return finish(Recovery::Completed);
    if (detail)
      *detail = FormatMessage("Cannot replace file \"%s\". %s", {paths.storeTarget, error});
    return Recovery::Failed;
  }
  if (indexNew) {
    // The new store is not there to complete the pair (or the store changed since): the old
    // index goes back beside the store as it is.
    bool back = false;
    if (!r.oldIndex.exists) {
      back = files.DeleteFile(paths.indexTarget, &error);
    } else if (Is(files.Stamp(paths.restore), r.oldIndex, r.newIndex)) {
      back = files.ReplaceFile(paths.restore, paths.indexTarget, &error);
    } else {
      error = Describe("the kept old index", files.Stamp(paths.restore));
    }
    if (back) return finish(Recovery::Undone);
    if (detail) *detail = FormatMessage("The old index could not be put back: %s", {error});
    return Recovery::Failed;
  }
  if (indexOld && !storeNew) return finish(Recovery::Undone);
  if (detail)
    *detail = Describe("index", index) + "; " + Describe("store", store) + "; " +
              Describe("repaired store", repaired);
  return Recovery::Failed;
}

}  // namespace qv
