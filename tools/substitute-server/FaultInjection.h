#pragma once

#include <httplib.h>

#include <nlohmann/json.hpp>

// Answers a request as a route plans it, faults included:
//   status, body (text) or json (value), contentType, file (streamed), delayMs,
//   hang (accept and never answer), truncateAfter (declare the whole length, send that many
//   bytes, close), bytesPerSecond (slow body), repeatBytes (a body of that many 'x'),
//   location (a Location header, for redirects with a 3xx status), headers (an object of
//   further response headers), chunked (a streamed body sent without announcing its length).
void answerAsPlanned(const nlohmann::json& planned, httplib::Response& response);

// What the record keeps of a request: time, method, path, query and headers.
nlohmann::json describeRequest(const httplib::Request& request);

// Ends every wait of the answers under way (hangs, delays, slow bodies), for a prompt stop.
void stopAnswering();
