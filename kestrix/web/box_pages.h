#pragma once

#include <vector>

#include "kestrix/web/pages.h"

namespace kestrix::web {

/// The boxes of the logged-in user, 25 documents a page:
/// - GET /inbox, /outbox, /errors: the documents of one type (`type`, else the first type of
///   the box), narrowed by the filters `sender` and `t1` ... `tn` (patterns, "*" for any
///   text), `docid` and `status` (not in the error box), sorted by `sort` (date, sender,
///   docid, status, t1 ... tn) in `dir` (asc, desc; newest first when not given), page `page`;
///   a filter value that is not valid is shown with its hint, not run;
/// - GET /children?DocID=N&DocTypeID=T&SenderMode=M: the child documents of a parent the
///   visitor sees in that box (SenderMode 0 inbox, 1 outbox, 2 error box); 404 otherwise.
/// A `notice` or `error` parameter holding a label code shows that label's text (the
/// actions send the visitor back here with their outcome).
std::vector<Page> BoxPages();

}  // namespace kestrix::web
