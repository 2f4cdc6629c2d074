// The export: the messages of the store, each into the folder that the merge filed its entry in,
// as a Maildir++ tree or mboxrd files. It reads the store a second time, after the scan and the
// merge of a dry run: the same split into messages (ScanStore), but each message goes with its
// filed entry to the export's writer instead of being indexed again, so that memory stays bounded
// by the largest message, as in a repair.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "mailbox/CompactMessages.h"
#include "mailbox/qvMailbox.h"
#include "platform/Platform.h"
#include "repair/ExportFolders.h"
#include "repair/ExportWriter.h"
#include "repair/StoreScan.h"

namespace qv {

inline constexpr const char* kStoreChangedDuringExport =
    "The mailbox was changed while it was exported (Quorvane may have been started). Close "
    "Quorvane and export it again into an empty folder.";

struct ExportTarget {
  ExportFormat format = ExportFormat::Maildir;
  std::string out;  // the export's folder, as given
};

struct ExportInput {
  platform::FileSystem& files;
  platform::Clock& clock;
  const platform::LocaleNames& names;
  std::string storePath;
  platform::FileStamp store;  // the store as the dry run read it
  std::string programFolder;  // which the export stays out of
};

struct ExportResult {
  bool began = false;  // the export's folder was made or found empty
  std::string out;     // the export's folder, in full
  std::vector<ExportFolder> folders;
  std::vector<std::vector<std::string>> names;  // of each folder, from the top
  std::int64_t written = 0;                     // messages whose bytes are all in their place
  std::string error;                            // what ended the export ("" when it finished)
};

// Writes every message of the store to `target`, each into the folder its entry of `filed` (the
// merged entries, one per message in store order) names in `tree`. Fails (result.error) when the
// store is not the one the entries were made from.
void ExportStore(const ExportInput& input, const TMailTree& tree, const TCompactMessageList& filed,
                 const ExportTarget& target, const ScanProgress& progress, ExportResult& result);

}  // namespace qv
