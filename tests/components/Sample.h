// A stored class with a property of every kind, for the component stream tests.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "components/Component.h"
#include "components/Filer.h"
#include "components/Props.h"
#include "components/Strings.h"
#include "support/Hex.h"

namespace qv::test {

inline constexpr const char* kColourNames[] = {"clRed", "clGreen", "clBlue"};
inline const TEnumInfo kColourInfo{"TColour", kColourNames};
inline constexpr TIdentMapEntry kSizeIdents[] = {{0, "szNone"}, {200, "szLarge"}};

class TSampleSub : public TPersistent {
  QV_CLASS_INFO
 public:
  std::int32_t Depth() const { return depth_; }
  void SetDepth(std::int32_t v) { depth_ = v; }
  bool Flag() const { return flag_; }
  void SetFlag(bool v) { flag_ = v; }

 private:
  std::int32_t depth_ = 7;
  bool flag_ = false;
};

inline const TClassInfo& TSampleSub::StaticClassInfo() {
  using T = TSampleSub;
  static const TClassInfo info("TSampleSub", &TPersistent::StaticClassInfo(),
                               {IntegerProp<&T::Depth, &T::SetDepth>("Depth").Default(7),
                                BoolProp<&T::Flag, &T::SetFlag>("Flag").Default(0)});
  return info;
}

class TSampleItem : public TCollectionItem {
  QV_CLASS_INFO
 public:
  const std::string& Caption() const { return caption_; }
  void SetCaption(const std::string& v) { caption_ = v; }
  std::int32_t Value() const { return value_; }
  void SetValue(std::int32_t v) { value_ = v; }
  void CopyFrom(const TPersistent* source) override {
    const auto* s = dynamic_cast<const TSampleItem*>(source);
    if (!s) AssignError(source);
    caption_ = s->caption_;
    value_ = s->value_;
  }

 private:
  std::string caption_;
  std::int32_t value_ = 0;
};

inline const TClassInfo& TSampleItem::StaticClassInfo() {
  using T = TSampleItem;
  static const TClassInfo info("TSampleItem", &TCollectionItem::StaticClassInfo(),
                               {StringProp<&T::Caption, &T::SetCaption>("Caption"),
                                IntegerProp<&T::Value, &T::SetValue>("Value")});
  return info;
}

class TSampleItems : public TTypedCollection<TSampleItem> {
  QV_CLASS_INFO
 public:
  using TTypedCollection::TTypedCollection;
  int updates = 0;

 protected:
  void Update() override { ++updates; }
};

inline const TClassInfo& TSampleItems::StaticClassInfo() {
  static const TClassInfo info("TSampleItems", &TCollection::StaticClassInfo(), {});
  return info;
}

class TSample : public TComponent {
  QV_CLASS_INFO
 public:
  explicit TSample(TComponent* owner)
      : TComponent(owner),
        sub_(std::make_unique<TSampleSub>()),
        items_(std::make_unique<TSampleItems>(this)),
        lines_(std::make_unique<TStrings>(this)) {}

  std::int8_t I8() const { return i8_; }
  void SetI8(std::int8_t v) { i8_ = v; }
  std::uint16_t U16() const { return u16_; }
  void SetU16(std::uint16_t v) { u16_ = v; }
  std::int32_t I32() const { return i32_; }
  void SetI32(std::int32_t v) {
    i32_ = v;
    loadingSeen_ = Loading();
  }
  std::int32_t Size() const { return size_; }
  void SetSize(std::int32_t v) { size_ = v; }
  std::int32_t Defaulted() const { return defaulted_; }
  void SetDefaulted(std::int32_t v) { defaulted_ = v; }
  char Letter() const { return letter_; }
  void SetLetter(char v) { letter_ = v; }
  std::uint8_t Colour() const { return colour_; }
  void SetColour(std::uint8_t v) { colour_ = v; }
  bool Enabled() const { return enabled_; }
  void SetEnabled(bool v) { enabled_ = v; }
  std::uint32_t Colours() const { return colours_; }
  void SetColours(std::uint32_t v) { colours_ = v; }
  double Real() const { return real_; }
  void SetReal(double v) { real_ = v; }
  std::int64_t Big() const { return big_; }
  void SetBig(std::int64_t v) { big_ = v; }
  const std::string& Text() const { return text_; }
  void SetText(const std::string& v) { text_ = v; }
  std::int32_t Fixed() const { return 42; }
  TSampleSub& Sub() const { return *sub_; }
  void SetSub(const TPersistent* v) { sub_->CopyFrom(v); }
  TSampleItems& Items() const { return *items_; }
  void SetItems(const TPersistent* v) { items_->CopyFrom(v); }
  TStrings& Lines() const { return *lines_; }
  void SetLines(const TPersistent* v) { lines_->CopyFrom(v); }
  TComponent* Link() const { return link_; }
  void SetLink(TComponent* v) { link_ = v; }
  TMethod OnPing() const { return onPing_; }
  void SetOnPing(const TMethod& m) { onPing_ = m; }

  bool HasMethod(std::string_view name) const override { return name == "Ping"; }

  // Extra entries: "Blob" as binary data, "Pairs" as a list of integers.
  std::string blob;
  std::vector<std::int64_t> pairs;
  void DefineProperties(TFiler& filer) override {
    TComponent::DefineProperties(filer);
    filer.DefineBinaryProperty(
        "Blob", [this](TStream& s) { blob = s.ReadRest(); },
        [this](TStream& s) { s.WriteString(blob); }, !blob.empty());
    filer.DefineProperty(
        "Pairs",
        [this](TReader& r) {
          pairs.clear();
          r.ReadListBegin();
          while (!r.EndOfList())
            pairs.push_back(r.ReadInt64());
          r.ReadListEnd();
        },
        [this](TWriter& w) {
          w.WriteListBegin();
          for (auto v : pairs)
            w.WriteInteger(v);
          w.WriteListEnd();
        },
        !pairs.empty());
  }

  bool loadingSeen_ = false;

 private:
  std::int8_t i8_ = 0;
  std::uint16_t u16_ = 0;
  std::int32_t i32_ = 0;
  std::int32_t size_ = 0;
  std::int32_t defaulted_ = 3;
  char letter_ = 'a';
  std::uint8_t colour_ = 0;
  bool enabled_ = false;
  std::uint32_t colours_ = 0;
  double real_ = 0;
  std::int64_t big_ = 0;
  std::string text_;
  std::unique_ptr<TSampleSub> sub_;
  std::unique_ptr<TSampleItems> items_;
  std::unique_ptr<TStrings> lines_;
  TComponent* link_ = nullptr;
  TMethod onPing_;
};

inline const TClassInfo& TSample::StaticClassInfo() {
  using T = TSample;
  static const TClassInfo info(
      "TSample", &TComponent::StaticClassInfo(),
      {
          IntegerProp<&T::I8, &T::SetI8>("I8").Default(0),
          IntegerProp<&T::U16, &T::SetU16>("U16").Default(0),
          IntegerProp<&T::I32, &T::SetI32>("I32").Default(0),
          IntegerProp<&T::Size, &T::SetSize>("Size").Idents(kSizeIdents).Default(0),
          IntegerProp<&T::Defaulted, &T::SetDefaulted>("Defaulted").Default(3),
          CharProp<&T::Letter, &T::SetLetter>("Letter").Default('a'),
          EnumProp<&T::Colour, &T::SetColour>("Colour", kColourInfo).Default(0),
          BoolProp<&T::Enabled, &T::SetEnabled>("Enabled").Default(0),
          SetProp<&T::Colours, &T::SetColours>("Colours", kColourInfo).Default(0),
          FloatProp<&T::Real, &T::SetReal>("Real"),
          Int64Prop<&T::Big, &T::SetBig>("Big"),
          StringProp<&T::Text, &T::SetText>("Text"),
          IntegerProp<&T::Fixed, nullptr>("Fixed"),
          ObjectProp<&T::Sub, &T::SetSub>("Sub", TObjectRole::Owned),
          ObjectProp<&T::Items, &T::SetItems>("Items", TObjectRole::Owned),
          ObjectProp<&T::Lines, &T::SetLines>("Lines", TObjectRole::Owned),
          ObjectProp<&T::Link, &T::SetLink>("Link", TObjectRole::Reference),
          EventProp<&T::OnPing, &T::SetOnPing>("OnPing"),
      });
  return info;
}

using test::Hex;

// A short string as stored: length byte and text.
inline std::string Str(std::string_view s) {
  return std::string(1, static_cast<char>(s.size())) + std::string(s);
}

}  // namespace qv::test
