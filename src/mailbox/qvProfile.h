// Unit qvProfile: the mail client's user profile (profile.dat). Reading is strict, so the class
// publishes every property name the client's file may hold, with a kind that accepts its value.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "base/DateTime.h"
#include "components/Component.h"
#include "platform/Platform.h"

namespace qv {

// A font character set: an unsigned byte stored as its identifier when it has one.
using TFontCharset = std::uint8_t;
extern const TIdentMap kFontCharsetIdents;

enum TFontStyle : std::uint8_t { fsBold, fsItalic, fsUnderline, fsStrikeOut };
// A set of TFontStyle: bit i stands for member i.
using TFontStyles = std::uint8_t;
extern const TEnumInfo kFontStyleInfo;

enum TReturnReceipt : std::uint8_t { rrNever, rrAuto, rrPrompt };
extern const TEnumInfo kReturnReceiptInfo;

// The profile's hot key, stored inline under "PrivateHotKey".
class THotKey_Private : public TPersistent {
  QV_CLASS_INFO
 public:
  explicit THotKey_Private(TPersistent* owner = nullptr) : owner_(owner) {}
  bool cKey() const noexcept { return cKey_; }
  bool aKey() const noexcept { return aKey_; }
  bool sKey() const noexcept { return sKey_; }
  bool wKey() const noexcept { return wKey_; }
  std::uint16_t oKey() const noexcept { return oKey_; }
  void SetcKey(bool v) { cKey_ = v; }
  void SetaKey(bool v) { aKey_ = v; }
  void SetsKey(bool v) { sKey_ = v; }
  void SetwKey(bool v) { wKey_ = v; }
  void SetoKey(std::uint16_t v) { oKey_ = v; }

  void CopyFrom(const TPersistent* source) override;
  TPersistent* GetOwner() const override { return owner_; }

 private:
  TPersistent* owner_;
  bool cKey_ = true;
  bool aKey_ = false;
  bool sKey_ = false;
  bool wKey_ = false;
  std::uint16_t oKey_ = 80;
};

namespace profile_detail {
using String = std::string;
using Bool = bool;
using Int = std::int32_t;
using Date = TDateTime;
}  // namespace profile_detail

// The values of one account, in stream order: kind and name.
#define QV_ACCOUNT_FIELDS(X)                                                                   \
  X(String, Account)                                                                           \
  X(String, Name)                                                                              \
  X(String, Address)                                                                           \
  X(String, ReplyTo) X(String, Signature) X(String, Organization) X(String, ServerType)        \
      X(String, Server) X(Int, Port) X(String, UserName) X(String, Password) X(Bool, Remember) \
          X(Bool, UseTLS) X(Bool, UseSPA) X(Bool, Active) X(Bool, LeaveOnServer)               \
              X(Bool, LeaveLarge) X(Int, LeaveKB) X(String, SMTPServer) X(Int, SMTPPort)       \
                  X(Bool, SMTPLogin) X(Bool, SMTPUsePOP3) X(String, SMTPUserName)              \
                      X(String, SMTPPassword) X(Bool, SMTPRemember) X(Bool, SMTPUseTLS)        \
                          X(Bool, SMTPUseSPA) X(Int, ServerIndex)

// One mail account.
class TAccount : public TCollectionItem {
  QV_CLASS_INFO
 public:
#define QV_FIELD_ACCESS(kind, name)                   \
  const profile_detail::kind& name() const noexcept { \
    return name##_;                                   \
  }                                                   \
  void Set##name(const profile_detail::kind& v) {     \
    name##_ = v;                                      \
  }
  QV_ACCOUNT_FIELDS(QV_FIELD_ACCESS)
#undef QV_FIELD_ACCESS

  // Copies all 28 values in order.
  void CopyFrom(const TPersistent* source) override;
  std::string DisplayName() const override;

 private:
#define QV_FIELD_MEMBER(kind, name) profile_detail::kind name##_{};
  QV_ACCOUNT_FIELDS(QV_FIELD_MEMBER)
#undef QV_FIELD_MEMBER
};

class TAccounts : public TTypedCollection<TAccount> {
  QV_CLASS_INFO
 public:
  using TTypedCollection::TTypedCollection;
};

// The plain values of the profile in stream order: kind and name. The entries Accounts,
// CompFontStyle, CompFontChar, PrivateHotKey and ReturnReceipt have kinds of their own and are
// declared separately; they take the places marked here.
#define QV_PROFILE_FIELDS(X)                                                                                                   \
  X(Accounts, Accounts)                                                                                                        \
  X(String, Version)                                                                                                           \
  X(String, Mailbox)                                                                                                           \
  X(Bool, WinLaunch) X(Bool, CheckStartup) X(Bool, CheckEvery) X(Int, CheckMinutes) X(                                         \
      Bool, MarkRead) X(String, StartFolder) X(Bool, UnreadBold) X(Bool, GridLines)                                            \
      X(Bool, ToolbarText) X(Bool, CheckDefault) X(Bool, ConfirmDelete) X(Bool, DeleteRead) X(                                 \
          Bool, CompactTrash) X(Bool, PlaySound) X(String, Sound) X(Bool, PermenentDelete)                                     \
          X(Bool, DateSent) X(Bool, ConfirmSaveSent) X(Bool, CheckAfterSending) X(                                             \
              Bool, AutoUpdate) X(Int, MainTop) X(Int, MainLeft) X(Int, MainWidth) X(Int,                                      \
                                                                                     MainHeight)                               \
              X(Int, MailboxWidth) X(Int, MailboxHeight) X(Bool, ContactsShow) X(                                              \
                  Int, ContactsHeight) X(Bool,                                                                                 \
                                         HeaderShow) X(Bool, PreviewShow)                                                      \
                  X(Int, PreviewHeight) X(Bool, SearchShow) X(Bool, StatusbarShow) X(                                          \
                      Int,                                                                                                     \
                      ViewTop) X(Int,                                                                                          \
                                 ViewLeft) X(Int, ViewHeight)                                                                  \
                      X(Int, ViewWidth) X(Bool, ViewAttachments) X(Bool, ViewStatusbar) X(                                     \
                          Bool,                                                                                                \
                          ViewIsShort) X(Bool,                                                                                 \
                                         ViewIsOpen) X(String, GridOrder)                                                      \
                          X(String, GridSizes) X(String, GridShow) X(Int, GridSortCol) X(Int, GridSortKind) X(                 \
                              Bool,                                                                                            \
                              MsgViewHTML) X(Bool,                                                                             \
                                             MsgStripHTML) X(Bool,                                                             \
                                                             MsgBlockImages) X(Bool,                                           \
                                                                               MsgBlockScripts) X(Bool,                        \
                                                                                                  TrayIcon)                    \
                              X(Bool, TrayStartMin) X(Bool, TrayAlways) X(Bool, TrayNotify) X(                                 \
                                  Bool,                                                                                        \
                                  TrayBalloon) X(Int,                                                                          \
                                                 CompTop) X(Int, CompLeft)                                                     \
                                  X(Int, CompHeight) X(Int, CompWidth) X(                                                      \
                                      Bool,                                                                                    \
                                      CompStatusbar) X(Bool,                                                                   \
                                                       CompCC) X(Bool,                                                         \
                                                                 CompBCC) X(Bool, CompAttach)                                  \
                                      X(Bool, CompHTML) X(String, CompFontName) X(Int, CompFontSize) X(                        \
                                          Int,                                                                                 \
                                          CompFontColor) X(FontStyles,                                                         \
                                                           CompFontStyle) X(FontCharset, CompFontChar)                         \
                                          X(Bool, CompWrapLines) X(Int, CompWrapCol) X(Bool, CompDoQuote) X(                   \
                                              String,                                                                          \
                                              CompQuoteChar) X(Bool,                                                           \
                                                               CompInsertBefore) X(Bool,                                       \
                                                                                   CompInsertAfter)                            \
                                              X(Bool, CompSignature) X(Bool, CompAddSignature) X(                              \
                                                  Bool,                                                                        \
                                                  CompAddOutgoing) X(Bool, CompCheckSpelling)                                  \
                                                  X(Bool, CompAutoComplete) X(String, Language) X(                             \
                                                      String,                                                                  \
                                                      CharSet) X(Bool,                                                         \
                                                                 PrivacyBccTo) X(String,                                       \
                                                                                 PrivacyBccText)                               \
                                                      X(Bool, PrivacyPassword) X(HotKey, PrivateHotKey) X(                     \
                                                          Receipt,                                                             \
                                                          ReturnReceipt) X(String,                                             \
                                                                           Label1Text) X(String,                               \
                                                                                         Label2Text)                           \
                                                          X(String, Label3Text) X(                                             \
                                                              String,                                                          \
                                                              Label4Text) X(String, Label5Text)                                \
                                                              X(String, Label6Text) X(Int, Label1Color) X(                     \
                                                                  Int,                                                         \
                                                                  Label2Color) X(Int,                                          \
                                                                                 Label3Color) X(Int, Label4Color)              \
                                                                  X(                                                           \
                                                                      Int,                                                     \
                                                                      Label5Color) X(Int,                                      \
                                                                                     Label6Color)                              \
                                                                      X(Bool, JunkUsePerm) X(Bool, JunkSendNotice) X(          \
                                                                          Bool,                                                \
                                                                          JunkDeleteFailures) X(Bool, JunkUseJunkRules)        \
                                                                          X(Bool, JunkBlankSubject) X(Bool, JunkBlankBody) X(  \
                                                                              Bool,                                            \
                                                                              JunkRedText) X(Bool,                             \
                                                                                             JunkImages)                       \
                                                                              X(Bool, JunkHttpLinks) X(                        \
                                                                                  Bool,                                        \
                                                                                  JunkForeign) X(String,                       \
                                                                                                 JunkCharacters)               \
                                                                                  X(Bool, JunkDeleteImm) X(                    \
                                                                                      Bool,                                    \
                                                                                      JunkDeletePerm) X(Bool, JunkDeleteAfter) \
                                                                                      X(Int, JunkDeleteDays) X(                \
                                                                                          Bool,                                \
                                                                                          JunkMarkRead) X(Bool, JunkCompact)   \
                                                                                          X(Bool, JunkAddSendTo) X(            \
                                                                                              Bool,                            \
                                                                                              JunkShowVerify)                  \
                                                                                              X(Date, JunkSuspend) X(          \
                                                                                                  Bool,                        \
                                                                                                  JunkActivate)                \
                                                                                                  X(String,                    \
                                                                                                    Password)                  \
                                                                                                      X(Date,                  \
                                                                                                        ID)

// The user profile.
class TqvProfile : public TComponent {
  QV_CLASS_INFO
 public:
  explicit TqvProfile(TComponent* owner);
  ~TqvProfile() override;

  TAccounts& Accounts() const noexcept { return *accounts_; }
  // Replaces the accounts by copies of the source's items.
  void SetAccounts(const TPersistent* source) { accounts_->CopyFrom(source); }
  THotKey_Private& PrivateHotKey() const noexcept { return *hotKey_; }
  // Copies the five values of the given object.
  void SetPrivateHotKey(const TPersistent* source) { hotKey_->CopyFrom(source); }

  TFontStyles CompFontStyle() const noexcept { return compFontStyle_; }
  void SetCompFontStyle(TFontStyles v) { compFontStyle_ = v; }
  TFontCharset CompFontChar() const noexcept { return compFontChar_; }
  void SetCompFontChar(TFontCharset v) { compFontChar_ = v; }
  TReturnReceipt ReturnReceipt() const noexcept { return returnReceipt_; }
  void SetReturnReceipt(TReturnReceipt v) { returnReceipt_ = v; }

#define QV_FIELD_ACCESS_String(name)         \
  const std::string& name() const noexcept { \
    return name##_;                          \
  }                                          \
  void Set##name(const std::string& v) {     \
    name##_ = v;                             \
  }
#define QV_FIELD_ACCESS_Bool(name) \
  bool name() const noexcept {     \
    return name##_;                \
  }                                \
  void Set##name(bool v) {         \
    name##_ = v;                   \
  }
#define QV_FIELD_ACCESS_Int(name)      \
  std::int32_t name() const noexcept { \
    return name##_;                    \
  }                                    \
  void Set##name(std::int32_t v) {     \
    name##_ = v;                       \
  }
#define QV_FIELD_ACCESS_Date(name)  \
  TDateTime name() const noexcept { \
    return name##_;                 \
  }                                 \
  void Set##name(TDateTime v) {     \
    name##_ = v;                    \
  }
#define QV_FIELD_ACCESS_Accounts(name)
#define QV_FIELD_ACCESS_FontStyles(name)
#define QV_FIELD_ACCESS_FontCharset(name)
#define QV_FIELD_ACCESS_HotKey(name)
#define QV_FIELD_ACCESS_Receipt(name)
#define QV_FIELD_ACCESS(kind, name) QV_FIELD_ACCESS_##kind(name)
  QV_PROFILE_FIELDS(QV_FIELD_ACCESS)

  // Reads profile.dat into this object; a missing file (or a folder of that name) changes
  // nothing. Errors reach the caller.
  void LoadFromFile(const std::string& fileName, platform::FileSystem& files);
  // Writes this object as a profile file, replacing an old one only once the new content is on
  // the disk. The repair never saves a profile; this serves tools and tests.
  void SaveToFile(const std::string& fileName, platform::FileSystem& files);

 private:
  std::unique_ptr<TAccounts> accounts_;
  std::unique_ptr<THotKey_Private> hotKey_;
  TFontStyles compFontStyle_ = 0;
  TFontCharset compFontChar_ = 0;
  TReturnReceipt returnReceipt_ = rrNever;

#define QV_FIELD_MEMBER_String(name) std::string name##_;
#define QV_FIELD_MEMBER_Bool(name) bool name##_ = false;
#define QV_FIELD_MEMBER_Int(name) std::int32_t name##_ = 0;
#define QV_FIELD_MEMBER_Date(name) TDateTime name##_ = 0;
#define QV_FIELD_MEMBER(kind, name) QV_FIELD_ACCESS_##kind##_MEMBER(name)
#define QV_FIELD_ACCESS_String_MEMBER QV_FIELD_MEMBER_String
#define QV_FIELD_ACCESS_Bool_MEMBER QV_FIELD_MEMBER_Bool
#define QV_FIELD_ACCESS_Int_MEMBER QV_FIELD_MEMBER_Int
#define QV_FIELD_ACCESS_Date_MEMBER QV_FIELD_MEMBER_Date
#define QV_FIELD_ACCESS_Accounts_MEMBER(name)
#define QV_FIELD_ACCESS_FontStyles_MEMBER(name)
#define QV_FIELD_ACCESS_FontCharset_MEMBER(name)
#define QV_FIELD_ACCESS_HotKey_MEMBER(name)
#define QV_FIELD_ACCESS_Receipt_MEMBER(name)
  QV_PROFILE_FIELDS(QV_FIELD_MEMBER)
};

}  // namespace qv

#undef QV_FIELD_ACCESS
#undef QV_FIELD_ACCESS_String
#undef QV_FIELD_ACCESS_Bool
#undef QV_FIELD_ACCESS_Int
#undef QV_FIELD_ACCESS_Date
#undef QV_FIELD_ACCESS_Accounts
#undef QV_FIELD_ACCESS_FontStyles
#undef QV_FIELD_ACCESS_FontCharset
#undef QV_FIELD_ACCESS_HotKey
#undef QV_FIELD_ACCESS_Receipt
#undef QV_FIELD_MEMBER
#undef QV_FIELD_MEMBER_String
#undef QV_FIELD_MEMBER_Bool
#undef QV_FIELD_MEMBER_Int
#undef QV_FIELD_MEMBER_Date
#undef QV_FIELD_ACCESS_String_MEMBER
#undef QV_FIELD_ACCESS_Bool_MEMBER
#undef QV_FIELD_ACCESS_Int_MEMBER
#undef QV_FIELD_ACCESS_Date_MEMBER
#undef QV_FIELD_ACCESS_Accounts_MEMBER
#undef QV_FIELD_ACCESS_FontStyles_MEMBER
#undef QV_FIELD_ACCESS_FontCharset_MEMBER
#undef QV_FIELD_ACCESS_HotKey_MEMBER
#undef QV_FIELD_ACCESS_Receipt_MEMBER
