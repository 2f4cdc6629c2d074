// Damaged and hostile index and profile files: every cut of a real file, and length fields that
// claim gigabytes. Each fails with the reader's message, never crashes, and never allocates what
// the stream does not hold.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>

#include "base/Errors.h"
#include "base/Stream.h"
#include "components/ComponentStream.h"
#include "generator/ProgramFolder.h"
#include "hostile/AllocationCounter.h"
#include "mailbox/qvMailbox.h"
#include "mailbox/qvProfile.h"
#include "platform/SystemPlatform.h"
#include "support/Files.h"
#include "support/Process.h"
#include "support/TestStreams.h"

namespace qv::test {
namespace {

namespace fs = std::filesystem;
using qv::test::ReadFile;

// Reading never needs a block larger than this, whatever a length field says.
constexpr std::size_t kAllocationBound = std::size_t{1} << 20;

struct Window {
  TComponentRegistry app;
  TComponent form{nullptr};
  TqvMailBox mailBox{&form};
  TqvProfile profile{&form};
  Window() {
    form.SetName("Form1");
    app.Add(form);
    mailBox.SetName("MailBox");
    profile.SetName("qvProfile");
  }
};

// The index and the profile of a generated program folder: folders, entries, accounts.
struct GeneratedFiles {
  std::string index, profile;
};
const GeneratedFiles& Generated() {
  static const GeneratedFiles files = [] {
    const fs::path dir =
        fs::temp_directory_path() / ("qv-hostile-" + std::to_string(test::ProcessId()));
    gen::ProgramOptions options;
    options.dir = dir.string();
    options.store.mix = gen::Mix::kVaried;
    options.store.count = 12;
    platform::SystemFileSystem posix;
    gen::WriteProgramFolder(options, posix);
    GeneratedFiles f{ReadFile(dir / "profile/default/mailbox.idx"),
                     ReadFile(dir / "profile/default/profile.dat")};
    fs::remove_all(dir);
    return f;
  }();
  return files;
}

using Pick = std::function<TComponent&(Window&)>;
const Pick kMailBox = [](Window& w) -> TComponent& { return w.mailBox; };
const Pick kProfile = [](Window& w) -> TComponent& { return w.profile; };

// The message of the read's failure ("" when it succeeds); EReadError is the only failure
// expected here.
std::string ReadFailure(TStream& in, const Pick& pick) {
  Window w;
  try {
    ReadComponentStream(in, pick(w));
  } catch (const EReadError& e) {
    return e.what();
  }
  return "";
}

std::string Str(std::string_view s) {
  return std::string(1, static_cast<char>(s.size())) + std::string(s);
}

TEST(HostileFiles, EveryTruncationOfARealIndexAndProfileFailsWithTheReadersMessage) {
  for (const auto& [bytes, pick] :
       {std::pair{Generated().index, kMailBox}, std::pair{Generated().profile, kProfile}}) {
    ASSERT_GT(bytes.size(), 500u);
    {
      TMemoryStream whole(bytes);
      ASSERT_EQ(ReadFailure(whole, pick), "");
    }
    for (std::size_t n = 0; n < bytes.size(); ++n) {
      ResetLargestAllocation();
      TMemoryStream in(bytes.substr(0, n));
      const std::string message = ReadFailure(in, pick);
      EXPECT_TRUE(message.ends_with("Stream read error")) << n << ": " << message;
      EXPECT_LT(LargestAllocation(), kAllocationBound) << n;
      // One byte at a time the same cut fails the same way.
      if (n % 97 == 0) {
        TrickleStream trickle(bytes.substr(0, n));
        EXPECT_EQ(ReadFailure(trickle, pick), message) << n;
      }
    }
  }
}

TEST(HostileFiles, LengthFieldsClaimingGigabytesFailWithoutAllocating) {
  // Each value kind with a length: long string, wide string (UTF-16 units), UTF-8 string, binary.
  const std::string lengths[] = {
      std::string("\x0C\xFF\xFF\xFF\x7F", 5), std::string("\x0C\xFF\xFF\xFF\xFF", 5),
      std::string("\x12\xFF\xFF\xFF\x7F", 5), std::string("\x12\x00\x00\x00\x80", 5),
      std::string("\x14\x00\x00\x00\xC0", 5), std::string("\x0A\xFF\xFF\xFF\xFF", 5)};
  const struct {
    std::string head;  // up to the value
    Pick pick;
  } places[] = {
      {"TPF0" + Str("TqvMailBox") + Str("MailBox") + Str("MailDir"), kMailBox},
      {"TPF0" + Str("TqvMailBox") + Str("MailBox") + Str("MailItems") + std::string("\x0E\x01", 2) +
           Str("F9"),
       kMailBox},
      {"TPF0" + Str("TqvProfile") + Str("qvProfile") + Str("Mailbox"), kProfile},
      {"TPF0" + Str("TqvProfile") + Str("qvProfile") + Str("Accounts") +
           std::string("\x0E\x01", 2) + Str("Password"),
       kProfile},
      // An entry that is skipped before the unknown name fails.
      {"TPF0" + Str("TqvProfile") + Str("qvProfile") + Str("NoSuchEntry"), kProfile},
  };
  for (const auto& place : places)
    for (const std::string& length : lengths) {
      ResetLargestAllocation();
      TMemoryStream in(place.head + length + "some bytes");
      const std::string message = ReadFailure(in, place.pick);
      EXPECT_TRUE(message.ends_with("Stream read error") ||
                  message.ends_with("Invalid property value"))
          << place.head << ": " << message;
      EXPECT_LT(LargestAllocation(), kAllocationBound) << place.head;
    }
}

}  // namespace
}  // namespace qv::test
