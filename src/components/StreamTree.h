// A component stream read without any class: every record, entry and value as stored. It shows
// files that the model classes would reject, and lets tests look at what a writer produced.
#pragma once

#include <functional>
#include <string_view>

#include "base/Stream.h"

namespace qv {

// Where the text goes, piece by piece.
using TTextOutput = std::function<void(std::string_view text)>;

// Reads the signature and one component record and writes it as indented text while it is read:
// "object <name>: <class>", one "<name> = <value>" line per entry (strings quoted, identifiers
// bare, sets in brackets, lists in parentheses, collections as "<", "item" ... "end", ">"), "end".
// The text is handed out in pieces of a few dozen KiB, so that a file of any size takes little
// memory. On failure everything read up to that point has been handed out and the exception
// propagates; parts that were not read completely lack their closing line. Failures are those of
// the component reader: "Invalid stream format", "Invalid property value", "Stream read error"
// (EReadError).
void WriteStreamTree(TStream& stream, const TTextOutput& output);

}  // namespace qv
