#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/db/recordset.h"

namespace kestrix {

class Utility;

/// Tells the recipients of one stored document about it, one recipient at a time, so that
/// each failure can be kept and tried again on its own. The HTML rendering is made once, on
/// first need, and removed with the object.
class RecipientNotifier {
public:
    RecipientNotifier(Utility& utility, int32_t docId);
    ~RecipientNotifier();
    RecipientNotifier(const RecipientNotifier&) = delete;
    RecipientNotifier& operator=(const RecipientNotifier&) = delete;

    /// The users of the document's publications who want mail, in the order of the table.
    std::vector<std::string> Recipients() const;
    /// Mails the notification to one of them, in his language, with the rendering where his
    /// distribution list asks for it. Raises when the mail cannot be sent.
    void Send(const std::string& userId);
    /// The user's display name, or the login when the directory does not know him.
    std::string ReaderName(const std::string& userId) const;

private:
    Utility& utility_;
    int32_t docId_;
    std::string type_;
    std::string from_;
    db::Recordset recipients_;
    bool rendered_ = false;
    std::string html_;
};

}  // namespace kestrix
