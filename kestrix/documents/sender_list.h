#pragma once

#include <string>

#include "platform/base/object.h"

namespace kestrix {

/// "Kestrix.SenderList": the users who may publish a document type, and whether each wants
/// a notification mail after publishing (table SENDERLIST).
///
/// Every method opens its own connection and closes it before it returns; failures are
/// raised on with the source "Kestrix.SenderList.<method>".
class SenderList : public Object {
  public:
    /// True when the user is on the type's sender list and wants a mail after publishing;
    /// false for the type "" (without asking the database) and for a user not on the list.
    bool GetNotification(const std::string& iDocTypeID, const std::string& iUserID);
    /// True when the user is on the type's sender list, that is, may publish the type.
    bool CheckAuthorizationForSender(const std::string& iDocTypeID, const std::string& iUserID);
};

}  // namespace kestrix
