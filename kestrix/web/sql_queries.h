#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "kestrix/web/bound_sql.h"
#include "platform/base/object.h"
#include "platform/base/variant.h"

namespace kestrix {

/// One filter of a document list: the field and operator the page offers ("DOCUMENT.SENDER
/// like", "DOCUMENT.DOCUMENTID = ", "PUBLICATION.STATUS =", "T2.TAGVALUE like") and the value
/// the user typed.
struct DocListFilter {
    std::string name;
    std::string value;
};

/// "Kestrix.SQLQueries": the list queries of the web pages' boxes. Sender mode 1 lists the
/// inbox (documents published to the user), 2 the error box (the user's documents with open
/// publication errors, and failed deliveries to the user's partner), any other the outbox
/// (documents the user sent). A parent document other than 0 lists that document's children
/// instead of a box.
///
/// The page names its filters and user-defined field columns, but they are never taken as
/// SQL: a filter name must be one field of the box with an operator that suits it, a
/// user-defined field one of the document type's (TAGSCONFIG). Anything else is refused with
/// `InvalidParamValue`; every value is bound, and a filter only narrows the user's own list.
class SQLQueries : public Object {
  public:
    /// The list query as SQL text with its bound values. `tagIDs` become the columns T1 ... Tn
    /// (box lists only). `o_sErrors` is set to "" first; when a filter value is not valid it
    /// holds three texts joined by "|" (message, allowed values, a note on wildcards) for the
    /// page to show, and the call raises `InvalidParamValue` with the source
    /// "Kestrix.SQLQueries.GetDocListQuery". The texts are in `language` (0: the default).
    BoundSql BuildDocListQuery(int32_t i_lSenderMode, const std::string& i_sDocTypeID,
                               const std::vector<int32_t>& tagIDs,
                               const std::vector<DocListFilter>& filters, int32_t i_lParentDocID,
                               const std::string& i_sUser, std::string& o_sErrors, int32_t language = 0);

    /// The same for callers by name: the arrays are indexed 1 ... n (element 0 is ignored),
    /// the query is handed back as a finished text with its values encoded as literals.
    void GetDocListQuery(int32_t i_lSenderMode, const std::string& i_sDocTypeID,
                         Variant& i_alTagIDs, Variant& i_asTagDescriptions, int32_t i_lNrOfTags,
                         Variant& i_asFilterNames, Variant& i_asFilterValues,
                         int32_t i_lNrOfFilters, int32_t& i_lParentDocID,
                         const std::string& i_sUser, Variant& o_sQuery, Variant& o_sErrors);

    Variant Invoke(std::string_view method, std::span<Variant> args) override;
};

}  // namespace kestrix
