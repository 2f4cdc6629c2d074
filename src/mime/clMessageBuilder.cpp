// Composition: the message's "Content-Type" field and the body lines of its parts, each part with
// its own header and its content encoded, parts separated by boundary lines.
#include <cstdio>
#include <vector>

#include "base/StringUtils.h"
#include "codec/clTranslator.h"
#include "codec/clUtils.h"
#include "mime/clMailMessage.h"

namespace qv {

namespace {
// A parameter item: name="value".
std::string Param(std::string_view name, std::string_view value) {
  std::string r(name);
  r += "=\"";
  r += value;
  r += '"';
  return r;
}

void AddArray(TStringList& lines, const std::vector<std::string>& items, std::string_view name) {
  AddHeaderArrayField(lines, items, ";", name);
}

void AddExtraFields(TStringList& lines, const TStringList& extra) {
  for (const auto& item : extra)
    lines.Add(item.text);
}

std::string DateTimeNumber(TDateTime d) {
  char buf[64];
  std::snprintf(buf, sizeof buf, "%.15G", d);
  return buf;
}
}  // namespace

// --- message -----------------------------------------------------------------------------------

void TclMailMessage::GenerateBoundary() {
  // The lines of a message are split wherever they contain a delimiter, and the nested parts'
  // lines stand among those of every enclosing message: a nested boundary must not contain the
  // boundary of any of them ("....1" is in "....12"). Boundaries made at the same moment differ
  // only in the number, so another one is drawn (a bounded number of times, for a source that
  // keeps giving the same number).
  constexpr int kAttempts = 100;
  std::string boundary;
  for (int attempt = 1;; ++attempt) {
    boundary =
        "----=_NextPart_" + DateTimeNumber(clock_.Now()) + "." + std::to_string(Random(1000));
    bool clash = false;
    for (const TclMailMessage* m = outer_; m != nullptr && !clash; m = m->outer_)
      clash = !m->boundary_.empty() && boundary.find(m->boundary_) != std::string::npos;
    if (!clash || attempt == kAttempts) break;
  }
  SetBoundary(boundary);
}

std::string TclMailMessage::GenerateContentID(std::string_view name) {
  return std::string(name) + "@" + DateTimeNumber(clock_.Now()) + "." +
         std::to_string(Random(1000));
}

void TclMailMessage::BuildContentType(TStringList& lines) {
  if (message_format_ == mfUUencode) return;
  if (IsMultipart()) {
    // The header usually goes out before the bodies: the boundary it names must be the one the
    // bodies will use, never an empty one.
    if (boundary_.empty()) GenerateBoundary();
    std::string t = Trim(content_type_);
    if (t.empty()) t = "multipart/mixed";
    std::vector<std::string> items{t};
    if (!content_sub_type_.empty()) items.push_back(Param("type", content_sub_type_));
    items.push_back(Param("boundary", boundary_));
    AddArray(lines, items, "Content-Type");
    return;
  }
  std::string t = Trim(content_type_);
  if (t.empty()) t = "text/plain";
  if (!charset_.empty())
    AddArray(lines, {t, Param("charset", charset_)}, "Content-Type");
  else
    AddHeaderField(lines, "Content-Type", t);
}

void TclMailMessage::BuildBodies(TStringList& lines) {
  if (boundary_.empty()) GenerateBoundary();
  const bool framed = message_format_ != mfUUencode;
  for (int i = 0; i < bodies_->Count(); ++i) {
    TclMessageBody& body = bodies_->Items(i);
    if (framed && IsMultipart()) {
      lines.Add("--" + boundary_);
      body.BuildBodyHeader(lines);
      lines.Add("");
    }
    BuildBodyData(lines, body);
    if (IsMultipart()) lines.Add("");
  }
  if (framed && IsMultipart()) lines.Add("--" + boundary_ + "--");
}

void TclMailMessage::BuildBodyData(TStringList& lines, TclMessageBody& body) {
  auto* attachment = dynamic_cast<TclAttachmentBody*>(&body);
  const bool uu = message_format_ == mfUUencode && attachment != nullptr;
  if (uu) lines.Add("begin 600 " + std::string(FileNameWithoutFolder(attachment->FileName())));
  const std::unique_ptr<TMemoryStream> data = body.GetEncodedData();
  AppendTextLines(lines, data->DataString(), false);
  if (uu) lines.Add("end");
}

// --- every part --------------------------------------------------------------------------------

void TclMessageBody::BuildBodyHeader(TStringList&) {}

void TclMessageBody::EncodeData(TStream& source, TStream& destination) {
  encoder_.SetCharsPerLine(MailMessage().CharsPerLine());
  encoder_.Encode(source, destination, GetEncoding());
}

std::unique_ptr<TMemoryStream> TclMessageBody::GetEncodedData() {
  std::unique_ptr<TStream> source = GetDataSourceStream();
  auto result = std::make_unique<TMemoryStream>();
  if (source) EncodeData(*source, *result);
  result->SetPosition(0);
  return result;
}

// --- text --------------------------------------------------------------------------------------

void TclTextBody::BuildBodyHeader(TStringList& lines) {
  if (!ContentType().empty() && !charset_.empty())
    AddArray(lines, {ContentType(), Param("charset", charset_)}, "Content-Type");
  AddHeaderField(lines, "Content-Transfer-Encoding", TransferEncodingNames[GetEncoding()]);
  AddExtraFields(lines, ExtraFields());
}

std::unique_ptr<TStream> TclTextBody::GetDataSourceStream() {
  std::string text = strings_.Text();
  if (text.size() > 2) text.resize(text.size() - 2);
  const std::string& cs = charset_.empty() ? MailMessage().CharSet() : charset_;
  return std::make_unique<TMemoryStream>(TclCharSetTranslator::TranslateToCharSet(cs, text));
}

// --- attachment and image ----------------------------------------------------------------------

namespace {
std::string EncodedName(const TclMailMessage& msg, std::string_view name) {
  return EncodeHeaderText(name, msg.CharSet(), msg.Encoding(), msg.CharsPerLine());
}

void AddContentID(TStringList& lines, const TclAttachmentBody& body) {
  if (body.ContentID().empty()) return;
  AddHeaderField(lines, "Content-ID",
                 "<" + EncodedName(body.MailMessage(), body.ContentID()) + ">");
}
}  // namespace

void TclAttachmentBody::BuildBodyHeader(TStringList& lines) {
  const std::string n = EncodedName(MailMessage(), FileNameWithoutFolder(file_name_));
  if (!ContentType().empty()) {
    if (!file_name_.empty())
      AddArray(lines, {ContentType(), Param("name", n)}, "Content-Type");
    else
      AddHeaderField(lines, "Content-Type", ContentType());
  }
  AddHeaderField(lines, "Content-Transfer-Encoding", TransferEncodingNames[GetEncoding()]);
  const std::string d = ContentDisposition().empty() ? "attachment" : ContentDisposition();
  if (!file_name_.empty())
    AddArray(lines, {d, Param("filename", n)}, "Content-Disposition");
  else
    AddHeaderField(lines, "Content-Disposition", d);
  AddContentID(lines, *this);
  AddExtraFields(lines, ExtraFields());
}

std::unique_ptr<TStream> TclAttachmentBody::GetDataSourceStream() {
  std::unique_ptr<TStream> data;
  bool handled = false;
  MailMessage().DoGetDataSourceStream(*this, file_name_, data, handled);
  if (!handled) {
    data.reset();
    data = std::make_unique<TFileStream>(file_name_, FileMode::OpenRead);
  }
  return data;
}

void TclImageBody::BuildBodyHeader(TStringList& lines) {
  if (!ContentType().empty() && !FileName().empty()) {
    const std::string n = EncodedName(MailMessage(), FileNameWithoutFolder(FileName()));
    AddArray(lines, {ContentType(), Param("name", n)}, "Content-Type");
  }
  AddHeaderField(lines, "Content-Transfer-Encoding", TransferEncodingNames[GetEncoding()]);
  AddContentID(lines, *this);
  AddExtraFields(lines, ExtraFields());
}

// --- multipart ---------------------------------------------------------------------------------

namespace {
// The inner message composes the nested parts from a copy of the part's bodies.
void PrepareInnerMessage(TclMultipartBody& part) {
  part.InnerMessage().Clear();
  part.InnerMessage().Bodies().CopyFrom(&part.Bodies());
}
}  // namespace

void TclMultipartBody::BuildBodyHeader(TStringList& lines) {
  PrepareInnerMessage(*this);
  inner_->GenerateBoundary();
  std::vector<std::string> items{ContentType()};
  if (!content_sub_type_.empty()) items.push_back(Param("type", content_sub_type_));
  items.push_back(Param("boundary", inner_->Boundary()));
  AddArray(lines, items, "Content-Type");
  AddExtraFields(lines, ExtraFields());
  lines.Add("");
}

std::unique_ptr<TStream> TclMultipartBody::GetDataSourceStream() {
  // The parts written are always this part's current ones, also when no part header was built
  // (the only body of a message is written without one): the inner message is prepared again,
  // keeping the boundary that the header named.
  const std::string boundary = inner_->Boundary();
  PrepareInnerMessage(*this);
  inner_->SetBoundary(boundary);
  TStringList inner;
  inner_->BuildBodies(inner);
  return std::make_unique<TMemoryStream>(inner.Text());
}

}  // namespace qv
