// The scan of a message store: the store in, each message to the indexing step (and through it to a
// sink), and what the scan found out.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "platform/Platform.h"
#include "repair/Findings.h"
#include "repair/MessageIndexer.h"
#include "repair/OldIndex.h"

namespace qv {

enum class ScanStatus {
  Missing,       // there is no store: nothing was read or made
  CreateFailed,  // the sink could not be opened (ScanResult::error says why): nothing was read
  Interrupted,   // an error ended the scan
  NoMessages,    // the store holds text but no separator line: nothing may replace it
  Scanned,       // every message went to the sink (none, for an empty store)
};

// What a scan found. It is filled as the scan goes, so that it tells how far a scan got that an
// error ended.
struct ScanResult {
  ScanStatus status = ScanStatus::Interrupted;
  std::string error;               // Missing, CreateFailed, NoMessages: the file and the reason
  platform::FileStamp store;       // the store as the scan began to read it
  std::int64_t storeBytes = 0;     // its size then
  std::int64_t messages = -1;      // messages indexed; -1 until the store is open
  std::int64_t scannedBytes = 0;   // bytes of the store read
  std::int64_t leadingBytes = 0;   // bytes before the first separator (all, without one)
  std::int64_t leadingEntry = -1;  // the entry made of text before the first separator (-1: none)
  bool indexMatchesStore = false;  // one old entry per message, in order, at the message's block
};

struct ScanInput {
  platform::FileSystem& files;
  platform::Clock& clock;
  // The locale's names: separators written under another language are read with them too.
  const platform::LocaleNames& names;
  std::string storePath;
  // The old index, whose entries' blocks are compared with the messages' (none: not compared).
  const OldIndex* old = nullptr;
  // Where the scan records what it finds damaged, with each message's offset (none: not looked
  // for).
  Findings* findings = nullptr;
};

inline constexpr const char* kScanOutOfMemory =
    "There is not enough memory to read a message of the mailbox. Nothing was changed.";

// Called at every separator line and once at the end, with what was found so far.
using ScanProgress = std::function<void(const ScanResult& found)>;

// Reads the store line by line and hands every message (the lines after a separator line, up to
// the next one) to `indexer`, after opening its sink. Text before the first separator that is not
// only blank lines becomes the first message (read a second time from the store once the first
// separator shows that there is one). Raises what reading the store or the sink raises; `found`
// then tells how far the scan got; a lack of memory is raised as an Exception that names the
// message being read (its offset and the bytes read of it). The sink is left open: the caller
// closes it.
void ScanStore(const ScanInput& input, MessageStep& indexer, const ScanProgress& progress,
               ScanResult& found);

}  // namespace qv
