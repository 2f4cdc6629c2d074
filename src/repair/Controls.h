// The window's controls as a toolkit-free model: what a front end draws. Each change of a caption
// or of the enabled state is passed to the form's view.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "components/Component.h"

namespace qv {

struct TBounds {
  int left = 0, top = 0, width = 0, height = 0;
};

class TControl : public TComponent {
  QV_CLASS_INFO
 public:
  TControl(TComponent* owner, const char* name, TBounds bounds, std::string caption);

  const std::string& Caption() const noexcept { return caption_; }
  void SetCaption(const std::string& v);
  bool Enabled() const noexcept { return enabled_; }
  void SetEnabled(bool v);
  const TBounds& Bounds() const noexcept { return bounds_; }

  // Called after every change of caption or enabled state.
  std::function<void(TControl&)> OnChanged;

 private:
  std::string caption_;
  bool enabled_ = true;
  TBounds bounds_;
};

class TLabel : public TControl {
  QV_CLASS_INFO
 public:
  TLabel(TComponent* owner, const char* name, TBounds bounds, std::string caption, bool wordWrap)
      : TControl(owner, name, bounds, std::move(caption)), word_wrap_(wordWrap) {}
  bool WordWrap() const noexcept { return word_wrap_; }
  // Labels of this window keep their size whatever their text.
  bool AutoSize() const noexcept { return false; }

 private:
  bool word_wrap_;
};

class TButton : public TControl {
  QV_CLASS_INFO
 public:
  TButton(TComponent* owner, const char* name, TBounds bounds, std::string caption, int tabOrder)
      : TControl(owner, name, bounds, std::move(caption)), tab_order_(tabOrder) {}
  int TabOrder() const noexcept { return tab_order_; }

 private:
  int tab_order_;
};

}  // namespace qv
