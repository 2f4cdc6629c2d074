#include "components/PropertyInfo.h"

#include "base/StringUtils.h"

namespace qv {

namespace {
constexpr const char* kBooleanNames[] = {"False", "True"};
}

const TEnumInfo kBooleanInfo{"Boolean", kBooleanNames};

std::int64_t ClampToWidth(std::int64_t value, TOrdWidth width) noexcept {
  switch (width) {
    case TOrdWidth::S8:
      return static_cast<std::int8_t>(value);
    case TOrdWidth::U8:
      return static_cast<std::uint8_t>(value);
    case TOrdWidth::S16:
      return static_cast<std::int16_t>(value);
    case TOrdWidth::U16:
      return static_cast<std::uint16_t>(value);
    case TOrdWidth::S32:
      return static_cast<std::int32_t>(value);
    case TOrdWidth::U32:
      return static_cast<std::uint32_t>(value);
  }
  return value;
}

int TEnumInfo::IndexOf(std::string_view name) const noexcept {
  for (std::size_t i = 0; i < names.size(); ++i)
    if (SameText(names[i], name)) return static_cast<int>(i);
  return -1;
}

std::string_view TEnumInfo::NameOf(int index) const noexcept {
  if (index < 0 || static_cast<std::size_t>(index) >= names.size()) return {};
  return names[static_cast<std::size_t>(index)];
}

const char* IdentOfValue(TIdentMap map, std::int64_t value) noexcept {
  for (const auto& e : map)
    if (e.value == value) return e.ident;
  return nullptr;
}

std::optional<std::int32_t> ValueOfIdent(TIdentMap map, std::string_view ident) noexcept {
  for (const auto& e : map)
    if (SameText(e.ident, ident)) return e.value;
  return std::nullopt;
}

TClassInfo::TClassInfo(const char* name, const TClassInfo* parent, std::vector<TPropInfo> own)
    : name_(name), parent_(parent) {
  if (parent_) all_ = parent_->all_;
  all_.insert(all_.end(), own.begin(), own.end());
}

const TPropInfo* TClassInfo::FindProperty(std::string_view name) const noexcept {
  for (const auto& p : all_)
    if (SameText(p.name, name)) return &p;
  return nullptr;
}

bool TClassInfo::InheritsFrom(const TClassInfo& other) const noexcept {
  for (const TClassInfo* c = this; c; c = c->parent_)
    if (c == &other) return true;
  return false;
}

}  // namespace qv
