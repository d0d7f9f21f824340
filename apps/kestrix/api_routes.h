#pragma once

#include <vector>

#include "platform/http/server.h"

namespace kestrix::cli {

/// The JSON API of the service under /api/v1, for a user's own programs: each request names
/// its user by an API token ("Authorization: Bearer TOKEN", from `kestrix user token LOGIN`).
/// Today: GET /api/v1/documents?type=T[&box=inbox|outbox|errors][&page=N][&size=M].
std::vector<http::Route> ApiRoutes();

}  // namespace kestrix::cli
