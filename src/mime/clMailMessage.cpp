// The message component: properties, change notification, Clear and header parsing.
#include "mime/clMailMessage.h"

#include <cstdio>
#include <random>
#include <type_traits>

#include "base/StringUtils.h"
#include "codec/clUtils.h"
#include "components/Props.h"

namespace qv {

namespace {
// Replaces every occurrence of `from` by a line break and assigns the result as the list's text,
// so that each piece becomes one item (an empty value gives an empty list).
void SplitIntoList(TStringList& list, std::string_view value, char from) {
  std::string text;
  text.reserve(value.size() + 8);
  for (char c : value) {
    if (c == from)
      text += "\r\n";
    else
      text += c;
  }
  list.SetText(text);
}

}  // namespace

namespace {
constexpr const char* kPriorityNames[] = {"mpLow", "mpNormal", "mpHigh"};
constexpr const char* kFormatNames[] = {"mfNone", "mfMIME", "mfUUencode"};
}  // namespace

const TEnumInfo kMessagePriorityInfo{"TclMessagePriority", kPriorityNames};
const TEnumInfo kMessageFormatInfo{"TclMessageFormat", kFormatNames};

const TClassInfo& TclMailMessage::StaticClassInfo() {
  using M = TclMailMessage;
  static const TClassInfo info(
      "TclMailMessage", &TComponent::StaticClassInfo(),
      {
          ObjectProp<&M::BodiesObject, &M::SetBodiesObject>("Bodies", TObjectRole::Owned),
          StringProp<&M::Subject, &M::SetSubject>("Subject"),
          StringProp<&M::From, &M::SetFrom>("From"),
          ObjectProp<&M::ToListObject, &M::SetToListObject>("ToList", TObjectRole::Owned),
          ObjectProp<&M::CCListObject, &M::SetCCListObject>("CCList", TObjectRole::Owned),
          ObjectProp<&M::BCCListObject, &M::SetBCCListObject>("BCCList", TObjectRole::Owned),
          EnumProp<&M::Priority, &M::SetPriority>("Priority", kMessagePriorityInfo)
              .Default(mpNormal),
          FloatProp<&M::Date, &M::SetDate>("Date"),
          StringProp<&M::CharSet, &M::SetCharSet>("CharSet"),
          StringProp<&M::ContentType, &M::SetContentType>("ContentType"),
          StringProp<&M::ContentSubType, &M::SetContentSubType>("ContentSubType"),
          StringProp<&M::ContentDisposition, &M::SetContentDisposition>("ContentDisposition"),
          EnumProp<&M::MessageFormat, &M::SetMessageFormat>("MessageFormat", kMessageFormatInfo)
              .Default(mfNone),
          EnumProp<&M::Encoding, &M::SetEncoding>("Encoding", kEncodeMethodInfo).Default(cmNone),
          StringProp<&M::MimeOLE, &M::SetMimeOLE>("MimeOLE"),
          BoolProp<&M::IncludeRFC822Header, &M::SetIncludeRFC822Header>("IncludeRFC822Header")
              .Default(1),
          StringProp<&M::ReplyTo, &M::SetReplyTo>("ReplyTo"),
          ObjectProp<&M::ReferencesObject, &M::SetReferencesObject>("References",
                                                                    TObjectRole::Owned),
          ObjectProp<&M::NewsGroupsObject, &M::SetNewsGroupsObject>("NewsGroups",
                                                                    TObjectRole::Owned),
          ObjectProp<&M::ExtraFieldsObject, &M::SetExtraFieldsObject>("ExtraFields",
                                                                      TObjectRole::Owned),
          StringProp<&M::ReadReceiptTo, &M::SetReadReceiptTo>("ReadReceiptTo"),
          StringProp<&M::MessageID, &M::SetMessageID>("MessageID"),
          IntegerProp<&M::CharsPerLine, &M::SetCharsPerLine>("CharsPerLine").Default(76),
          EventProp<&M::OnChangedMethod, &M::SetOnChangedMethod>("OnChanged"),
          EventProp<&M::OnGetDataStreamMethod, &M::SetOnGetDataStreamMethod>("OnGetDataStream"),
          EventProp<&M::OnGetDataSourceStreamMethod, &M::SetOnGetDataSourceStreamMethod>(
              "OnGetDataSourceStream"),
          EventProp<&M::OnDataAddedMethod, &M::SetOnDataAddedMethod>("OnDataAdded"),
          EventProp<&M::OnEncodingProgressMethod, &M::SetOnEncodingProgressMethod>(
              "OnEncodingProgress"),
      });
  return info;
}

void TclMailMessage::SetBodiesObject(TclMessageBodies* v) {
  if (v == nullptr) throw EReadError("Invalid property value");
  bodies_->CopyFrom(v);
}

void TclMailMessage::SetListObject(TStrings& list, TStrings* v) {
  if (v == nullptr) throw EReadError("Invalid property value");
  list.CopyFrom(v);
}

TclMailMessage::TclMailMessage(TComponent* owner, platform::Clock& clock)
    : TComponent(owner), clock_(clock), bodies_(std::make_unique<TclMessageBodies>(this)) {
  for (TStringList* l : {&to_list_.List(), &cc_list_.List(), &bcc_list_.List(), &references_.List(),
                         &newsgroups_.List(), &extra_fields_.List()})
    l->OnChange = [this] { NotifyChanged(); };
  include_rfc822_header_ = true;
  RegisterFields();
  chars_per_line_ = 76;
  Clear();
}

TclMailMessage::~TclMailMessage() {
  SetStateFlags(csDestroying);
  bodies_.reset();
}

void TclMailMessage::RegisterFields() {
  static constexpr std::string_view kFields[] = {"Content-Type",
                                                 "Content-Disposition",
                                                 "Content-Transfer-Encoding",
                                                 "From",
                                                 "To",
                                                 "Cc",
                                                 "Bcc",
                                                 "Subject",
                                                 "Date",
                                                 "Importance",
                                                 "X-Priority",
                                                 "X-MSMail-Priority",
                                                 "X-MimeOLE",
                                                 "Reply-To",
                                                 "Disposition-Notification-To",
                                                 "Message-ID",
                                                 "MIME-Version",
                                                 "Newsgroups",
                                                 "References"};
  for (auto f : kFields)
    if (known_fields_.IndexOf(f) < 0) known_fields_.Add(std::string(f));
}

// --- properties and notification ---------------------------------------------------------

void TclMailMessage::SetString(std::string& field, const std::string& v) {
  if (field == v) return;
  field = v;
  NotifyChanged();
}

void TclMailMessage::SetPriority(TclMessagePriority v) {
  if (priority_ == v) return;
  priority_ = v;
  NotifyChanged();
}

void TclMailMessage::SetDate(TDateTime v) {
  if (date_ == v) return;
  date_ = v;
  NotifyChanged();
}

void TclMailMessage::SetMessageFormat(TclMessageFormat v) {
  if (message_format_ == v) return;
  message_format_ = v;
  NotifyChanged();
}

void TclMailMessage::SetEncoding(TclEncodeMethod v) {
  if (encoding_ == v) return;
  encoding_ = v;
  NotifyChanged();
}

void TclMailMessage::SetIncludeRFC822Header(bool v) {
  if (include_rfc822_header_ == v) return;
  include_rfc822_header_ = v;
  NotifyChanged();
}

void TclMailMessage::SetCharsPerLine(std::int32_t v) {
  if (chars_per_line_ == v) return;
  chars_per_line_ = v;
  NotifyChanged();
}

void TclMailMessage::NotifyChanged() {
  if ((ComponentState() & (csLoading | csDestroying)) != 0 || update_count_ > 0) return;
  DoChanged();
}

void TclMailMessage::EndUpdate() {
  if (update_count_ > 0) --update_count_;
  NotifyChanged();
}

void TclMailMessage::Loaded() {
  TComponent::Loaded();
  NotifyChanged();
}

bool TclMailMessage::IsMultipart() const {
  return bodies_->Count() > 1 || (is_parsing_ && !boundary_.empty());
}

// --- events ----------------------------------------------------------------------------------

void TclMailMessage::DoChanged() {
  if (OnChanged) OnChanged(*this);
}

void TclMailMessage::DoGetDataStream(TclMessageBody& body, const std::string& fileName,
                                     std::unique_ptr<TStream>& data, bool& handled) {
  if (OnGetDataStream) OnGetDataStream(*this, body, fileName, data, handled);
}

bool TclMailMessage::SuppliesDataStreams() const {
  if (outer_ != nullptr) return outer_->SuppliesDataStreams();
  return static_cast<bool>(OnGetDataStream);
}

void TclMailMessage::DoGetDataSourceStream(TclMessageBody& body, const std::string& fileName,
                                           std::unique_ptr<TStream>& data, bool& handled) {
  if (OnGetDataSourceStream) OnGetDataSourceStream(*this, body, fileName, data, handled);
}

void TclMailMessage::DoDataAdded(TclMessageBody& body, TStream& data) {
  if (OnDataAdded) OnDataAdded(*this, body, data);
}

void TclMailMessage::DoEncodingProgress(int bodyNo, int bytesProceed, int totalBytes) {
  if (OnEncodingProgress) OnEncodingProgress(*this, bodyNo, bytesProceed, totalBytes);
}

// --- identifiers -----------------------------------------------------------------------------

int TclMailMessage::Random(int range) {
  if (range <= 0) return 0;
  if (random_) return random_(range);
  static thread_local std::minstd_rand engine{std::random_device{}()};
  return static_cast<int>(engine() % static_cast<unsigned>(range));
}

// --- clearing and loading ----------------------------------------------------------------------

void TclMailMessage::Clear() {
  BeginUpdate();
  try {
    SetBoundary("");
    SetSubject("");
    SetFrom("");
    to_list_.List().Clear();
    cc_list_.List().Clear();
    bcc_list_.List().Clear();
    SetPriority(mpNormal);
    SetDate(clock_.Now());
    date_from_header_ = false;
    SetCharSet("iso-8859-1");
    bodies_->Clear();
    SetMessageFormat(mfNone);
    SetEncoding(cmNone);
    SetContentType("text/plain");
    SetContentSubType("");
    SetMimeOLE(kDefaultMimeOLE);
    message_id_.clear();
    SetReplyTo("");
    references_.List().Clear();
    newsgroups_.List().Clear();
    extra_fields_.List().Clear();
    SetReadReceiptTo("");
    SetContentDisposition("");
    raw_header_.Clear();
  } catch (...) {
    EndUpdate();
    throw;
  }
  EndUpdate();
}

void TclMailMessage::LoadMessage(const TStringList& lines) {
  BeginUpdate();
  try {
    Clear();
    ParseHeader(lines);
    ParseBodies(lines);
  } catch (...) {
    EndUpdate();
    throw;
  }
  EndUpdate();
}

void TclMailMessage::LoadOutline(std::span<const std::string_view> lines) {
  BeginUpdate();
  try {
    Clear();
    is_parsing_ = true;
    TStringList& fieldList = outline_fields_;
    fieldList.Clear();
    IndexHeaderFields(0, lines, fieldList);
    ReadHeaderFields(lines, fieldList);
    OutlineBodies(lines);
  } catch (...) {
    is_parsing_ = false;
    EndUpdate();
    throw;
  }
  is_parsing_ = false;
  EndUpdate();
}

// --- header ------------------------------------------------------------------------------------

void TclMailMessage::ReadContentType(const std::string& contentType, bool mimeHeader) {
  SetMessageFormat(MessageFormatByMime[mimeHeader ? 1 : 0]);
  SetContentType(GetHeaderParam(contentType, ""));
  SetContentSubType(GetHeaderParam(contentType, "type="));
  SetBoundary(GetHeaderParam(contentType, "boundary="));
  SetCharSet(GetHeaderParam(contentType, "charset="));
}

void TclMailMessage::ParseContentType(const TStringList& lines, const TStringList& fieldList) {
  const std::string ct = GetHeaderFieldValue(lines, fieldList, "content-type");
  ReadContentType(ct,
                  !ct.empty() || !GetHeaderFieldValue(lines, fieldList, "mime-version").empty());
}

template <class Lines>
void TclMailMessage::ReadPriorityField(const Lines& lines, const TStringList& fieldList,
                                       std::string_view name, std::string_view lowValue,
                                       std::string_view highValue) {
  if (priority_ != mpNormal) return;
  const std::string v = GetHeaderFieldValue(lines, fieldList, name);
  if (v.empty()) return;
  if (SameText(v, lowValue))
    SetPriority(mpLow);
  else if (SameText(v, highValue))
    SetPriority(mpHigh);
}

void TclMailMessage::ApplyPriorityField(const TStringList& lines, const TStringList& fieldList,
                                        std::string_view name, std::string_view lowValue,
                                        std::string_view highValue) {
  ReadPriorityField(lines, fieldList, name, lowValue, highValue);
}

template <class Lines>
TDateTime TclMailMessage::ReadDate(const Lines& lines, const TStringList& fieldList,
                                   bool* fromHeader) {
  if (fromHeader) *fromHeader = false;
  TDateTime result = clock_.Now();
  const std::string v = GetHeaderFieldValue(lines, fieldList, "date");
  if (!v.empty()) {
    result = ParseMailDate(clock_, DecodeHeaderText(v, charset_));
    if (fromHeader) *fromHeader = true;
  } else {
    const std::string r = GetHeaderFieldValue(lines, fieldList, "received");
    const int p = LastPosText(";", r);
    if (p > 0) {
      std::string_view after = std::string_view(r).substr(static_cast<std::size_t>(p));
      if (after.size() > 1000) after = after.substr(0, 1000);
      result = ParseMailDate(clock_, DecodeHeaderText(Trim(after), charset_));
      if (fromHeader) *fromHeader = true;
    }
  }
  return result;
}

TDateTime TclMailMessage::ParseDate(const TStringList& lines, const TStringList& fieldList) {
  return ReadDate(lines, fieldList);
}

void TclMailMessage::ParseHeader(const TStringList& lines) {
  is_parsing_ = true;
  TStringList fieldList;
  try {
    IndexHeaderFields(0, lines, fieldList);
    ReadHeaderFields(lines, fieldList);
  } catch (...) {
    is_parsing_ = false;
    throw;
  }
  is_parsing_ = false;
}

template <class Lines>
void TclMailMessage::ReadHeaderFields(const Lines& lines, const TStringList& fieldList) {
  // A string list is a whole parse (LoadMessage); views are an outline (LoadOutline).
  constexpr bool kWhole = std::is_same_v<Lines, TStringList>;
  auto value = [&](std::string_view name) { return GetHeaderFieldValue(lines, fieldList, name); };

  if constexpr (kWhole) {
    ParseContentType(lines, fieldList);
  } else {
    const std::string ct = value("content-type");
    ReadContentType(ct, !ct.empty() || !value("mime-version").empty());
  }
  SetContentDisposition(GetHeaderParam(value("content-disposition"), ""));
  if (const TclEncodeMethod m = TransferEncodingToMethod(value("content-transfer-encoding"));
      m != cmNone)
    SetEncoding(m);
  SetFrom(DecodeMailAddress(value("from"), charset_));
  SplitIntoList(to_list_.List(), value("to"), ',');
  if constexpr (kWhole) {
    SplitIntoList(cc_list_.List(), value("cc"), ',');
    SplitIntoList(bcc_list_.List(), value("bcc"), ',');
  }
  for (TStringList* list : {&to_list_.List(), &cc_list_.List(), &bcc_list_.List()})
    for (int i = 0; i < list->Count(); ++i)
      list->SetString(i, DecodeMailAddress((*list)[i], charset_));
  SetSubject(DecodeHeaderText(value("subject"), charset_));
  try {
    bool fromHeader = false;
    SetDate(ReadDate(lines, fieldList, &fromHeader));
    date_from_header_ = fromHeader;
  } catch (const Exception&) {
    // An unreadable date leaves the moment of parsing that Clear set.
  }
  ReadPriorityField(lines, fieldList, "Importance", "Low", "High");
  ReadPriorityField(lines, fieldList, "X-Priority", "5", "1");
  ReadPriorityField(lines, fieldList, "X-MSMail-Priority", "Low", "High");
  if constexpr (kWhole) {
    SetReplyTo(DecodeMailAddress(value("reply-to"), charset_));
    SetReadReceiptTo(DecodeMailAddress(value("disposition-notification-to"), charset_));
  }
  SetMessageID(value("message-id"));
  if constexpr (kWhole) {
    SplitIntoList(newsgroups_.List(), value("newsgroups"), ',');
    SplitIntoList(references_.List(), value("references"), ' ');
    SetMimeOLE(value("x-mimeole"));
    CopyHeaderLines(0, lines, raw_header_);
    ParseExtraFields(raw_header_, known_fields_, extra_fields_.List());
  }
}

int TclMailMessage::CopyHeaderLines(int start, const TStringList& source, TStringList& dest) {
  dest.Clear();
  const int count = source.Count();
  if (start >= count) return 0;
  dest.BeginUpdate();
  int i = start;
  int last = start;
  for (; i < count; ++i) {
    last = i;
    if (source[i].empty()) break;
    dest.Add(source[i]);
  }
  dest.EndUpdate();
  return last;
}

void TclMailMessage::ParseExtraFields(const TStringList& rawLines, const TStringList& knownFields,
                                      TStringList& dest) {
  dest.BeginUpdate();
  try {
    dest.Clear();
    TStringList fieldList;
    IndexHeaderFields(0, rawLines, fieldList);
    for (int k = 0; k < fieldList.Count(); ++k) {
      if (IndexOfTextInList(knownFields, fieldList[k]) >= 0) continue;
      const std::string& line = rawLines[static_cast<int>(fieldList.Objects(k))];
      std::string entry = line.substr(0, fieldList[k].size());
      entry += ": ";
      entry += GetHeaderFieldValueAt(rawLines, fieldList, k);
      dest.Add(std::move(entry));
    }
  } catch (...) {
    dest.EndUpdate();
    throw;
  }
  dest.EndUpdate();
}

}  // namespace qv
