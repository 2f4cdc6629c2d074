// The repair window on the Win32 API: a dialog made from its resource that draws TForm1's two
// labels and two buttons, shows its boxes with MessageBoxW, and keeps the window responsive
// during a run. No repair logic and no rule of its own lives here: every click and every close
// goes to the DialogController, and every change of the form's controls comes back through
// DialogView.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "DialogOptions.h"
#include "platform/Platform.h"
#include "repair/DialogController.h"

// After the project's headers: see platform/Win32.h.
#include "platform/Win32.h"

namespace qv::win32 {

using ProgramOptions = app::DialogOptions;
inline ProgramOptions ParseArguments(const std::vector<std::string>& arguments) {
  return app::ParseDialogArguments(arguments);
}

// Shows a box as MessageBoxA does (its arguments and result), the texts as the form gives them
// (see platform::TextToUtf8).
using BoxFunction =
    std::function<int(HWND owner, const std::string& text, const std::string& title, UINT type)>;

// The height of the window's font ("Tahoma", 8 point) at a dpi, as LOGFONT takes it.
int FontHeight(int dpi);
// The dpi of the screen as the system gives it to the program (96 when it cannot tell).
int SystemDpi();

class RepairWindow : public DialogView {
 public:
  // The window makes its form with these services and itself as the form's view. The dialog
  // resource is taken from `instance` (the program's own module by default).
  RepairWindow(platform::Services services, TComponentRegistry& registry,
               HINSTANCE instance = nullptr);
  ~RepairWindow() override;
  RepairWindow(const RepairWindow&) = delete;
  RepairWindow& operator=(const RepairWindow&) = delete;

  TForm1& Form() noexcept { return controller_->Form(); }
  const TForm1& Form() const noexcept { return controller_->Form(); }

  // Makes the window, hidden, laid out for the system's dpi and centred on its screen; false
  // when the system refused (GetLastError tells why).
  bool Create();
  // Shows it; the start-up checks (FormShow) run at the next turn of the message loop.
  void Show();
  // Runs the message loop until the window has closed; the program's exit status.
  int Run();

  // The window (null before Create and once it has closed) and the control drawing one of the
  // form's controls.
  HWND Handle() const noexcept { return hwnd_; }
  HWND ControlOf(const TControl& control) const;

  // True once FormShow has run (at the first turn of the loop after the window was shown).
  bool Started() const noexcept { return controller_->Started(); }
  // How often ProcessMessages actually let the window's messages run.
  int EventPumps() const noexcept { return controller_->Pumps(); }
  // How many close requests were refused.
  int RefusedCloses() const noexcept { return controller_->RefusedCloses(); }

  // Lays the window out for a dpi: the font, the controls' rectangles and the outer size, which
  // is then centred. Done for the system's dpi when the window is made.
  void ApplyDpi(int dpi);
  int Dpi() const noexcept { return dpi_; }
  // A length or a rectangle of the form (pixels at 96 dpi) at the dpi in use.
  int Scaled(int v) const;
  RECT Scaled(const TBounds& b) const;
  // The outer size the window keeps (title bar and borders included).
  SIZE OuterSize() const;

  // How boxes are shown (MessageBoxA); tests put something else here.
  BoxFunction ShowBox;
  // Called on every ProcessMessages, after the labels have taken the form's texts when the
  // window's messages are given a turn, before they run (tests watch the run through it).
  std::function<void()> OnProcessMessages;

  // DialogView
  void ControlChanged(const TControl& control) override;
  void ShowError(const std::string& text) override;
  void ShowMessage(const std::string& text) override;
  void ProcessMessages() override;
  void CloseWindow() override;

 private:
  static INT_PTR CALLBACK DialogProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
  INT_PTR OnMessage(UINT message, WPARAM wParam, LPARAM lParam);
  void InitDialog();
  void SyncControl(const TControl& control);
  void SyncAll();
  bool IsLabel(const TControl& control) const;
  // Gives the labels the texts the form set while they were held back during a run.
  void SyncPendingLabels();
  void Start();
  void Centre();
  // A close from the program, the keyboard or the window manager: refused during a run.
  void RequestClose();
  // Hands a message to the dialog or to whatever window it is for.
  void Dispatch(MSG& msg);
  // Gives the keyboard focus to the first enabled button when no enabled control has it.
  void KeepFocus();
  HWND BoxOwner() const;

  std::unique_ptr<DialogController> controller_;
  HINSTANCE instance_;
  HWND hwnd_ = nullptr;
  HWND label1_ = nullptr;
  HWND label2_ = nullptr;
  HWND button1_ = nullptr;
  HWND button2_ = nullptr;
  HFONT font_ = nullptr;
  HICON icon_ = nullptr;
  int dpi_ = 96;
  bool show_pending_ = true;
  bool labels_pending_ = false;
};

}  // namespace qv::win32
