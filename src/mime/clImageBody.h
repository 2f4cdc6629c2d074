// TclImageBody: an attachment that is a picture, its type taken from its file name.
#pragma once

#include <string>

#include "mime/clAttachmentBody.h"

namespace qv {

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

}  // namespace qv
