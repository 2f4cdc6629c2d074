// Writing a component and what it owns as a component stream, and reading one back into an
// existing component.
#pragma once

#include "base/Stream.h"
#include "components/Component.h"

namespace qv {

// Writes the signature "TPF0" and the record of root: class name, component name, the published
// properties (sub-objects as dotted entries, collections inline), the extra definitions ("Left"
// and "Top"), and two end markers. There is no ancestor, so defaults are decided by value. A
// write the stream does not complete fails with "Stream write error".
void WriteComponentStream(TStream& stream, TComponent& root);

// Reads a stream from its current position into root and returns root: the stored name (made
// unique against the top-level components of root's registry) replaces root's name, every entry
// sets its property through the property's setter, collections are filled in place. Reading is
// strict: an unknown property, a malformed value or a value of the wrong kind fails (EReadError,
// EComponentError for the name). What was read before a failure stays. The stream is left just
// after the last byte of the root record.
TComponent& ReadComponentStream(TStream& stream, TComponent& root);

}  // namespace qv
