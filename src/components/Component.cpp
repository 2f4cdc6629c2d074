#include "components/Component.h"

#include <algorithm>
#include <mutex>

#include "base/Errors.h"
#include "base/StringUtils.h"
#include "components/Filer.h"
#include "components/Props.h"

namespace qv {

// --- TPersistent ----------------------------------------------------------------------------

const TClassInfo& TPersistent::StaticClassInfo() {
  static const TClassInfo info("TPersistent", nullptr, {});
  return info;
}

void TPersistent::CopyFrom(const TPersistent* source) {
  AssignError(source);
}

void TPersistent::DefineProperties(TFiler&) {}

std::weak_ptr<void> TPersistent::LifeToken() {
  if (!life_) life_ = std::make_shared<char>(0);
  return life_;
}

void TPersistent::AssignError(const TPersistent* source) const {
  const std::string from = source ? source->ClassName() : std::string("nil");
  throw EConvertError(FormatMessage(kAssignError, {from, ClassName()}));
}

// --- TComponent -----------------------------------------------------------------------------

const TClassInfo& TComponent::StaticClassInfo() {
  static const TClassInfo info(
      "TComponent", &TPersistent::StaticClassInfo(),
      {
          StringProp<&TComponent::Name, &TComponent::SetName>("Name").NotStored(),
          IntegerProp<&TComponent::Tag, &TComponent::SetTag>("Tag").Default(0),
      });
  return info;
}

TComponent::TComponent(TComponent* owner) {
  if (owner) owner->InsertComponent(this);
}

TComponent::~TComponent() {
  state_ |= csDestroying;
  if (registry_) registry_->Remove(*this);
  for (TComponent* c : components_)
    c->owner_ = nullptr;
  components_.clear();
  if (owner_) owner_->RemoveComponent(this);
}

void TComponent::InsertComponent(TComponent* c) {
  components_.push_back(c);
  c->owner_ = this;
}

void TComponent::RemoveComponent(TComponent* c) noexcept {
  auto it = std::find(components_.begin(), components_.end(), c);
  if (it != components_.end()) components_.erase(it);
  c->owner_ = nullptr;
}

bool TComponent::IsValidIdent(std::string_view name) noexcept {
  if (name.empty()) return false;
  const auto alpha = [](char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_';
  };
  if (!alpha(name[0])) return false;
  return std::all_of(name.begin() + 1, name.end(),
                     [&](char c) { return alpha(c) || (c >= '0' && c <= '9'); });
}

void TComponent::SetName(const std::string& name) {
  if (name == name_) return;
  if (!name.empty() && !IsValidIdent(name))
    throw EComponentError(FormatMessage(kInvalidName, {name}));
  if (owner_ && !SameText(name, name_) && !name.empty()) {
    TComponent* other = owner_->FindComponent(name);
    if (other && other != this) throw EComponentError(FormatMessage(kDuplicateName, {name}));
  }
  name_ = name;
}

TComponent* TComponent::FindComponent(std::string_view name) const noexcept {
  if (name.empty()) return nullptr;
  for (TComponent* c : components_)
    if (SameText(c->name_, name)) return c;
  return nullptr;
}

bool TComponent::HasMethod(std::string_view) const {
  return false;
}

std::function<void(TPersistent*)> TComponent::NotifyMethod(std::string_view) {
  return {};
}

TComponentRegistry* TComponent::Registry() const noexcept {
  const TComponent* c = this;
  while (c->owner_)
    c = c->owner_;
  return c->registry_;
}

void TComponent::DefineProperties(TFiler& filer) {
  filer.DefineProperty(
      "Left", [this](TReader& r) { left_ = static_cast<std::uint16_t>(r.ReadInteger() & 0xFFFF); },
      [this](TWriter& w) { w.WriteInteger(left_); }, left_ != 0);
  filer.DefineProperty(
      "Top", [this](TReader& r) { top_ = static_cast<std::uint16_t>(r.ReadInteger() & 0xFFFF); },
      [this](TWriter& w) { w.WriteInteger(top_); }, top_ != 0);
}

// --- collections ----------------------------------------------------------------------------

const TClassInfo& TCollectionItem::StaticClassInfo() {
  static const TClassInfo info("TCollectionItem", &TPersistent::StaticClassInfo(), {});
  return info;
}

int TCollectionItem::IndexInCollection() const noexcept {
  return collection_ ? collection_->IndexOf(this) : -1;
}

TPersistent* TCollectionItem::GetOwner() const {
  return collection_;
}

const TClassInfo& TCollection::StaticClassInfo() {
  static const TClassInfo info("TCollection", &TPersistent::StaticClassInfo(), {});
  return info;
}

TCollection::~TCollection() = default;

TCollectionItem& TCollection::Add() {
  auto item = CreateItem();
  item->collection_ = this;
  items_.push_back(std::move(item));
  TCollectionItem& added = *items_.back();
  Changed();
  return added;
}

TCollectionItem& TCollection::ItemAt(int index) const {
  if (index < 0 || index >= Count())
    throw EListError(FormatMessage(kListIndexError, {IntToStr(index)}));
  return *items_[static_cast<std::size_t>(index)];
}

void TCollection::Delete(int index) {
  ItemAt(index);
  items_.erase(items_.begin() + index);
  Changed();
}

void TCollection::Clear() {
  if (items_.empty()) return;
  BeginUpdate();
  items_.clear();
  EndUpdate();
}

int TCollection::IndexOf(const TCollectionItem* item) const noexcept {
  for (std::size_t i = 0; i < items_.size(); ++i)
    if (items_[i].get() == item) return static_cast<int>(i);
  return -1;
}

void TCollection::CopyFrom(const TPersistent* source) {
  const auto* other = dynamic_cast<const TCollection*>(source);
  if (!other) AssignError(source);
  if (other == this) return;
  BeginUpdate();
  try {
    Clear();
    for (int i = 0; i < other->Count(); ++i)
      Add().CopyFrom(&other->ItemAt(i));
  } catch (...) {
    EndUpdate();
    throw;
  }
  EndUpdate();
}

void TCollection::EndUpdate() {
  if (update_count_ > 0 && --update_count_ == 0) Changed();
}

void TCollection::Changed() {
  if (update_count_ == 0) Update();
}

// --- registry -------------------------------------------------------------------------------

TComponentRegistry::~TComponentRegistry() {
  for (TComponent* c : components_)
    c->registry_ = nullptr;
}

void TComponentRegistry::Add(TComponent& component) {
  if (component.registry_ == this) return;
  if (component.registry_) component.registry_->Remove(component);
  components_.push_back(&component);
  component.registry_ = this;
}

void TComponentRegistry::Remove(TComponent& component) noexcept {
  auto it = std::find(components_.begin(), components_.end(), &component);
  if (it != components_.end()) components_.erase(it);
  if (component.registry_ == this) component.registry_ = nullptr;
}

TComponent* TComponentRegistry::Find(std::string_view name) const noexcept {
  if (name.empty()) return nullptr;
  for (TComponent* c : components_)
    if (SameText(c->Name(), name)) return c;
  return nullptr;
}

std::string TComponentRegistry::UniqueName(const std::string& name) const {
  std::string result = name;
  for (int i = 1; Find(result) != nullptr; ++i)
    result = Format("%s_%d", name.c_str(), i);
  return result;
}

void TComponentRegistry::AddGlobalFixup(GlobalFixup fixup) {
  fixups_.push_back(std::move(fixup));
}

void TComponentRegistry::RetryGlobalFixups() {
  std::vector<GlobalFixup> waiting;
  for (auto& f : fixups_) {
    if (f.alive.expired()) continue;
    const std::size_t dot = f.name.find('.');
    TComponent* top = Find(std::string_view(f.name).substr(0, dot));
    TComponent* target =
        top ? (dot == std::string::npos
                   ? top
                   : FindNestedComponent(top, std::string_view(f.name).substr(dot + 1)))
            : nullptr;
    if (target && f.prop->setObj) {
      f.prop->setObj(*f.instance, target);
    } else {
      waiting.push_back(std::move(f));
    }
  }
  fixups_ = std::move(waiting);
}

TComponent* FindNestedComponent(TComponent* from, std::string_view path) {
  TComponent* current = from;
  while (current && !path.empty()) {
    std::size_t end = path.size();
    std::size_t skip = 0;
    for (std::size_t i = 0; i < path.size(); ++i) {
      if (path[i] == '.') {
        end = i;
        skip = 1;
        break;
      }
      if (path[i] == '-' && i + 1 < path.size() && path[i + 1] == '>') {
        end = i;
        skip = 2;
        break;
      }
    }
    const std::string_view part = path.substr(0, end);
    path = end + skip <= path.size() ? path.substr(end + skip) : std::string_view{};
    if (!SameText(part, "Owner")) current = current->FindComponent(part);
  }
  return current;
}

}  // namespace qv
