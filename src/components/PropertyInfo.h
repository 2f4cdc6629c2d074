// Published property lists: every stored class declares, once and as data, the ordered list of its
// properties (inherited ones first). The component stream writer and reader walk these lists; no
// class writes or parses its own bytes.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace qv {

class TPersistent;
class TComponent;

enum class TPropKind : std::uint8_t {
  Integer,      // 1, 2 or 4 bytes, signed or unsigned; optional identifier mapping
  Char,         // one byte
  Enumeration,  // an ordered list of identifiers; booleans are the enumeration False, True
  Set,          // of an enumeration with at most 32 members; bit i is member i
  Float,        // double (dates included)
  Int64,
  String,
  Object,  // a sub-object, a collection or a component reference
  Event,
};

enum class TOrdWidth : std::uint8_t { S8, U8, S16, U16, S32, U32 };

// Keeps a value in a property's own width, as a stored value is when it is read.
std::int64_t ClampToWidth(std::int64_t value, TOrdWidth width) noexcept;

// The members of an enumeration, in order of their values.
struct TEnumInfo {
  const char* typeName;
  std::span<const char* const> names;
  // Index of a member, compared without regard to case, or -1.
  int IndexOf(std::string_view name) const noexcept;
  // The name of the member with that index, or "" when there is none.
  std::string_view NameOf(int index) const noexcept;
};

extern const TEnumInfo kBooleanInfo;  // "False", "True"

// A table between integer values and identifiers (such as the font character sets).
struct TIdentMapEntry {
  std::int32_t value;
  const char* ident;
};
using TIdentMap = std::span<const TIdentMapEntry>;

// What an object property holds: objects the owner keeps for its whole life (stored inline), or a
// reference to some component (stored by name).
enum class TObjectRole : std::uint8_t { Owned, Reference };

// A handler bound to a published method of a component: the component and the method's name.
struct TMethod {
  TComponent* data = nullptr;
  std::string name;
  bool Assigned() const noexcept { return data != nullptr && !name.empty(); }
  friend bool operator==(const TMethod&, const TMethod&) = default;
};

struct TPropInfo {
  const char* name = "";
  TPropKind kind = TPropKind::Integer;
  TOrdWidth width = TOrdWidth::S32;
  const TEnumInfo* enumInfo = nullptr;  // enumerations, and the member type of sets
  TIdentMap identMap;                   // integers
  TObjectRole objectRole = TObjectRole::Owned;
  bool stored = true;
  std::optional<std::int64_t> defaultValue;  // integer, character, enumeration and set only

  // Access. Which pair is used depends on the kind; a missing setter makes the property read-only.
  std::int64_t (*getOrd)(const TPersistent&) = nullptr;  // ordinal kinds and Int64
  void (*setOrd)(TPersistent&, std::int64_t) = nullptr;
  double (*getFloat)(const TPersistent&) = nullptr;
  void (*setFloat)(TPersistent&, double) = nullptr;
  std::string (*getStr)(const TPersistent&) = nullptr;
  void (*setStr)(TPersistent&, const std::string&) = nullptr;
  TPersistent* (*getObj)(TPersistent&) = nullptr;
  void (*setObj)(TPersistent&, TPersistent*) = nullptr;
  TMethod (*getEvent)(const TPersistent&) = nullptr;
  void (*setEvent)(TPersistent&, const TMethod&) = nullptr;

  bool Readable() const noexcept { return getOrd || getFloat || getStr || getObj || getEvent; }
  bool Writable() const noexcept { return setOrd || setFloat || setStr || setObj || setEvent; }

  // Modifiers for declarations such as IntegerProp<...>("Tag").Default(0).
  TPropInfo Default(std::int64_t v) const {
    TPropInfo p = *this;
    p.defaultValue = v;
    return p;
  }
  TPropInfo NotStored() const {
    TPropInfo p = *this;
    p.stored = false;
    return p;
  }
  TPropInfo Width(TOrdWidth w) const {
    TPropInfo p = *this;
    p.width = w;
    return p;
  }
  TPropInfo Idents(TIdentMap map) const {
    TPropInfo p = *this;
    p.identMap = map;
    return p;
  }
  TPropInfo ReadOnly() const {
    TPropInfo p = *this;
    p.setOrd = nullptr;
    p.setFloat = nullptr;
    p.setStr = nullptr;
    p.setObj = nullptr;
    p.setEvent = nullptr;
    return p;
  }
};

// Identifier of a value in a mapping, or null.
const char* IdentOfValue(TIdentMap map, std::int64_t value) noexcept;
// Value of an identifier (compared without regard to case).
std::optional<std::int32_t> ValueOfIdent(TIdentMap map, std::string_view ident) noexcept;

// The description of a class: its name, its base, and its published properties.
class TClassInfo {
 public:
  TClassInfo(const char* name, const TClassInfo* parent, std::vector<TPropInfo> own);
  TClassInfo(const TClassInfo&) = delete;
  TClassInfo& operator=(const TClassInfo&) = delete;

  const char* Name() const noexcept { return name_; }
  const TClassInfo* Parent() const noexcept { return parent_; }
  // Inherited properties first, then the class's own in declaration order.
  const std::vector<TPropInfo>& Properties() const noexcept { return all_; }
  // Looks a property up without regard to case; null when there is none.
  const TPropInfo* FindProperty(std::string_view name) const noexcept;
  bool InheritsFrom(const TClassInfo& other) const noexcept;

 private:
  const char* name_;
  const TClassInfo* parent_;
  std::vector<TPropInfo> all_;
};

}  // namespace qv
