#pragma once

#include <httplib.h>

#include <optional>
#include <string>

#include "RouteStore.h"

// The administration endpoints tests drive the server with:
//   GET /__admin/requests, POST /__admin/requests/clear, GET|POST /__admin/routes,
//   POST /__admin/reset (the start-up routes again), POST /__admin/test-script (a script of
//   messages the join page posts when it loads: {"steps": [{"name", "body", "repeat",
//   "pauseMs", "fill": {field id: value}, "submit": form id, "click": element id}],
//   "awaitReplies", "awaitMs", "settleMs"}), GET /__admin/replies (the reports the page sent
//   back, newest last); and the two the join page itself calls, /__test/script and
//   /__test/replies.
void addAdministrationEndpoints(httplib::Server& server, RouteStore& store);

// Every other GET: recorded, then answered by its route; API and image paths without a
// route are 404, any other path is the join page. When the server serves an agent image
// (`agentVersion` set) and no route replaces it, the agent check answers as the service
// does: an agent_version of "0" or older than `agentVersion` is asked to download the image
// from this server, the same or a newer one is not.
void addServiceEndpoints(httplib::Server& server, RouteStore& store, std::string joinPage,
                         std::optional<std::string> agentVersion);
