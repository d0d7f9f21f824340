#pragma once

#include <cstdint>
#include <string>

namespace kestrix::http_intake {

/// What a post carries.
enum class Format {
    Xml,       ///< an XML document as text
    Obi,       ///< an OBI object
    Workbook,  ///< the bytes of a workbook
};

/// One document posted over HTTP by a user whom the listener has authenticated.
struct Posting {
    /// The user the document is published as: his partner is the document's sender.
    std::string user;
    Format format = Format::Xml;
    std::string content;
    /// "xlsx", "xlsm" or "xls" for a workbook.
    std::string workbookExtension = "xlsx";
    /// The sending site's own identifier of the document ("DocID" of its form post); "" when
    /// it gave none. The same user and key posted again answer the document stored the first
    /// time instead of storing a second one.
    std::string senderKey;
};

/// What became of a posting.
struct Outcome {
    enum class Kind {
        Stored,     ///< published now
        Repeated,   ///< the same user and key were stored before: that document
        Refused,    ///< processing refused the document (its reason in `message`)
        Forbidden,  ///< the user may not send it: another partner's document, or a type he may not send
    };
    Kind kind = Kind::Refused;
    int32_t documentId = 0;
    std::string documentType;
    /// For a refusal: the error number, its source and the label text that says why.
    int32_t errorNumber = 0;
    std::string errorSource;
    std::string message;
};

/// The sixth road in: publishes a posted document at once, as its user, in one unit of work
/// that also records the user's key (table HTTPINTAKE), so that two posts of the same key,
/// even at the same moment, store one document. What the document sends out goes after the
/// commit. A refused document is kept in the error folder as every synchronous publication
/// keeps it. Raises only when the database or the site fails, never for the document.
Outcome Publish(const Posting& posting);

}  // namespace kestrix::http_intake
