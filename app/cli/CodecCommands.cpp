// encode, decode, preferred: the transfer encoder between standard input and standard output.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

#include "Commands.h"
#include "StandardStreams.h"
#include "base/Errors.h"
#include "base/Stream.h"
#include "codec/clEncoder.h"

namespace qv::cli {

namespace {

bool ParseMethod(const std::string& name, TclEncodeMethod& method) {
  static const struct {
    const char* name;
    TclEncodeMethod method;
  } kMethods[] = {{"none", cmNone},
                  {"quoted-printable", cmMIMEQuotedPrintable},
                  {"base64", cmMIMEBase64},
                  {"uuencode", cmUUEncode},
                  {"8bit", cm8Bit}};
  for (const auto& m : kMethods) {
    if (name == m.name) {
      method = m.method;
      return true;
    }
  }
  return false;
}

bool ParseInt(const std::string& text, int& value) {
  if (text.empty()) return false;
  char* end = nullptr;
  errno = 0;
  const long v = std::strtol(text.c_str(), &end, 10);
  if (*end != '\0' || errno == ERANGE || v < -2147483647L - 1 || v > 2147483647L) return false;
  value = static_cast<int>(v);
  return true;
}

// Runs a command that writes to standard output. A failed write is reported in the command's own
// words; everything else that goes wrong reaches the caller.
template <class Body>
int WithStandardOutput(StandardOutput& output, Body body) {
  try {
    body();
  } catch (const EWriteError&) {
    if (!output.Failed()) throw;
  }
  if (!output.Finish()) {
    std::fprintf(stderr, "qvrepair-cli: cannot write standard output\n");
    return 1;
  }
  return 0;
}

}  // namespace

int RunEncode(const Args& args) {
  if (args.empty()) return UsageError("encode: METHOD is missing");
  TclEncodeMethod method;
  if (!ParseMethod(args[0], method)) return UsageError("encode: unknown method '" + args[0] + "'");
  TclEncoder encoder;
  bool stringForm = false;
  for (std::size_t i = 1; i < args.size(); ++i) {
    if (args[i] == "--chars") {
      int chars = 0;
      if (i + 1 >= args.size() || !ParseInt(args[i + 1], chars))
        return UsageError("encode: --chars needs a whole number");
      encoder.SetCharsPerLine(chars);
      ++i;
    } else if (args[i] == "--suppress-crlf") {
      encoder.SetSuppressCrlf(true);
    } else if (args[i] == "--string") {
      stringForm = true;
    } else {
      return UsageError("encode: unknown option '" + args[i] + "'");
    }
  }
  // Standard input and output carry bytes unchanged, block by block.
  const std::unique_ptr<TStream> input = OpenStandardInput(encoder.ReadsSourceTwice(method, false));
  StandardOutput output;
  return WithStandardOutput(output, [&] {
    if (stringForm)
      encoder.EncodeString(*input, output, method);
    else
      encoder.Encode(*input, output, method);
  });
}

int RunDecode(const Args& args) {
  if (args.size() != 1) return UsageError("decode: expected exactly one METHOD");
  TclEncodeMethod method;
  if (!ParseMethod(args[0], method)) return UsageError("decode: unknown method '" + args[0] + "'");
  TclEncoder encoder;
  const std::unique_ptr<TStream> input = OpenStandardInput(encoder.ReadsSourceTwice(method, true));
  StandardOutput output;
  // Nothing reaches standard output when the input does not decode. Base64 decoding checks the
  // whole input before it writes anything, and uudecoding and the plain copies never fail on
  // their input, so they write straight through; quoted-printable decoding can fail anywhere, so
  // its output waits in a spool until the end.
  OutputSpool spool;
  const bool spooled = method == cmMIMEQuotedPrintable;
  try {
    return WithStandardOutput(output, [&] {
      encoder.Decode(*input, spooled ? static_cast<TStream&>(spool) : output, method);
      if (spooled) spool.CopyTo(output);
    });
  } catch (const EclEncoderError& e) {
    std::fprintf(stderr, "%s\n", e.what());
    return 1;
  }
}

int RunPreferred(const Args& args) {
  if (!args.empty()) return UsageError("preferred: takes no arguments");
  const std::unique_ptr<TStream> input = OpenStandardInput(false);
  const TclEncodeMethod method = TclEncoder::GetPreferredEncoding(*input);
  std::printf("%s\n", std::string(kEncodeMethodInfo.NameOf(method)).c_str());
  return std::fflush(stdout) == 0 ? 0 : 1;
}

}  // namespace qv::cli
