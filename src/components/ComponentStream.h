// Writing a component and what it owns as a component stream, and reading one back into an
// existing component.
#pragma once

#include "base/Stream.h"
#include "components/Component.h"

namespace qv {

// The items of one collection handed over one at a time while a stream is written or read, in
// place of the items the collection holds: for a list too long to keep as items (the repair keeps
// the entries of a mailbox index in a compact form of its own). The stream's bytes are the same as
// for a collection holding the same items.
class TItemSource {
 public:
  virtual ~TItemSource() = default;
  // The collection whose items these are; its own items are not written.
  virtual const TCollection& Collection() const = 0;
  virtual std::size_t Count() const = 0;
  // The item at a position, valid until the next call.
  virtual TCollectionItem& Item(std::size_t index) = 0;
};

class TItemSink {
 public:
  virtual ~TItemSink() = default;
  // The collection whose stored items go here; it receives none of them.
  virtual const TCollection& Collection() const = 0;
  // A stored list with items begins: the items handed over before are dropped, as a collection
  // is cleared.
  virtual void Clear() = 0;
  // An item with its initial values, for the next stored item to be read into.
  virtual TCollectionItem& Begin() = 0;
  // The item from Begin, read. An item that an error cut short is handed over too, with the
  // entries read before the error set, as it would stay in a collection.
  virtual void End(TCollectionItem& item) = 0;
};

// Writes the signature "TPF0" and the record of root: class name, component name, the published
// properties (sub-objects as dotted entries, collections inline), the extra definitions ("Left"
// and "Top"), and two end markers. There is no ancestor, so defaults are decided by value. A
// write the stream does not complete fails with "Stream write error".
// With a source, the items of its collection are the source's.
void WriteComponentStream(TStream& stream, TComponent& root, TItemSource* source = nullptr);

// Reads a stream from its current position into root and returns root: the stored name (made
// unique against the top-level components of root's registry) replaces root's name, every entry
// sets its property through the property's setter, collections are filled in place. Reading is
// strict: an unknown property, a malformed value or a value of the wrong kind fails (EReadError,
// EComponentError for the name). What was read before a failure stays. The stream is left just
// after the last byte of the root record. With a sink, the items of its collection go to the sink.
TComponent& ReadComponentStream(TStream& stream, TComponent& root, TItemSink* sink = nullptr);

}  // namespace qv
