// TclTextBody: a part of text, held as lines in its character set.
#pragma once

#include <memory>
#include <string>

#include "mime/clMessageBody.h"

namespace qv {

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

}  // namespace qv
