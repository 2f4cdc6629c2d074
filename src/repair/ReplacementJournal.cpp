// The journal of a replacement: its records written and read back, and the checksums it keeps.
#include "repair/Replacement.h"

#include <algorithm>
#include <array>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>
#include <type_traits>
#include <vector>

#include "base/Errors.h"
#include "base/Stream.h"
#include "base/StringUtils.h"

namespace qv {

using platform::FileStamp;
using platform::FileSystem;

// --- the journal -------------------------------------------------------------------------------

FileMark FileMark::Of(const FileStamp& stamp, std::uint32_t sum) {
  FileMark m;
  if (!stamp.exists) return m;
  m.exists = true;
  m.volume = stamp.volume;
  m.id = stamp.id;
  m.size = stamp.size;
  m.modified = stamp.modified;
  m.sum = sum;
  return m;
}

std::uint32_t FileChecksum(FileSystem& files, const std::string& path) {
  // CRC-32 (the reflected polynomial 0xEDB88320), eight bytes a step: tables[k][b] is the CRC of
  // byte b followed by k zero bytes, so the eight lookups of a step are independent.
  static const auto tables = [] {
    std::array<std::array<std::uint32_t, 256>, 8> t{};
    for (std::uint32_t i = 0; i < 256; ++i) {
      std::uint32_t c = i;
      for (int k = 0; k < 8; ++k)
        c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
      t[0][i] = c;
    }
    for (std::size_t k = 1; k < 8; ++k)
      for (std::size_t i = 0; i < 256; ++i)
        t[k][i] = (t[k - 1][i] >> 8) ^ t[0][t[k - 1][i] & 0xFF];
    return t;
  }();
  std::uint32_t crc = 0xFFFFFFFFu;
  {
    const std::unique_ptr<TStream> in = files.OpenRead(path);
    std::vector<unsigned char> block(std::size_t{1} << 16);
    for (std::size_t n; (n = in->Read(block.data(), block.size())) > 0;) {
      const unsigned char* p = block.data();
      const unsigned char* const end = p + n;
      for (; end - p >= 8; p += 8) {
        const std::uint32_t low = crc ^ (std::uint32_t{p[0]} | std::uint32_t{p[1]} << 8 |
                                         std::uint32_t{p[2]} << 16 | std::uint32_t{p[3]} << 24);
        crc = tables[7][low & 0xFF] ^ tables[6][(low >> 8) & 0xFF] ^ tables[5][(low >> 16) & 0xFF] ^
              tables[4][low >> 24] ^ tables[3][p[4]] ^ tables[2][p[5]] ^ tables[1][p[6]] ^
              tables[0][p[7]];
      }
      for (; p < end; ++p)
        crc = tables[0][(crc ^ *p) & 0xFF] ^ (crc >> 8);
    }
  }
  return crc ^ 0xFFFFFFFFu;
}

namespace {

constexpr const char* kJournalHead = "qvrepair journal 2";
constexpr const char* kReadyHead = "ready";

// The CRC-32 of a text (the record a checksum line closes).
std::uint32_t TextChecksum(std::string_view text) {
  std::uint32_t crc = 0xFFFFFFFFu;
  for (const char c : text) {
    crc ^= static_cast<unsigned char>(c);
    for (int k = 0; k < 8; ++k)
      crc = (crc & 1) ? 0xEDB88320u ^ (crc >> 1) : crc >> 1;
  }
  return crc ^ 0xFFFFFFFFu;
}

// Every number at a fixed width: a record's length never depends on the values.
std::string MarkText(const FileMark& m) {
  char line[128];
  std::snprintf(line, sizeof line,
                "%d %020" PRIu64 " %020" PRIu64 " %020" PRId64 " %020" PRId64 " %010" PRIu32,
                m.exists ? 1 : 0, m.volume, m.id, m.size, m.modified, m.sum);
  return line;
}

std::string NumberedLine(const char* name, int number, const FileMark* mark) {
  std::string line = Format("%s %02d", name, number);
  if (mark) line += " " + MarkText(*mark);
  return line + "\n";
}

std::string Closed(std::string record) {
  return record + Format("end %08x\n", static_cast<unsigned>(TextChecksum(record)));
}

// Reads the lines of a text one by one.
class Lines {
 public:
  explicit Lines(std::string_view text) : text_(text) {}
  // The next whole line (without its line end); false at the end or for a line without one.
  bool Next(std::string_view& line) {
    const std::size_t end = text_.find('\n', at_);
    if (end == std::string_view::npos) return false;
    line = text_.substr(at_, end - at_);
    at_ = end + 1;
    return true;
  }
  std::size_t Offset() const noexcept { return at_; }

 private:
  std::string_view text_;
  std::size_t at_ = 0;
};

// Fields of a line, separated by single blanks.
class Fields {
 public:
  explicit Fields(std::string_view line) : line_(line) {}
  bool Word(std::string_view want) {
    std::string_view w;
    return Take(w) && w == want;
  }
  template <typename T>
  bool Number(T& out, int width, bool hex = false) {
    std::string_view w;
    if (!Take(w) || w.size() != static_cast<std::size_t>(width)) return false;
    std::string s(w);
    for (std::size_t i = 0; i < s.size(); ++i) {
      const char c = s[i];
      const bool digit = (c >= '0' && c <= '9') || (hex && c >= 'a' && c <= 'f');
      if (!digit && !(i == 0 && c == '-' && !hex)) return false;
    }
    char* end = nullptr;
    if constexpr (std::is_signed_v<T>)
      out = static_cast<T>(std::strtoll(s.c_str(), &end, 10));
    else
      out = static_cast<T>(std::strtoull(s.c_str(), &end, hex ? 16 : 10));
    return end && *end == '\0';
  }
  bool Mark(FileMark& m) {
    int exists = 0;
    if (!Number(exists, 1) || exists > 1 || !Number(m.volume, 20) || !Number(m.id, 20) ||
        !Number(m.size, 20) || !Number(m.modified, 20) || !Number(m.sum, 10))
      return false;
    m.exists = exists == 1;
    return true;
  }
  bool End() const noexcept { return at_ >= line_.size(); }

 private:
  bool Take(std::string_view& w) {
    if (at_ > line_.size()) return false;
    const std::size_t end = std::min(line_.find(' ', at_), line_.size());
    w = line_.substr(at_, end - at_);
    at_ = end + 1;
    return !w.empty();
  }
  std::string_view line_;
  std::size_t at_ = 0;
};

bool NumberedField(std::string_view line, const char* name, int& number, FileMark* mark) {
  Fields f(line);
  return f.Word(name) && f.Number(number, 2) && number >= 0 && number <= kMaxNameNumber &&
         (!mark || f.Mark(*mark)) && f.End();
}

// Reads a record that `Closed` ended, from `text` on; false when it is not whole or its checksum
// is wrong. `body` gets its lines before the end line.
bool ClosedRecord(std::string_view text, std::vector<std::string_view>& body, std::size_t& used) {
  Lines lines(text);
  std::string_view line;
  body.clear();
  while (lines.Next(line)) {
    if (line.starts_with("end ")) {
      std::uint32_t sum = 0;
      Fields f(line);
      const std::size_t bodyBytes = static_cast<std::size_t>(line.data() - text.data());
      if (!f.Word("end") || !f.Number(sum, 8, true) || !f.End() ||
          sum != TextChecksum(text.substr(0, bodyBytes)))
        return false;
      used = lines.Offset();
      return true;
    }
    body.push_back(line);
  }
  return false;
}

}  // namespace

std::string FormatJournalBegin(const ReplacementJournal& j) {
  std::string r = std::string(kJournalHead) + "\n";
  r += NumberedLine("repaired", j.repairedNo, &j.repaired);
  r += NumberedLine("index-temp", j.indexTempNo, &j.indexTemp);
  r += NumberedLine("kept-index", j.keptIndexNo, nullptr);
  r += NumberedLine("kept-store", j.keptStoreNo, nullptr);
  r += "old-index " + MarkText(j.oldIndex) + "\n";
  r += "old-store " + MarkText(j.oldStore) + "\n";
  return Closed(std::move(r));
}

std::string FormatJournalReady(const ReplacementJournal& j) {
  std::string r = std::string(kReadyHead) + "\n";
  r += Format("store-moved %d\n", j.storeMoved ? 1 : 0);
  r += "new-index " + MarkText(j.newIndex) + "\n";
  r += "new-store " + MarkText(j.newStore) + "\n";
  return Closed(std::move(r));
}

bool ParseJournal(std::string_view text, ReplacementJournal& journal) {
  ReplacementJournal j;
  std::vector<std::string_view> body;
  std::size_t used = 0;
  if (!ClosedRecord(text, body, used) || body.size() != 7 || body[0] != kJournalHead) return false;
  Fields oldIndex(body[5]), oldStore(body[6]);
  if (!NumberedField(body[1], "repaired", j.repairedNo, &j.repaired) ||
      !NumberedField(body[2], "index-temp", j.indexTempNo, &j.indexTemp) ||
      !NumberedField(body[3], "kept-index", j.keptIndexNo, nullptr) ||
      !NumberedField(body[4], "kept-store", j.keptStoreNo, nullptr) ||
      !oldIndex.Word("old-index") || !oldIndex.Mark(j.oldIndex) || !oldIndex.End() ||
      !oldStore.Word("old-store") || !oldStore.Mark(j.oldStore) || !oldStore.End())
    return false;
  const std::string_view rest = text.substr(used);
  if (!rest.empty()) {
    std::size_t readyUsed = 0;
    if (ClosedRecord(rest, body, readyUsed)) {
      int moved = 0;
      Fields m(body.size() == 4 ? body[1] : ""), ni(body.size() == 4 ? body[2] : ""),
          ns(body.size() == 4 ? body[3] : "");
      if (body.size() != 4 || body[0] != kReadyHead || !m.Word("store-moved") ||
          !m.Number(moved, 1) || moved > 1 || !m.End() || !ni.Word("new-index") ||
          !ni.Mark(j.newIndex) || !ni.End() || !ns.Word("new-store") || !ns.Mark(j.newStore) ||
          !ns.End() || readyUsed != rest.size())
        return false;
      j.ready = true;
      j.storeMoved = moved == 1;
    } else if (rest.find("\nend ") != std::string_view::npos || rest.starts_with("end ")) {
      return false;  // a second record that is whole but wrong
    }
    // Otherwise the second record was being appended when the run ended: it does not count.
  }
  journal = j;
  return true;
}

}  // namespace qv
