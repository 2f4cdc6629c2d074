// qvrepair-cli dump FILE: a component stream file (an index, a profile) as indented text, read
// without the model classes so that files the model would reject show as well.
#include <cstdio>
#include <memory>
#include <string>

#include "Commands.h"
#include "base/Errors.h"
#include "base/Stream.h"
#include "components/StreamTree.h"
#include "platform/SystemPlatform.h"

namespace qv::cli {

int RunDump(const Args& args) {
  if (args.size() != 1) return UsageError("dump takes one FILE");
  platform::SystemFileSystem files;
  const std::unique_ptr<TStream> stream = files.OpenRead(args[0]);
  TStreamRecord root;
  try {
    ReadStreamTree(*stream, root);
  } catch (const Exception& e) {
    Print(stdout, FormatStreamTree(root));
    std::fflush(stdout);
    Print(stderr, "qvrepair-cli: " + args[0] + ": " + e.what() + "\n");
    return 1;
  }
  Print(stdout, FormatStreamTree(root));
  return 0;
}

}  // namespace qv::cli
