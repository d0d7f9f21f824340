#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "platform/base/dictionary.h"
#include "platform/xml/xml.h"

namespace kestrix {

/// Records a publication error of a document without replacements; returns its
/// identifier, or 0 (nothing recorded) for a document without type.
int32_t LogPublicationError(int32_t docId, int32_t errorNumber, std::string_view description,
                            std::string_view source, std::string_view label);

/// Records a publication error of a document (table PUBLICATIONERRORS): the source is cut
/// to 255 characters, the label is stored when not empty, the replacements document when
/// given. Returns the new identifier, or 0 for a document without type (nothing is
/// recorded: such a document is not shown in any error box).
int32_t LogPublicationErrorWithReplacements(int32_t docId, int32_t errorNumber,
                                            std::string_view description, std::string_view source,
                                            std::string_view label,
                                            const xml::XmlDocument* replacements = nullptr);

/// A new replacements document: an empty root element "REPS".
xml::XmlDocument NewReplacementsDocument();
/// Appends <REP name="key">value</REP> under the root.
void AddReplacement(xml::XmlDocument& replacements, std::string_view key, std::string_view value);
/// Adds every entry of the dictionary, in order; a document that is missing, has no root or
/// whose root is not "REPS" is replaced by a new one first.
void FillReplacements(std::optional<xml::XmlDocument>& replacements, const Dictionary& entries);
/// Adds to `entries` the (name, text) pairs of the replacements stored with error `errorId`
/// in `table`. The table name must be a plain identifier.
void ReadReplacements(Dictionary& entries, std::string_view table, int32_t errorId);

}  // namespace kestrix

/// The open publication errors of a document, checked and closed.
namespace kestrix::publication_errors {

/// True when the document has an open publication error.
bool CheckPublicationErrors(int32_t& iDocID);
/// Closes the open publication errors of the document whose label belongs to the
/// category. Only "CannotPublish" (the recipients that could not be found or resolved)
/// is known; any other category, also in other capitals, fails.
void ClosePublicationErrorsForOneCategory(int32_t i_lDocID, const std::string& i_sCategory);
/// Closes one publication error; when a document other than 0 is given, only when the
/// error belongs to that document.
void ClosePublicationErrors(int32_t iPublicationErrorID, int32_t iDocID = 0);
/// Removes every publication error of the document, open or closed.
void DeletePublicationErrors(int32_t iDocID);

}  // namespace kestrix::publication_errors
