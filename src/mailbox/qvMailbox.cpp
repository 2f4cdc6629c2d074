#include "mailbox/qvMailbox.h"

#include "components/ComponentFile.h"
#include "components/Props.h"

namespace qv {

// --- TMailTreeItem --------------------------------------------------------------------------

const TClassInfo& TMailTreeItem::StaticClassInfo() {
  using T = TMailTreeItem;
  static const TClassInfo info(
      "TMailTreeItem", &TCollectionItem::StaticClassInfo(),
      {
          IntegerProp<&T::Index, &T::SetIndex>("Index"),
          IntegerProp<&T::Level, &T::SetLevel>("Level"),
          StringProp<&T::Text, &T::SetText>("Text"),
          StringProp<&T::Status, &T::SetStatus>("Status"),
          BoolProp<&T::Expanded, &T::SetExpanded>("Expanded"),
          IntegerProp<&T::ImageIndex, &T::SetImageIndex>("ImageIndex"),
          IntegerProp<&T::SelectedIndex, &T::SetSelectedIndex>("SelectedIndex"),
          BoolProp<&T::IsVisible, &T::SetIsVisible>("IsVisible"),
          BoolProp<&T::IsProtected, &T::SetIsProtected>("IsProtected"),
          IntegerProp<&T::Unread, &T::SetUnread>("Unread"),
      });
  return info;
}

template <class T>
void TMailTreeItem::Store(T& field, const T& value) {
  if (field == value) return;
  field = value;
  TreeChanged();
}

void TMailTreeItem::TreeChanged() {
  if (auto* tree = dynamic_cast<TMailTree*>(Collection())) tree->TreeChanged();
}

void TMailTreeItem::SetIndex(std::int32_t v) {
  Store(index_, v);
}
void TMailTreeItem::SetLevel(std::int32_t v) {
  Store(level_, v);
}
void TMailTreeItem::SetText(const std::string& v) {
  Store(text_, v);
}
void TMailTreeItem::SetStatus(const std::string& v) {
  Store(status_, v);
}
void TMailTreeItem::SetExpanded(bool v) {
  Store(expanded_, v);
}
void TMailTreeItem::SetImageIndex(std::int32_t v) {
  Store(imageIndex_, v);
}
void TMailTreeItem::SetSelectedIndex(std::int32_t v) {
  Store(selectedIndex_, v);
}
void TMailTreeItem::SetIsVisible(bool v) {
  Store(isVisible_, v);
}
void TMailTreeItem::SetIsProtected(bool v) {
  Store(isProtected_, v);
}
void TMailTreeItem::SetUnread(std::int32_t v) {
  Store(unread_, v);
}

void TMailTreeItem::CopyFrom(const TPersistent* source) {
  const auto* s = dynamic_cast<const TMailTreeItem*>(source);
  if (!s) AssignError(source);
  SetIndex(s->index_);
  SetLevel(s->level_);
  SetText(s->text_);
  SetStatus(s->status_);
  SetExpanded(s->expanded_);
  SetImageIndex(s->imageIndex_);
  SetSelectedIndex(s->selectedIndex_);
  SetIsVisible(s->isVisible_);
  SetIsProtected(s->isProtected_);
}

std::string TMailTreeItem::DisplayName() const {
  return text_.empty() ? ClassName() : text_;
}

// --- TMailTree ------------------------------------------------------------------------------

const TClassInfo& TMailTree::StaticClassInfo() {
  using T = TMailTree;
  static const TClassInfo info(
      "TMailTree", &TCollection::StaticClassInfo(),
      {EventProp<&T::OnTreeChanged, &T::SetOnTreeChanged>("OnTreeChanged")});
  return info;
}

void TMailTree::TreeChanged() {
  if (onTreeChanged_) onTreeChanged_(this);
}

void TMailTree::SetOnTreeChanged(const TMethod& method) {
  onTreeChangedMethod_ = method;
  onTreeChanged_ = method.Assigned() ? method.data->NotifyMethod(method.name) : nullptr;
}

void TMailTree::SetOnTreeChangedHandler(std::function<void(TPersistent*)> handler) {
  onTreeChangedMethod_ = {};
  onTreeChanged_ = std::move(handler);
}

// --- TMailMessageItem -----------------------------------------------------------------------

namespace {
template <auto Get, auto Set>
TPropInfo MessageProp(const char* name, std::string*) {
  return StringProp<Get, Set>(name);
}
template <auto Get, auto Set>
TPropInfo MessageProp(const char* name, bool*) {
  return BoolProp<Get, Set>(name);
}
template <auto Get, auto Set>
TPropInfo MessageProp(const char* name, std::int32_t*) {
  return IntegerProp<Get, Set>(name);
}
template <auto Get, auto Set>
TPropInfo MessageProp(const char* name, std::int64_t*) {
  return Int64Prop<Get, Set>(name);
}
template <auto Get, auto Set>
TPropInfo MessageProp(const char* name, double*) {
  return FloatProp<Get, Set>(name);
}
}  // namespace

const TClassInfo& TMailMessageItem::StaticClassInfo() {
  using T = TMailMessageItem;
#define QV_FIELD_PROP(kind, stored, name) \
  MessageProp<&T::name, &T::Set##name>(#stored, static_cast<mailbox_detail::kind*>(nullptr)),
  static const TClassInfo info("TMailMessageItem", &TCollectionItem::StaticClassInfo(),
                               {QV_MAIL_MESSAGE_FIELDS(QV_FIELD_PROP)});
#undef QV_FIELD_PROP
  return info;
}

void TMailMessageItem::CopyFrom(const TPersistent* source) {
  const auto* s = dynamic_cast<const TMailMessageItem*>(source);
  if (!s) AssignError(source);
#define QV_FIELD_COPY(kind, stored, name) Set##name(s->name##_);
  QV_MAIL_MESSAGE_FIELDS(QV_FIELD_COPY)
#undef QV_FIELD_COPY
}

std::string TMailMessageItem::DisplayName() const {
  return MessageId_.empty() ? ClassName() : MessageId_;
}

const TClassInfo& TMailMessageList::StaticClassInfo() {
  static const TClassInfo info("TMailMessageList", &TCollection::StaticClassInfo(), {});
  return info;
}

// --- TqvMailBox -----------------------------------------------------------------------------

const TClassInfo& TqvMailBox::StaticClassInfo() {
  using T = TqvMailBox;
  static const TClassInfo info(
      "TqvMailBox", &TComponent::StaticClassInfo(),
      {
          ObjectProp<&T::Treeview, &T::SetTreeview>("Treeview", TObjectRole::Reference),
          ObjectProp<&T::TreeItems, &T::SetTreeItems>("TreeItems", TObjectRole::Owned),
          ObjectProp<&T::MailItems, &T::SetMailItems>("MailItems", TObjectRole::Owned),
          StringProp<&T::MailDir, &T::SetMailDir>("MailDir"),
          StringProp<&T::Language, &T::SetLanguage>("Language"),
          StringProp<&T::Password, &T::SetPassword>("Password"),
          IntegerProp<&T::F1, &T::SetF1>("F1"),
          IntegerProp<&T::F2, &T::SetF2>("F2"),
          StringProp<&T::F3, &T::SetF3>("F3"),
          StringProp<&T::F4, &T::SetF4>("F4"),
      });
  return info;
}

TqvMailBox::TqvMailBox(TComponent* owner)
    : TComponent(owner),
      tree_(std::make_unique<TMailTree>(this)),
      mail_(std::make_unique<TMailMessageList>(this)) {}

TqvMailBox::~TqvMailBox() {
  mail_->Clear();
  mail_.reset();
  tree_->Clear();
  tree_.reset();
}

void TqvMailBox::LoadFromFile(const std::string& fileName, platform::FileSystem& files) {
  LoadComponentFromFile(*this, fileName, files);
}

void TqvMailBox::SaveToFile(const std::string& fileName, platform::FileSystem& files) {
  SaveComponentToFile(*this, fileName, files);
}

}  // namespace qv
