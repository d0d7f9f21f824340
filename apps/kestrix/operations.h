#pragma once

#include <vector>

#include "platform/base/metrics.h"
#include "platform/http/server.h"

namespace kestrix::cli {

/// GET /healthz and GET /metrics of the service, over the registry the service keeps.
std::vector<http::Route> OperationsRoutes(metrics::Registry& registry);

}  // namespace kestrix::cli
