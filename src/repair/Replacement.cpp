#include "repair/Replacement.h"

#include <algorithm>
#include <array>
#include <cinttypes>
#include <cstdio>
#include <memory>
#include <sstream>
#include <vector>

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

std::uint32_t FileChecksum(FileSystem& files, const std::string& path) {
  // CRC-32 (the reflected polynomial 0xEDB88320), eight bytes a step: tables[k][b] is the CRC of
  // byte b followed by k zero bytes, so the eight lookups of a step are independent.
  static const auto tables = [] {
    std::array<std::array<std::uint32_t, 256>, 8> t{};
    for (std::uint32_t i = 0; i < 256; ++i) {
      std::uint32_t c = i;
      for (int k = 0; k < 8; ++k)
        c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
      t[0][i] = c;
    }
    for (std::size_t k = 1; k < 8; ++k)
      for (std::size_t i = 0; i < 256; ++i)
        t[k][i] = (t[k - 1][i] >> 8) ^ t[0][t[k - 1][i] & 0xFF];
    return t;
  }();
  std::uint32_t crc = 0xFFFFFFFFu;
  try {
    const std::unique_ptr<TStream> in = files.OpenRead(path);
    std::vector<unsigned char> block(std::size_t{1} << 16);
    for (std::size_t n; (n = in->Read(block.data(), block.size())) > 0;) {
      const unsigned char* p = block.data();
      const unsigned char* const end = p + n;
      for (; end - p >= 8; p += 8) {
        const std::uint32_t low = crc ^ (std::uint32_t{p[0]} | std::uint32_t{p[1]} << 8 |
                                         std::uint32_t{p[2]} << 16 | std::uint32_t{p[3]} << 24);
        crc = tables[7][low & 0xFF] ^ tables[6][(low >> 8) & 0xFF] ^ tables[5][(low >> 16) & 0xFF] ^
              tables[4][low >> 24] ^ tables[3][p[4]] ^ tables[2][p[5]] ^ tables[1][p[6]] ^
              tables[0][p[7]];
      }
      for (; p < end; ++p)
        crc = tables[0][(crc ^ *p) & 0xFF] ^ (crc >> 8);
    }
  } catch (const Exception&) {
    return 0;
  }
  return crc ^ 0xFFFFFFFFu;
}

std::string FormatReplacementRecord(const ReplacementRecord& record) {
  ReplacementRecord r = record;
  std::string text = std::string(kRecordHead) + "\n";
  for (int i = 0; i < 4; ++i) {
    const FileStamp& s = *Field(r, i);
    char line[160];
    std::snprintf(line, sizeof line, "%s %d %" PRIu64 " %" PRIu64 " %" PRId64, kRecordFields[i],
                  s.exists ? 1 : 0, s.volume, s.id, s.size);
    text += line;
    if (i < 2) text += " " + std::to_string(i == 0 ? r.oldIndexSum : r.newIndexSum);
    text += "\n";
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
    if (i < 2 && !(fields >> (i == 0 ? r.oldIndexSum : r.newIndexSum))) return false;
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
    const std::unique_ptr<TStream> out = files.CreateFile(to);
    try {
      out->CopyFrom(*in, 0);
      out->Commit();
    } catch (...) {
      files.DeleteFile(to, nullptr);
      throw;
    }
  }
  if ((keepRights && !files.CopyPermissions(from, to, &error)) || !files.SyncFile(to, &error)) {
    files.DeleteFile(to, nullptr);
    Raise(kFlushFile, to, error);
  }
}

void KeepOldIndex(FileSystem& files, const MailboxPaths& paths) {
  // Whatever an earlier run left under the name goes first.
  if (files.FileExists(paths.restore)) files.DeleteFile(paths.restore, nullptr);
  LinkOrCopy(files, paths.indexTarget, paths.restore, false);
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

// Whether the file found is the one recorded as `want`: the same file (of the recorded size, when
// `exact`; the mail client may have added to it since), or, where its identity was lost (the
// folder was copied), one of the recorded size that is not `other`.
bool Is(const FileStamp& found, const FileStamp& want, const FileStamp& other, bool exact) {
  if (!found.exists || !want.exists) return false;
  if (found.volume == want.volume && found.id == want.id) return !exact || found.size == want.size;
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
    text = files.OpenRead(paths.journal)->ReadRest();
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
  if (!ParseReplacementRecord(text, r)) {
    // A journal cut short was being written when the run ended: nothing had been renamed yet,
    // which the new index still waiting under its temporary name confirms.
    if (files.FileExists(paths.indexTemp)) return finish(Recovery::Undone);
    if (detail) *detail = FormatMessage("The journal \"%s\" is damaged.", {paths.journal});
    return Recovery::Failed;
  }

  const FileStamp index = files.Stamp(paths.indexTarget);
  const FileStamp store = files.Stamp(paths.storeTarget);
  const FileStamp repaired = files.Stamp(paths.repaired);
  // The indexes are told by their bytes; the stores, too large to read here, by identity (the
  // store is never removed, only renamed over) and size.
  const std::uint32_t indexSum = index.exists ? FileChecksum(files, paths.indexTarget) : 0;
  const bool indexNew = index.exists && index.size == r.newIndex.size && indexSum == r.newIndexSum;
  const bool indexOld =
      !indexNew && (r.oldIndex.exists
                        ? index.exists && index.size == r.oldIndex.size && indexSum == r.oldIndexSum
                        : !index.exists);
  const bool storeNew = Is(store, r.newStore, r.oldStore, false);
  const bool storeOld = !storeNew && Is(store, r.oldStore, r.newStore, false);
  const bool storeOldAsItWas = storeOld && Is(store, r.oldStore, r.newStore, true);
  const bool repairedReady = Is(repaired, r.newStore, r.oldStore, true);

  // The store is renamed last: once it is the new one, the replacement was complete (the index
  // may have been changed by the client since).
  if (storeNew) return finish(Recovery::Completed);
  if (indexNew && storeOldAsItWas && repairedReady) {
    if (files.ReplaceFile(paths.repaired, paths.storeTarget, &error))
      return finish(Recovery::Completed);
    if (detail)
      *detail = FormatMessage("Cannot replace file \"%s\". %s", {paths.storeTarget, error});
    return Recovery::Failed;
  }
  if (indexNew && storeOld) {
    // The new store is not there to complete the pair, or mail was added to the old store since:
    // the old index goes back beside the store as it is.
    bool back = false;
    const FileStamp kept = files.Stamp(paths.restore);
    if (!r.oldIndex.exists) {
      back = files.DeleteFile(paths.indexTarget, &error);
    } else if (kept.exists && kept.size == r.oldIndex.size &&
               FileChecksum(files, paths.restore) == r.oldIndexSum) {
      back = files.ReplaceFile(paths.restore, paths.indexTarget, &error);
    } else {
      error = Describe("the kept old index", kept);
    }
    if (back) return finish(Recovery::Undone);
    if (detail) *detail = FormatMessage("The old index could not be put back: %s", {error});
    return Recovery::Failed;
  }
  if (indexOld && storeOld) return finish(Recovery::Undone);
  if (detail)
    *detail = Describe("index", index) + "; " + Describe("store", store) + "; " +
              Describe("repaired store", repaired);
  return Recovery::Failed;
}

}  // namespace qv
