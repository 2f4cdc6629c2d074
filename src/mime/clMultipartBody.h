// TclMultipartBody: a part that holds parts of its own, split by a boundary of its own.
#pragma once

#include <memory>
#include <string>

#include "mime/clMessageBody.h"

namespace qv {

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

}  // namespace qv
