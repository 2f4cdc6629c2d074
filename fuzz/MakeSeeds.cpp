// qvfuzz-seeds OUTDIR: writes a small seed corpus per fuzz target into OUTDIR/<target>/, made by
// the project's own writers and the store generator, so the corpus follows the formats as they
// change. Nothing of it is kept in the repository.
#include <strings.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "base/Stream.h"
#include "codec/clEncoder.h"
#include "components/ComponentStream.h"
#include "generator/ProgramFolder.h"
#include "generator/StoreGenerator.h"
#include "mailbox/qvMailbox.h"
#include "mailbox/qvProfile.h"
#include "mime/clMailMessage.h"
#include "platform/SystemPlatform.h"
#include "support/FixedClock.h"

namespace fs = std::filesystem;
using namespace qv;

namespace {

constexpr std::size_t kMaxSeed = 16 * 1024;

class Corpus {
 public:
  explicit Corpus(fs::path root) : root_(std::move(root)) {}
  void Add(const std::string& target, const std::string& bytes) {
    if (bytes.size() > kMaxSeed) return;
    const fs::path dir = root_ / target;
    fs::create_directories(dir);
    std::ofstream out(dir / ("gen-" + std::to_string(++count_)), std::ios::binary);
    out << bytes;
  }
  int Count() const { return count_; }

 private:
  fs::path root_;
  int count_ = 0;
};

std::string ReadFile(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

std::string Write(TComponent& c) {
  TMemoryStream out;
  WriteComponentStream(out, c);
  return out.TakeData();
}

// The messages of a generated store, each with its separator line.
std::vector<std::string> Messages(gen::Mix mix, gen::LineEnds ends, std::uint64_t seed,
                                  std::uint64_t count) {
  gen::StoreOptions options;
  options.mix = mix;
  options.seed = seed;
  options.lineEnds = ends;
  options.count = count;
  options.noIdEvery = 3;
  options.duplicateIdEvery = 4;
  std::vector<std::string> out;
  gen::StoreGenerator generator(options);
  std::string message;
  while (generator.Next(message))
    out.push_back(message);
  return out;
}

// The message without its separator line.
std::string Body(const std::string& message) {
  const std::size_t lf = message.find('\n');
  return lf == std::string::npos ? std::string() : message.substr(lf + 1);
}

// The header lines of a message that begin with `field` (any case), without line ends.
std::vector<std::string> Fields(const std::string& message, std::string_view field) {
  std::vector<std::string> out;
  std::size_t pos = 0;
  while (pos < message.size()) {
    std::size_t lf = message.find('\n', pos);
    if (lf == std::string::npos) lf = message.size();
    std::string line = message.substr(pos, lf - pos);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.empty()) break;  // the end of the header
    if (line.size() > field.size() &&
        strncasecmp(line.c_str(), std::string(field).c_str(), field.size()) == 0)
      out.push_back(line.substr(field.size()));
    pos = lf + 1;
  }
  return out;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: qvfuzz-seeds OUTDIR\n");
    return 2;
  }
  Corpus corpus(argv[1]);
  platform::SystemFileSystem files;

  // Indexes and profiles: a generated program folder, and fresh objects.
  const fs::path folder = fs::path(argv[1]) / ".program";
  for (std::uint64_t seed : {1, 2}) {
    fs::remove_all(folder);
    gen::ProgramOptions options;
    options.dir = folder.string();
    options.store.mix = gen::Mix::kVaried;
    options.store.seed = seed;
    options.store.count = 4 * seed;
    gen::WriteProgramFolder(options, files);
    const std::string index = ReadFile(folder / "profile" / "default" / "mailbox.idx");
    const std::string profile = ReadFile(folder / "profile" / "default" / "profile.dat");
    corpus.Add("component_mailbox", index);
    corpus.Add("component_profile", profile);
    corpus.Add("stream_tree", index);
    corpus.Add("stream_tree", profile);
  }
  fs::remove_all(folder);
  {
    TqvMailBox box(nullptr);
    box.SetName("MailBox");
    corpus.Add("component_mailbox", Write(box));
    box.TreeItems().NewItem().SetText("Inbox");
    TMailMessageItem& item = box.MailItems().NewItem();
    item.SetFolderKey("_msInbox");
    item.SetMessageId("<id@example.com>");
    item.SetSender("Ann \xE9");
    item.SetDate(46364.5);
    corpus.Add("component_mailbox", Write(box));
    TqvProfile profile(nullptr);
    profile.SetName("qvProfile");
    corpus.Add("component_profile", Write(profile));
    profile.Accounts().NewItem();
    corpus.Add("component_profile", Write(profile));
  }

  // Messages and stores from the generator, in each line-end style.
  std::vector<std::string> messages;
  for (auto ends : {gen::LineEnds::kLF, gen::LineEnds::kCRLF, gen::LineEnds::kMixed})
    for (const auto& m : Messages(gen::Mix::kVaried, ends, 7 + static_cast<int>(ends), 10))
      messages.push_back(m);
  for (const auto& m : Messages(gen::Mix::kText, gen::LineEnds::kLF, 3, 4))
    messages.push_back(m);
  test::FixedClock clock(46364.6);
  for (const auto& m : messages) {
    corpus.Add("load_message", Body(m));
    corpus.Add("export_message", std::string(1, static_cast<char>(m.size())) + Body(m));
    for (const auto& f : Fields(m, "Subject:"))
      corpus.Add("header_text", "iso-8859-1\n" + f);
    for (const auto& f : Fields(m, "From:"))
      corpus.Add("header_text", "utf-8\n" + f);
    for (const auto& f : Fields(m, "Date:"))
      corpus.Add("mail_date", f);
    // The separator line, as the separator pattern and as a pattern of its own.
    const std::string separator = m.substr(0, m.find_first_of("\r\n"));
    corpus.Add("date_pattern", std::string(1, '\0') + separator.substr(separator.size() - 24));
  }
  for (std::size_t i = 0; i + 3 <= messages.size(); i += 3)
    corpus.Add("store_scan", messages[i] + messages[i + 1] + messages[i + 2]);
  {
    // A parsed message in a component stream.
    TclMailMessage message(nullptr, clock);
    TStringList lines;
    lines.SetText(Body(messages[1]));
    message.LoadMessage(lines);
    corpus.Add("stream_tree", Write(message));
  }

  // Encoded data of every method from message text and from binary bytes.
  std::string binary;
  for (int i = 0; i < 300; ++i)
    binary += static_cast<char>((i * 37) & 0xFF);
  TclEncoder encoder;
  const struct {
    const char* target;
    TclEncodeMethod method;
  } kDecoders[] = {{"decode_qp", cmMIMEQuotedPrintable},
                   {"decode_base64", cmMIMEBase64},
                   {"decode_uu", cmUUEncode}};
  for (const auto& d : kDecoders)
    for (const std::string& data : {Body(messages[0]).substr(0, 2000), binary}) {
      corpus.Add(d.target, std::string(1, static_cast<char>(76 << 1)) + data);
      corpus.Add(d.target,
                 std::string(1, static_cast<char>(76 << 1)) + encoder.EncodeString(data, d.method));
    }
  // Every moment and damage of an interrupted replacement, with the journal as written.
  for (int how = 0; how < 32; ++how)
    corpus.Add("replacement_journal", std::string(1, static_cast<char>(how)));
  std::printf("%d seeds in %s\n", corpus.Count(), argv[1]);
  return 0;
}
