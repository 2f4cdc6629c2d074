// The next start after a crash: a folder as a replacement may leave it at any moment, with a
// journal that is whole, cut short, damaged or describing other files, settled by the recovery.
// Whatever it does, the old or the new pair ends up in place, or, when it cannot tell, every file
// stays as it was.
#include <filesystem>
#include <map>
#include <memory>
#include <string>

#include "FuzzTargets.h"
#include "base/Stream.h"
#include "platform/SystemPlatform.h"
#include "repair/Replacement.h"
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
}  // namespace

// Input: a first byte that picks the moment and the damage (bits 0-1: renames done, 0 to 2; bit
// 2: repaired store gone; bit 3: store changed since; bit 4: kept index gone; bits 5-6: the
// journal as written, cut at a length the rest gives, the rest itself, or as written with one of
// its numbers replaced by the rest).
void FuzzReplacementJournal(std::string_view input) {
  static const auto folder = std::make_unique<ScratchProgramFolder>("journal");
  if (input.empty()) return;
  const auto how = static_cast<unsigned char>(input[0]);
  const std::string rest(input.substr(1));
  folder->PrepareIndexOnly();
  platform::SystemFileSystem files;
  const MailboxPaths p = MailboxPaths::For(files, folder->Dir() + "profile/default/", "mailbox");
  const std::string oldStore = "From a Mon Jan 05 10:00:00 2004\n\nold\n";
  const std::string newStore = "From a Tue Dec 08 14:23:50 2026\r\n\r\nold\r\n\r\n\r\n";
  const std::string oldIndex = Read(p.index);
  const std::string newIndex = oldIndex + "new";
  Write(p.store, oldStore);
  Write(p.repaired, newStore);
  Write(p.indexTemp, newIndex);
  ReplacementRecord record{files.Stamp(p.index),         files.Stamp(p.indexTemp),
                           files.Stamp(p.store),         files.Stamp(p.repaired),
                           FileChecksum(files, p.index), FileChecksum(files, p.indexTemp)};
  KeepOldIndex(files, p);
  std::string journal = FormatReplacementRecord(record);
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
  if (how & 8) Write(p.store, Read(p.store) + "appended");
  if (how & 16) fs::remove(p.restore);

  std::map<std::string, std::string> before;
  for (const auto& e : fs::directory_iterator(p.folder))
    before[e.path().string()] = Read(e.path().string());

  std::string detail;
  const Recovery outcome = RecoverReplacement(files, p, &detail);
  const std::string store = Read(p.store), index = Read(p.index);
  switch (outcome) {
    case Recovery::Completed:
      // (with what the client may have added to the new store since)
      Check(store.starts_with(newStore) && index == newIndex,
            "completed, but not with the new pair");
      break;
    case Recovery::Undone:
      Check(index == oldIndex, "undone, but the old index is not in place");
      Check(store == oldStore || store == oldStore + "appended",
            "undone, but the old store is not in place");
      break;
    case Recovery::Failed: {
      std::map<std::string, std::string> after;
      for (const auto& e : fs::directory_iterator(p.folder))
        after[e.path().string()] = Read(e.path().string());
      Check(after == before, "a recovery that failed changed the folder");
      break;
    }
  }
  if (outcome != Recovery::Failed) Check(!fs::exists(p.journal), "the journal outlived its end");
}

}  // namespace qv::fuzz
