#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace platform::partial {

// What a broken download's kept bytes belong to.
struct Record {
    std::string url;
    std::string validator;    // the strong ETag, else Last-Modified, the server named
    std::uint64_t total = 0;  // the whole size the server announced
};

// Bytes of an earlier try, now in the caller's file.
struct Continuation {
    Record record;
    std::uint64_t bytes = 0;
};

// A partial untouched for longer than this starts over.
inline constexpr long kLongestKeptSeconds = 24 * 60 * 60;

// ".<name>.kelvane-partial" beside `destination`; its record lies beside it.
std::string pathFor(const std::string& destination);

// Moves the partial kept for `destination` onto `location` when it continues `url` (same
// address, a validator, fewer bytes than the whole, written within the last day); any other
// partial there is removed. Two downloads never share one: the move is one rename.
std::optional<Continuation> claim(const std::string& destination, const std::string& url,
                                  const std::string& location);

// Keeps the file at `location` as the partial of `destination` (record first, then the
// file renamed into place). False when it cannot: the caller removes the file.
bool keep(const std::string& location, const std::string& destination, const Record& record);

}  // namespace platform::partial
