#include "mailbox/qvProfile.h"

#include "components/ComponentFile.h"
#include "components/Props.h"

namespace qv {

namespace {
constexpr TIdentMapEntry kCharsets[] = {
    {0, "ANSI_CHARSET"},     {1, "DEFAULT_CHARSET"},      {2, "SYMBOL_CHARSET"},
    {77, "MAC_CHARSET"},     {128, "SHIFTJIS_CHARSET"},   {129, "HANGEUL_CHARSET"},
    {130, "JOHAB_CHARSET"},  {134, "GB2312_CHARSET"},     {136, "CHINESEBIG5_CHARSET"},
    {161, "GREEK_CHARSET"},  {162, "TURKISH_CHARSET"},    {177, "HEBREW_CHARSET"},
    {178, "ARABIC_CHARSET"}, {186, "BALTIC_CHARSET"},     {204, "RUSSIAN_CHARSET"},
    {222, "THAI_CHARSET"},   {238, "EASTEUROPE_CHARSET"}, {255, "OEM_CHARSET"},
};
constexpr const char* kFontStyleNames[] = {"fsBold", "fsItalic", "fsUnderline", "fsStrikeOut"};
constexpr const char* kReturnReceiptNames[] = {"rrNever", "rrAuto", "rrPrompt"};
}  // namespace

const TIdentMap kFontCharsetIdents{kCharsets};
const TEnumInfo kFontStyleInfo{"TFontStyle", kFontStyleNames};
const TEnumInfo kReturnReceiptInfo{"TReturnReceipt", kReturnReceiptNames};

// --- THotKey_Private ------------------------------------------------------------------------

const TClassInfo& THotKey_Private::StaticClassInfo() {
  using T = THotKey_Private;
  static const TClassInfo info("THotKey_Private", &TPersistent::StaticClassInfo(),
                               {
                                   BoolProp<&T::cKey, &T::SetcKey>("cKey"),
                                   BoolProp<&T::aKey, &T::SetaKey>("aKey"),
                                   BoolProp<&T::sKey, &T::SetsKey>("sKey"),
                                   BoolProp<&T::wKey, &T::SetwKey>("wKey"),
                                   IntegerProp<&T::oKey, &T::SetoKey>("oKey"),
                               });
  return info;
}

void THotKey_Private::CopyFrom(const TPersistent* source) {
  const auto* s = dynamic_cast<const THotKey_Private*>(source);
  if (!s) AssignError(source);
  cKey_ = s->cKey_;
  aKey_ = s->aKey_;
  sKey_ = s->sKey_;
  wKey_ = s->wKey_;
  oKey_ = s->oKey_;
}

// --- TAccount -------------------------------------------------------------------------------

#define QV_PROP_String(T, name) StringProp<&T::name, &T::Set##name>(#name),
#define QV_PROP_Bool(T, name) BoolProp<&T::name, &T::Set##name>(#name),
#define QV_PROP_Int(T, name) IntegerProp<&T::name, &T::Set##name>(#name),
#define QV_PROP_Date(T, name) FloatProp<&T::name, &T::Set##name>(#name),
#define QV_PROP_Accounts(T, name) ObjectProp<&T::name, &T::Set##name>(#name, TObjectRole::Owned),
#define QV_PROP_HotKey(T, name) ObjectProp<&T::name, &T::Set##name>(#name, TObjectRole::Owned),
#define QV_PROP_FontStyles(T, name) SetProp<&T::name, &T::Set##name>(#name, kFontStyleInfo),
#define QV_PROP_FontCharset(T, name) \
  IntegerProp<&T::name, &T::Set##name>(#name).Idents(kFontCharsetIdents),
#define QV_PROP_Receipt(T, name) EnumProp<&T::name, &T::Set##name>(#name, kReturnReceiptInfo),

#define QV_ACCOUNT_PROP(kind, name) QV_PROP_##kind(TAccount, name)
#define QV_PROFILE_PROP(kind, name) QV_PROP_##kind(TqvProfile, name)

const TClassInfo& TAccount::StaticClassInfo() {
  static const TClassInfo info("TAccount", &TCollectionItem::StaticClassInfo(),
                               {QV_ACCOUNT_FIELDS(QV_ACCOUNT_PROP)});
  return info;
}

void TAccount::CopyFrom(const TPersistent* source) {
  const auto* s = dynamic_cast<const TAccount*>(source);
  if (!s) AssignError(source);
#define QV_FIELD_COPY(kind, name) Set##name(s->name##_);
  QV_ACCOUNT_FIELDS(QV_FIELD_COPY)
#undef QV_FIELD_COPY
}

std::string TAccount::DisplayName() const {
  return Account_.empty() ? ClassName() : Account_;
}

const TClassInfo& TAccounts::StaticClassInfo() {
  static const TClassInfo info("TAccounts", &TCollection::StaticClassInfo(), {});
  return info;
}

// --- TqvProfile -----------------------------------------------------------------------------

const TClassInfo& TqvProfile::StaticClassInfo() {
  static const TClassInfo info("TqvProfile", &TComponent::StaticClassInfo(),
                               {QV_PROFILE_FIELDS(QV_PROFILE_PROP)});
  return info;
}

TqvProfile::TqvProfile(TComponent* owner)
    : TComponent(owner),
      accounts_(std::make_unique<TAccounts>(this)),
      hotKey_(std::make_unique<THotKey_Private>(this)) {
  JunkSuspend_ = 0;
  JunkActivate_ = true;
}

TqvProfile::~TqvProfile() {
  hotKey_.reset();
  accounts_->Clear();
  accounts_.reset();
}

void TqvProfile::LoadFromFile(const std::string& fileName, platform::FileSystem& files) {
  LoadComponentFromFile(*this, fileName, files);
}

void TqvProfile::SaveToFile(const std::string& fileName, platform::FileSystem& files) {
  SaveComponentToFile(*this, fileName, files);
}

}  // namespace qv
