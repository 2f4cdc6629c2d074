// TclAttachmentBody: a part that is a file, named and identified, whose content goes to a stream
// the message supplies.
#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "mime/clMessageBody.h"

namespace qv {

// A file name without its folder (the text after the last "\\", "/" or ":").
std::string_view FileNameWithoutFolder(std::string_view name);

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

}  // namespace qv
