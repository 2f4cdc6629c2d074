#include "repair/ExportFolders.h"

#include "platform/CodePage.h"
#include "repair/MessageIndexer.h"

namespace qv {

ExportFolders::ExportFolders(const TMailTree& tree, const TCompactMessageList& filed) {
  std::map<std::string_view, std::size_t, std::less<>> byStatus, byText;
  for (int i = 0; i < tree.Count(); ++i) {
    const TMailTreeItem& item = tree.ItemAt(i);
    if (!item.Status().empty()) byStatus.try_emplace(item.Status(), i);
    if (!item.Text().empty()) byText.try_emplace(item.Text(), i);
  }
  const auto itemOf = [&](std::string_view key) -> std::ptrdiff_t {
    if (auto s = byStatus.find(key); s != byStatus.end())
      return static_cast<std::ptrdiff_t>(s->second);
    if (auto t = byText.find(key); t != byText.end()) return static_cast<std::ptrdiff_t>(t->second);
    return -1;
  };
  const std::ptrdiff_t inboxItem = itemOf(kInboxKey);
  // Without an item of its own, the Inbox comes first; the items follow in the tree's order.
  const std::size_t first = inboxItem < 0 ? 1 : 0;
  const auto add = [this](std::string name) {
    folders_.emplace_back();
    folders_.back().name = std::move(name);
  };
  if (inboxItem < 0) add("Inbox");
  inbox_ = inboxItem < 0 ? 0 : first + static_cast<std::size_t>(inboxItem);
  // The items above the one being placed whose Level rises, nearest last: an item's parent is the
  // last of them with a lower Level.
  std::vector<std::size_t> open;
  for (int i = 0; i < tree.Count(); ++i) {
    const TMailTreeItem& item = tree.ItemAt(i);
    while (!open.empty() && tree.ItemAt(static_cast<int>(open.back())).Level() >= item.Level())
      open.pop_back();
    ExportFolder folder;
    folder.name = platform::AnsiToUtf8(!item.Text().empty() ? item.Text() : item.Status());
    if (i == inboxItem) {
      folder.name = "Inbox";
    } else if (!open.empty()) {
      folder.parent = static_cast<std::ptrdiff_t>(first + open.back());
      folders_[first + open.back()].hasChildren = true;
    }
    folders_.push_back(std::move(folder));
    open.push_back(static_cast<std::size_t>(i));
  }
  byKey_.emplace(kInboxKey, inbox_);
  for (std::size_t n = 0; n < filed.Count(); ++n) {
    const std::string_view key = filed.FolderKey(n);
    if (byKey_.find(key) != byKey_.end()) continue;
    const std::ptrdiff_t item = itemOf(key);
    if (item >= 0) {
      byKey_.emplace(key, first + static_cast<std::size_t>(item));
    } else {
      byKey_.emplace(key, folders_.size());
      add(platform::AnsiToUtf8(key));
    }
  }
}

std::size_t ExportFolders::FolderOf(std::string_view key) const {
  const auto at = byKey_.find(key);
  return at == byKey_.end() ? inbox_ : at->second;
}

std::vector<std::string> ExportFolders::Names(std::size_t folder) const {
  std::vector<std::string> names;
  for (std::ptrdiff_t f = static_cast<std::ptrdiff_t>(folder); f >= 0;
       f = folders_[static_cast<std::size_t>(f)].parent)
    names.insert(names.begin(), folders_[static_cast<std::size_t>(f)].name);
  return names;
}

}  // namespace qv
