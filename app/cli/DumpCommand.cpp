// qvrepair-cli dump FILE: a component stream file (an index, a profile) as indented text, read
// without the model classes so that files the model would reject show as well.
#include <cstdio>
#include <string>
#include <string_view>

#include "Commands.h"
#include "base/Errors.h"
#include "base/Stream.h"
#include "components/StreamTree.h"

namespace qv::cli {

int RunDump(const Args& args) {
  if (args.size() != 1) return UsageError("dump takes one FILE");
  TFileStream stream(args[0], FileMode::OpenRead);
  // The text goes out as it is read, up to its first NUL byte, as when it was written whole.
  bool ended = false;
  const auto print = [&ended](std::string_view text) {
    if (ended) return;
    const std::size_t nul = text.find('\0');
    ended = nul != std::string_view::npos;
    std::fwrite(text.data(), 1, ended ? nul : text.size(), stdout);
  };
  try {
    WriteStreamTree(stream, print);
  } catch (const Exception& e) {
    std::fflush(stdout);
    std::fprintf(stderr, "qvrepair-cli: %s: %s\n", args[0].c_str(), e.what());
    return 1;
  }
  return 0;
}

}  // namespace qv::cli
