// TStringList: an ordered list of byte strings, each with an attached object value.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace qv {

class TStringList {
 public:
  // The value attached to an item: a small integer (for example a line number) or a pointer.
  using Object = std::intptr_t;
  struct Item {
    std::string text;
    Object object = 0;
  };

  TStringList() = default;
  TStringList(std::initializer_list<std::string_view> items);
  TStringList(const TStringList& other) : items_(other.items_) {}
  TStringList& operator=(const TStringList& other);
  TStringList(TStringList&&) noexcept = default;
  TStringList& operator=(TStringList&&) noexcept = default;

  int Count() const noexcept { return static_cast<int>(items_.size()); }
  bool Empty() const noexcept { return items_.empty(); }

  // Unchecked access for hot loops; Strings/Objects check the index ("List index out of bounds").
  const std::string& operator[](int i) const noexcept {
    return items_[static_cast<std::size_t>(i)].text;
  }
  const std::string& Strings(int i) const;
  Object Objects(int i) const;
  void SetString(int i, std::string s);
  void SetObject(int i, Object o);

  int Add(std::string s) { return AddObject(std::move(s), 0); }
  int AddObject(std::string s, Object o);
  void Insert(int i, std::string s, Object o = 0);
  void Delete(int i);
  void Clear();
  void AddStrings(const TStringList& other);
  void Reserve(std::size_t n) { items_.reserve(n); }
  // Replaces the contents by a copy of other's items (texts and objects).
  void Assign(const TStringList& other);
  // Replaces the contents by other's items, leaving other empty; both notify their change.
  void TakeItems(TStringList& other);
  // Empties the list like Clear, but hands each item's text, storage and all, to the end of
  // `spare` instead of freeing it (a list refilled line by line can reuse the storage).
  void ClearInto(std::vector<std::string>& spare);

  // Index of the first item equal to s without regard to ASCII case, or -1.
  int IndexOf(std::string_view s) const noexcept;

  // Every item followed by CR LF.
  std::string Text() const;
  // Splits at CR LF, CR or LF; a break at the very end adds no empty item.
  void SetText(std::string_view text);

  // Items joined with ","; an item holding a blank, a control character, a double quote or a comma
  // is enclosed in double quotes, its inner double quotes doubled. One empty item gives "".
  std::string CommaText() const;
  // Reads a comma text back: items separated by commas or blanks, double-quoted items unquoted.
  void SetCommaText(std::string_view text);

  // Change notification: OnChange runs after every change made outside an update bracket, and once
  // when the outermost EndUpdate closes.
  std::function<void()> OnChange;
  void BeginUpdate() noexcept { ++update_count_; }
  void EndUpdate();
  int UpdateCount() const noexcept { return update_count_; }

  const std::vector<Item>& Items() const noexcept { return items_; }
  auto begin() const noexcept { return items_.begin(); }
  auto end() const noexcept { return items_.end(); }

  friend bool operator==(const TStringList& a, const TStringList& b);

 private:
  void Changed();
  void CheckIndex(int i) const;

  std::vector<Item> items_;
  int update_count_ = 0;
};

}  // namespace qv
