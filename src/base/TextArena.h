// Compact storage for many small records and their texts: texts copied into large blocks that
// never move (TextArena), a hash index of record numbers by a text key the caller keeps
// (TextKeyIndex), texts stored once and named by number (TextKeys), and a vector that grows in
// chunks instead of moving its elements (ChunkedVector).
#pragma once

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <memory>
#include <string_view>
#include <vector>

namespace qv {

// Texts in blocks of 256 KiB (a longer text gets a block of its own). A stored text stays where it
// is until Clear, so views of it stay valid.
class TextArena {
 public:
  // Where a run of bytes is: the block in the upper half, the offset in it in the lower.
  using Position = std::uint64_t;

  // Copies the pieces one after the other into one run of bytes and returns its position.
  Position Put(std::initializer_list<std::string_view> pieces);
  Position Put(std::string_view text) { return Put({text}); }
  // `length` bytes from a position that Put returned (an empty view for length 0).
  std::string_view At(Position at, std::size_t length) const noexcept {
    if (length == 0) return {};
    return {blocks_[static_cast<std::size_t>(at >> 32)].get() + (at & 0xFFFFFFFFu), length};
  }
  void Clear() noexcept;

 private:
  static constexpr std::size_t kBlockBytes = std::size_t{256} << 10;
  std::vector<std::unique_ptr<char[]>> blocks_;
  std::size_t current_ = 0;  // the block being filled, when used_ < kBlockBytes
  std::size_t used_ = kBlockBytes;
};

// An open-addressing hash index of record numbers (below 2^32 - 1) by a text key. The keys are not
// stored: `keyOf(number)` gives the key of a stored number. Each slot is 8 bytes (the key's hash
// and the number), and at most half of them are used.
class TextKeyIndex {
 public:
  static constexpr std::uint32_t kNone = UINT32_MAX;

  static std::uint32_t Hash(std::string_view key) noexcept;

  // The number stored under the key, or kNone.
  template <class KeyOf>
  std::uint32_t Find(std::string_view key, std::uint32_t hash, const KeyOf& keyOf) const {
    if (slots_.empty()) return kNone;
    const std::size_t mask = slots_.size() - 1;
    for (std::size_t i = hash & mask;; i = (i + 1) & mask) {
      const std::uint64_t slot = slots_[i];
      if (slot == 0) return kNone;
      if (static_cast<std::uint32_t>(slot >> 32) == hash) {
        const std::uint32_t number = static_cast<std::uint32_t>(slot) - 1;
        if (keyOf(number) == key) return number;
      }
    }
  }

  // Stores `number` under the key unless a number is stored under it already; returns the number
  // stored under the key.
  template <class KeyOf>
  std::uint32_t Insert(std::string_view key, std::uint32_t hash, std::uint32_t number,
                       const KeyOf& keyOf) {
    if ((count_ + 1) * 2 > slots_.size()) Grow();
    const std::size_t mask = slots_.size() - 1;
    for (std::size_t i = hash & mask;; i = (i + 1) & mask) {
      const std::uint64_t slot = slots_[i];
      if (slot == 0) {
        slots_[i] = (std::uint64_t{hash} << 32) | (std::uint64_t{number} + 1);
        ++count_;
        return number;
      }
      if (static_cast<std::uint32_t>(slot >> 32) == hash) {
        const std::uint32_t stored = static_cast<std::uint32_t>(slot) - 1;
        if (keyOf(stored) == key) return stored;
      }
    }
  }

  std::size_t Count() const noexcept { return count_; }
  void Clear() noexcept;

 private:
  void Grow();

  std::vector<std::uint64_t> slots_;  // 0: empty; else hash << 32 | number + 1
  std::size_t count_ = 0;
};

// Texts stored once each and named by number in the order they were first given (folder keys,
// account names).
class TextKeys {
 public:
  std::uint32_t Intern(std::string_view text);
  std::string_view operator[](std::uint32_t number) const noexcept {
    const Key& k = keys_[number];
    return arena_.At(k.at, k.length);
  }
  std::size_t Count() const noexcept { return keys_.size(); }
  void Clear() noexcept;

 private:
  struct Key {
    TextArena::Position at;
    std::size_t length;
  };
  TextArena arena_;
  std::vector<Key> keys_;
  TextKeyIndex index_;
};

// A vector of trivially copyable records that grows by chunks of kChunk elements: elements never
// move, and growing never holds two copies of the elements.
template <class T, std::size_t kChunk = 4096>
class ChunkedVector {
 public:
  std::size_t size() const noexcept { return size_; }
  bool empty() const noexcept { return size_ == 0; }
  T& operator[](std::size_t i) noexcept { return chunks_[i / kChunk][i % kChunk]; }
  const T& operator[](std::size_t i) const noexcept { return chunks_[i / kChunk][i % kChunk]; }
  T& push_back(const T& value) {
    if (size_ == chunks_.size() * kChunk) chunks_.push_back(std::unique_ptr<T[]>(new T[kChunk]));
    T& slot = (*this)[size_];
    slot = value;
    ++size_;
    return slot;
  }
  void clear() noexcept {
    chunks_.clear();
    chunks_.shrink_to_fit();
    size_ = 0;
  }

 private:
  std::vector<std::unique_ptr<T[]>> chunks_;
  std::size_t size_ = 0;
};

}  // namespace qv
