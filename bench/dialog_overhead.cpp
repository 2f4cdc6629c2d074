// How much the dialog slows a repair: the same program folder repaired alternately by TForm1
// behind the Qt dialog (offscreen) and behind a view that shows nothing, as the command line
// does when its output is not a terminal. Prints the median wall time of each and their ratio.
//
//   dialog_overhead PROGRAM_DIR [RUNS]
#include <QApplication>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "RepairDialog.h"
#include "platform/SystemPlatform.h"
#include "repair/Repair.h"

namespace fs = std::filesystem;

namespace {
class SilentView : public qv::DialogView {
 public:
  void ControlChanged(const qv::TControl&) override {}
  void ShowError(const std::string& text) override {
    std::fprintf(stderr, "Error: %s\n", text.c_str());
  }
  void ShowMessage(const std::string& text) override { std::fprintf(stderr, "%s\n", text.c_str()); }
  void ProcessMessages() override {}
  void CloseWindow() override {}
};

fs::path FreshCopy(const fs::path& source, const fs::path& scratch) {
  fs::remove_all(scratch);
  fs::copy(source, scratch, fs::copy_options::recursive);
  return scratch;
}

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}
}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: dialog_overhead PROGRAM_DIR [RUNS]\n");
    return 2;
  }
  ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
  QApplication app(argc, argv);
  const fs::path source = argv[1];
  const int runs = argc > 2 ? std::atoi(argv[2]) : 5;
  const fs::path scratch = fs::temp_directory_path() / "qvrepair-dialog-overhead";
  std::vector<double> plain, dialog;
  for (int i = 0; i < runs; ++i) {
    for (int withDialog = 0; withDialog < 2; ++withDialog) {
      const fs::path dir = FreshCopy(source, scratch);
      qv::platform::SystemPlatform platform;
      qv::TComponentRegistry registry;
      const auto start = std::chrono::steady_clock::now();
      bool replaced;
      if (withDialog) {
        qv::gui::RepairDialog window(platform.services(), registry);
        window.Form().SetAppDir(dir.string());
        window.show();
        // The dialog runs the start-up checks itself once it is on screen.
        const auto deadline = start + std::chrono::seconds(30);
        while (!window.Started() && std::chrono::steady_clock::now() < deadline)
          QApplication::processEvents(QEventLoop::AllEvents, 10);
        if (!window.Started()) {
          std::fprintf(stderr, "the dialog did not start\n");
          return 1;
        }
        window.Form().Button1Click();
        replaced = window.Form().Replaced();
      } else {
        SilentView view;
        qv::TForm1 form(platform.services(), view, registry);
        form.SetAppDir(dir.string());
        form.FormShow();
        form.Button1Click();
        replaced = form.Replaced();
      }
      const double s =
          std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
      if (!replaced) {
        std::fprintf(stderr, "the repair did not complete\n");
        return 1;
      }
      (withDialog ? dialog : plain).push_back(s);
    }
  }
  fs::remove_all(scratch);
  const double p = Median(plain), d = Median(dialog);
  std::printf("runs %d: without window %.3f s, dialog %.3f s, ratio %.3f\n", runs, p, d, d / p);
  return 0;
}
