#pragma once
// The server side of one device connection, as bytes: requests that have
// arrived are run on the board and their replies queued, in order.
#include "kmui_board.h"

#include <string>

namespace kmui {

// Serves every whole request at the front of `in` (removing it) and appends
// its reply to `out`; a partial request stays in `in` for later bytes.
// Returns false when the stream cannot be a request stream (a request longer
// than any driver buffer): the connection is to be dropped.
bool serveRequests(Board &board, ConnectionId connection, std::string &in, std::string &out);

} // namespace kmui
