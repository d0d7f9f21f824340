#pragma once

#include <cstdint>
#include <optional>
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
