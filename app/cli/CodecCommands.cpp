// encode, decode, preferred: the transfer encoder between standard input and standard output.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "Commands.h"
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

// Standard input and output carry bytes unchanged (no text-mode translation on POSIX).
std::string ReadStandardInput() {
  std::string data;
  char buffer[65536];
  for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, stdin)) > 0;)
    data.append(buffer, n);
  if (std::ferror(stdin)) throw EReadError(kStreamReadError);
  return data;
}

int WriteStandardOutput(const std::string& data) {
  if (std::fwrite(data.data(), 1, data.size(), stdout) != data.size() || std::fflush(stdout) != 0) {
    std::fprintf(stderr, "qvrepair-cli: cannot write standard output\n");
    return 1;
  }
  return 0;
}

const char* MethodName(TclEncodeMethod method) {
  switch (method) {
    case cmMIMEQuotedPrintable:
      return "cmMIMEQuotedPrintable";
    case cmMIMEBase64:
      return "cmMIMEBase64";
    default:
      return "cmNone";
  }
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
  const std::string input = ReadStandardInput();
  if (stringForm) return WriteStandardOutput(encoder.EncodeString(input, method));
  TMemoryStream source(input), destination;
  encoder.Encode(source, destination, method);
  return WriteStandardOutput(destination.DataString());
}

int RunDecode(const Args& args) {
  if (args.size() != 1) return UsageError("decode: expected exactly one METHOD");
  TclEncodeMethod method;
  if (!ParseMethod(args[0], method)) return UsageError("decode: unknown method '" + args[0] + "'");
  TclEncoder encoder;
  TMemoryStream source(ReadStandardInput()), destination;
  try {
    encoder.Decode(source, destination, method);
  } catch (const EclEncoderError& e) {
    std::fprintf(stderr, "%s\n", e.what());
    return 1;
  }
  return WriteStandardOutput(destination.DataString());
}

int RunPreferred(const Args& args) {
  if (!args.empty()) return UsageError("preferred: takes no arguments");
  const std::string input = ReadStandardInput();
  std::printf("%s\n", MethodName(TclEncoder::GetPreferredEncoding(input)));
  return std::fflush(stdout) == 0 ? 0 : 1;
}

}  // namespace qv::cli
