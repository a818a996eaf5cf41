#pragma once

#include <httplib.h>

#include <cstddef>
#include <functional>
#include <nlohmann/json.hpp>

// Answers a request as a route plans it, faults included:
//   status, body (text) or json (value), contentType, file (streamed), delayMs,
//   hang (accept and never answer), truncateAfter (declare the whole length, send that many
//   bytes, close), bytesPerSecond (slow body), repeatBytes (a body of that many 'x'),
//   location (a Location header, for redirects with a 3xx status), headers (an object of
//   further response headers), chunked (a streamed body sent without announcing its length).
// A file or repeatBytes answer honours "Range: bytes=N-" (206) unless ignoreRange is set, and
// If-Range against its ETag or Last-Modified: etag (a file's default is made of its size
// and modification time; false: none), lastModified (a date text). truncateAfter and
// bytesPerSecond then count the bytes of this answer. rangeAnswer (a planned answer) answers a
// request that carries a Range header instead, as a server or a network in the way may: an
// error status, a page, a whole body cut short.
// `sent` hears the number of body bytes each write put on the wire.
void answerAsPlanned(const nlohmann::json& planned, const httplib::Request& request,
                     httplib::Response& response, std::function<void(std::size_t)> sent);

// What the record keeps of a request: time, method, path, query and headers.
nlohmann::json describeRequest(const httplib::Request& request);

// Ends every wait of the answers under way (hangs, delays, slow bodies), for a prompt stop.
void stopAnswering();
