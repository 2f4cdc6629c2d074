// Where encoded content does not decode cleanly: the first byte at fault, by line and column, or
// none for content that decodes as the sender meant it.
#include <gtest/gtest.h>

#include <optional>
#include <string_view>
#include <utility>
#include <vector>

#include "codec/clEncodingCheck.h"

namespace qv {
namespace {

using Lines = std::vector<std::string_view>;
using Where = std::optional<std::pair<std::size_t, std::size_t>>;  // line, column

Where At(std::optional<EncodingFault> f) {
  return f ? Where({f->line, f->column}) : std::nullopt;
}

TEST(EncodingCheck, FindsTheFirstByteThatDoesNotDecodeCleanly) {
  struct Case {
    const char* name;
    std::optional<EncodingFault> (*check)(std::span<const std::string_view>);
    Lines lines;
    Where where;
  };
  const Case cases[] = {
      {"base64 clean, padded, blank line after", FindBase64Fault, {"QUJD", "QUI=", ""}, {}},
      {"base64 short last line", FindBase64Fault, {"QUJD", "QUI"}, {}},
      {"base64 blank inside", FindBase64Fault, {"QUJD", "QU JD"}, {{1, 2}}},
      {"base64 group of one", FindBase64Fault, {"QUJDQ"}, {{0, 4}}},
      {"base64 line ends inside a group", FindBase64Fault, {"QUJDQU", "JD"}, {{0, 6}}},
      {"base64 symbols after padding", FindBase64Fault, {"QUI=", "QUJD"}, {{1, 0}}},
      {"quoted-printable clean, soft break", FindQuotedPrintableFault, {"a=3Db=", "c=\r"}, {}},
      {"quoted-printable not hex", FindQuotedPrintableFault, {"ok", "a=ZZ"}, {{1, 1}}},
      {"quoted-printable cut short", FindQuotedPrintableFault, {"a=4"}, {{0, 1}}},
      {"uuencode clean", FindUUEncodeFault, {"#86)C", "`", "garbage after the end"}, {}},
      {"uuencode short line", FindUUEncodeFault, {"#86)C", "#86"}, {{1, 0}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(At(c.check(c.lines)), c.where);
  }
}

}  // namespace
}  // namespace qv
