// The enumerations of a message (priority, format): their names in component streams, and the
// header values they stand for.
#pragma once

#include <cstdint>
#include <string_view>

#include "codec/clEncoder.h"
#include "components/PropertyInfo.h"

namespace qv {

enum TclMessagePriority : std::uint8_t { mpLow = 0, mpNormal = 1, mpHigh = 2 };
enum TclMessageFormat : std::uint8_t { mfNone = 0, mfMIME = 1, mfUUencode = 2 };

// Identifiers of the enumerations, for component streams (kEncodeMethodInfo is the encoder's).
extern const TEnumInfo kMessagePriorityInfo;
extern const TEnumInfo kMessageFormatInfo;

// The message format by whether a MIME header is present.
inline constexpr TclMessageFormat MessageFormatByMime[2] = {mfUUencode, mfMIME};

// Values of the priority fields by priority (an empty value writes no field).
inline constexpr std::string_view PriorityImportanceValues[3] = {"Low", "", "High"};
inline constexpr std::string_view PriorityXPriorityValues[3] = {"5", "3", "1"};
inline constexpr std::string_view PriorityMSMailValues[3] = {"Low", "Normal", "High"};

}  // namespace qv
