// A string list as a stored sub-object: published as an owned object property, it stores its
// items as the extra entry "Strings", a list of string values, written only when it has items
// ("ToList.Strings" and the like). Reading the entry replaces the items.
#pragma once

#include "base/StringList.h"
#include "components/Component.h"

namespace qv {

class TStrings : public TPersistent {
  QV_CLASS_INFO
 public:
  explicit TStrings(TPersistent* owner = nullptr) : owner_(owner) {}

  TStringList& List() noexcept { return list_; }
  const TStringList& List() const noexcept { return list_; }

  // Copies the items (texts and objects) of another TStrings.
  void CopyFrom(const TPersistent* source) override;
  void DefineProperties(TFiler& filer) override;
  TPersistent* GetOwner() const override { return owner_; }

 private:
  TPersistent* owner_;
  TStringList list_;
};

}  // namespace qv
