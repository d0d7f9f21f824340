#pragma once

#include <optional>
#include <string>
#include <vector>

#include "platform/http/server.h"

namespace kestrix::web {

/// The JSON API of the service under /api/v1, for a user's own programs, and the HTTP intake.
/// Paths are exact, so identifiers travel as query parameters (id=N&type=T). Each request is
/// the user's whom `ApiUser` names; a document he may not see answers 404, exactly as one that
/// does not exist.
///
/// - GET  /api/v1/documents?type=T[&box=inbox|outbox|errors][&page=N][&size=M]
///        [&tag=ID...][&filter=FIELD OPERATOR&value=V...]   one page of a box
/// - GET  /api/v1/document?id=N[&type=T]                     a document, its recipients,
///        errors and attachments
/// - GET  /api/v1/document/history?id=N[&type=T]             its delivery attempts
/// - POST /api/v1/document/accept|reject|delete?id=N[&type=T][&box=inbox|outbox]
/// - POST /api/v1/errors/repush?id=N[&type=T][&error=E]      sends failed deliveries again
/// - POST /api/v1/documents                                  publishes a document: the body
///        with a token (XML, or a workbook by its content type), or the form post of another
///        site's HTTP send method (xml= or EOBIO=, USER, PASSWORD, DocID), answered in the
///        protocol of that sender.
std::vector<http::Route> ApiRoutes();

/// The user a request of the API speaks for: the owner of the API token it carries
/// ("Authorization: Bearer TOKEN", from `kestrix user token LOGIN`), else the visitor of the
/// pages' session, a POST only with the session's CSRF token (header "X-CSRF-Token" or field
/// "csrf"). Nothing when it carries none that is in force.
std::optional<std::string> ApiUser(const http::Request& request);

}  // namespace kestrix::web
