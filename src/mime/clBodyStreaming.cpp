// Body parts in component streams: the bodies collection stores itself as the entry "Items", a
// list holding per body its class name and then its fields (a class's own fields first, then
// the fields every body has).
#include "base/StringUtils.h"
#include "mime/clMailMessage.h"

namespace qv {

TPersistent* TclMessageBodies::GetOwner() const {
  return message_;
}

void TclMessageBodies::DefineProperties(TFiler& filer) {
  filer.DefineProperty(
      "Items", [this](TReader& r) { ReadItems(r); }, [this](TWriter& w) { WriteItems(w); },
      Count() > 0);
}

void TclMessageBodies::WriteItems(TWriter& writer) const {
  writer.WriteListBegin();
  for (const auto& body : bodies_) {
    writer.WriteString(body->BodyClass().name);
    body->WriteData(writer);
  }
  writer.WriteListEnd();
}

void TclMessageBodies::ReadItems(TReader& reader) {
  Clear();
  reader.ReadListBegin();
  reader.EnterNesting();
  try {
    while (!reader.EndOfList()) {
      const std::string name = reader.ReadString();
      const TclBodyClass* cls = FindBodyClass(name);
      // Without its class the fields that follow cannot be told apart from the next class name.
      if (cls == nullptr) ThrowInvalidPropertyValue();
      Add(*cls).ReadData(reader);
    }
  } catch (...) {
    reader.LeaveNesting();
    throw;
  }
  reader.LeaveNesting();
  reader.ReadListEnd();
}

void TclMessageBody::WriteData(TWriter& writer) const {
  writer.WriteString(extra_fields_.Text());
  writer.WriteString(content_type_);
  writer.WriteInteger(GetEncoding());
  writer.WriteString(content_disposition_);
}

void TclMessageBody::ReadData(TReader& reader) {
  extra_fields_.SetText(reader.ReadString());
  SetContentType(reader.ReadString());
  const std::int64_t encoding = reader.ReadInteger();
  if (encoding < cmNone || encoding > cm8Bit) ThrowInvalidPropertyValue();
  SetEncoding(static_cast<TclEncodeMethod>(encoding));
  SetContentDisposition(reader.ReadString());
}

void TclTextBody::WriteData(TWriter& writer) const {
  writer.WriteString(strings_.Text());
  writer.WriteString(charset_);
  TclMessageBody::WriteData(writer);
}

void TclTextBody::ReadData(TReader& reader) {
  strings_.SetText(reader.ReadString());
  SetCharSet(reader.ReadString());
  TclMessageBody::ReadData(reader);
}

void TclAttachmentBody::WriteData(TWriter& writer) const {
  writer.WriteString(file_name_);
  TclMessageBody::WriteData(writer);
}

void TclAttachmentBody::ReadData(TReader& reader) {
  SetFileName(reader.ReadString());
  TclMessageBody::ReadData(reader);
}

void TclMultipartBody::WriteData(TWriter& writer) const {
  writer.WriteString(content_sub_type_);
  bodies_->WriteItems(writer);
  TclMessageBody::WriteData(writer);
}

void TclMultipartBody::ReadData(TReader& reader) {
  SetContentSubType(reader.ReadString());
  bodies_->ReadItems(reader);
  TclMessageBody::ReadData(reader);
}

}  // namespace qv
