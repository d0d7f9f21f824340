#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "platform/base/object.h"
#include "platform/base/variant.h"

namespace kestrix {

/// "Kestrix.PublishForwardDocument": a recipient passes a document it received on as a new
/// document, optionally as another document type. The stored text is processed again in the
/// forwarding user's name (interactively: nothing is delivered by the call), the attachments
/// are copied to the new document, and the user's publication of the old one is marked as
/// forwarded. Attachments and the mark that fail become publication errors of the new
/// document; they do not undo the forwarding.
class PublishForwardDocument : public Object {
  public:
    /// Replaced by `Main2`: only logs that it is no longer used, publishes nothing and answers
    /// -1.
    int32_t Main(int32_t iDocID, const std::string& iUser, const std::string& iAttPath);
    /// Forwards the received document `iDocID` as user `iUser` (as type `iNewDocTypeID` when
    /// not empty), copying its attachments under the attachment root `iAttPath`. Answers the
    /// new document's identifier. DocumentIDNotInDatabase for an unknown document,
    /// CannotLoadFile for an OBI document (nothing is written then); every failure is raised
    /// with the source "Kestrix.PublishForwardDocument.Main2" and a label text saying which
    /// step failed.
    int32_t Main2(int32_t iDocID, const std::string& iNewDocTypeID, const std::string& iUser,
                  const std::string& iAttPath);
    /// As Main2, the new document published to `iRecipient` alone (the forwarding user is its
    /// sender): he gets its publication row and the document becomes published. A recipient
    /// who is not on the distribution list of the new document's type gets no row.
    int32_t ForwardTo(int32_t iDocID, const std::string& iNewDocTypeID, const std::string& iUser,
                      const std::string& iRecipient, const std::string& iAttPath);
    /// True when a change of type is configured for the document's type.
    bool TransformExist(int32_t& iDocID);
    /// Removes every publication (recipient row) of the document.
    void RemoveAllRecipientsForDocument(int32_t& iDocID);

    /// Late-bound calls of the operations by name.
    Variant Invoke(std::string_view method, std::span<Variant> args) override;

  private:
    int32_t Forward(int32_t iDocID, const std::string& iNewDocTypeID, const std::string& iUser,
                    const std::string& iRecipient, const std::string& iAttPath, bool publishToRecipient);
};

}  // namespace kestrix
