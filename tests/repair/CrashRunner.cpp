// A repair on a real program folder whose file layer can end the process, or hold it, at its
// N-th file step (create, commit, sync, link, rename, removal, folder sync): how a crash or a
// slow disk meets the repair, for the tests that start it as a program.
//
//   qv_crash_runner --dir DIR --kill-at N        the process ends at the N-th step, as by a crash
//   qv_crash_runner --dir DIR --pause-at N MARK RELEASE
//                                                at the N-th step: MARK is made, then the run waits
//                                                until RELEASE exists
//   qv_crash_runner --dir DIR --start-only       start-up alone (what the next start does)
//
// Exit status: 0 when the files were replaced (or, with --start-only, when start-up offered the
// repair), 1 otherwise, 2 for bad usage. Start-up's messages and errors go to standard output.
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

#include "repair/Repair.h"
#include "support/FakePlatform.h"

#ifdef _WIN32
#include "platform/Win32.h"
#endif

namespace {

void EndAtOnce() {
  std::fflush(stdout);
#ifdef _WIN32
  ::TerminateProcess(::GetCurrentProcess(), 137);
#else
  std::raise(SIGKILL);
#endif
  std::_Exit(137);
}

class PrintingView : public qv::DialogView {
 public:
  void ControlChanged(const qv::TControl&) override {}
  void ShowError(const std::string& text) override { std::printf("error: %s\n", text.c_str()); }
  void ShowMessage(const std::string& text) override { std::printf("message: %s\n", text.c_str()); }
  void ProcessMessages() override {}
  void CloseWindow() override {}
};

}  // namespace

int main(int argc, char** argv) {
  std::string dir, mark, release;
  long killAt = -1, pauseAt = -1;
  bool startOnly = false;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (a == "--dir" && i + 1 < argc) {
      dir = argv[++i];
    } else if (a == "--kill-at" && i + 1 < argc) {
      killAt = std::strtol(argv[++i], nullptr, 10);
    } else if (a == "--pause-at" && i + 3 < argc) {
      pauseAt = std::strtol(argv[++i], nullptr, 10);
      mark = argv[++i];
      release = argv[++i];
    } else if (a == "--start-only") {
      startOnly = true;
    } else {
      return 2;
    }
  }
  if (dir.empty()) return 2;

  qv::platform::SystemPlatform real;
  qv::test::FaultyFileSystem files;
  long step = 0;
  files.failWhen = [&](const std::string&, const std::string&) {
    ++step;
    if (step == killAt) EndAtOnce();
    if (step == pauseAt) {
      std::ofstream(mark) << "paused\n";
      while (!std::filesystem::exists(release))
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
  };
  PrintingView view;
  qv::TComponentRegistry registry;
  qv::TForm1 form({files, real.clock, real.locale, real.probe, real.beeper}, view, registry);
  form.SetAppDir(dir);
  form.FormShow();
  const bool offered = form.CurrentState() == qv::TForm1::State::Ready;
  if (startOnly) return offered ? 0 : 1;
  if (offered) form.Button1Click();
  form.FormClose();
  return form.Replaced() ? 0 : 1;
}
