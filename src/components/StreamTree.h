// A component stream read without any class: every record, entry and value as stored. It shows
// files that the model classes would reject, and lets tests look at what a writer produced.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "base/Stream.h"
#include "components/Filer.h"

namespace qv {

struct TStreamEntry;
struct TStreamItem;

struct TStreamValue {
  TValueType type = TValueType::Null;
  std::int64_t integer = 0;          // integers, 64-bit integers, currency (ten-thousandths)
  double real = 0;                   // extended, single, double and date values
  std::string text;                  // strings (as UTF-8), identifiers, binary data
  std::vector<std::string> members;  // sets
  std::vector<TStreamValue> list;    // lists
  std::vector<TStreamItem> items;    // collections
  bool complete =
      false;  // the whole value was read (for lists and collections: their closing byte)
};

struct TStreamEntry {
  std::string name;
  TStreamValue value;
};

struct TStreamItem {
  bool hasNumber = false;
  std::int64_t number = 0;  // an item number stored in front of the item
  std::vector<TStreamEntry> entries;
  bool complete = false;
};

struct TStreamRecord {
  std::uint8_t flags = 0;  // prefix flags: 1 inherited, 2 child position, 4 inline
  std::int64_t position = 0;
  std::string className;
  std::string name;
  std::vector<TStreamEntry> entries;
  std::vector<TStreamRecord> children;
  bool headerRead = false;  // the class and component names were read
  bool complete = false;
};

// Reads the signature and one component record into root. On failure the exception propagates
// and root keeps what was read up to that point. Failures are those of the component reader:
// "Invalid stream format", "Invalid property value", "Stream read error" (EReadError).
void ReadStreamTree(TStream& stream, TStreamRecord& root);

// The record as indented text: "object <name>: <class>", one "<name> = <value>" line per entry
// (strings quoted, identifiers bare, sets in brackets, lists in parentheses, collections as
// "<", "item" ... "end", ">"), "end". Parts that were not read completely lack their closing line.
std::string FormatStreamTree(const TStreamRecord& root);

}  // namespace qv
