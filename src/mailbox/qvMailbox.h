// Unit qvMailbox: the mail client's mailbox index. The index file is this object written as a
// component stream, so the property names, their order, kinds and defaults below are the file
// format as much as the data model.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "base/DateTime.h"
#include "components/Component.h"
#include "platform/Platform.h"

namespace qv {

class TMailTree;

// One folder of the mailbox. Every setter stores only a different value and then fires
// TreeChanged of the tree that holds the item.
class TMailTreeItem : public TCollectionItem {
  QV_CLASS_INFO
 public:
  // A stored value of its own, not the item's position in the tree.
  std::int32_t Index() const noexcept { return index_; }
  std::int32_t Level() const noexcept { return level_; }
  const std::string& Text() const noexcept { return text_; }
  const std::string& Status() const noexcept { return status_; }
  bool Expanded() const noexcept { return expanded_; }
  std::int32_t ImageIndex() const noexcept { return imageIndex_; }
  std::int32_t SelectedIndex() const noexcept { return selectedIndex_; }
  bool IsVisible() const noexcept { return isVisible_; }
  bool IsProtected() const noexcept { return isProtected_; }
  std::int32_t Unread() const noexcept { return unread_; }

  void SetIndex(std::int32_t v);
  void SetLevel(std::int32_t v);
  void SetText(const std::string& v);
  void SetStatus(const std::string& v);
  void SetExpanded(bool v);
  void SetImageIndex(std::int32_t v);
  void SetSelectedIndex(std::int32_t v);
  void SetIsVisible(bool v);
  void SetIsProtected(bool v);
  void SetUnread(std::int32_t v);

  // Copies every value but Unread, through the setters.
  void CopyFrom(const TPersistent* source) override;
  std::string DisplayName() const override;

 private:
  template <class T>
  void Store(T& field, const T& value);
  void TreeChanged();

  std::int32_t index_ = 0;
  std::int32_t level_ = 0;
  std::string text_;
  std::string status_;
  bool expanded_ = false;
  std::int32_t imageIndex_ = 0;
  std::int32_t selectedIndex_ = 0;
  bool isVisible_ = false;
  bool isProtected_ = false;
  std::int32_t unread_ = 0;
};

// The folder tree of a mailbox.
class TMailTree : public TTypedCollection<TMailTreeItem> {
  QV_CLASS_INFO
 public:
  using TTypedCollection::TTypedCollection;

  // Fires OnTreeChanged with the tree as sender when a handler is assigned.
  void TreeChanged();

  // The stored form of the handler: a published method of some component, by name.
  TMethod OnTreeChanged() const { return onTreeChangedMethod_; }
  void SetOnTreeChanged(const TMethod& method);
  // A handler set from code; it has no name and is never stored.
  void SetOnTreeChangedHandler(std::function<void(TPersistent*)> handler);

 private:
  TMethod onTreeChangedMethod_;
  std::function<void(TPersistent*)> onTreeChanged_;
};

// The fields of one message entry, in stream order: kind, stored name, and the name of what the
// repair keeps in it. The stored names are the index's property names and nothing else; code
// reads and sets an entry by the other names. The client's fields whose meaning the repair does
// not know are named by their kind and place.
#define QV_MAIL_MESSAGE_FIELDS(X) \
  X(String, F0, FolderKey)        \
  X(Bool, F1, Read)               \
  X(String, F2, MessageId)        \
  X(Int, F3, Priority)            \
  X(Bool, F4, HasAttachment)      \
  X(Bool, F5, Flag5)              \
  X(String, F6, Account)          \
  X(String, F7, Sender)           \
  X(String, F8, Recipients)       \
  X(String, F9, Subject)          \
  X(Int64, F10, BlockSize)        \
  X(Date, F11, Date)              \
  X(Date, F12, ReceivedDate)      \
  X(Int, F13, Number13)           \
  X(String, F14, Text14)          \
  X(Int64, F15, Offset)           \
  X(Bool, F16, Flag16)            \
  X(Bool, F17, Flag17)            \
  X(Int, F18, Number18)           \
  X(Int64, F19, Number19)         \
  X(String, F20, Text20)

namespace mailbox_detail {
using String = std::string;
using Bool = bool;
using Int = std::int32_t;
using Int64 = std::int64_t;
using Date = TDateTime;
}  // namespace mailbox_detail

// One message of the mailbox: folder key "_msInbox" (the Inbox) or another folder's, read state,
// Message-ID, priority mark (2 high, -1 otherwise), attachment mark, account, sender as shown,
// recipients, subject, the size of its block in the store and the block's offset, and two dates
// (the repair gives both the message's date). Setters store only a different value; nothing is
// notified.
class TMailMessageItem : public TCollectionItem {
  QV_CLASS_INFO
 public:
#define QV_FIELD_ACCESS(kind, stored, name)           \
  const mailbox_detail::kind& name() const noexcept { \
    return name##_;                                   \
  }                                                   \
  void Set##name(const mailbox_detail::kind& v) {     \
    if (!(name##_ == v)) name##_ = v;                 \
  }
  QV_MAIL_MESSAGE_FIELDS(QV_FIELD_ACCESS)
#undef QV_FIELD_ACCESS

  // Copies all 21 values, in order, through the setters.
  void CopyFrom(const TPersistent* source) override;
  std::string DisplayName() const override;

 private:
#define QV_FIELD_MEMBER(kind, stored, name) mailbox_detail::kind name##_{};
  QV_MAIL_MESSAGE_FIELDS(QV_FIELD_MEMBER)
#undef QV_FIELD_MEMBER
};

// The message list of a mailbox.
class TMailMessageList : public TTypedCollection<TMailMessageItem> {
  QV_CLASS_INFO
 public:
  using TTypedCollection::TTypedCollection;
};

// The mailbox index: the folder tree, the message list and a few values carried through load and
// save without being interpreted.
class TqvMailBox : public TComponent {
  QV_CLASS_INFO
 public:
  explicit TqvMailBox(TComponent* owner);
  ~TqvMailBox() override;

  // A tree-view control of some window; not owned.
  TComponent* Treeview() const noexcept { return treeview_; }
  void SetTreeview(TComponent* v) { treeview_ = v; }

  TMailTree& TreeItems() const noexcept { return *tree_; }
  TMailMessageList& MailItems() const noexcept { return *mail_; }
  // Replace the contents of the owned collection by copies of the source's items; anything that
  // is not a collection fails with "Cannot assign a %s to a %s".
  void SetTreeItems(const TPersistent* source) { tree_->CopyFrom(source); }
  void SetMailItems(const TPersistent* source) { mail_->CopyFrom(source); }

  const std::string& MailDir() const noexcept { return mailDir_; }
  const std::string& Language() const noexcept { return language_; }
  const std::string& Password() const noexcept { return password_; }
  std::int32_t F1() const noexcept { return f1_; }
  std::int32_t F2() const noexcept { return f2_; }
  const std::string& F3() const noexcept { return f3_; }
  const std::string& F4() const noexcept { return f4_; }
  void SetMailDir(const std::string& v) {
    if (v != mailDir_) mailDir_ = v;
  }
  void SetLanguage(const std::string& v) {
    if (v != language_) language_ = v;
  }
  void SetPassword(const std::string& v) {
    if (v != password_) password_ = v;
  }
  void SetF1(std::int32_t v) {
    if (v != f1_) f1_ = v;
  }
  void SetF2(std::int32_t v) {
    if (v != f2_) f2_ = v;
  }
  void SetF3(const std::string& v) {
    if (v != f3_) f3_ = v;
  }
  void SetF4(const std::string& v) {
    if (v != f4_) f4_ = v;
  }

  // Reads the index file into this object; a missing file (or a folder of that name) changes
  // nothing. Errors of opening and reading reach the caller.
  void LoadFromFile(const std::string& fileName, platform::FileSystem& files);
  // Writes this object as the index file. The file is replaced only once the new content is
  // completely on the disk; on failure the old file stays as it was.
  void SaveToFile(const std::string& fileName, platform::FileSystem& files);

 private:
  TComponent* treeview_ = nullptr;
  std::unique_ptr<TMailTree> tree_;
  std::unique_ptr<TMailMessageList> mail_;
  std::string mailDir_ = "\\mail";
  std::string language_;
  std::string password_;
  std::int32_t f1_ = 0;
  std::int32_t f2_ = 0;
  std::string f3_;
  std::string f4_;
};

}  // namespace qv
