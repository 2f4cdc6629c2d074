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
    std::fputs(FormatStreamTree(root).c_str(), stdout);
    std::fflush(stdout);
    std::fprintf(stderr, "qvrepair-cli: %s: %s\n", args[0].c_str(), e.what());
    return 1;
  }
  std::fputs(FormatStreamTree(root).c_str(), stdout);
  return 0;
}

}  // namespace qv::cli
