#include "platform/PropertyList.h"
#include "FuzzTarget.h"

KELVANE_FUZZ_TARGET(PropertyList) {
    auto value = platform::PropertyList::parse(fuzzText(data, size));
    if (!value) return 0;
    // Whatever was read is written back as XML that reads the same.
    auto again = platform::PropertyList::parse(platform::PropertyList::toXml(*value));
    if (!again) __builtin_trap();
    return 0;
}
