// A whole program folder of the mail client for the repair to work on: the profile, an old index
// that no longer matches the store, and the store itself.
#pragma once

#include <cstdint>
#include <string>

#include "generator/StoreGenerator.h"
#include "platform/Platform.h"

namespace qv::gen {

struct ProgramOptions {
  StoreOptions store;
  std::string dir;  // the program folder; profile/default/ is made inside it
  std::string mailbox = "mailbox";
};

struct ProgramSummary {
  StoreSummary store;
  int folders = 0;
  std::uint64_t oldEntries = 0;    // entries of the old index
  std::uint64_t matching = 0;      // of them, with the Message-ID of a message in the store
  std::uint64_t outsideInbox = 0;  // of the matching ones, filed in another folder than the Inbox
  std::uint64_t read = 0;          // of the matching ones, marked read
};

// Writes <dir>/profile/default/profile.dat (two accounts whose servers serve the recipients'
// domains example.com and example.org), <mailbox>.idx (a folder tree of Inbox, Sent, Trash, a
// user folder and one nested in it; old entries of which some match Message-IDs of the store,
// some in other folders, some read, and stale ones that match nothing) and <mailbox>.mbx.
// The store is written streaming; the old entries are decided from a random sequence of their
// own, so the store is the same as WriteStore gives for the same options.
ProgramSummary WriteProgramFolder(const ProgramOptions& options, platform::FileSystem& files);

}  // namespace qv::gen
