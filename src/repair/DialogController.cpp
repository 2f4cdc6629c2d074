#include "repair/DialogController.h"

#include <exception>

namespace qv {

bool Pacer::Due() {
  const auto now = now_();
  if (turns_ > 0 && now - last_ < interval_) return false;
  last_ = now;
  ++turns_;
  return true;
}

DialogController::DialogController(platform::Services services, DialogView& view,
                                   TComponentRegistry& registry, Pacer::TimeSource now)
    : form_(std::make_unique<TForm1>(services, view, registry)),
      pumps_(kPumpInterval, std::move(now)) {}

DialogController::~DialogController() {
  if (!closed_) form_->FormClose();
}

void DialogController::Guarded(const std::function<void()>& handler) {
  try {
    handler();
  } catch (const std::exception& e) {
    form_->ReportError(e.what());
  } catch (...) {
    form_->ReportError("Unknown error.");
  }
}

bool DialogController::Start() {
  if (started_ || closed_) return false;
  Guarded([this] { form_->FormShow(); });
  started_ = true;
  return true;
}

void DialogController::Button1Click() {
  if (started_) Guarded([this] { form_->Button1Click(); });
}

void DialogController::Button2Click() {
  Guarded([this] { form_->Button2Click(); });
}

bool DialogController::Close() {
  if (!form_->CloseQuery()) {
    ++refused_closes_;
    return false;
  }
  if (!closed_) {
    closed_ = true;
    form_->FormClose();
  }
  return true;
}

bool DialogController::MayEndSession() {
  if (form_->CloseQuery()) return true;
  ++refused_closes_;
  return false;
}

}  // namespace qv
