// Document: the processing every road of intake ends in.
#include <optional>

#include "kestrix/delivery/obi.h"
#include "kestrix/documents/document.h"
#include "kestrix/documents/publication_errors.h"
#include "kestrix/documents/sender_list.h"
#include "kestrix/foundation/dbutils.h"
#include "kestrix/foundation/error_reporting.h"
#include "kestrix/foundation/i18n.h"
#include "kestrix/foundation/site_cache.h"
#include "kestrix/foundation/utility.h"
#include "kestrix/intake/publish_create_document.h"
#include "kestrix/rules/user_defined_fields.h"
#include "platform/base/strings.h"
#include "platform/membership/user.h"

namespace kestrix {

namespace {

constexpr const char* kSource = "Kestrix.Document.ProcessDocument";
constexpr const char* kCrLf = "\r\n";

std::string Label(std::string_view code) { return TranslateLabel(code); }

std::string Label(std::string_view code, std::initializer_list<std::pair<const char*, std::string>> entries) {
    Dictionary replacements;
    for (const auto& [key, value] : entries) replacements.Add(key, value);
    return TranslateLabel(code, 0, replacements);
}

// A step that failed: the message for the caller, and the number of the failure when the
// failure is recorded with the document.
struct StepFailure {
    std::string message;
    int32_t number = 0;
    bool late = false;
};

// Runs one step; a failure becomes a StepFailure with the step's label text.
template <typename Step>
void Run(Step&& step, std::string_view label, bool late) {
    try {
        step();
    } catch (const StepFailure&) {
        throw;
    } catch (...) {
        throw StepFailure{Label(label), CurrentError().number(), late};
    }
}

}  // namespace

Variant Document::ProcessDocument(int32_t iInterActive, const std::string& iOriginalXmlBody,
                                  std::string& iOriginalDocTypeID, std::string& iOriginalDefRecipient,
                                  int32_t& oDocID, int32_t& oSenderBPID, std::string& oDocTypeID,
                                  std::string& oSenderName, std::string& oDefRecipient, int16_t& oStatus,
                                  int32_t iForwardedDocID) {
    return ProcessDocumentInternal(iInterActive, iOriginalXmlBody, iOriginalDocTypeID, iOriginalDefRecipient,
                                   Variant{}, oDocID, oSenderBPID, oDocTypeID, oSenderName, oDefRecipient,
                                   oStatus, iForwardedDocID);
}

Variant Document::ProcessDocumentWithAttachments(int32_t iInterActive, const std::string& iOriginalXmlBody,
                                                 std::string& iOriginalDocTypeID,
                                                 std::string& iOriginalDefRecipient,
                                                 const Variant& i_oAttachments, int32_t& oDocID,
                                                 int32_t& oSenderBPID, std::string& oDocTypeID,
                                                 std::string& oSenderName, std::string& oDefRecipient,
                                                 int16_t& oStatus, int32_t iForwardedDocID) {
    return ProcessDocumentInternal(iInterActive, iOriginalXmlBody, iOriginalDocTypeID, iOriginalDefRecipient,
                                   i_oAttachments, oDocID, oSenderBPID, oDocTypeID, oSenderName,
                                   oDefRecipient, oStatus, iForwardedDocID);
}

Variant Document::ProcessDocumentInternal(int32_t iInterActive, const std::string& iOriginalXmlBody,
                                          std::string& iOriginalDocTypeID, std::string& iOriginalDefRecipient,
                                          const Variant& i_oAttachments, int32_t& oDocID,
                                          int32_t& oSenderBPID, std::string& oDocTypeID,
                                          std::string& oSenderName, std::string& oDefRecipient,
                                          int16_t& oStatus, int32_t iForwardedDocID) {
    const std::string& body = iOriginalXmlBody;
    const bool blank = Trim(body).empty();
    const bool empty = body.empty();
    std::optional<xml::XmlDocument> dom;
    bool show = true;
    bool standardForm = false;
    xml::XmlDocument standard;  // the standard form's tree, read by the later steps
    SiteCacheScope siteCaches;
    Utility utility;

    try {
        // 1. Parse.
        if (!blank) {
            dom.emplace();
            if (!dom->LoadXml(body)) {
                const xml::ParseError& e = dom->parseError();
                throw StepFailure{Label("SLBSH1839") + kCrLf +
                                      Label("SLBSH1843", {{"[%DESCRIPTION%]", e.reason}}) + kCrLf +
                                      Label("SLBSH1840", {{"[%ERROR_LINE%]", std::to_string(e.line)}}) + kCrLf +
                                      Label("SLBSH1841", {{"[%ERROR_COLUMN%]", std::to_string(e.linepos)}}),
                                  e.errorCode, false};
            }
        }
        // 2. OBI documents, and 3. the show flag.
        Run(
            [&] {
                if (!blank && dom) {
                    OBI obi;
                    if (obi.GetObiDocumentInfo(*dom, "", &oDocTypeID) && !obi.IsOBIEnabled())
                        throw StepFailure{Label("SLBSH4304"), ErrNum(EnumerationErrors::ProcessDocumentError), false};
                }
                if (!empty) {
                    const xml::XmlDocument none;
                    show = GetShowFlagFromDoc(dom ? *dom : none);
                }
            },
            "SLBSH0031", false);
        // 4. Sender.
        Run(
            [&] {
                if (oSenderBPID == 0 && !empty) {
                    if (dom)
                        utility.GetSenderBPAndName(*dom, oSenderBPID, oSenderName);
                    else
                        utility.GetSenderBPAndName(body, oSenderBPID, oSenderName);
                }
                if (oSenderBPID == 0 && !empty && iInterActive != -1)
                    throw Error(ErrNum(EnumerationErrors::ProcessDocumentError), kSource, "Unknown sender.");
            },
            "SLBSH1826", false);
        // 5. Type.
        Run(
            [&] {
                if (oDocTypeID.empty() && !empty)
                    oDocTypeID = dom ? utility.GetDocType(*dom, oSenderBPID)
                                     : utility.GetDocType(body, oSenderBPID);
                if (oDocTypeID.empty() && !empty && iInterActive != -1)
                    throw Error(ErrNum(EnumerationErrors::ProcessDocumentError), kSource, "Unknown type.");
            },
            "SLBSH0006", false);
        // 6. The sender's right to publish the type.
        if (!empty && !oDocTypeID.empty()) {
            bool allowed = false;
            int32_t number = ErrNum(EnumerationErrors::ProcessDocumentError);
            try {
                SenderList senders;
                allowed = senders.CheckAuthorizationForSender(oDocTypeID, oSenderName);
            } catch (...) {
                number = CurrentError().number();
            }
            if (!allowed) {
                std::string user = oSenderName;
                if (iInterActive != 0) {
                    try {
                        auto object = utility.GetAUObject(oSenderName);
                        user = object->FirstName() + " " + object->SecondName();
                    } catch (...) {
                        LogError(kSource);
                    }
                }
                std::string description;
                try {
                    description = utility.GetDocumentTypeDescription(oDocTypeID);
                } catch (...) {
                    LogError(kSource);
                }
                throw StepFailure{Label("SLBSH1720", {{"[%USER%]", user}, {"[%DOCTYPE%]", description}}), number, false};
            }
        }
        // 7. Store.
        Run(
            [&] {
                if (oDocID != 0) UpdateDocumentWithOriginalXmlBody(oDocID, body);
                else oDocID = StoreOriginalDocument(body);
            },
            "SLBSH1812", false);
        // 8. Transform to the standard form, or to the new type the caller asked for.
        Run(
            [&] {
                if (!iOriginalDocTypeID.empty()) TransformDocToNewDocType(oDocID, iOriginalDocTypeID, oDocTypeID);
                else if (dom)
                    standardForm = TransformDocumentToStandard(oDocID, oDocTypeID, oSenderBPID,
                                                               *dom, standard);
                else
                    standardForm =
                        !TransformDocumentToStandard(oDocID, oDocTypeID, oSenderBPID).empty();
            },
            "SLBSH1824", true);
        // 9. Default receiver.
        Run(
            [&] {
                if (oDefRecipient.empty() && !empty)
                    oDefRecipient =
                        dom ? utility.GetDefaultReceiver(*dom) : utility.GetDefaultReceiver(body);
            },
            "SLBSH1827", true);
        // The received tree is read no more, except by the administrator's mail of a hidden
        // document's failure.
        if (show) dom.reset();
        // 10. Complete the row.
        Run(
            [&] {
                UpdateDocument(oDocID, oDocTypeID, oSenderName, oDefRecipient, static_cast<DOCUMENTSTATUS>(oStatus),
                               show, iForwardedDocID);
            },
            "SLBSH1825", true);
        // 11. User-defined fields: a failure is recorded and processing goes on.
        if (!empty) {
            try {
                UserDefinedFields fields;
                if (!standard.IsEmpty())
                    fields.UpdateValuesInTagsValueTable(oDocID, oDocTypeID, standard);
                else
                    fields.UpdateValuesInTagsValueTable(oDocID, oDocTypeID);
            } catch (...) {
                Error failure = CurrentError();
                LogPublicationError(oDocID, failure.number(), failure.description(), kSource, "SLBSH1828");
                LogError(kSource, Label("SLBSH1828"));
            }
        }
        // 12. Recipients.
        Run(
            [&] {
                if (!standardForm || oDocID == 0 || oDocTypeID.empty()) return;
                if (iOriginalDefRecipient.empty() || iInterActive == 0) {
                    int32_t status =
                        standard.IsEmpty()
                            ? utility.GetRecipientsAndFillPublicationTable(oDocID, oDocTypeID)
                            : utility.GetRecipientsAndFillPublicationTable(oDocID, oDocTypeID,
                                                                           standard);
                    oStatus = static_cast<int16_t>(status);
                    if (iInterActive != -1 && oStatus != 0)
                        SetDocumentStatus(oDocID, ConvertStatusFromIntToEnum(oStatus));
                } else {
                    utility.FillPublicationTable(oDocID, oDocTypeID, 0, iOriginalDefRecipient);
                }
            },
            "SLBSH1829", true);
        // 13. Attachments.
        if (i_oAttachments.IsArray()) {
            try {
                PublishCreateDocument publisher;
                publisher.CopyAttachmentCollection(oDocID, i_oAttachments);
            } catch (...) {
                Error failure = CurrentError();
                throw StepFailure{Label("SLBSH1816") + kCrLf + failure.description(), failure.number(), false};
            }
        }
        // 14. Announce the document to its recipients and its sender. Delivery through the
        // receivers' send methods is not part of this operation yet.
        if (oStatus != 0 && standardForm && oDocID != 0 && !oDocTypeID.empty() &&
            iInterActive != -1 && show) {
            Run([&] { utility.SendEmailToRecipients(oDocID, "", "", "", false); }, "SLBSH1810", true);
            Run([&] { utility.SendEmailToSender(oDocID, "", "", false, "", ""); }, "SLBSH1811", true);
        }
        return Variant(oDocID);
    } catch (const StepFailure& failure) {
        // Late exit: the failure stays with the stored document.
        if (failure.late && oDocID != 0) {
            try {
                LogPublicationError(oDocID, failure.number, failure.message, kSource, "SLBSH1812");
            } catch (...) {
                LogError(kSource);
            }
        }
        const Error error(ErrNum(EnumerationErrors::ProcessDocumentError), kSource, failure.message);
        // Clean up: an untyped row goes, and a hidden document's failure goes to the
        // administrator.
        try {
            if (oDocID != 0) RemoveInvalidDocument(oDocID);
        } catch (...) {
            LogError(kSource);
        }
        if (!show) {
            try {
                std::string address = GetParameter("AdminEmailAddress");
                std::string subject = oDocID != 0 ? Label("SLBSH0037", {{"[%DOCID%]", std::to_string(oDocID)}})
                                                  : Label("SLBSH0038");
                std::string text = Label("SLBSH0035", {{"[%ERRORDESCRIPTION%]", failure.message}});
                if (dom && !dom->IsEmpty()) text += kCrLf + Label("SLBSH0036") + ":" + kCrLf + dom->Xml();
                utility.SendEmail(address, address, subject, text, "", "");
            } catch (...) {
                LogError(kSource);
            }
        }
        dom.reset();
        oDocID = 0;
        try {
            throw error;
        } catch (...) {
            if (iInterActive != 0) {
                LogError(kSource);
                throw;
            }
            Reraise(kSource);
        }
    }
}

}  // namespace kestrix
