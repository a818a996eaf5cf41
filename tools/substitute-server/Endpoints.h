#pragma once

#include <httplib.h>

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
// route are 404, any other path is the join page.
void addServiceEndpoints(httplib::Server& server, RouteStore& store, std::string joinPage);
