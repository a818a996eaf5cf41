#pragma once

#include <optional>
#include <string>

#include "PropertyList.h"

namespace platform::BinaryPropertyList {

// True when the bytes begin as a binary property list ("bplist00").
bool isBinary(const std::string& bytes);

// Reads a binary property list. Every offset, count and reference is checked against the
// input, references that loop are refused, and what shared references may expand to is bounded,
// so no input can crash, hang or exhaust the process; anything else fails, saying why.
// Values the property-list model here has no place for (null, UIDs, sets) fail as well.
Result<PlistValue> parse(const std::string& bytes);

}  // namespace platform::BinaryPropertyList
