// TclMailMessage: one Internet mail message held as typed header properties and an owned
// collection of body parts, with the parser that turns the lines of a raw message into them. This
// header brings the parts' classes (clMessageBodies.h, clMessageBody.h and the body classes) with
// it.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <string_view>

#include "base/DateTime.h"
#include "base/Errors.h"
#include "base/Stream.h"
#include "base/StringList.h"
#include "codec/clEncoder.h"
#include "codec/clMailHeader.h"
#include "components/Component.h"
#include "components/Filer.h"
#include "components/Strings.h"
#include "mime/clAttachmentBody.h"
#include "mime/clImageBody.h"
#include "mime/clMessageBodies.h"
#include "mime/clMessageBody.h"
#include "mime/clMessageEnums.h"
#include "mime/clMultipartBody.h"
#include "mime/clTextBody.h"
#include "platform/Platform.h"

namespace qv {

inline constexpr const char* kDefaultMimeOLE = "Produced By Velmora MimeOLE v 6.0";

// Multipart parts nest through a parse per level. Below this many levels a "multipart/" part is
// kept as an attachment part with its raw content instead of being parsed again, so hostile mail
// cannot exhaust the stack. Real mail nests a handful of levels.
inline constexpr int kMaxBodyNesting = 100;

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
  // Makes the part whose delimiter is lines[i] from its header; dataStart and pending: where its
  // content begins, and the first line of it held back.
  TclMessageBody& OpenPart(const TStringList& lines, int i, std::string_view delimiter,
                           int& dataStart, std::string_view& pending);
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

}  // namespace qv
