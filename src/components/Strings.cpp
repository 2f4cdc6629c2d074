#include "components/Strings.h"

#include "components/Filer.h"

namespace qv {

const TClassInfo& TStrings::StaticClassInfo() {
  static const TClassInfo info("TStrings", &TPersistent::StaticClassInfo(), {});
  return info;
}

void TStrings::CopyFrom(const TPersistent* source) {
  const auto* s = dynamic_cast<const TStrings*>(source);
  if (!s) AssignError(source);
  list_.Assign(s->list_);
}

void TStrings::DefineProperties(TFiler& filer) {
  filer.DefineProperty(
      "Strings",
      [this](TReader& r) {
        r.ReadListBegin();
        list_.BeginUpdate();
        list_.Clear();
        try {
          while (!r.EndOfList())
            list_.Add(r.ReadString());
        } catch (...) {
          list_.EndUpdate();
          throw;
        }
        list_.EndUpdate();
        r.ReadListEnd();
      },
      [this](TWriter& w) {
        w.WriteListBegin();
        for (const auto& item : list_)
          w.WriteString(item.text);
        w.WriteListEnd();
      },
      !list_.Empty());
}

}  // namespace qv
