// qvrepair: the repair window. "--dir DIR" points it at another program folder; without it the
// folder of the executable is the program folder.
#include <QApplication>
#include <cstdio>
#include <cstring>

#include "RepairDialog.h"
#include "platform/SystemPlatform.h"

int main(int argc, char** argv) {
  // The usage is printed without connecting to a display.
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
      std::printf("usage: qvrepair [--dir DIR]\n");
      return 0;
    }
  }
  QApplication app(argc, argv);
  QApplication::setApplicationName(QStringLiteral("qvrepair"));
  const qv::gui::ProgramOptions options = qv::gui::ParseArguments(QCoreApplication::arguments());
  if (!options.error.empty()) {
    std::fprintf(options.help ? stdout : stderr, "%s\n", options.error.c_str());
    return options.help ? 0 : 2;
  }

  qv::platform::SystemPlatform platform;
  qv::gui::QtBeeper beeper;
  const qv::platform::Services services{platform.files, platform.clock, platform.locale,
                                        platform.probe, beeper};
  qv::TComponentRegistry registry;
  qv::gui::RepairDialog dialog(services, registry);
  if (!options.dir.empty()) dialog.Form().SetAppDir(options.dir);
  dialog.show();
  return QApplication::exec();
}
