// The folders of an export: the index's folder tree, in its order, and a top-level folder for each
// folder key that the tree does not hold; which folder each filed message goes to; and, once the
// writer has made them, where each lies in the export and what it took.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "mailbox/CompactMessages.h"
#include "mailbox/qvMailbox.h"

namespace qv {

struct ExportFolder {
  std::string name;            // UTF-8: the tree item's Text, "Inbox" for the Inbox
  std::ptrdiff_t parent = -1;  // the folder it lies in (-1: none)
  bool hasChildren = false;
  std::string path;                     // where it lies in the export ("" until it is made)
  std::int64_t messages = 0, read = 0;  // written
};

class ExportFolders {
 public:
  // A message's folder key is looked for among the tree items' Status, then among their Text;
  // "_msInbox" is the Inbox (an item of the tree when one has that key, else a folder put first).
  // A tree item's parent is the nearest item above it with a lower Level; the Inbox lies at the
  // top, its own items below it. A key the tree does not hold is a top-level folder of that name.
  ExportFolders(const TMailTree& tree, const TCompactMessageList& filed);

  std::vector<ExportFolder>& Folders() noexcept { return folders_; }
  const std::vector<ExportFolder>& Folders() const noexcept { return folders_; }
  std::size_t Inbox() const noexcept { return inbox_; }
  // The folder of a message with this folder key.
  std::size_t FolderOf(std::string_view key) const;
  // The names from the top down to a folder.
  std::vector<std::string> Names(std::size_t folder) const;

 private:
  std::vector<ExportFolder> folders_;
  std::size_t inbox_ = 0;
  std::map<std::string, std::size_t, std::less<>> byKey_;
};

}  // namespace qv
