// The repair window on Qt 6 Widgets: draws TForm1's two labels and two buttons, shows its error
// boxes, and keeps the window responsive during a run. No repair logic and no rule of its own
// lives here: every click and every close goes to the DialogController, and every change of the
// form's controls comes back through DialogView.
#pragma once

#include <QFont>
#include <QMargins>
#include <QSize>
#include <QString>
#include <QStringList>
#include <QWidget>
#include <functional>
#include <memory>
#include <string>

#include "DialogOptions.h"
#include "platform/Platform.h"
#include "repair/DialogController.h"

class QLabel;
class QPushButton;

namespace qv::gui {

// The error sound through the windowing system.
class QtBeeper : public platform::Beeper {
 public:
  void ErrorBeep() override;
};

// Text of the form (ANSI) or of the system (UTF-8) for display: valid UTF-8 is taken as such,
// anything else as the ANSI code page.
QString DisplayText(const std::string& text);

using ProgramOptions = app::DialogOptions;
ProgramOptions ParseArguments(const QStringList& arguments);

class RepairDialog : public QWidget, public DialogView {
 public:
  // The dialog makes its form with these services and itself as the form's view.
  RepairDialog(platform::Services services, TComponentRegistry& registry);
  ~RepairDialog() override;

  TForm1& Form() noexcept { return controller_->Form(); }
  const TForm1& Form() const noexcept { return controller_->Form(); }
  QLabel& Label1() noexcept { return *label1_; }
  QLabel& Label2() noexcept { return *label2_; }
  QPushButton& Button1() noexcept { return *button1_; }
  QPushButton& Button2() noexcept { return *button2_; }

  // True once FormShow has run (shortly after the window was first shown).
  bool Started() const noexcept { return controller_->Started(); }
  // How often ProcessMessages actually let the event loop run.
  int EventPumps() const noexcept { return controller_->Pumps(); }
  // How many close requests were refused.
  int RefusedCloses() const noexcept { return controller_->RefusedCloses(); }

  // The dpi factor in use (the screen's logical dpi over 96) and the geometry it gives.
  double Scale() const noexcept { return scale_; }
  // Lays the window out for a dpi factor; done for the screen's dpi when the dialog is made.
  void ApplyScale(double scale);
  // The outer size the window keeps (title bar and borders included).
  QSize OuterSize() const;
  // The client size for a given window frame; without a frame (no window manager, offscreen)
  // the frame of a plain dialog is assumed, so the controls keep their margins.
  QSize ClientSizeFor(const QMargins& frame) const;
  QRect Scaled(const TBounds& b) const;

  // Called on every ProcessMessages, before the event loop is given a turn (tests watch the
  // run through it).
  std::function<void()> OnProcessMessages;

  // DialogView
  void ControlChanged(const TControl& control) override;
  void ShowError(const std::string& text) override;
  void ShowMessage(const std::string& text) override;
  void ProcessMessages() override;
  void CloseWindow() override;

 protected:
  void showEvent(QShowEvent* event) override;
  void closeEvent(QCloseEvent* event) override;
  void moveEvent(QMoveEvent* event) override;

 private:
  QWidget* WidgetOf(const TControl& control) const;
  void SyncControl(const TControl& control);
  void SyncAll();
  void Start();
  void FitToFrame();
  void Centre();

  std::unique_ptr<DialogController> controller_;
  QLabel* label1_ = nullptr;
  QLabel* label2_ = nullptr;
  QPushButton* button1_ = nullptr;
  QPushButton* button2_ = nullptr;
  double scale_ = 1.0;
  QMargins frame_;
  bool show_pending_ = true;
  bool frame_fitted_ = false;
};

// The font of the window at a dpi factor: "Tahoma" 8 point (11 pixels at 96 dpi), else the
// closest installed sans-serif.
QFont FormFont(double scale);
// The warning label's font: the form font, narrowed step by step (and, as a last resort, made
// smaller) until the wrapped text fits the label's rectangle.
QFont FitWrappedText(const QFont& base, const QString& text, const QSize& box);
// Whether a word-wrapped text fits a box in a font.
bool WrappedTextFits(const QFont& font, const QString& text, const QSize& box);

}  // namespace qv::gui
