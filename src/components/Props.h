// Helpers that turn a getter and a setter into a property descriptor:
//
//   IntegerProp<&TMailTreeItem::Level, &TMailTreeItem::SetLevel>("Level")
//
// The getter is a member function without arguments, the setter (optional: pass nullptr for a
// read-only property) a member function with one.
#pragma once

#include <string>
#include <type_traits>

#include "base/Errors.h"
#include "components/PropertyInfo.h"

namespace qv {

namespace props_detail {

template <class M>
struct Getter;
template <class C, class R>
struct Getter<R (C::*)() const> {
  using Class = C;
  using Value = std::remove_cvref_t<R>;
};
template <class C, class R>
struct Getter<R (C::*)()> {
  using Class = C;
  using Value = std::remove_cvref_t<R>;
};
template <class C, class R>
struct Getter<R (C::*)() const noexcept> : Getter<R (C::*)() const> {};
template <class C, class R>
struct Getter<R (C::*)() noexcept> : Getter<R (C::*)()> {};

template <class M>
struct Setter;
template <class C, class A>
struct Setter<void (C::*)(A)> {
  using Class = C;
  using Arg = std::remove_cvref_t<A>;
};
template <class C, class A>
struct Setter<void (C::*)(A) noexcept> : Setter<void (C::*)(A)> {};

template <auto Get>
using ClassOf = typename Getter<decltype(Get)>::Class;
template <auto Get>
using ValueOf = typename Getter<decltype(Get)>::Value;

template <auto Set>
constexpr bool kHasSetter = !std::is_same_v<decltype(Set), std::nullptr_t>;

template <auto Get, auto Set>
TPropInfo Ordinal(const char* name, TPropKind kind) {
  using C = ClassOf<Get>;
  TPropInfo p;
  p.name = name;
  p.kind = kind;
  p.getOrd = [](const TPersistent& o) -> std::int64_t {
    return static_cast<std::int64_t>((const_cast<C&>(static_cast<const C&>(o)).*Get)());
  };
  if constexpr (kHasSetter<Set>) {
    p.setOrd = [](TPersistent& o, std::int64_t v) {
      using A = typename Setter<decltype(Set)>::Arg;
      (static_cast<C&>(o).*Set)(static_cast<A>(v));
    };
  }
  return p;
}

template <class T>
constexpr TOrdWidth WidthOf() {
  if constexpr (sizeof(T) == 1)
    return std::is_signed_v<T> ? TOrdWidth::S8 : TOrdWidth::U8;
  else if constexpr (sizeof(T) == 2)
    return std::is_signed_v<T> ? TOrdWidth::S16 : TOrdWidth::U16;
  else
    return std::is_signed_v<T> ? TOrdWidth::S32 : TOrdWidth::U32;
}

}  // namespace props_detail

// Integer property; the width follows the getter's type.
template <auto Get, auto Set>
TPropInfo IntegerProp(const char* name) {
  TPropInfo p = props_detail::Ordinal<Get, Set>(name, TPropKind::Integer);
  p.width = props_detail::WidthOf<props_detail::ValueOf<Get>>();
  return p;
}

template <auto Get, auto Set>
TPropInfo CharProp(const char* name) {
  TPropInfo p = props_detail::Ordinal<Get, Set>(name, TPropKind::Char);
  p.width = TOrdWidth::U8;
  return p;
}

template <auto Get, auto Set>
TPropInfo BoolProp(const char* name) {
  TPropInfo p = props_detail::Ordinal<Get, Set>(name, TPropKind::Enumeration);
  p.enumInfo = &kBooleanInfo;
  p.width = TOrdWidth::U8;
  return p;
}

template <auto Get, auto Set>
TPropInfo EnumProp(const char* name, const TEnumInfo& info) {
  TPropInfo p = props_detail::Ordinal<Get, Set>(name, TPropKind::Enumeration);
  p.enumInfo = &info;
  p.width = TOrdWidth::U8;
  return p;
}

// A set is held as an unsigned integer whose bit i stands for member i of `members`.
template <auto Get, auto Set>
TPropInfo SetProp(const char* name, const TEnumInfo& members) {
  TPropInfo p = props_detail::Ordinal<Get, Set>(name, TPropKind::Set);
  p.enumInfo = &members;
  p.width = TOrdWidth::U32;
  return p;
}

template <auto Get, auto Set>
TPropInfo Int64Prop(const char* name) {
  return props_detail::Ordinal<Get, Set>(name, TPropKind::Int64);
}

template <auto Get, auto Set>
TPropInfo FloatProp(const char* name) {
  using C = props_detail::ClassOf<Get>;
  TPropInfo p;
  p.name = name;
  p.kind = TPropKind::Float;
  p.getFloat = [](const TPersistent& o) -> double {
    return static_cast<double>((const_cast<C&>(static_cast<const C&>(o)).*Get)());
  };
  if constexpr (props_detail::kHasSetter<Set>) {
    p.setFloat = [](TPersistent& o, double v) {
      using A = typename props_detail::Setter<decltype(Set)>::Arg;
      (static_cast<C&>(o).*Set)(static_cast<A>(v));
    };
  }
  return p;
}

template <auto Get, auto Set>
TPropInfo StringProp(const char* name) {
  using C = props_detail::ClassOf<Get>;
  TPropInfo p;
  p.name = name;
  p.kind = TPropKind::String;
  p.getStr = [](const TPersistent& o) -> std::string {
    return std::string((const_cast<C&>(static_cast<const C&>(o)).*Get)());
  };
  if constexpr (props_detail::kHasSetter<Set>) {
    p.setStr = [](TPersistent& o, const std::string& v) { (static_cast<C&>(o).*Set)(v); };
  }
  return p;
}

// Object property. The getter returns a pointer or a reference to the object; the setter takes a
// pointer to a class derived from TPersistent. A value of another class fails with
// "Invalid property value".
template <auto Get, auto Set>
TPropInfo ObjectProp(const char* name, TObjectRole role) {
  using C = props_detail::ClassOf<Get>;
  TPropInfo p;
  p.name = name;
  p.kind = TPropKind::Object;
  p.objectRole = role;
  p.getObj = [](TPersistent& o) -> TPersistent* {
    if constexpr (std::is_pointer_v<props_detail::ValueOf<Get>>)
      return (static_cast<C&>(o).*Get)();
    else
      return &(static_cast<C&>(o).*Get)();
  };
  if constexpr (props_detail::kHasSetter<Set>) {
    p.setObj = [](TPersistent& o, TPersistent* v) {
      using A = std::remove_cv_t<
          std::remove_pointer_t<typename props_detail::Setter<decltype(Set)>::Arg>>;
      if constexpr (std::is_same_v<A, TPersistent>) {
        (static_cast<C&>(o).*Set)(v);
      } else {
        A* typed = dynamic_cast<A*>(v);
        if (v != nullptr && typed == nullptr) throw EReadError("Invalid property value");
        (static_cast<C&>(o).*Set)(typed);
      }
    };
  }
  return p;
}

template <auto Get, auto Set>
TPropInfo EventProp(const char* name) {
  using C = props_detail::ClassOf<Get>;
  TPropInfo p;
  p.name = name;
  p.kind = TPropKind::Event;
  p.getEvent = [](const TPersistent& o) -> TMethod {
    return (const_cast<C&>(static_cast<const C&>(o)).*Get)();
  };
  if constexpr (props_detail::kHasSetter<Set>) {
    p.setEvent = [](TPersistent& o, const TMethod& m) { (static_cast<C&>(o).*Set)(m); };
  }
  return p;
}

}  // namespace qv
