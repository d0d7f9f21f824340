#include "kestrix/web/sql_queries.h"

#include <cctype>
#include <optional>
#include <regex>

#include "kestrix/documents/document.h"
#include "kestrix/foundation/dbutils.h"
#include "kestrix/foundation/enums.h"
#include "kestrix/foundation/error_reporting.h"
#include "kestrix/foundation/i18n.h"
#include "kestrix/foundation/users.h"
#include "kestrix/rules/routing.h"
#include "platform/base/dictionary.h"
#include "platform/base/error.h"
#include "platform/base/strings.h"
#include "platform/db/connection.h"

namespace kestrix {

namespace {

constexpr std::string_view kSource = "Kestrix.SQLQueries.";

enum class Box { Outbox, Inbox, ErrorBox };

/// What a filter compares, which decides the operators it takes and how its value is read.
enum class FieldKind { Number, Status, Text };

/// A filter the page may offer: the field as it is written into the query and its operator.
struct CheckedFilter {
    std::string column;    // "DOCUMENT.SENDER", "T2.TAGVALUE"
    std::string op;        // "=", "LIKE", "NOT LIKE", ...
    FieldKind kind;
};

std::string Source(std::string_view builder) { return std::string(kSource) + std::string(builder); }

/// The message that refuses a name the page gave: the label with the name filled in.
std::string Refusal(std::string_view code, std::string_view key, std::string_view given, int32_t language = 0) {
    Dictionary replacements;
    replacements.Add(std::string(key), std::string(given));
    return TranslateLabel(code, language, replacements);
}

/// The page's filter name checked against the fields of the box: "<TABLE>.<COLUMN> <operator>",
/// case and blanks ignored. The column is one the box lists, the operator one that suits it
/// (LIKE for texts, comparisons for the document number, = and <> for a status).
std::optional<CheckedFilter> CheckFilterName(Box box, const std::string& name, size_t tagCount) {
    static const std::regex form(R"(^\s*([A-Za-z][A-Za-z0-9_]*)\.([A-Za-z_]+)\s*(=|<>|<=|>=|<|>|NOT\s+LIKE|LIKE)\s*$)",
                                 std::regex::icase);
    std::smatch m;
    if (std::regex_match(name, m, form)) {
        const std::string table = ToUpper(m[1].str());
        const std::string column = ToUpper(m[2].str());
        std::string op = ToUpper(m[3].str());
        if (op.starts_with("NOT")) op = "NOT LIKE";
        std::optional<FieldKind> kind;
        if (table == "DOCUMENT" && column == "DOCUMENTID") kind = FieldKind::Number;
        else if (table == "DOCUMENT" && column == "SENDER") kind = FieldKind::Text;
        else if (table == "DOCUMENT" && column == "STATUS" && box != Box::Inbox) kind = FieldKind::Status;
        else if (table == "PUBLICATION" && column == "STATUS" && box == Box::Inbox) kind = FieldKind::Status;
        else if (column == "TAGVALUE" && table.size() > 1 && table[0] == 'T' &&
                 table.find_first_not_of("0123456789", 1) == std::string::npos &&
                 table.size() < 6) {
            const size_t position = std::stoul(table.substr(1));
            if (position >= 1 && position <= tagCount) kind = FieldKind::Text;
        }
        const bool pattern = op.find("LIKE") != std::string::npos;
        const bool fits = kind && (*kind == FieldKind::Text ? pattern
                                   : *kind == FieldKind::Status ? (op == "=" || op == "<>")
                                                                : !pattern);
        if (fits) return CheckedFilter{table + "." + column, op, *kind};
    }
    return std::nullopt;
}

/// The label text with "[%FIELD%]" replaced by another label's text (case ignored).
std::string FieldMessage(std::string_view fieldLabel, int32_t language) {
    std::string message = TranslateLabel("SLBSH1121", language);
    const std::string field = TranslateLabel(fieldLabel, language);
    const std::string upper = ToUpper(message);
    const size_t at = upper.find("[%FIELD%]");
    if (at != std::string::npos) message.replace(at, 9, field);
    return message;
}

/// Builds one list query. The builders carry the names by which their failures are reported.
class DocListBuilder {
  public:
    DocListBuilder(const std::string& docType, const std::vector<int32_t>& tagIDs,
                   const std::vector<DocListFilter>& filters, int32_t parent,
                   const std::string& user, int32_t language)
        : docType_(docType), tagIDs_(tagIDs), filters_(filters), parent_(parent), user_(user), language_(language) {}

    std::array<std::string, 3> errors;

    BoundSql Build(int32_t senderMode) {
        InitializeVars();
        if (senderMode == static_cast<int32_t>(SENDERMODE::RECEIVERMODE)) return GetDocListQueryForInBox();
        if (senderMode == static_cast<int32_t>(SENDERMODE::ERRORMODE)) return GetDocListQueryForErrorBox();
        return GetDocListQueryForOutBox();
    }

  private:
    void InitializeVars() {
        try {
            errors = {};
            if (parent_ != 0) return;
            // The columns of the user-defined fields are those of the listed document type.
            db::Connection connection = GetConnection();
            for (int32_t tag : tagIDs_) {
                db::Recordset rs = connection.Query(
                    "SELECT TAGID FROM TAGSCONFIG WHERE TAGID = ? AND DOCUMENTTYPEID = ?",
                    {Variant(tag), Variant(docType_)});
                if (rs.Eof()) Refuse("InitializeVars", Refusal("KXL0603", "[%TAG%]", std::to_string(tag), language_));
            }
        } catch (...) {
            Reraise(Source("InitializeVars"));
        }
    }

    BoundSql AddTagConfigFieldsToSelectClause() {
        BoundSql part;
        if (parent_ != 0) return part;
        for (size_t i = 1; i <= tagIDs_.size(); ++i) {
            const std::string n = std::to_string(i);
            part.Append(", T" + n + ".TAGVALUE AS T" + n);
        }
        return part;
    }

    BoundSql AddTagConfigFieldsToFromClause() {
        BoundSql part;
        if (parent_ != 0) return part;
        for (size_t i = 1; i <= tagIDs_.size(); ++i) {
            const std::string n = std::to_string(i);
            part.Append(" LEFT OUTER JOIN ( SELECT TAGVALUE, DOCUMENTID FROM   TAGSVALUE WHERE  TAGID = ")
                .Bind(Variant(tagIDs_[i - 1]))
                .Append(") AS T" + n + " ON DOCUMENT.DOCUMENTID = T" + n + ".DOCUMENTID ");
        }
        return part;
    }

    /// Where the user sees a child document: published to him, not published to anyone, or
    /// sent by him.
    BoundSql ChildCondition(bool parenthesised) {
        BoundSql part;
        part.Append(" WHERE (PUBLICATION.USERID = ").Bind(Variant(user_))
            .Append(" OR     PUBLICATION.USERID IS NULL OR     DOCUMENT.SENDER = ").Bind(Variant(user_))
            .Append(")");
        part.Append(parenthesised ? " AND   (DOCUMENT.DOC_DOCUMENTID = " : " AND   DOCUMENT.DOC_DOCUMENTID = ")
            .Bind(Variant(parent_));
        if (parenthesised) part.Append(")");
        return part;
    }

    BoundSql GetDocListQueryForInBox() {
        try {
            BoundSql q;
            q.Append("SELECT DISTINCT DOCUMENT.STATUS AS DSTATUS, DOCUMENT.CREATIONDATE, DOCUMENT.SENDER,"
                     " DOCUMENT.DOCUMENTID, DOCUMENT.DOCUMENTTYPEID, CHILDS.DOC_DOCUMENTID AS CHILDID,"
                     " NR, PUBLICATION.DOCUMENTID");
            if (parent_ == 0) {
                q.Append(", PUBLICATION.USERID, PUBLICATION.STATUS, PUBLICATION.FORWARD");
                q.Append(AddTagConfigFieldsToSelectClause());
            }
            q.Append(" FROM DOCUMENT")
                .Append(parent_ != 0 ? " LEFT OUTER JOIN PUBLICATION ON" : " INNER JOIN PUBLICATION ON")
                .Append(" PUBLICATION.DOCUMENTID = DOCUMENT.DOCUMENTID");
            q.Append(" LEFT OUTER JOIN DOCUMENT AS CHILDS  ON DOCUMENT.DOCUMENTID = CHILDS.DOC_DOCUMENTID"
                     " LEFT OUTER JOIN ( SELECT  COUNT(ATTACHMENTID) AS NR, DOCUMENTID  FROM    ATTACHMENT"
                     " GROUP BY DOCUMENTID) AS A ON DOCUMENT.DOCUMENTID = A.DOCUMENTID ");
            if (parent_ != 0) {
                q.Append(ChildCondition(true));
            } else {
                q.Append(AddTagConfigFieldsToFromClause());
                q.Append(" WHERE PUBLICATION.USERID = ").Bind(Variant(user_))
                    .Append(" AND   DOCUMENT.DOCUMENTTYPEID= ").Bind(Variant(docType_))
                    .Append(" AND   PUBLICATION.STATUS NOT IN (2,3,7,8,9) AND   DOCUMENT.STATUS <> 0");
            }
            q.Append(" AND (NOT DOCUMENT.DOCUMENTTYPEID = '') AND (NOT DOCUMENT.DOCUMENTTYPEID IS NULL)"
                     " AND (DOCUMENT.SHOW = 1)");
            q.Append(" ").Append(GetQueryFilter(Box::Inbox)).Append(" ");
            return q;
        } catch (...) {
            Reraise(Source("GetDocListQueryForInBox"));
        }
    }

    BoundSql GetDocListQueryForOutBox() {
        try {
            BoundSql q;
            q.Append("SELECT DISTINCT DOCUMENT.STATUS AS DSTATUS, DOCUMENT.CREATIONDATE, DOCUMENT.SENDER,"
                     " DOCUMENT.DOCUMENTID,  DOCUMENT.DOCUMENTTYPEID, CHILDS.DOC_DOCUMENTID AS CHILDID,"
                     " NR, PUBLICATION.DOCUMENTID");
            q.Append(AddTagConfigFieldsToSelectClause());
            q.Append(" FROM DOCUMENT LEFT OUTER JOIN PUBLICATION ON PUBLICATION.DOCUMENTID = DOCUMENT.DOCUMENTID");
            q.Append(" LEFT OUTER JOIN DOCUMENT AS CHILDS  ON DOCUMENT.DOCUMENTID = CHILDS.DOC_DOCUMENTID"
                     " LEFT OUTER JOIN ( SELECT COUNT(ATTACHMENTID) AS NR,  DOCUMENTID  FROM   ATTACHMENT"
                     " GROUP BY DOCUMENTID) AS A ON DOCUMENT.DOCUMENTID = A.DOCUMENTID ");
            if (parent_ == 0) {
                q.Append(AddTagConfigFieldsToFromClause());
                q.Append(" WHERE DOCUMENT.SENDER = ").Bind(Variant(user_))
                    .Append(" AND   DOCUMENT.STATUS <> 4  AND   DOCUMENT.DOCUMENTTYPEID = ")
                    .Bind(Variant(docType_));
            } else {
                q.Append(ChildCondition(false));
            }
            q.Append(" AND (NOT DOCUMENT.DOCUMENTTYPEID = '') AND (NOT DOCUMENT.DOCUMENTTYPEID IS NULL)");
            q.Append(" ").Append(GetQueryFilter(Box::Outbox)).Append(" ");
            return q;
        } catch (...) {
            Reraise(Source("GetDocListQueryForOutBox"));
        }
    }

    BoundSql GetDocListQueryForErrorBox() {
        try {
            std::string user = user_;
            const int32_t partner = users::GetAUBusinessPartnerID(user);
            BoundSql s;
            s.Append(" SELECT DISTINCT  DOCUMENT.DOCUMENTID, DOCUMENT.CREATIONDATE, DOCUMENT.SENDER,"
                     " DOCUMENT.DOCUMENTTYPEID");
            s.Append(AddTagConfigFieldsToSelectClause());
            const BoundSql f = AddTagConfigFieldsToFromClause();
            const BoundSql l = GetQueryFilter(Box::ErrorBox);
            BoundSql k;
            if (parent_ != 0) k.Append(" AND DOCUMENT.DOC_DOCUMENTID = ").Bind(Variant(parent_));
            else k.Append(" AND   DOCUMENT.DOCUMENTTYPEID = ").Bind(Variant(docType_));

            BoundSql q;
            q.Append(" ( ").Append(s)
                .Append(" FROM    PUBLICATIONERRORS PE  INNER JOIN DOCUMENT ON DOCUMENT.DOCUMENTID = PE.DOCUMENTID"
                        " INNER JOIN DOCUMENTTYPE ON DOCUMENT.DOCUMENTTYPEID = DOCUMENTTYPE.DOCUMENTTYPEID")
                .Append(f)
                .Append(" WHERE PE.CLOSED = 0 AND   DOCUMENT.SENDER = ").Bind(Variant(user_))
                .Append(k)
                .Append(" AND (NOT DOCUMENT.DOCUMENTTYPEID = '') AND (NOT DOCUMENT.DOCUMENTTYPEID IS NULL)")
                .Append(l);
            q.Append(" ) UNION ( ").Append(s)
                .Append(" FROM   SENDMETHODHISTORY SMH INNER JOIN PUBLICATIONERRORS PE ON"
                        " SMH.PUBLICATIONERRORID = PE.PUBLICATIONERRORID INNER JOIN DOCUMENT ON"
                        " SMH.DOCUMENTID = DOCUMENT.DOCUMENTID INNER JOIN DOCUMENTTYPE ON"
                        " SMH.DOCUMENTTYPEID = DOCUMENTTYPE.DOCUMENTTYPEID INNER JOIN PUBLICATION P ON"
                        " DOCUMENT.DOCUMENTID = P.DOCUMENTID")
                .Append(f)
                .Append(" WHERE  SMH.PUBLICATIONERRORID > 0 AND    SMH.BUSINESSPARTNERID = ").Bind(Variant(partner))
                .Append(" AND    P.USERID = ").Bind(Variant(user_))
                .Append(" AND    P.STATUS NOT IN (2,3,7,8,9) ")
                .Append(k)
                .Append(" AND (NOT DOCUMENT.DOCUMENTTYPEID = '') AND (NOT DOCUMENT.DOCUMENTTYPEID IS NULL)"
                        " AND (DOCUMENT.SHOW = 1) ")
                .Append(l)
                .Append(" )");
            return q;
        } catch (...) {
            Reraise(Source("GetDocListQueryForErrorBox"));
        }
    }

    BoundSql GetQueryFilter(Box box) {
        try {
            BoundSql filter;
            const size_t tags = parent_ == 0 ? tagIDs_.size() : 0;
            for (const DocListFilter& given : filters_) {
                const std::optional<CheckedFilter> known = CheckFilterName(box, given.name, tags);
                if (!known) Refuse("GetQueryFilter", Refusal("KXL0601", "[%FILTER%]", given.name, language_));
                const CheckedFilter& checked = *known;
                const std::string fragment = checked.column + " " + checked.op + " ";
                switch (checked.kind) {
                    case FieldKind::Text:
                        filter.Append(ProcessLikeForQueryFilter(fragment, given.value));
                        break;
                    case FieldKind::Number:
                        filter.Append(ProcessDocumentIDFilterForQueryFilter(fragment, given.value));
                        break;
                    case FieldKind::Status:
                        if (box == Box::Outbox)
                            filter.Append(ProcessDocumentStatusFilterForQueryFilter(fragment, given.value));
                        else if (box == Box::Inbox)
                            filter.Append(ProcessPublicationStatusFilterForQueryFilter(fragment, given.value));
                        break;
                }
            }
            return filter;
        } catch (...) {
            Reraise(Source("GetQueryFilter"));
        }
    }

    BoundSql ProcessLikeForQueryFilter(const std::string& fragment, const std::string& value) {
        try {
            // The pattern as the LIKE encoder writes it: PostgreSQL takes a backslash as the
            // pattern's escape, so a backslash is doubled there to match itself.
            std::string pattern;
            const bool doubled = GetSqlEncoder().dialect() == db::Dialect::PostgreSQL;
            for (char c : value) {
                pattern += c;
                if (c == '\\' && doubled) pattern += c;
            }
            BoundSql part;
            part.Append(" AND ( " + fragment).Bind(Variant(pattern)).Append(" )");
            return part;
        } catch (...) {
            Reraise(Source("ProcessLikeForQueryFilter"));
        }
    }

    /// A name of the page that is no field, operator or user-defined field of the list.
    [[noreturn]] void Refuse(std::string_view builder, std::string message) {
        errors[0] = message;
        Raise(EnumerationErrors::InvalidParamValue, Source(builder), std::move(message));
    }

    [[noreturn]] void FilterError(std::string_view fieldLabel, std::string hint, std::string_view builder) {
        errors[0] = FieldMessage(fieldLabel, language_);
        errors[1] = std::move(hint);
        Raise(EnumerationErrors::InvalidParamValue, Source(builder), errors[0]);
    }

    BoundSql ProcessDocumentIDFilterForQueryFilter(const std::string& fragment, const std::string& value) {
        try {
            const std::string text = Trim(value);
            int64_t number = 0;
            bool valid = !text.empty() && text.size() <= 10 &&
                         text.find_first_not_of("0123456789") == std::string::npos;
            if (valid) {
                number = std::stoll(text);
                valid = number >= 1 && number <= 999999999;
            }
            if (!valid) {
                Dictionary range;
                range.Add("[%MIN%]", "1");
                range.Add("[%MAX%]", "999999999");
                FilterError("SLBSH1104", TranslateLabel("SLBSH1126", language_, range),
                            "ProcessDocumentIDFilterForQueryFilter");
            }
            BoundSql part;
            part.Append(" AND ( " + fragment).Bind(Variant(number)).Append(" ) ");
            return part;
        } catch (...) {
            Reraise(Source("ProcessDocumentIDFilterForQueryFilter"));
        }
    }

    BoundSql ProcessDocumentStatusFilterForQueryFilter(const std::string& fragment, const std::string& value) {
        try {
            const DOCUMENTSTATUS status = value.find('*') == std::string::npos
                                              ? DocumentStore().ConvertStatusFromStringToEnum(value)
                                              : DOCUMENTSTATUS::DOCUMENTUNKNOWNSTATUS;
            if (value.find('*') != std::string::npos) errors[2] = TranslateLabel("SLBSH1124", language_);
            if (status == DOCUMENTSTATUS::DOCUMENTUNKNOWNSTATUS)
                FilterError("SLBSH0803", TranslateLabel("SLBSH1123", language_),
                            "ProcessDocumentStatusFilterForQueryFilter");
            BoundSql part;
            part.Append(" AND ( " + fragment).Bind(Variant(static_cast<int32_t>(status))).Append(" )");
            return part;
        } catch (...) {
            Reraise(Source("ProcessDocumentStatusFilterForQueryFilter"));
        }
    }

    BoundSql ProcessPublicationStatusFilterForQueryFilter(const std::string& fragment, const std::string& value) {
        try {
            const PUBLICATIONSTATUS status = value.find('*') == std::string::npos
                                                 ? routing::ConvertPublicationStatusFromStringToEnum(value)
                                                 : PUBLICATIONSTATUS::PUBLICATIONUNKNOWNSTATUS;
            if (value.find('*') != std::string::npos) errors[2] = TranslateLabel("SLBSH1124", language_);
            if (status == PUBLICATIONSTATUS::PUBLICATIONUNKNOWNSTATUS)
                FilterError("SLBSH0803", TranslateLabel("SLBSH1125", language_),
                            "ProcessPublicationStatusFilterForQueryFilter");
            BoundSql part;
            part.Append(" AND ( " + fragment).Bind(Variant(static_cast<int32_t>(status))).Append(" )");
            return part;
        } catch (...) {
            Reraise(Source("ProcessPublicationStatusFilterForQueryFilter"));
        }
    }

    const std::string& docType_;
    const std::vector<int32_t>& tagIDs_;
    const std::vector<DocListFilter>& filters_;
    int32_t parent_;
    const std::string& user_;
    int32_t language_;  ///< of the texts handed to the page
};

/// Element i (1 ... count) of a page's array; an empty value past its end.
Variant Element(const Variant& array, int32_t i) {
    if (!array.IsArray()) return Variant{};
    const Array& items = array.ToArray();
    return static_cast<size_t>(i) < items.size() ? items[i] : Variant{};
}

}  // namespace

BoundSql SQLQueries::BuildDocListQuery(int32_t i_lSenderMode, const std::string& i_sDocTypeID,
                                       const std::vector<int32_t>& tagIDs,
                                       const std::vector<DocListFilter>& filters,
                                       int32_t i_lParentDocID, const std::string& i_sUser,
                                       std::string& o_sErrors, int32_t language) {
    o_sErrors.clear();
    DocListBuilder builder(i_sDocTypeID, tagIDs, filters, i_lParentDocID, i_sUser, language);
    try {
        return builder.Build(i_lSenderMode);
    } catch (const Error& e) {
        if (Trim(builder.errors[0]).empty() && !Trim(e.description()).empty())
            builder.errors[0] = e.description();
        o_sErrors = builder.errors[0] + "|" + builder.errors[1] + "|" + builder.errors[2];
        Reraise(Source("GetDocListQuery"));
    } catch (...) {
        Reraise(Source("GetDocListQuery"));
    }
}

void SQLQueries::GetDocListQuery(int32_t i_lSenderMode, const std::string& i_sDocTypeID,
                                 Variant& i_alTagIDs, Variant& /*i_asTagDescriptions*/,
                                 int32_t i_lNrOfTags, Variant& i_asFilterNames,
                                 Variant& i_asFilterValues, int32_t i_lNrOfFilters,
                                 int32_t& i_lParentDocID, const std::string& i_sUser,
                                 Variant& o_sQuery, Variant& o_sErrors) {
    o_sQuery = std::string();
    o_sErrors = std::string();
    std::string errors;
    try {
        std::vector<int32_t> tags;
        for (int32_t i = 1; i <= i_lNrOfTags; ++i) {
            const Variant tag = Element(i_alTagIDs, i);
            const std::string text = Trim(tag.ToString());
            if (text.empty() || text.size() > 9 || text.find_first_not_of("0123456789") != std::string::npos)
                Raise(EnumerationErrors::InvalidParamValue, Source("AddTagConfigFieldsToFromClause"),
                      Refusal("KXL0603", "[%TAG%]", tag.ToString()));
            tags.push_back(static_cast<int32_t>(std::stol(text)));
        }
        std::vector<DocListFilter> filters;
        for (int32_t i = 1; i <= i_lNrOfFilters; ++i)
            filters.push_back({Element(i_asFilterNames, i).ToString(), Element(i_asFilterValues, i).ToString()});
        o_sQuery = BuildDocListQuery(i_lSenderMode, i_sDocTypeID, tags, filters, i_lParentDocID,
                                     i_sUser, errors)
                       .Inline();
    } catch (const Error& e) {
        if (errors.empty()) errors = e.description() + "||";
        o_sErrors = errors;
        Reraise(Source("GetDocListQuery"));
    }
}

Variant SQLQueries::Invoke(std::string_view method, std::span<Variant> args) {
    if (IEquals(method, "GetDocListQuery") && args.size() == 12) {
        int32_t parent = args[8].ToLong();
        GetDocListQuery(args[0].ToLong(), args[1].ToString(), args[2], args[3], args[4].ToLong(),
                        args[5], args[6], args[7].ToLong(), parent, args[9].ToString(), args[10],
                        args[11]);
        args[8] = Variant(parent);
        return Variant{};
    }
    return Object::Invoke(method, args);
}

}  // namespace kestrix
