#include "base/TextArena.h"

#include <cstring>
#include <functional>

namespace qv {

TextArena::Position TextArena::Put(std::initializer_list<std::string_view> pieces) {
  std::size_t length = 0;
  for (const std::string_view piece : pieces)
    length += piece.size();
  if (length == 0) return 0;
  char* run;
  Position at;
  if (length > kBlockBytes / 4) {
    // A long text gets a block of its own; the block being filled stays the current one.
    blocks_.push_back(std::unique_ptr<char[]>(new char[length]));
    run = blocks_.back().get();
    at = static_cast<Position>(blocks_.size() - 1) << 32;
  } else {
    if (used_ + length > kBlockBytes) {
      blocks_.push_back(std::unique_ptr<char[]>(new char[kBlockBytes]));
      current_ = blocks_.size() - 1;
      used_ = 0;
    }
    run = blocks_[current_].get() + used_;
    at = (static_cast<Position>(current_) << 32) | used_;
    used_ += length;
  }
  for (const std::string_view piece : pieces) {
    if (piece.empty()) continue;
    std::memcpy(run, piece.data(), piece.size());
    run += piece.size();
  }
  return at;
}

void TextArena::Clear() noexcept {
  blocks_.clear();
  blocks_.shrink_to_fit();
  current_ = 0;
  used_ = kBlockBytes;
}

std::uint32_t TextKeyIndex::Hash(std::string_view key) noexcept {
  const std::uint64_t h = std::hash<std::string_view>()(key);
  return static_cast<std::uint32_t>(h ^ (h >> 32));
}

void TextKeyIndex::Grow() {
  std::vector<std::uint64_t> slots(slots_.empty() ? 16 : slots_.size() * 2, 0);
  const std::size_t mask = slots.size() - 1;
  for (const std::uint64_t slot : slots_) {
    if (slot == 0) continue;
    std::size_t i = static_cast<std::uint32_t>(slot >> 32) & mask;
    while (slots[i] != 0)
      i = (i + 1) & mask;
    slots[i] = slot;
  }
  slots_ = std::move(slots);
}

void TextKeyIndex::Clear() noexcept {
  slots_.clear();
  slots_.shrink_to_fit();
  count_ = 0;
}

std::uint32_t TextKeys::Intern(std::string_view text) {
  // The index looks only at numbers stored before, so the text may be kept after it is indexed.
  const auto number = static_cast<std::uint32_t>(keys_.size());
  const std::uint32_t stored = index_.Insert(text, TextKeyIndex::Hash(text), number,
                                             [this](std::uint32_t n) { return (*this)[n]; });
  if (stored == number) keys_.push_back({arena_.Put(text), text.size()});
  return stored;
}

void TextKeys::Clear() noexcept {
  arena_.Clear();
  keys_.clear();
  keys_.shrink_to_fit();
  index_.Clear();
}

}  // namespace qv
