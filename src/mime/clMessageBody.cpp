// Body parts: the collection, the four part classes, how a part reads its own header and how its
// raw content is decoded and handed over; and the registry of body classes.
#include <algorithm>

#include "base/StringUtils.h"
#include "codec/clTranslator.h"
#include "codec/clUtils.h"
#include "mime/clMailMessage.h"

namespace qv {

namespace {
template <class B>
TclMessageBody& CreateIn(TclMessageBodies* owner) {
  if (owner == nullptr) throw EAssertionFailed();
  return owner->Add<B>();
}

template <class B>
bool IsInstance(const TclMessageBody& body) {
  return dynamic_cast<const B*>(&body) != nullptr;
}

std::string ParseContentID(const TStringList& lines, const TStringList& fieldList) {
  std::string id = GetHeaderFieldValue(lines, fieldList, "content-id");
  if (!id.empty() && id.front() == '<') id.erase(0, 1);
  if (!id.empty() && id.back() == '>') id.pop_back();
  return id;
}

// The whole content of a stream, from its start.
std::string StreamBytes(TStream& s) {
  if (auto* m = dynamic_cast<TMemoryStream*>(&s)) return m->DataString();
  s.SetPosition(0);
  return s.ReadRest();
}
}  // namespace

const TclBodyClass TclTextBody::kClass{"TclTextBody", &CreateIn<TclTextBody>,
                                       &IsInstance<TclTextBody>};
const TclBodyClass TclAttachmentBody::kClass{"TclAttachmentBody", &CreateIn<TclAttachmentBody>,
                                             &IsInstance<TclAttachmentBody>};
const TclBodyClass TclImageBody::kClass{"TclImageBody", &CreateIn<TclImageBody>,
                                        &IsInstance<TclImageBody>};
const TclBodyClass TclMultipartBody::kClass{"TclMultipartBody", &CreateIn<TclMultipartBody>,
                                            &IsInstance<TclMultipartBody>};

std::string_view FileNameWithoutFolder(std::string_view name) {
  const std::size_t p = name.find_last_of("\\/:");
  return p == std::string_view::npos ? name : name.substr(p + 1);
}

// --- registry ----------------------------------------------------------------------------------

namespace {
std::vector<const TclBodyClass*>& Registry() {
  static std::vector<const TclBodyClass*> list = {&TclTextBody::kClass, &TclAttachmentBody::kClass,
                                                  &TclMultipartBody::kClass, &TclImageBody::kClass};
  return list;
}
}  // namespace

void RegisterBodyClass(const TclBodyClass& cls) {
  Registry().push_back(&cls);
}

const std::vector<const TclBodyClass*>& BodyClassList() {
  return Registry();
}

const TclBodyClass* FindBodyClass(std::string_view name) {
  for (const TclBodyClass* c : Registry())
    if (SameText(c->name, name)) return c;
  return nullptr;
}

// --- the collection ----------------------------------------------------------------------------

const TClassInfo& TclMessageBodies::StaticClassInfo() {
  static const TClassInfo info("TclMessageBodies", &TPersistent::StaticClassInfo(), {});
  return info;
}

TclMessageBodies::TclMessageBodies(TclMailMessage* message) : message_(message) {
  if (message == nullptr) throw EAssertionFailed();
}

TclMessageBodies::~TclMessageBodies() {
  // Bodies go first: their destructors may still look at the collection.
  while (!bodies_.empty())
    bodies_.pop_back();
}

TclMessageBody& TclMessageBodies::Items(int index) const {
  if (index < 0 || index >= Count()) throw EListError(Format(kListIndexError, index));
  return *bodies_[static_cast<std::size_t>(index)];
}

int TclMessageBodies::IndexOf(const TclMessageBody* body) const noexcept {
  if (body == nullptr) return -1;
  const int hint = body->index_hint_;
  if (hint >= 0 && hint < Count() && bodies_[static_cast<std::size_t>(hint)].get() == body)
    return hint;
  for (std::size_t i = 0; i < bodies_.size(); ++i) {
    if (bodies_[i].get() == body) {
      body->index_hint_ = static_cast<int>(i);
      return static_cast<int>(i);
    }
  }
  return -1;
}

void TclMessageBodies::AddBody(std::unique_ptr<TclMessageBody> body) {
  body->index_hint_ = Count();
  bodies_.push_back(std::move(body));
  message_->NotifyChanged();
}

void TclMessageBodies::Delete(int index) {
  Items(index);
  bodies_.erase(bodies_.begin() + index);
  message_->NotifyChanged();
}

void TclMessageBodies::Clear() {
  while (!bodies_.empty())
    bodies_.pop_back();
  message_->NotifyChanged();
}

void TclMessageBodies::CopyFrom(const TPersistent* source) {
  auto* other = dynamic_cast<const TclMessageBodies*>(source);
  if (other == nullptr) AssignError(source);
  if (other == this) return;
  CopyBodies(const_cast<TclMessageBodies&>(*other), false);
}

void TclMessageBodies::TakeFrom(TclMessageBodies& source) {
  if (&source != this) CopyBodies(source, true);
}

void TclMessageBodies::CopyBodies(TclMessageBodies& source, bool take) {
  Clear();
  for (const auto& body : source.bodies_) {
    TclMessageBody& copy = Add(body->BodyClass());
    copy.CopyBody(*body, take);
  }
}

// --- the base part -----------------------------------------------------------------------------

const TClassInfo& TclMessageBody::StaticClassInfo() {
  static const TClassInfo info("TclMessageBody", &TPersistent::StaticClassInfo(), {});
  return info;
}

TclMessageBody::TclMessageBody(TclMessageBodies& owner) : owner_(&owner) {}

TclMessageBody::~TclMessageBody() = default;

void TclMessageBody::CreateMembers() {
  extra_fields_.OnChange = [this] { NotifyChanged(); };
  encoder_.OnProgress = [this](TclEncoder&, int proceed, int total) {
    MailMessage().DoEncodingProgress(Index(), proceed, total);
  };
  RegisterFields();
}

void TclMessageBody::RegisterFields() {
  AddKnownField("Content-Type");
  AddKnownField("Content-Transfer-Encoding");
  AddKnownField("Content-Disposition");
}

void TclMessageBody::AddKnownField(std::string_view name) {
  if (known_fields_.IndexOf(name) < 0) known_fields_.Add(std::string(name));
}

void TclMessageBody::NotifyChanged() {
  MailMessage().NotifyChanged();
}

void TclMessageBody::SetContentType(const std::string& v) {
  if (content_type_ == v) return;
  content_type_ = v;
  NotifyChanged();
}

void TclMessageBody::SetEncoding(TclEncodeMethod v) {
  if (encoding_ == v) return;
  encoding_ = v;
  NotifyChanged();
}

void TclMessageBody::SetContentDisposition(const std::string& v) {
  if (content_disposition_ == v) return;
  content_disposition_ = v;
  NotifyChanged();
}

TclEncodeMethod TclMessageBody::GetEncoding() const {
  const TclMailMessage& msg = MailMessage();
  return msg.IsMultipart() ? encoding_ : msg.Encoding();
}

void TclMessageBody::Clear() {
  extra_fields_.Clear();
  SetContentType("");
  SetEncoding(cmNone);
  SetContentDisposition("");
  raw_header_.Clear();
}

void TclMessageBody::ParseBodyHeader(int, const TStringList& lines, const TStringList& fieldList) {
  SetContentType(GetHeaderParam(GetHeaderFieldValue(lines, fieldList, "content-type"), ""));
  if (const TclEncodeMethod m = TransferEncodingToMethod(
          GetHeaderFieldValue(lines, fieldList, "content-transfer-encoding"));
      m != cmNone)
    SetEncoding(m);
  SetContentDisposition(
      GetHeaderParam(GetHeaderFieldValue(lines, fieldList, "content-disposition"), ""));
}

void TclMessageBody::AddData(TStream& source) {
  std::unique_ptr<TStream> dest = GetDataStream();
  PrepareData(source);
  source.SetPosition(0);
  if (dest) {
    DecodeData(source, *dest);
    DataAdded(*dest);
  }
}

void TclMessageBody::PrepareData(TStream& source) {
  const std::int64_t size = source.Size();
  if (size <= 1) return;
  char tail[2];
  source.SetPosition(size - 2);
  source.ReadBuffer(tail, 2);
  if (tail[0] == '\r' && tail[1] == '\n') source.SetSize(size - 2);
}

void TclMessageBody::DecodeData(TStream& source, TStream& destination) {
  try {
    encoder_.Decode(source, destination, GetEncoding());
  } catch (const Exception&) {
    // Content that does not decode is kept as it stands.
    destination.SetSize(0);
    destination.SetPosition(0);
    source.SetPosition(0);
    encoder_.Decode(source, destination, cmNone);
  }
}

void TclMessageBody::DataAdded(TStream& data) {
  data.SetPosition(0);
  MailMessage().DoDataAdded(*this, data);
}

void TclMessageBody::CopyFrom(const TPersistent* source) {
  auto* body = dynamic_cast<const TclMessageBody*>(source);
  if (body == nullptr) AssignError(source);
  if (body == this) return;
  CopyBody(const_cast<TclMessageBody&>(*body), false);
}

void TclMessageBody::CopyBody(TclMessageBody& source, bool take) {
  if (take)
    extra_fields_.TakeItems(source.extra_fields_);
  else
    extra_fields_.Assign(source.extra_fields_);
  SetContentType(source.content_type_);
  SetEncoding(source.GetEncoding());
  SetContentDisposition(source.content_disposition_);
  if (take)
    raw_header_.TakeItems(source.raw_header_);
  else
    raw_header_.Assign(source.raw_header_);
}

// --- text --------------------------------------------------------------------------------------

const TClassInfo& TclTextBody::StaticClassInfo() {
  static const TClassInfo info("TclTextBody", &TclMessageBody::StaticClassInfo(), {});
  return info;
}

void TclTextBody::CreateMembers() {
  TclMessageBody::CreateMembers();
  strings_.OnChange = [this] { NotifyChanged(); };
}

void TclTextBody::SetCharSet(const std::string& v) {
  if (charset_ == v) return;
  charset_ = v;
  NotifyChanged();
}

void TclTextBody::Clear() {
  TclMessageBody::Clear();
  strings_.Clear();
  SetContentType("text/plain");
  SetCharSet("iso-8859-1");
}

void TclTextBody::ParseBodyHeader(int start, const TStringList& lines,
                                  const TStringList& fieldList) {
  TclMessageBody::ParseBodyHeader(start, lines, fieldList);
  SetCharSet(GetHeaderParam(GetHeaderFieldValue(lines, fieldList, "content-type"), "charset="));
}

std::unique_ptr<TStream> TclTextBody::GetDataStream() {
  return std::make_unique<TMemoryStream>();
}

void TclTextBody::DataAdded(TStream& data) {
  const TclMailMessage& msg = MailMessage();
  const std::string& cs = msg.IsMultipart() ? charset_ : msg.CharSet();
  const std::string text = TclCharSetTranslator::TranslateFromCharSet(cs, StreamBytes(data));
  AppendTextLines(strings_, text, false);
  TclMessageBody::DataAdded(data);
}

void TclTextBody::CopyBody(TclMessageBody& source, bool take) {
  if (auto* text = dynamic_cast<TclTextBody*>(&source)) {
    if (take)
      strings_.TakeItems(text->strings_);
    else
      strings_.Assign(text->strings_);
    SetCharSet(text->charset_);
  }
  TclMessageBody::CopyBody(source, take);
}

// --- attachment --------------------------------------------------------------------------------

const TClassInfo& TclAttachmentBody::StaticClassInfo() {
  static const TClassInfo info("TclAttachmentBody", &TclMessageBody::StaticClassInfo(), {});
  return info;
}

void TclAttachmentBody::RegisterFields() {
  TclMessageBody::RegisterFields();
  AddKnownField("Content-Description");
  AddKnownField("Content-ID");
}

TclEncodeMethod TclAttachmentBody::GetEncoding() const {
  if (MailMessage().MessageFormat() == mfUUencode) return cmUUEncode;
  return TclMessageBody::GetEncoding();
}

void TclAttachmentBody::SetFileName(const std::string& name) {
  if (file_name_ == name) return;
  file_name_ = name;
  if (!MailMessage().IsParsing() && !name.empty()) {
    try {
      TFileStream file(name, FileMode::OpenRead);
      SetEncoding(TclEncoder::GetPreferredEncoding(file));
    } catch (const Exception&) {
      // No such file, or none that reads (a folder such as "/."): the encoding stays.
    }
  }
  NotifyChanged();
}

void TclAttachmentBody::SetContentID(const std::string& v) {
  if (content_id_ == v) return;
  content_id_ = v;
  NotifyChanged();
}

void TclAttachmentBody::Clear() {
  TclMessageBody::Clear();
  SetFileName("");
  SetContentType("application/octet-stream");
  SetContentID("");
}

void TclAttachmentBody::ParseBodyHeader(int start, const TStringList& lines,
                                        const TStringList& fieldList) {
  TclMessageBody::ParseBodyHeader(start, lines, fieldList);
  const std::string& cs = MailMessage().CharSet();
  const std::string ct = GetHeaderFieldValue(lines, fieldList, "content-type");
  std::string name =
      GetHeaderParam(GetHeaderFieldValue(lines, fieldList, "content-disposition"), "filename=");
  if (name.empty()) name = GetHeaderParam(ct, "filename=");
  if (name.empty()) {
    name = GetHeaderFieldValue(lines, fieldList, "content-description");
    if (name.size() > 3 && name[name.size() - 4] != '.') name += ".dat";
  }
  if (name.empty()) name = GetHeaderParam(ct, "name=");
  if (!name.empty()) {
    name = DecodeHeaderText(name, cs);
  } else if (SameText(ContentType(), "message/rfc822")) {
    // The subject of the embedded message, as it stands.
    TStringList embedded;
    IndexHeaderFields(start, lines, embedded);
    name = GetHeaderFieldValue(lines, embedded, "subject");
  }
  SetFileName(name);
  SetContentID(ParseContentID(lines, fieldList));
}

bool TclAttachmentBody::ReceivesData() const {
  return MailMessage().SuppliesDataStreams();
}

std::unique_ptr<TStream> TclAttachmentBody::GetDataStream() {
  std::unique_ptr<TStream> data;
  bool handled = false;
  MailMessage().DoGetDataStream(*this, file_name_, data, handled);
  return data;
}

void TclAttachmentBody::CopyBody(TclMessageBody& source, bool take) {
  if (auto* att = dynamic_cast<TclAttachmentBody*>(&source)) {
    SetFileName(att->file_name_);
    SetContentID(att->content_id_);
  }
  TclMessageBody::CopyBody(source, take);
}

// --- image -------------------------------------------------------------------------------------

const TClassInfo& TclImageBody::StaticClassInfo() {
  static const TClassInfo info("TclImageBody", &TclAttachmentBody::StaticClassInfo(), {});
  return info;
}

void TclImageBody::Clear() {
  TclAttachmentBody::Clear();
  SetContentType("");
  SetEncoding(cmMIMEBase64);
}

std::string TclImageBody::GetFileExtension() const {
  const std::string& name = FileName();
  const std::size_t p = name.find_last_of(".\\:");
  if (p == std::string::npos || name[p] != '.') return "";
  return name.substr(p + 1);
}

void TclImageBody::SetFileName(const std::string& name) {
  TclAttachmentBody::SetFileName(name);
  if (!FileName().empty() && ContentID().empty())
    SetContentID(MailMessage().GenerateContentID(FileNameWithoutFolder(FileName())));
  if (!FileName().empty() && ContentType().empty()) SetContentType("image/" + GetFileExtension());
}

void TclImageBody::ParseBodyHeader(int start, const TStringList& lines,
                                   const TStringList& fieldList) {
  TclAttachmentBody::ParseBodyHeader(start, lines, fieldList);
  const std::string ct = GetHeaderFieldValue(lines, fieldList, "content-type");
  SetFileName(DecodeHeaderText(GetHeaderParam(ct, "name="), MailMessage().CharSet()));
  SetContentType(GetHeaderParam(ct, ""));
  SetContentID(ParseContentID(lines, fieldList));
}

// --- multipart ---------------------------------------------------------------------------------

const TClassInfo& TclMultipartBody::StaticClassInfo() {
  static const TClassInfo info("TclMultipartBody", &TclMessageBody::StaticClassInfo(), {});
  return info;
}

TclMultipartBody::~TclMultipartBody() {
  bodies_.reset();
  inner_.reset();
}

void TclMultipartBody::CreateMembers() {
  TclMessageBody::CreateMembers();
  TclMailMessage& outer = MailMessage();
  inner_ = std::make_unique<TclMailMessage>(nullptr, outer.Clock());
  inner_->nesting_level_ = outer.nesting_level_ + 1;
  inner_->outer_ = &outer;
  inner_->random_ = [&outer](int range) { return outer.Random(range); };
  inner_->OnGetDataStream = [&outer](TclMailMessage&, TclMessageBody& body, const std::string& name,
                                     std::unique_ptr<TStream>& data, bool& handled) {
    outer.DoGetDataStream(body, name, data, handled);
  };
  inner_->OnGetDataSourceStream = [&outer](TclMailMessage&, TclMessageBody& body,
                                           const std::string& name, std::unique_ptr<TStream>& data,
                                           bool& handled) {
    outer.DoGetDataSourceStream(body, name, data, handled);
  };
  inner_->OnDataAdded = [&outer](TclMailMessage&, TclMessageBody& body, TStream& data) {
    data.SetPosition(0);
    outer.DoDataAdded(body, data);
  };
  bodies_ = std::make_unique<TclMessageBodies>(&outer);
}

const std::string& TclMultipartBody::Boundary() const {
  return inner_->Boundary();
}

void TclMultipartBody::SetBoundary(const std::string& v) {
  inner_->SetBoundary(v);
}

void TclMultipartBody::SetContentSubType(const std::string& v) {
  if (content_sub_type_ == v) return;
  content_sub_type_ = v;
  NotifyChanged();
}

void TclMultipartBody::Clear() {
  TclMessageBody::Clear();
  bodies_->Clear();
  SetContentType("multipart/mixed");
  SetContentSubType("");
  SetEncoding(cmNone);
  SetBoundary("");
}

void TclMultipartBody::ParseBodyHeader(int start, const TStringList& lines,
                                       const TStringList& fieldList) {
  TclMessageBody::ParseBodyHeader(start, lines, fieldList);
  const std::string ct = GetHeaderFieldValue(lines, fieldList, "content-type");
  SetBoundary(GetHeaderParam(ct, "boundary="));
  SetContentSubType(GetHeaderParam(ct, "type="));
  SetEncoding(cmNone);
}

std::unique_ptr<TStream> TclMultipartBody::GetDataStream() {
  return std::make_unique<TMemoryStream>();
}

void TclMultipartBody::DataAdded(TStream& data) {
  TStringList lines;
  AppendTextLines(lines, StreamBytes(data), false);
  inner_->ParseBodies(lines);
  // The inner message is a scratch parser: its parts give up their content to this part's
  // collection instead of being copied.
  bodies_->TakeFrom(inner_->Bodies());
}

void TclMultipartBody::CopyBody(TclMessageBody& source, bool take) {
  if (auto* multi = dynamic_cast<TclMultipartBody*>(&source)) {
    if (take)
      bodies_->TakeFrom(*multi->bodies_);
    else
      bodies_->CopyFrom(multi->bodies_.get());
    SetBoundary(multi->Boundary());
    SetContentSubType(multi->content_sub_type_);
  }
  TclMessageBody::CopyBody(source, take);
}

}  // namespace qv
