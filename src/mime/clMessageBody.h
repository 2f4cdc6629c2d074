// TclMessageBody: what every part of a message has (content type, transfer encoding, disposition,
// header fields) and how its raw content is decoded, composed and stored.
#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "base/Stream.h"
#include "base/StringList.h"
#include "codec/clEncoder.h"
#include "components/Filer.h"
#include "mime/clMessageBodies.h"

namespace qv {

class TclMessageBody : public TPersistent {
  QV_CLASS_INFO
 public:
  ~TclMessageBody() override;

  TclMessageBodies& Owner() const noexcept { return *owner_; }
  TclMailMessage& MailMessage() const noexcept { return owner_->MailMessage(); }
  int Index() const noexcept { return owner_->IndexOf(this); }

  const std::string& ContentType() const noexcept { return content_type_; }
  void SetContentType(const std::string& v);
  TclEncodeMethod Encoding() const noexcept { return encoding_; }
  void SetEncoding(TclEncodeMethod v);
  const std::string& ContentDisposition() const noexcept { return content_disposition_; }
  void SetContentDisposition(const std::string& v);
  TStringList& ExtraFields() noexcept { return extra_fields_; }
  const TStringList& ExtraFields() const noexcept { return extra_fields_; }
  const TStringList& KnownFields() const noexcept { return known_fields_; }
  TStringList& RawHeader() noexcept { return raw_header_; }
  const TStringList& RawHeader() const noexcept { return raw_header_; }
  TclEncoder& Encoder() noexcept { return encoder_; }

  // The transfer encoding in effect: the part's own in a multipart message, else the message's.
  virtual TclEncodeMethod GetEncoding() const;
  // Reads the part's fields from the header indexed in fieldList; start is the line after it.
  virtual void ParseBodyHeader(int start, const TStringList& lines, const TStringList& fieldList);
  // Takes the raw, still encoded content of the part.
  void AddData(TStream& source);
  // Whether content added to this part goes anywhere; the parser gathers none for a part that
  // drops it.
  virtual bool ReceivesData() const { return true; }
  virtual void Clear();

  // Composition: the part's header lines, and its content encoded with its transfer encoding.
  virtual void BuildBodyHeader(TStringList& lines);
  // The raw content to encode; the caller owns the stream (none gives an empty content).
  virtual std::unique_ptr<TStream> GetDataSourceStream() = 0;
  virtual void EncodeData(TStream& source, TStream& destination);
  std::unique_ptr<TMemoryStream> GetEncodedData();

  void CopyFrom(const TPersistent* source) override;
  // The class of this body, for making another body of the same class.
  virtual const TclBodyClass& BodyClass() const = 0;

  // The body's fields in a component stream: a class writes its own fields, then the base's.
  virtual void WriteData(TWriter& writer) const;
  virtual void ReadData(TReader& reader);

 protected:
  explicit TclMessageBody(TclMessageBodies& owner);
  friend class TclMessageBodies;

  // Where decoded content goes; none drops it.
  virtual std::unique_ptr<TStream> GetDataStream() = 0;
  virtual void PrepareData(TStream& source);
  virtual void DataAdded(TStream& data);
  virtual void DecodeData(TStream& source, TStream& destination);
  virtual void CreateMembers();
  virtual void RegisterFields();
  void AddKnownField(std::string_view name);
  // Copies the fields of source (a body of this class); with take, text and nested parts are
  // moved out of source instead of copied.
  virtual void CopyBody(TclMessageBody& source, bool take);
  void NotifyChanged();

 private:
  TclMessageBodies* owner_;
  // Where the body stood when its position was last asked for, so that asking again (the
  // encoder's progress asks on every block) does not search the collection.
  mutable int index_hint_ = -1;
  std::string content_type_;
  TclEncodeMethod encoding_ = cmNone;
  TclEncoder encoder_;
  std::string content_disposition_;
  TStringList extra_fields_;
  TStringList known_fields_;
  TStringList raw_header_;
};

}  // namespace qv
