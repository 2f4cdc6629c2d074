#include "base/StringList.h"

#include "base/Errors.h"
#include "base/StringUtils.h"

namespace qv {

TStringList::TStringList(std::initializer_list<std::string_view> items) {
  items_.reserve(items.size());
  for (auto s : items)
    items_.push_back({std::string(s), 0});
}

TStringList& TStringList::operator=(const TStringList& other) {
  if (this != &other) Assign(other);
  return *this;
}

bool operator==(const TStringList& a, const TStringList& b) {
  if (a.items_.size() != b.items_.size()) return false;
  for (std::size_t i = 0; i < a.items_.size(); ++i)
    if (a.items_[i].text != b.items_[i].text || a.items_[i].object != b.items_[i].object)
      return false;
  return true;
}

void TStringList::CheckIndex(int i) const {
  if (i < 0 || i >= Count()) throw EListError(Format(kListIndexError, i));
}

const std::string& TStringList::Strings(int i) const {
  CheckIndex(i);
  return items_[static_cast<std::size_t>(i)].text;
}

TStringList::Object TStringList::Objects(int i) const {
  CheckIndex(i);
  return items_[static_cast<std::size_t>(i)].object;
}

void TStringList::SetString(int i, std::string s) {
  CheckIndex(i);
  items_[static_cast<std::size_t>(i)].text = std::move(s);
  Changed();
}

void TStringList::SetObject(int i, Object o) {
  CheckIndex(i);
  items_[static_cast<std::size_t>(i)].object = o;
  Changed();
}

int TStringList::AddObject(std::string s, Object o) {
  items_.push_back({std::move(s), o});
  Changed();
  return Count() - 1;
}

void TStringList::Insert(int i, std::string s, Object o) {
  if (i < 0 || i > Count()) throw EListError(Format(kListIndexError, i));
  items_.insert(items_.begin() + i, Item{std::move(s), o});
  Changed();
}

void TStringList::Delete(int i) {
  CheckIndex(i);
  items_.erase(items_.begin() + i);
  Changed();
}

void TStringList::Clear() {
  if (items_.empty()) return;
  items_.clear();
  Changed();
}

void TStringList::ClearInto(std::vector<std::string>& spare) {
  if (items_.empty()) return;
  for (auto& item : items_)
    spare.push_back(std::move(item.text));
  items_.clear();
  Changed();
}

void TStringList::AddStrings(const TStringList& other) {
  BeginUpdate();
  items_.insert(items_.end(), other.items_.begin(), other.items_.end());
  EndUpdate();
}

void TStringList::Assign(const TStringList& other) {
  BeginUpdate();
  if (this != &other) items_ = other.items_;
  EndUpdate();
}

void TStringList::TakeItems(TStringList& other) {
  if (this == &other) return;
  items_ = std::move(other.items_);
  other.items_.clear();
  Changed();
  other.Changed();
}

int TStringList::IndexOf(std::string_view s) const noexcept {
  for (std::size_t i = 0; i < items_.size(); ++i)
    if (SameText(items_[i].text, s)) return static_cast<int>(i);
  return -1;
}

std::string TStringList::Text() const {
  std::size_t n = 0;
  for (const auto& it : items_)
    n += it.text.size() + 2;
  std::string r;
  r.reserve(n);
  for (const auto& it : items_) {
    r += it.text;
    r += "\r\n";
  }
  return r;
}

void TStringList::SetText(std::string_view text) {
  BeginUpdate();
  items_.clear();
  std::size_t i = 0;
  const std::size_t n = text.size();
  while (i < n) {
    std::size_t j = i;
    while (j < n && text[j] != '\r' && text[j] != '\n')
      ++j;
    items_.push_back({std::string(text.substr(i, j - i)), 0});
    if (j < n && text[j] == '\r') ++j;
    if (j < n && text[j] == '\n') ++j;
    i = j;
  }
  EndUpdate();
}

std::string TStringList::CommaText() const {
  if (items_.size() == 1 && items_[0].text.empty()) return "\"\"";
  std::string r;
  bool first = true;
  for (const auto& it : items_) {
    if (!first) r += ',';
    first = false;
    bool quote = false;
    for (char c : it.text) {
      const auto u = static_cast<unsigned char>(c);
      if (u <= 32 || c == '"' || c == ',') {
        quote = true;
        break;
      }
    }
    if (!quote) {
      r += it.text;
      continue;
    }
    r += '"';
    for (char c : it.text) {
      if (c == '"') r += '"';
      r += c;
    }
    r += '"';
  }
  return r;
}

void TStringList::SetCommaText(std::string_view text) {
  BeginUpdate();
  items_.clear();
  std::size_t i = 0;
  const std::size_t n = text.size();
  auto skip_blanks = [&] {
    while (i < n && static_cast<unsigned char>(text[i]) <= 32)
      ++i;
  };
  skip_blanks();
  while (i < n) {
    std::string item;
    if (text[i] == '"') {
      ++i;
      while (i < n) {
        if (text[i] == '"') {
          if (i + 1 < n && text[i + 1] == '"') {
            item += '"';
            i += 2;
            continue;
          }
          ++i;
          break;
        }
        item += text[i++];
      }
    } else {
      while (i<n&& static_cast<unsigned char>(text[i])> 32 && text[i] != ',')
        item += text[i++];
    }
    items_.push_back({std::move(item), 0});
    skip_blanks();
    if (i < n && text[i] == ',') {
      ++i;
      skip_blanks();
      if (i >= n) items_.push_back({std::string(), 0});
    }
  }
  EndUpdate();
}

void TStringList::Changed() {
  if (update_count_ == 0 && OnChange) OnChange();
}

void TStringList::EndUpdate() {
  if (update_count_ > 0 && --update_count_ == 0) Changed();
}

}  // namespace qv
