#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/db/connection.h"

namespace kestrix::cli {

/// One recipient of a document (a row of PUBLICATION).
struct PublicationView {
    std::string user;
    int32_t status = 0;
};

/// One publication error of a document, with the text of its label in the default language.
struct PublicationErrorView {
    int32_t id = 0;
    std::string label;
    std::string labelText;    ///< "" when the error has no label
    std::string description;  ///< on one line
    bool closed = false;
};

/// The recipients of a document, by login.
std::vector<PublicationView> Publications(db::Connection& connection, int32_t docId);

/// The publication errors of a document in the order they were written; only the open ones
/// when `openOnly`.
std::vector<PublicationErrorView> PublicationErrors(db::Connection& connection, int32_t docId, bool openOnly);

/// "bob (new), carol (viewed)", or "(none)".
std::string RecipientList(const std::vector<PublicationView>& publications);

/// "error 3 [SLBSH0034] The label's text (the description)", on one line, printable.
std::string ErrorLine(const PublicationErrorView& error);

}  // namespace kestrix::cli
