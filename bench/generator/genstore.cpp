// qvrepair-genstore: writes a generated message store, or a whole program folder around one.
#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#endif

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <exception>
#include <memory>
#include <string>
#include <string_view>

#include "generator/ProgramFolder.h"
#include "generator/StoreGenerator.h"
#include "platform/SystemPlatform.h"

namespace {

constexpr const char* kUsage =
    "usage: qvrepair-genstore --mix attachments|text|varied (--size BYTES | --count N) --seed N\n"
    "                         [--lf|--crlf|--mixed] [--no-id-every N] [--duplicate-id-every N]\n"
    "                         (--out FILE | --program-dir DIR [--mailbox NAME])\n"
    "  BYTES may end in K, M or G (powers of 1024). --out - writes to standard output.\n"
    "  The summary goes to standard error.\n";

int Usage(const std::string& problem) {
  if (!problem.empty()) std::fprintf(stderr, "qvrepair-genstore: %s\n", problem.c_str());
  std::fputs(kUsage, stderr);
  return 2;
}

bool ParseNumber(std::string_view text, std::uint64_t& value, bool suffixes) {
  if (text.empty()) return false;
  std::uint64_t v = 0;
  std::size_t i = 0;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
    if (v > (UINT64_MAX - 9) / 10) return false;
    v = v * 10 + static_cast<std::uint64_t>(text[i] - '0');
  }
  if (i == 0) return false;
  if (i < text.size()) {
    if (!suffixes || i + 1 != text.size()) return false;
    const char s = text[i];
    const int shift = s == 'K' || s == 'k'   ? 10
                      : s == 'M' || s == 'm' ? 20
                      : s == 'G' || s == 'g' ? 30
                                             : -1;
    if (shift < 0 || v > (UINT64_MAX >> shift)) return false;
    v <<= shift;
  }
  value = v;
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  using namespace qv::gen;
#ifdef _WIN32
  // A store written to standard output keeps its bytes (no CR added before LF); the summary on
  // standard error ends its line as on every system.
  ::_setmode(::_fileno(stdout), _O_BINARY);
  ::_setmode(::_fileno(stderr), _O_BINARY);
#endif
  StoreOptions store;
  std::string out, programDir, mailbox = "mailbox";
  bool haveMix = false, haveSeed = false, haveLimit = false;
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    const auto value = [&](std::string_view& v) {
      if (i + 1 >= argc) return false;
      v = argv[++i];
      return true;
    };
    std::string_view v;
    std::uint64_t n = 0;
    if (arg == "--lf") {
      store.lineEnds = LineEnds::kLF;
    } else if (arg == "--crlf") {
      store.lineEnds = LineEnds::kCRLF;
    } else if (arg == "--mixed") {
      store.lineEnds = LineEnds::kMixed;
    } else if (arg == "--help" || arg == "-h") {
      std::fputs(kUsage, stdout);
      return 0;
    } else if (!value(v)) {
      return Usage(std::string(arg) == "" ? "empty argument"
                                          : "unknown or incomplete option " + std::string(arg));
    } else if (arg == "--mix") {
      if (v == "attachments")
        store.mix = Mix::kAttachments;
      else if (v == "text")
        store.mix = Mix::kText;
      else if (v == "varied")
        store.mix = Mix::kVaried;
      else
        return Usage("unknown mix " + std::string(v));
      haveMix = true;
    } else if (arg == "--size" || arg == "--count" || arg == "--seed" || arg == "--no-id-every" ||
               arg == "--duplicate-id-every") {
      if (!ParseNumber(v, n, arg == "--size")) return Usage("bad number for " + std::string(arg));
      if (arg == "--size")
        store.size = n, haveLimit = haveLimit || n > 0;
      else if (arg == "--count")
        store.count = n, haveLimit = haveLimit || n > 0;
      else if (arg == "--seed")
        store.seed = n, haveSeed = true;
      else if (n > UINT32_MAX)
        return Usage("number too large for " + std::string(arg));
      else if (arg == "--no-id-every")
        store.noIdEvery = static_cast<std::uint32_t>(n);
      else
        store.duplicateIdEvery = static_cast<std::uint32_t>(n);
    } else if (arg == "--out") {
      out = v;
    } else if (arg == "--program-dir") {
      programDir = v;
    } else if (arg == "--mailbox") {
      mailbox = v;
    } else {
      return Usage("unknown option " + std::string(arg));
    }
  }
  if (!haveMix || !haveSeed) return Usage("--mix and --seed are required");
  if (!haveLimit) return Usage("--size or --count is required");
  if (out.empty() == programDir.empty()) return Usage("give either --out or --program-dir");
  if (mailbox.empty() || mailbox.find('/') != std::string::npos) return Usage("bad mailbox name");

  try {
    if (!programDir.empty()) {
      qv::platform::SystemFileSystem files;
      const ProgramSummary s = WriteProgramFolder({store, programDir, mailbox}, files);
      std::fprintf(stderr,
                   "messages %llu, bytes %llu, largest %llu; folders %d, old entries %llu "
                   "(%llu match the store, %llu of them outside the Inbox, %llu read)\n",
                   static_cast<unsigned long long>(s.store.messages),
                   static_cast<unsigned long long>(s.store.bytes),
                   static_cast<unsigned long long>(s.store.largestMessage), s.folders,
                   static_cast<unsigned long long>(s.oldEntries),
                   static_cast<unsigned long long>(s.matching),
                   static_cast<unsigned long long>(s.outsideInbox),
                   static_cast<unsigned long long>(s.read));
      return 0;
    }
    std::FILE* file = out == "-" ? stdout : std::fopen(out.c_str(), "wb");
    if (!file) {
      std::fprintf(stderr, "qvrepair-genstore: cannot create %s: %s\n", out.c_str(),
                   std::strerror(errno));
      return 1;
    }
    std::setvbuf(file, nullptr, _IOFBF, 1 << 20);
    bool failed = false;
    const StoreSummary s = WriteStore(store, [&](std::string_view message) {
      if (!failed && std::fwrite(message.data(), 1, message.size(), file) != message.size())
        failed = true;
    });
    if (std::fflush(file) != 0) failed = true;
    if (file != stdout && std::fclose(file) != 0) failed = true;
    if (failed) {
      std::fprintf(stderr, "qvrepair-genstore: cannot write %s: %s\n", out.c_str(),
                   std::strerror(errno));
      return 1;
    }
    std::fprintf(stderr, "messages %llu, bytes %llu, largest %llu\n",
                 static_cast<unsigned long long>(s.messages),
                 static_cast<unsigned long long>(s.bytes),
                 static_cast<unsigned long long>(s.largestMessage));
    return 0;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "qvrepair-genstore: %s\n", e.what());
    return 1;
  }
}
