#pragma once
// The page of one document and what a user does to documents from the pages: accept,
// reject, delete from a box, close, delete and re-send publication errors, forward, upload
// and create from a template.

#include <vector>

#include "kestrix/web/pages.h"

namespace kestrix::web {

/// The pages of documents, for the frame to serve to logged-in visitors:
///
/// - GET /document?DocID=N&DocTypeID=T&SenderMode=M, also at the path the notification mails
///   link to ("/" + the server parameter "SiteLinkStartingPoint", read when this is called);
///   GET /document/attachment?DocID=N&DocTypeID=T&name=FILE; GET /document/html?DocID=N&...
///   (the document rendered with its type's style sheet, served sandboxed).
/// - POST /document/accept, /document/reject, /document/delete, /document/forward,
///   /errors/close, /errors/delete, /errors/repush, each with the fields DocID, DocTypeID and
///   SenderMode; answered with a 303 back to the document or the box, the outcome named by
///   the label code in the query parameter "notice".
/// - GET and POST /upload (an XML document or a workbook) and /create (from a template).
///
/// A document the visitor may not see answers 404 with the same page as a missing one, for
/// every path above.
std::vector<Page> DocumentPages();

}  // namespace kestrix::web
