// TclMailMessage: one Internet mail message held as typed header properties and an owned
// collection of body parts (text, attachment, image, nested multipart), with the parser that turns
// the lines of a raw message into them.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "base/DateTime.h"
#include "base/Errors.h"
#include "base/Stream.h"
#include "base/StringList.h"
#include "codec/clEncoder.h"
#include "codec/clMailHeader.h"
#include "components/Component.h"
#include "components/Filer.h"
#include "components/Strings.h"
#include "platform/Platform.h"

namespace qv {

enum TclMessagePriority : std::uint8_t { mpLow = 0, mpNormal = 1, mpHigh = 2 };
enum TclMessageFormat : std::uint8_t { mfNone = 0, mfMIME = 1, mfUUencode = 2 };

// Identifiers of the enumerations, for component streams.
extern const TEnumInfo kMessagePriorityInfo;
extern const TEnumInfo kMessageFormatInfo;
extern const TEnumInfo kEncodeMethodInfo;

// The message format by whether a MIME header is present.
inline constexpr TclMessageFormat MessageFormatByMime[2] = {mfUUencode, mfMIME};

// Values of the priority fields by priority (an empty value writes no field).
inline constexpr std::string_view PriorityImportanceValues[3] = {"Low", "", "High"};
inline constexpr std::string_view PriorityXPriorityValues[3] = {"5", "3", "1"};
inline constexpr std::string_view PriorityMSMailValues[3] = {"Low", "Normal", "High"};

inline constexpr const char* kDefaultMimeOLE = "Produced By Velmora MimeOLE v 6.0";

// Multipart parts nest through a parse per level. Below this many levels a "multipart/" part is
// kept as an attachment part with its raw content instead of being parsed again, so hostile mail
// cannot exhaust the stack. Real mail nests a handful of levels.
inline constexpr int kMaxBodyNesting = 100;

// The failure of a broken internal precondition of this unit (a body or collection without owner).
class EAssertionFailed : public Exception {
 public:
  EAssertionFailed() : Exception("Assertion failure") {}
};

class TclMailMessage;
class TclMessageBody;
class TclMessageBodies;

using TclNotifyEvent = std::function<void(TclMailMessage& sender)>;
// Sender, body, file name, data (in/out; the stream handed over belongs to the body), handled.
using TclGetBodyStreamEvent =
    std::function<void(TclMailMessage& sender, TclMessageBody& body, const std::string& fileName,
                       std::unique_ptr<TStream>& data, bool& handled)>;
using TclBodyDataAddedEvent =
    std::function<void(TclMailMessage& sender, TclMessageBody& body, TStream& data)>;
using TclBodyEncodingProgress =
    std::function<void(TclMailMessage& sender, int bodyNo, int bytesProceed, int totalBytes)>;
// Pseudo-random integers from 0 to range - 1, for boundaries and content identifiers.
using TclRandomSource = std::function<int(int range)>;

// A file name without its folder (the text after the last "\\", "/" or ":").
std::string_view FileNameWithoutFolder(std::string_view name);

// --- body classes and their registry -----------------------------------------------------------

// A body class that can be found by name: its name and how to make a body of it in a collection.
struct TclBodyClass {
  const char* name;
  // Constructs a body of the class in owner; a missing owner fails with "Assertion failure".
  TclMessageBody& (*create)(TclMessageBodies* owner);
  bool (*isInstance)(const TclMessageBody& body);
};

// Adds a class to the registry (the four classes of this unit are there from the start, in the
// order TclTextBody, TclAttachmentBody, TclMultipartBody, TclImageBody).
void RegisterBodyClass(const TclBodyClass& cls);
const std::vector<const TclBodyClass*>& BodyClassList();
// The registered class of that name (compared without regard to case), or null.
const TclBodyClass* FindBodyClass(std::string_view name);

// --- the body collection -----------------------------------------------------------------------

class TclMessageBodies : public TPersistent {
  QV_CLASS_INFO
 public:
  // A collection without message fails with "Assertion failure".
  explicit TclMessageBodies(TclMailMessage* message);
  ~TclMessageBodies() override;

  TclMailMessage& MailMessage() const noexcept { return *message_; }
  int Count() const noexcept { return static_cast<int>(bodies_.size()); }
  // The body at a position from 0; outside the range fails with "List index out of bounds (%d)".
  TclMessageBody& Items(int index) const;
  void Delete(int index);
  void Clear();
  int IndexOf(const TclMessageBody* body) const noexcept;

  // Clear, then one new body of the same class per source body, copied from it in order.
  void CopyFrom(const TPersistent* source) override;
  // As CopyFrom, but the source bodies give up their text and nested parts instead of copying
  // them; for a source that is discarded afterwards.
  void TakeFrom(TclMessageBodies& source);

  // The stored entry "Items": per body its class name and its fields, in a list.
  void DefineProperties(TFiler& filer) override;
  void WriteItems(TWriter& writer) const;
  // Clears, then reads the bodies; an unregistered class name fails with "Invalid property value".
  void ReadItems(TReader& reader);
  TPersistent* GetOwner() const override;

  // Constructs a body of class B in this collection (it appends itself).
  template <class B>
  B& Add();
  TclMessageBody& Add(const TclBodyClass& cls) { return cls.create(this); }

 private:
  friend class TclMessageBody;
  void AddBody(std::unique_ptr<TclMessageBody> body);
  void CopyBodies(TclMessageBodies& source, bool take);

  TclMailMessage* message_;
  std::vector<std::unique_ptr<TclMessageBody>> bodies_;
};

// --- body parts ------------------------------------------------------------------------------

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

class TclTextBody : public TclMessageBody {
  QV_CLASS_INFO
 public:
  static const TclBodyClass kClass;
  const TclBodyClass& BodyClass() const override { return kClass; }

  const std::string& CharSet() const noexcept { return charset_; }
  void SetCharSet(const std::string& v);
  TStringList& Strings() noexcept { return strings_; }
  const TStringList& Strings() const noexcept { return strings_; }

  void ParseBodyHeader(int start, const TStringList& lines, const TStringList& fieldList) override;
  void Clear() override;
  void BuildBodyHeader(TStringList& lines) override;
  std::unique_ptr<TStream> GetDataSourceStream() override;
  void WriteData(TWriter& writer) const override;
  void ReadData(TReader& reader) override;

 protected:
  using TclMessageBody::TclMessageBody;
  friend class TclMessageBodies;
  std::unique_ptr<TStream> GetDataStream() override;
  void DataAdded(TStream& data) override;
  void CreateMembers() override;
  void CopyBody(TclMessageBody& source, bool take) override;

 private:
  std::string charset_;
  TStringList strings_;
};

class TclAttachmentBody : public TclMessageBody {
  QV_CLASS_INFO
 public:
  static const TclBodyClass kClass;
  const TclBodyClass& BodyClass() const override { return kClass; }

  const std::string& FileName() const noexcept { return file_name_; }
  virtual void SetFileName(const std::string& name);
  const std::string& ContentID() const noexcept { return content_id_; }
  void SetContentID(const std::string& v);

  TclEncodeMethod GetEncoding() const override;
  void ParseBodyHeader(int start, const TStringList& lines, const TStringList& fieldList) override;
  // Only when the message supplies streams for attachments (OnGetDataStream).
  bool ReceivesData() const override;
  void Clear() override;
  void BuildBodyHeader(TStringList& lines) override;
  std::unique_ptr<TStream> GetDataSourceStream() override;
  void WriteData(TWriter& writer) const override;
  void ReadData(TReader& reader) override;

 protected:
  using TclMessageBody::TclMessageBody;
  friend class TclMessageBodies;
  std::unique_ptr<TStream> GetDataStream() override;
  void RegisterFields() override;
  void CopyBody(TclMessageBody& source, bool take) override;

 private:
  std::string file_name_;
  std::string content_id_;
};

class TclImageBody : public TclAttachmentBody {
  QV_CLASS_INFO
 public:
  static const TclBodyClass kClass;
  const TclBodyClass& BodyClass() const override { return kClass; }

  void SetFileName(const std::string& name) override;
  void ParseBodyHeader(int start, const TStringList& lines, const TStringList& fieldList) override;
  void Clear() override;
  void BuildBodyHeader(TStringList& lines) override;
  // The text after the last ".", "\" or ":" of FileName when that last one is "."; else "".
  std::string GetFileExtension() const;

 protected:
  using TclAttachmentBody::TclAttachmentBody;
  friend class TclMessageBodies;
};

class TclMultipartBody : public TclMessageBody {
  QV_CLASS_INFO
 public:
  static const TclBodyClass kClass;
  const TclBodyClass& BodyClass() const override { return kClass; }
  ~TclMultipartBody() override;

  TclMessageBodies& Bodies() noexcept { return *bodies_; }
  const TclMessageBodies& Bodies() const noexcept { return *bodies_; }
  const std::string& ContentSubType() const noexcept { return content_sub_type_; }
  void SetContentSubType(const std::string& v);
  const std::string& Boundary() const;
  void SetBoundary(const std::string& v);
  TclMailMessage& InnerMessage() noexcept { return *inner_; }

  void ParseBodyHeader(int start, const TStringList& lines, const TStringList& fieldList) override;
  void Clear() override;
  void BuildBodyHeader(TStringList& lines) override;
  std::unique_ptr<TStream> GetDataSourceStream() override;
  void WriteData(TWriter& writer) const override;
  void ReadData(TReader& reader) override;

 protected:
  using TclMessageBody::TclMessageBody;
  friend class TclMessageBodies;
  std::unique_ptr<TStream> GetDataStream() override;
  void DataAdded(TStream& data) override;
  void CreateMembers() override;
  void CopyBody(TclMessageBody& source, bool take) override;

 private:
  std::unique_ptr<TclMailMessage> inner_;
  std::unique_ptr<TclMessageBodies> bodies_;
  std::string content_sub_type_;
};

// --- the message -----------------------------------------------------------------------------

class TclMailMessage : public TComponent {
  QV_CLASS_INFO
 public:
  // The clock gives "now" for a cleared message's date and for reading mail dates as local time.
  TclMailMessage(TComponent* owner, platform::Clock& clock);
  ~TclMailMessage() override;

  // Published properties.
  TclMessageBodies& Bodies() noexcept { return *bodies_; }
  const TclMessageBodies& Bodies() const noexcept { return *bodies_; }
  void SetBodies(const TclMessageBodies& v) { bodies_->CopyFrom(&v); }
  const std::string& Subject() const noexcept { return subject_; }
  void SetSubject(const std::string& v) { SetString(subject_, v); }
  const std::string& From() const noexcept { return from_; }
  void SetFrom(const std::string& v) { SetString(from_, v); }
  TStringList& ToList() noexcept { return to_list_.List(); }
  const TStringList& ToList() const noexcept { return to_list_.List(); }
  TStringList& CCList() noexcept { return cc_list_.List(); }
  const TStringList& CCList() const noexcept { return cc_list_.List(); }
  TStringList& BCCList() noexcept { return bcc_list_.List(); }
  const TStringList& BCCList() const noexcept { return bcc_list_.List(); }
  TclMessagePriority Priority() const noexcept { return priority_; }
  void SetPriority(TclMessagePriority v);
  TDateTime Date() const noexcept { return date_; }
  void SetDate(TDateTime v);
  const std::string& CharSet() const noexcept { return charset_; }
  void SetCharSet(const std::string& v) { SetString(charset_, v); }
  const std::string& ContentType() const noexcept { return content_type_; }
  void SetContentType(const std::string& v) { SetString(content_type_, v); }
  const std::string& ContentSubType() const noexcept { return content_sub_type_; }
  void SetContentSubType(const std::string& v) { SetString(content_sub_type_, v); }
  const std::string& ContentDisposition() const noexcept { return content_disposition_; }
  void SetContentDisposition(const std::string& v) { SetString(content_disposition_, v); }
  TclMessageFormat MessageFormat() const noexcept { return message_format_; }
  void SetMessageFormat(TclMessageFormat v);
  TclEncodeMethod Encoding() const noexcept { return encoding_; }
  void SetEncoding(TclEncodeMethod v);
  const std::string& MimeOLE() const noexcept { return mime_ole_; }
  void SetMimeOLE(const std::string& v) { SetString(mime_ole_, v); }
  bool IncludeRFC822Header() const noexcept { return include_rfc822_header_; }
  void SetIncludeRFC822Header(bool v);
  const std::string& ReplyTo() const noexcept { return reply_to_; }
  void SetReplyTo(const std::string& v) { SetString(reply_to_, v); }
  TStringList& References() noexcept { return references_.List(); }
  const TStringList& References() const noexcept { return references_.List(); }
  TStringList& NewsGroups() noexcept { return newsgroups_.List(); }
  const TStringList& NewsGroups() const noexcept { return newsgroups_.List(); }
  TStringList& ExtraFields() noexcept { return extra_fields_.List(); }
  const TStringList& ExtraFields() const noexcept { return extra_fields_.List(); }
  const std::string& ReadReceiptTo() const noexcept { return read_receipt_to_; }
  void SetReadReceiptTo(const std::string& v) { SetString(read_receipt_to_, v); }
  const std::string& MessageID() const noexcept { return message_id_; }
  void SetMessageID(const std::string& v) { SetString(message_id_, v); }
  std::int32_t CharsPerLine() const noexcept { return chars_per_line_; }
  void SetCharsPerLine(std::int32_t v);

  TclNotifyEvent OnChanged;
  TclGetBodyStreamEvent OnGetDataStream;
  TclGetBodyStreamEvent OnGetDataSourceStream;
  TclBodyDataAddedEvent OnDataAdded;
  TclBodyEncodingProgress OnEncodingProgress;

  // Internal state.
  const std::string& Boundary() const noexcept { return boundary_; }
  void SetBoundary(const std::string& v) { SetString(boundary_, v); }
  bool IsParsing() const noexcept { return is_parsing_; }
  int UpdateCount() const noexcept { return update_count_; }
  const TStringList& KnownFields() const noexcept { return known_fields_; }
  const TStringList& RawHeader() const noexcept { return raw_header_; }
  platform::Clock& Clock() const noexcept { return clock_; }
  // How many multipart levels lie above this message (0 for a message of its own).
  int NestingLevel() const noexcept { return nesting_level_; }

  // Parses one message: header lines, an empty line, body lines. The list is only read.
  void LoadMessage(const TStringList& lines);
  // The outline of one message, beside LoadMessage and far cheaper, for a caller that needs only
  // the envelope and the kinds of the parts (a mailbox index). The message is cleared; From,
  // ToList, Subject, Date, Priority and MessageID are set as LoadMessage sets them, and so are
  // CharSet, ContentType, ContentSubType, Boundary, ContentDisposition, Encoding and
  // MessageFormat, on which the split rests; Bodies holds one part per part LoadMessage makes, of
  // the same class and in the same order, so IsMultipart answers alike. Nothing else is taken:
  // the parts carry no content and none of their header fields (a text part holds no lines, a
  // nested multipart is not split), the other properties stay as Clear leaves them, and no event
  // but OnChanged fires. Parts are made through CreateBody and CreateUUAttachment; the part of a
  // message that is not multipart is chosen as TclMailMessage's CreateSingleBody chooses it. The
  // lines (header, empty line, body) are only read.
  void LoadOutline(std::span<const std::string_view> lines);
  virtual void Clear();
  void BeginUpdate() noexcept { ++update_count_; }
  void EndUpdate();
  void NotifyChanged();
  // True when there is more than one body, or during a parse when the header gave a boundary.
  virtual bool IsMultipart() const;
  // Whether attachments get a stream for their content: an OnGetDataStream handler is assigned
  // (for the parts of a nested multipart, the outer message's). A class that supplies streams by
  // overriding DoGetDataStream overrides this too.
  virtual bool SuppliesDataStreams() const;

  // Header parsing steps.
  void ParseHeader(const TStringList& lines);
  virtual void ParseContentType(const TStringList& lines, const TStringList& fieldList);
  void ApplyPriorityField(const TStringList& lines, const TStringList& fieldList,
                          std::string_view name, std::string_view lowValue,
                          std::string_view highValue);
  TDateTime ParseDate(const TStringList& lines, const TStringList& fieldList);
  // Copies the lines from start up to the first empty line into dest; returns the index of that
  // empty line, else of the last line, and 0 when start is past the end.
  static int CopyHeaderLines(int start, const TStringList& source, TStringList& dest);
  // One line per field of rawLines that is not in knownFields: "Name: unfolded value".
  static void ParseExtraFields(const TStringList& rawLines, const TStringList& knownFields,
                               TStringList& dest);

  // Body splitting.
  void ParseBodies(const TStringList& lines);
  virtual TclMessageBody& CreateBody(TclMessageBodies& bodies, std::string_view contentType,
                                     std::string_view disposition);
  virtual TclMessageBody& CreateSingleBody(const TStringList& lines, TclMessageBodies& bodies);
  virtual TclAttachmentBody& CreateUUAttachment(TclMessageBodies& bodies,
                                                const std::string& fileName);
  static bool IsUUBeginLine(std::string_view line, std::string& fileName);
  static bool IsUUEndLine(std::string_view line);

  // Composition: the "Content-Type" field of the message, and the body lines of all parts.
  virtual void BuildContentType(TStringList& lines);
  void BuildBodies(TStringList& lines);
  void BuildBodyData(TStringList& lines, TclMessageBody& body);
  // Boundary := "----=_NextPart_<now>.<random 0..999>".
  void GenerateBoundary();
  // Content identifiers: "<name>@<now>.<random 0..999>".
  std::string GenerateContentID(std::string_view name);
  void SetRandomSource(TclRandomSource source) { random_ = std::move(source); }
  int Random(int range);

  // Event operations: each calls its handler only when one is assigned.
  virtual void DoChanged();
  virtual void DoGetDataStream(TclMessageBody& body, const std::string& fileName,
                               std::unique_ptr<TStream>& data, bool& handled);
  virtual void DoGetDataSourceStream(TclMessageBody& body, const std::string& fileName,
                                     std::unique_ptr<TStream>& data, bool& handled);
  virtual void DoDataAdded(TclMessageBody& body, TStream& data);
  virtual void DoEncodingProgress(int bodyNo, int bytesProceed, int totalBytes);

  void Loaded() override;

 protected:
  virtual void RegisterFields();

  // Stored forms of the properties that are objects or events.
  TclMessageBodies* BodiesObject() { return bodies_.get(); }
  void SetBodiesObject(TclMessageBodies* v);
  TStrings* ToListObject() { return &to_list_; }
  void SetToListObject(TStrings* v) { SetListObject(to_list_, v); }
  TStrings* CCListObject() { return &cc_list_; }
  void SetCCListObject(TStrings* v) { SetListObject(cc_list_, v); }
  TStrings* BCCListObject() { return &bcc_list_; }
  void SetBCCListObject(TStrings* v) { SetListObject(bcc_list_, v); }
  TStrings* ReferencesObject() { return &references_; }
  void SetReferencesObject(TStrings* v) { SetListObject(references_, v); }
  TStrings* NewsGroupsObject() { return &newsgroups_; }
  void SetNewsGroupsObject(TStrings* v) { SetListObject(newsgroups_, v); }
  TStrings* ExtraFieldsObject() { return &extra_fields_; }
  void SetExtraFieldsObject(TStrings* v) { SetListObject(extra_fields_, v); }
  // Event entries name published methods of a stored form; the handlers set from code have no
  // name and are never stored.
  TMethod OnChangedMethod() const { return events_[0]; }
  void SetOnChangedMethod(const TMethod& m) { events_[0] = m; }
  TMethod OnGetDataStreamMethod() const { return events_[1]; }
  void SetOnGetDataStreamMethod(const TMethod& m) { events_[1] = m; }
  TMethod OnGetDataSourceStreamMethod() const { return events_[2]; }
  void SetOnGetDataSourceStreamMethod(const TMethod& m) { events_[2] = m; }
  TMethod OnDataAddedMethod() const { return events_[3]; }
  void SetOnDataAddedMethod(const TMethod& m) { events_[3] = m; }
  TMethod OnEncodingProgressMethod() const { return events_[4]; }
  void SetOnEncodingProgressMethod(const TMethod& m) { events_[4] = m; }

 private:
  friend class TclMultipartBody;
  void SetString(std::string& field, const std::string& v);
  void SetListObject(TStrings& list, TStrings* v);
  void ParseMultipartBodies(const TStringList& lines);
  void ParseSingleBody(const TStringList& lines);
  // The header fields, from a string list (LoadMessage: all of them) or from views (LoadOutline:
  // the envelope and the content fields).
  template <class Lines>
  void ReadHeaderFields(const Lines& lines, const TStringList& fieldList);
  template <class Lines>
  TDateTime ReadDate(const Lines& lines, const TStringList& fieldList);
  template <class Lines>
  void ReadPriorityField(const Lines& lines, const TStringList& fieldList, std::string_view name,
                         std::string_view lowValue, std::string_view highValue);
  void ReadContentType(const std::string& contentType, bool mimeHeader);
  // Whether the part of a message that is not multipart is an attachment (else it is text).
  bool SingleBodyIsAttachment() const;
  // LoadOutline's split: the parts' classes without their content.
  void OutlineBodies(std::span<const std::string_view> lines);
  void OutlineMultipartBodies(std::span<const std::string_view> lines);
  void OutlineSingleBody(std::span<const std::string_view> lines);
  // Whether content made of these lines (joined by CR LF, as a part receives it) gives a text
  // part a line that is not blank.
  bool ContentHasText(std::span<const std::string_view> lines);
  // True when the lines show that content beginning with them gives a text part a line that is
  // not blank, whatever follows them; false does not tell.
  bool StartHasText(std::span<const std::string_view> lines);
  TclMessageBody& CreateBodyFromHeader(int i, const TStringList& lines);
  void RemoveEmptyTextBodies();
  void AppendBodyData(std::string_view text);
  void FlushBodyData(TclMessageBody* body);

  platform::Clock& clock_;
  std::unique_ptr<TclMessageBodies> bodies_;
  std::string subject_;
  std::string from_;
  TStrings to_list_{this};
  TStrings cc_list_{this};
  TStrings bcc_list_{this};
  TclMessagePriority priority_ = mpNormal;
  TDateTime date_ = 0;
  std::string charset_;
  std::string content_type_;
  std::string content_sub_type_;
  std::string content_disposition_;
  TclMessageFormat message_format_ = mfNone;
  TclEncodeMethod encoding_ = cmNone;
  std::string mime_ole_;
  bool include_rfc822_header_ = true;
  std::string reply_to_;
  TStrings references_{this};
  TStrings newsgroups_{this};
  TStrings extra_fields_{this};
  std::string read_receipt_to_;
  std::string message_id_;
  std::int32_t chars_per_line_ = 76;

  std::string boundary_;
  int update_count_ = 0;
  bool is_parsing_ = false;
  TMemoryStream body_data_stream_;
  TStringList known_fields_;
  TStringList raw_header_;
  TStringList outline_fields_;  // LoadOutline's field index, kept for its storage
  int nesting_level_ = 0;
  // The message a nested multipart's scratch parser works for; its handlers are the outer's.
  TclMailMessage* outer_ = nullptr;
  TclRandomSource random_;
  TMethod events_[5];
};

template <class B>
B& TclMessageBodies::Add() {
  std::unique_ptr<B> body(new B(*this));
  B& ref = *body;
  AddBody(std::move(body));
  ref.CreateMembers();
  ref.Clear();
  return ref;
}

}  // namespace qv
