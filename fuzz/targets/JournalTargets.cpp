// The next start after a crash: a folder as a replacement may leave it at any moment, with a
// journal that is whole, cut short, damaged or describing other files, and mail written to the
// old store meanwhile, settled by the recovery. Whatever it does, the old or the new pair ends up
// in place and no byte written to a store is lost, or, when it cannot tell, every file stays as
// it was.
#include <filesystem>
#include <map>
#include <memory>
#include <string>

#include "FuzzTargets.h"
#include "base/DateTime.h"
#include "base/Stream.h"
#include "platform/SystemPlatform.h"
#include "repair/Replacement.h"
#include "support/FixedClock.h"
#include "targets/StoreCheck.h"

namespace qv::fuzz {

namespace fs = std::filesystem;

namespace {
void Write(const std::string& path, const std::string& bytes) {
  TFileStream out(path, FileMode::Create);
  out.WriteString(bytes);
  out.Close();
}
std::string Read(const std::string& path) {
  std::error_code ec;
  if (!fs::is_regular_file(path, ec)) return "<none>";
  TFileStream in(path, FileMode::OpenRead);
  return in.ReadRest();
}
std::map<std::string, std::string> Folder(const std::string& folder) {
  std::map<std::string, std::string> files;
  for (const auto& e : fs::directory_iterator(folder))
    files[e.path().filename().string()] = Read(e.path().string());
  return files;
}
}  // namespace

// Input: a first byte that picks the moment and the damage (bits 0-1: renames done, 0 to 2; bit
// 2: repaired store gone; bit 3: mail appended to the old store since its last check, through
// its second name once the store was renamed over; bit 4: kept index gone; bits 5-6: the journal
// as written, cut at a length the rest gives, the rest itself, or as written with one of its
// numbers replaced by the rest; bit 7: the journal's second record was never written).
void FuzzReplacementJournal(std::string_view input) {
  static const auto folder = std::make_unique<ScratchProgramFolder>("journal");
  if (input.empty()) return;
  const auto how = static_cast<unsigned char>(input[0]);
  const std::string rest(input.substr(1));
  folder->PrepareIndexOnly();
  platform::SystemFileSystem files;
  test::FixedClock clock(EncodeDateTime(2026, 12, 8, 14, 23, 50));
  const MailboxPaths p = MailboxPaths::For(files, folder->Dir() + "profile/default/", "mailbox");
  const std::string oldStore = "From a Mon Jan 05 10:00:00 2004\n\nold\n";
  const std::string newStore = "From a Tue Dec 08 14:23:50 2026\r\n\r\nold\r\n\r\n\r\n";
  const std::string oldIndex = Read(p.index);
  const std::string newIndex = oldIndex + "new";
  Write(p.store, oldStore);
  Write(p.repaired, newStore);
  Write(p.indexTemp, newIndex);
  ReplacementJournal j;
  j.repairedNo = j.indexTempNo = j.keptIndexNo = j.keptStoreNo = 1;
  j.repaired = FileMark::Of(files.Stamp(p.repaired));
  j.indexTemp = FileMark::Of(files.Stamp(p.indexTemp));
  j.oldIndex = FileMark::Of(files.Stamp(p.index), FileChecksum(files, p.index));
  j.oldStore = FileMark::Of(files.Stamp(p.store));
  j.newIndex = FileMark::Of(files.Stamp(p.indexTemp), FileChecksum(files, p.indexTemp));
  j.newStore = j.repaired;
  LinkOrCopy(files, p.index, p.restore, false);
  LinkOrCopy(files, p.store, p.storeRestore, false);
  std::string journal = FormatJournalBegin(j);
  if (!(how & 128)) journal += FormatJournalReady(j);
  switch ((how >> 5) & 3) {
    case 1:
      journal.resize(rest.empty() ? 0 : static_cast<unsigned char>(rest[0]) % journal.size());
      break;
    case 2:
      journal = rest;
      break;
    case 3: {
      const std::size_t at = journal.find(' ', rest.size() % journal.size());
      if (at != std::string::npos) journal.replace(at + 1, 1, rest.substr(0, 20));
      break;
    }
  }
  Write(p.journal, journal);

  std::string error;
  const int renames = how & 3;
  if (renames >= 1) files.ReplaceFile(p.indexTemp, p.index, &error);
  if (renames >= 2) files.ReplaceFile(p.repaired, p.store, &error);
  if (how & 4) fs::remove(p.repaired);
  const bool appended = (how & 8) != 0;
  const std::string oldHolder = renames >= 2 ? p.storeRestore : p.store;
  if (appended) Write(oldHolder, Read(oldHolder) + "appended");
  if (how & 16) fs::remove(p.restore);

  const auto before = Folder(p.folder);
  std::string detail;
  const Recovery outcome = RecoverReplacement(files, clock, p, &detail);
  const std::string store = Read(p.store), index = Read(p.index);
  const std::string oldAsWritten = appended ? oldStore + "appended" : oldStore;
  switch (outcome) {
    case Recovery::Completed:
    case Recovery::Finished:
      Check(!appended, "completed, though mail was written to the old store");
      // (with what the client may have added to the new store since)
      Check(store.starts_with(newStore) && index == newIndex,
            "completed, but not with the new pair");
      break;
    case Recovery::Undone:
    case Recovery::Cleared:
      Check(index == oldIndex, "undone, but the old index is not in place");
      Check(store == oldAsWritten, "undone, but the old store is not in place, whole");
      break;
    case Recovery::MovedAside: {
      auto after = Folder(p.folder);
      Check(!fs::exists(p.journal), "the damaged journal stayed");
      Check(after.size() == before.size(), "moving the journal aside changed other files");
      break;
    }
    case Recovery::Failed:
      Check(Folder(p.folder) == before, "a recovery that failed changed the folder");
      break;
  }
  if (outcome != Recovery::Failed) Check(!fs::exists(p.journal), "the journal outlived its end");
}

}  // namespace qv::fuzz
