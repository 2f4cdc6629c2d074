#include "repair/StoreScan.h"

#include <algorithm>
#include <memory>
#include <new>
#include <string_view>
#include <vector>

#include "base/Errors.h"
#include "base/Stream.h"
#include "base/StringUtils.h"
#include "mime/clMessageCheck.h"
#include "repair/StoreReader.h"

namespace qv {

namespace {

// The first `limit` bytes of a stream.
class TLimitedStream : public TStream {
 public:
  TLimitedStream(TStream& source, std::int64_t limit) : source_(source), left_(limit) {}
  std::size_t Read(void* buffer, std::size_t n) override {
    n = static_cast<std::size_t>(std::min<std::int64_t>(static_cast<std::int64_t>(n), left_));
    const std::size_t got = n == 0 ? 0 : source_.Read(buffer, n);
    left_ -= static_cast<std::int64_t>(got);
    return got;
  }
  std::size_t Write(const void*, std::size_t) override { return 0; }
  std::int64_t Seek(std::int64_t, SeekOrigin) override { return 0; }
  void SetSize(std::int64_t) override {}

 private:
  TStream& source_;
  std::int64_t left_;
};

// Whether a line that is no separator was most likely meant as one: "From ", then a time of day
// ("10:00") somewhere after it, as separators carry, and prose starting with "From " seldom does.
bool LooksLikeSeparator(std::string_view line) {
  if (!line.starts_with("From ")) return false;
  const auto digit = [](char c) { return c >= '0' && c <= '9'; };
  for (std::size_t i = line.find(':', 6); i != std::string_view::npos && i + 2 < line.size();
       i = line.find(':', i + 1))
    if (digit(line[i - 1]) && digit(line[i + 1]) && digit(line[i + 2])) return true;
  return false;
}

// One scan of an open store.
class Scan {
 public:
  Scan(const ScanInput& input, MessageStep& indexer, const ScanProgress& progress,
       ScanResult& found)
      : in_(input), indexer_(indexer), progress_(progress), found_(found) {}

  void Run(TStream& store);

 private:
  void Separator(StoreReader& reader, std::int64_t at);
  void End(StoreReader& reader);
  // Notes where the line last read stands among the bytes the reader holds.
  void NoteLine(const StoreReader& reader, std::string_view line) {
    held_lines_.push_back(
        {static_cast<std::size_t>(line.data() - reader.Held().data()), line.size()});
  }
  // Indexes the message whose lines were noted, within the bytes `held`, which begin at `base` in
  // the store; the message begins at `offset` (its separator line).
  void IndexHeld(std::string_view held, std::int64_t base, std::int64_t offset);
  // What is damaged in a separator line, or in a "From " line that is none.
  void InspectSeparator(std::string_view line, std::int64_t at);
  void NotSeparator(std::int64_t at);
  // What is damaged in the message whose lines are in views_.
  void InspectMessage(std::int64_t base);
  void InspectBytes(std::int64_t base);
  void Add(FindingKind kind, std::int64_t offset, std::string text) {
    in_.findings->Add(kind, {offset, found_.messages, -1, std::move(text)});
  }
  // Indexes the text before the first separator (the store's first `bytes` bytes) as a message.
  void IndexLeadingText(std::int64_t bytes);
  // Compares the block of the message just finished with the old entry of that number.
  void CheckOldEntry(std::int64_t blockOffset, std::int64_t blockSize);

  const ScanInput& in_;
  MessageStep& indexer_;
  const ScanProgress& progress_;
  ScanResult& found_;
  bool started_ = false;         // a separator has been seen
  bool leadingText_ = false;     // text other than blank lines before the first separator
  bool crInside_ = false;        // a line before the first separator has a CR inside it
  std::int64_t blockStart_ = 0;  // where the current message's separator line begins
  std::int64_t heldStart_ = 0;   // where the bytes held begin
  bool indexMatches_ = true;     // every message so far has its old entry at its block
  // The lines of the message being read, as offsets into the reader's held bytes, and as views
  // once the message is complete; kept for their storage from message to message.
  struct HeldLine {
    std::size_t offset;
    std::size_t length;
  };
  std::vector<HeldLine> held_lines_;
  std::vector<std::string_view> views_;
};

void Scan::Run(TStream& store) {
  // A message's lines are not copied: the reader holds its bytes from its separator on, the scan
  // notes where each line stands, and the message is indexed from views of them. Lines before the
  // first separator belong to no message; they are only tested for a separator and for text, so
  // a line too long for the buffer is read through rather than gathered.
  StoreReader reader(store);
  std::string_view line;
  try {
    while (reader.ReadLineOrSketch(line)) {
      if (IsSeparatorLine(line, in_.names, in_.clock)) {
        if (in_.findings) InspectSeparator(line, reader.LineOffset());
        Separator(reader, reader.LineOffset());
      } else if (started_) {
        NoteLine(reader, line);
        if (in_.findings && LooksLikeSeparator(line)) NotSeparator(reader.LineOffset());
      } else {
        if (!leadingText_) leadingText_ = line.find_first_not_of(" \t\r") != std::string_view::npos;
        // A CR inside a line (not among those that end it): lines that end in CR alone.
        const std::size_t end = line.find_last_not_of('\r');
        if (end != std::string_view::npos && line.substr(0, end).find('\r') != line.npos)
          crInside_ = true;
      }
    }
    End(reader);
  } catch (const std::bad_alloc&) {
    // The message being read (or the text before the first separator) did not fit in memory.
    const std::int64_t from = started_ ? blockStart_ : 0;
    throw Exception(
        kScanOutOfMemory,
        FileDetail(in_.storePath, Format("the message at offset %lld, %lld bytes read "
                                         "of it, did not fit in memory",
                                         static_cast<long long>(from),
                                         static_cast<long long>(reader.Offset() - from))));
  }
}

void Scan::Separator(StoreReader& reader, std::int64_t at) {
  if (started_) {
    CheckOldEntry(blockStart_, at - blockStart_);
    IndexHeld(reader.Held(), heldStart_, blockStart_);
  } else {
    found_.leadingBytes = at;
    // Text before the first separator is most often a message whose separator was damaged: it is
    // kept as a message of its own. It is read again from the store rather than held while the
    // scan looks for a separator that may never come.
    if (leadingText_) IndexLeadingText(at);
  }
  blockStart_ = at;
  found_.scannedBytes = reader.Offset();
  if (progress_) progress_(found_);
  started_ = true;
  reader.Hold();
  heldStart_ = reader.Offset();
  held_lines_.clear();
}

void Scan::End(StoreReader& reader) {
  if (started_) {
    CheckOldEntry(blockStart_, reader.Offset() - blockStart_);
    IndexHeld(reader.Held(), heldStart_, blockStart_);
  } else {
    found_.leadingBytes = reader.Offset();
  }
  found_.scannedBytes = reader.Offset();
  found_.indexMatchesStore =
      indexMatches_ && found_.leadingEntry < 0 && in_.old && found_.messages == in_.old->Count();
  // A store with text but no recognised message is never replaced by an empty one.
  found_.status = !started_ && found_.storeBytes > 0 ? ScanStatus::NoMessages : ScanStatus::Scanned;
  if (found_.status == ScanStatus::NoMessages)
    found_.error =
        FileDetail(in_.storePath,
                   crInside_ ? "its lines end in CR alone, so no line begins a message (\"From \" "
                               "and a date at the start of a line)"
                             : "no line begins a message (\"From \" and a date)");
  if (progress_) progress_(found_);
}

void Scan::IndexHeld(std::string_view held, std::int64_t base, std::int64_t offset) {
  views_.clear();
  for (const HeldLine& l : held_lines_)
    views_.emplace_back(held.data() + l.offset, l.length);
  if (in_.findings) {
    in_.findings->MessageOffsets().push_back(offset);
    InspectMessage(base);
  }
  indexer_.Index(views_);
  ++found_.messages;
}

void Scan::IndexLeadingText(std::int64_t bytes) {
  const std::unique_ptr<TStream> again = in_.files.OpenRead(in_.storePath);
  TLimitedStream leading(*again, bytes);
  StoreReader reader(leading);
  reader.Hold();
  held_lines_.clear();
  std::string_view line;
  while (reader.ReadLine(line))
    NoteLine(reader, line);
  found_.leadingEntry = found_.messages;
  indexMatches_ = false;
  if (in_.findings)
    Add(FindingKind::LeadingText, 0,
        std::to_string(bytes) + " bytes before the first separator, kept as a message");
  IndexHeld(reader.Held(), 0, 0);
  held_lines_.clear();
}

void Scan::InspectSeparator(std::string_view line, std::int64_t at) {
  // The separator is always written anew; what it said is lost only when its address, between
  // "From " and the date, is none or more than one word.
  while (!line.empty() && line.back() == '\r')
    line.remove_suffix(1);
  const std::string_view address =
      TrimView(line.substr(5, line.size() > 29 ? line.size() - 29 : 0));
  // It opens the message after the one being read (or after the text before it).
  if (address.empty() || address.find_first_of(" \t") != std::string_view::npos)
    in_.findings->Add(FindingKind::Separator,
                      {at, found_.messages + (started_ || leadingText_ ? 1 : 0), -1,
                       "separator rewritten: its address did not parse"});
}

void Scan::NotSeparator(std::int64_t at) {
  Add(FindingKind::Separator, at,
      "a \"From \" line whose date did not parse: kept as a line of this message");
}

void Scan::InspectMessage(std::int64_t base) {
  const auto offsetOf = [&](std::size_t line, std::size_t column) {
    return base + static_cast<std::int64_t>(held_lines_[line].offset + column);
  };
  InspectBytes(base);
  if (!views_.empty() &&
      std::none_of(views_.begin(), views_.end(), [](std::string_view l) { return l.empty(); }))
    Add(FindingKind::HeaderNotEnded, offsetOf(0, 0), "no empty line ends the header");
  FindStructureFaults(views_, [&](const StructureFault& f) {
    const FindingKind kind = f.kind == StructureFaultKind::Encoding ? FindingKind::BadEncoding
                                                                    : FindingKind::MimeCutShort;
    if (in_.findings->Lists(kind)) {
      Add(kind, offsetOf(f.line, f.column), std::string(f.what));
    } else {
      Add(kind, 0, {});
    }
  });
}

void Scan::InspectBytes(std::int64_t base) {
  struct Stray {
    char byte;
    FindingKind kind;
    const char* name;
    std::int64_t count = 0;
    std::int64_t first = 0;
  };
  Stray strays[] = {{'\r', FindingKind::StrayCr, "CR not followed by LF"},
                    {'\0', FindingKind::NulByte, "NUL byte"},
                    {'\x1a', FindingKind::CtrlZByte, "0x1A byte"}};
  for (std::size_t li = 0; li < views_.size(); ++li) {
    const std::string_view line = views_[li];
    for (std::size_t i = 0; i < line.size(); ++i) {
      const char c = line[i];
      if (c != '\r' && c != '\0' && c != '\x1a') continue;
      for (Stray& s : strays)
        if (s.byte == c && s.count++ == 0)
          s.first = base + static_cast<std::int64_t>(held_lines_[li].offset + i);
    }
  }
  for (const Stray& s : strays)
    if (s.count > 0)
      Add(s.kind, s.first,
          std::to_string(s.count) + " " + s.name + (s.count > 1 ? "s" : "") +
              " in the message, the first here");
}

void Scan::CheckOldEntry(std::int64_t blockOffset, std::int64_t blockSize) {
  if (!indexMatches_) return;
  indexMatches_ = in_.old && in_.old->BlockIs(found_.messages, blockOffset, blockSize);
}

}  // namespace

void ScanStore(const ScanInput& input, MessageStep& indexer, const ScanProgress& progress,
               ScanResult& found) {
  found = ScanResult();
  if (const std::string why = input.files.NoFileReason(input.storePath, nullptr); !why.empty()) {
    found.status = ScanStatus::Missing;
    found.error = FileDetail(input.storePath, why);
    return;
  }
  found.store = input.files.Stamp(input.storePath);
  const std::unique_ptr<TStream> store = input.files.OpenRead(input.storePath);
  found.storeBytes = store->Size();
  found.messages = 0;
  if (!indexer.Sink().Open(found.error)) {
    found.status = ScanStatus::CreateFailed;
    return;
  }
  Scan(input, indexer, progress, found).Run(*store);
}

}  // namespace qv
