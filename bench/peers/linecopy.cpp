// linecopy STORE OUT [sync]: the floor set by reading and writing a store (benchmarking only).
// Splits the store into messages at separator lines ("From " and a date-shaped tail of 24
// characters) and writes one block per message: a fresh separator line, then the message's lines,
// each followed by CR LF. No parsing. With "sync" the output is forced to the disk before the
// program ends, as the repair does before it replaces the store. Prints the message count.
//
// Build: c++ -O2 -std=c++20 linecopy.cpp -o linecopy
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

namespace {

// "ddd mmm dd hh:nn:ss yyyy" by shape only: blanks, colons and digits where they belong.
bool DateShaped(std::string_view tail) {
  if (tail.size() != 24) return false;
  auto digit = [&](std::size_t i) { return tail[i] >= '0' && tail[i] <= '9'; };
  return tail[3] == ' ' && tail[7] == ' ' && tail[10] == ' ' && tail[13] == ':' &&
         tail[16] == ':' && tail[19] == ' ' && digit(11) && digit(12) && digit(14) && digit(15) &&
         digit(17) && digit(18) && digit(20) && digit(21) && digit(22) && digit(23);
}

bool IsSeparator(std::string_view line) {
  return line.size() >= 29 && line.compare(0, 5, "From ") == 0 &&
         DateShaped(line.substr(line.size() - 24));
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3 && !(argc == 4 && std::strcmp(argv[3], "sync") == 0)) {
    std::fprintf(stderr, "usage: linecopy STORE OUT [sync]\n");
    return 2;
  }
  std::FILE* in = std::fopen(argv[1], "rb");
  std::FILE* out = std::fopen(argv[2], "wb");
  if (!in || !out) {
    std::perror("linecopy");
    return 1;
  }
  constexpr std::size_t kBlock = 1 << 20;
  std::vector<char> buf(kBlock);
  std::size_t begin = 0, end = 0;
  bool eof = false, started = false, lastEmpty = false;
  std::string block;
  unsigned long messages = 0;
  auto flush = [&] {
    if (started) {
      if (!lastEmpty) block += "\r\n\r\n";
      if (std::fwrite(block.data(), 1, block.size(), out) != block.size()) {
        std::perror("linecopy");
        std::exit(1);
      }
      ++messages;
    }
    block.assign("From - Mon Jan 01 00:00:00 2024\r\n");
    lastEmpty = false;
  };
  for (;;) {
    const char* p = static_cast<const char*>(std::memchr(buf.data() + begin, '\n', end - begin));
    if (!p && !eof) {
      // Move the partial line to the front, grow for a long one, and read on.
      std::memmove(buf.data(), buf.data() + begin, end - begin);
      end -= begin;
      begin = 0;
      if (end == buf.size()) buf.resize(buf.size() * 2);
      const std::size_t got = std::fread(buf.data() + end, 1, buf.size() - end, in);
      if (got == 0) eof = true;
      end += got;
      continue;
    }
    if (!p && begin == end) break;
    const std::size_t stop = p ? static_cast<std::size_t>(p - buf.data()) : end;
    std::string_view line(buf.data() + begin, stop - begin);
    begin = p ? stop + 1 : end;
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (IsSeparator(line)) {
      flush();
      started = true;
    } else if (started) {
      block.append(line);
      block += "\r\n";
      lastEmpty = line.empty();
    }
  }
  flush();
  std::fclose(in);
  if (argc == 4 && (std::fflush(out) != 0 || ::fsync(::fileno(out)) != 0)) {
    std::perror("linecopy");
    return 1;
  }
  if (std::fclose(out) != 0) {
    std::perror("linecopy");
    return 1;
  }
  std::printf("messages %lu\n", messages);
  return 0;
}
