// The stored object model: TPersistent (copy), TComponent (name, owner, owned components, Tag,
// design position, loading state), TCollection/TCollectionItem, and the registry of the
// application's top-level components that root names are made unique against.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <shared_mutex>
#include <string>
#include <string_view>
#include <vector>

#include "components/PropertyInfo.h"

namespace qv {

class TFiler;
class TComponentRegistry;

// Declares the class description of a stored class; define StaticClassInfo() in the .cpp.
#define QV_CLASS_INFO                                  \
 public:                                               \
  static const ::qv::TClassInfo& StaticClassInfo();    \
  const ::qv::TClassInfo& ClassInfo() const override { \
    return StaticClassInfo();                          \
  }

// The base of everything stored.
class TPersistent {
 public:
  TPersistent() = default;
  TPersistent(const TPersistent&) = delete;
  TPersistent& operator=(const TPersistent&) = delete;
  virtual ~TPersistent() = default;

  static const TClassInfo& StaticClassInfo();
  virtual const TClassInfo& ClassInfo() const { return StaticClassInfo(); }
  std::string ClassName() const { return ClassInfo().Name(); }

  // Copies the state of source into this object. Each class accepts sources of its own class;
  // anything else, or none, fails with "Cannot assign a %s to a %s" (EConvertError).
  virtual void CopyFrom(const TPersistent* source);

  // Extra stored entries beyond the published properties ("Left" and "Top" of a component, the
  // "Items" of a message's bodies): the class names each entry with its read and write callbacks.
  virtual void DefineProperties(TFiler& filer);

  // The object this one belongs to, for name paths (the owner of a collection, the collection of an
  // item); null when there is none.
  virtual TPersistent* GetOwner() const { return nullptr; }

  // A token that expires when the object is destroyed, for records that must not outlive it.
  std::weak_ptr<void> LifeToken();

 protected:
  [[noreturn]] void AssignError(const TPersistent* source) const;

 private:
  std::shared_ptr<void> life_;
};

enum TComponentStateFlag : unsigned {
  csLoading = 1,
  csReading = 2,
  csDestroying = 4,
};

// A component: a name unique (without regard to case) among the components of its owner, an
// owner, the components it owns, a Tag and a design position. The owner does not free what it
// owns: components are members or owned pointers of their owner class, and the owner/owned lists
// are kept right by constructors and destructors.
class TComponent : public TPersistent {
  QV_CLASS_INFO
 public:
  explicit TComponent(TComponent* owner);
  ~TComponent() override;

  const std::string& Name() const noexcept { return name_; }
  // Renames. An equal name does nothing; a non-empty name must be an identifier, else
  // "''%s'' is not a valid component name"; a name that differs other than in case and that
  // another component of the owner bears fails with "A component named %s already exists".
  // Both are EComponentError.
  void SetName(const std::string& name);

  std::int32_t Tag() const noexcept { return tag_; }
  void SetTag(std::int32_t tag) { tag_ = tag; }

  // The design position, stored as "Left" and "Top".
  std::uint16_t DesignLeft() const noexcept { return left_; }
  std::uint16_t DesignTop() const noexcept { return top_; }
  void SetDesignLeft(std::uint16_t v) { left_ = v; }
  void SetDesignTop(std::uint16_t v) { top_ = v; }

  TComponent* Owner() const noexcept { return owner_; }
  int ComponentCount() const noexcept { return static_cast<int>(components_.size()); }
  TComponent* Components(int i) const { return components_.at(static_cast<std::size_t>(i)); }
  // The owned component of that name (without regard to case), or null.
  TComponent* FindComponent(std::string_view name) const noexcept;

  unsigned ComponentState() const noexcept { return state_; }
  bool Loading() const noexcept { return (state_ & csLoading) != 0; }
  void SetStateFlags(unsigned flags) noexcept { state_ |= flags; }
  void ClearStateFlags(unsigned flags) noexcept { state_ &= ~flags; }
  // Called once a stream has been read into the component; clears the loading mark.
  virtual void Loaded() { state_ &= ~csLoading; }

  // Published methods that stored event entries may name. The base has none.
  virtual bool HasMethod(std::string_view name) const;
  // The published method of that name as a notification handler; empty when there is none.
  virtual std::function<void(TPersistent* sender)> NotifyMethod(std::string_view name);

  // The registry this component, or the top of its owner chain, is registered with; or null.
  TComponentRegistry* Registry() const noexcept;

  void DefineProperties(TFiler& filer) override;
  TPersistent* GetOwner() const override { return owner_; }

  // Whether a name is an identifier: a letter or underscore, then letters, digits or underscores.
  static bool IsValidIdent(std::string_view name) noexcept;

 private:
  friend class TComponentRegistry;
  void InsertComponent(TComponent* c);
  void RemoveComponent(TComponent* c) noexcept;

  std::string name_;
  TComponent* owner_ = nullptr;
  std::vector<TComponent*> components_;
  std::int32_t tag_ = 0;
  std::uint16_t left_ = 0;
  std::uint16_t top_ = 0;
  unsigned state_ = 0;
  TComponentRegistry* registry_ = nullptr;
};

class TCollection;

// One item of a collection; it always belongs to exactly one collection.
class TCollectionItem : public TPersistent {
  QV_CLASS_INFO
 public:
  TCollectionItem() = default;

  TCollection* Collection() const noexcept { return collection_; }
  // The item's position in its collection, or -1.
  int IndexInCollection() const noexcept;
  // The name shown for the item; the class name by default.
  virtual std::string DisplayName() const { return ClassName(); }
  TPersistent* GetOwner() const override;

 private:
  friend class TCollection;
  TCollection* collection_ = nullptr;
};

// An owned, ordered list of items of one item class.
class TCollection : public TPersistent {
  QV_CLASS_INFO
 public:
  explicit TCollection(TPersistent* owner) : owner_(owner) {}
  ~TCollection() override;

  int Count() const noexcept { return static_cast<int>(items_.size()); }
  // Appends an item with its initial values and returns it.
  TCollectionItem& Add();
  // The item at a zero-based position; outside the range fails with
  // "List index out of bounds (%d)" (EListError).
  TCollectionItem& ItemAt(int index) const;
  void Delete(int index);
  void Clear();
  int IndexOf(const TCollectionItem* item) const noexcept;

  // Clear, then one new item per source item copied by the item's CopyFrom, in one update bracket.
  // A source that is not a collection fails with "Cannot assign a %s to a %s".
  void CopyFrom(const TPersistent* source) override;

  // Change handling runs once, when the outermost bracket closes.
  void BeginUpdate() noexcept { ++update_count_; }
  void EndUpdate();
  int UpdateCount() const noexcept { return update_count_; }

  TPersistent* GetOwner() const override { return owner_; }

 protected:
  // Makes one item of the collection's item class.
  virtual std::unique_ptr<TCollectionItem> CreateItem() const = 0;
  // Runs after a change made outside an update bracket, and once at the end of a bracket.
  virtual void Update() {}
  void Changed();

 private:
  TPersistent* owner_;
  std::vector<std::unique_ptr<TCollectionItem>> items_;
  int update_count_ = 0;
};

// A collection of items of class Item, with typed access.
template <class Item>
class TTypedCollection : public TCollection {
 public:
  using TCollection::TCollection;
  Item& NewItem() { return static_cast<Item&>(Add()); }
  Item& ItemAt(int index) const { return static_cast<Item&>(TCollection::ItemAt(index)); }

 protected:
  std::unique_ptr<TCollectionItem> CreateItem() const override { return std::make_unique<Item>(); }
};

// The application's top-level components (its windows and data containers). Root names read from
// a stream are made unique against them, and references into them that could not be resolved
// when read wait here. The application owns it and hands it to its top-level components.
class TComponentRegistry {
 public:
  TComponentRegistry() = default;
  TComponentRegistry(const TComponentRegistry&) = delete;
  TComponentRegistry& operator=(const TComponentRegistry&) = delete;
  ~TComponentRegistry();

  // Registers a top-level component (one without owner); it unregisters itself when destroyed.
  void Add(TComponent& component);
  void Remove(TComponent& component) noexcept;
  // The registered component of that name (without regard to case), or null.
  TComponent* Find(std::string_view name) const noexcept;
  // The name, or "%s_%d" with the counters 1, 2, ... until no registered component bears it.
  std::string UniqueName(const std::string& name) const;

  // The name-space lock: held exclusively while a stream is read.
  std::shared_mutex& NameSpaceLock() noexcept { return lock_; }

  // A component reference of a finished read that names a top-level component not yet present.
  struct GlobalFixup {
    std::weak_ptr<void> alive;
    TPersistent* instance;
    const TPropInfo* prop;
    std::string name;
  };
  void AddGlobalFixup(GlobalFixup fixup);
  // Retries the waiting references; the ones that now resolve are set and dropped.
  void RetryGlobalFixups();
  std::size_t PendingGlobalFixups() const noexcept { return fixups_.size(); }

 private:
  std::vector<TComponent*> components_;
  std::vector<GlobalFixup> fixups_;
  std::shared_mutex lock_;
};

// Resolves a reference name as a path of component names starting at `from`: parts separated by
// "." or "->", each naming a component owned by the one reached so far ("Owner" stays where it
// is). Null when a part does not resolve.
TComponent* FindNestedComponent(TComponent* from, std::string_view path);

}  // namespace qv
