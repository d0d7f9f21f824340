// Turning the recipient tags of a document into publication rows, recording the
// recipients that cannot be resolved, and emptying the tags that were used.
#include <cctype>
#include <charconv>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "kestrix/documents/obi.h"
#include "kestrix/documents/distribution_list.h"
#include "kestrix/documents/document.h"
#include "kestrix/documents/publication_errors.h"
#include "kestrix/foundation/dbutils.h"
#include "kestrix/foundation/error_reporting.h"
#include "kestrix/foundation/general.h"
#include "kestrix/foundation/i18n.h"
#include "kestrix/documents/document_types.h"
#include "kestrix/documents/xsl_patterns.h"
#include "kestrix/foundation/users.h"
#include "kestrix/rules/routing.h"
#include "platform/base/dictionary.h"
#include "platform/base/strings.h"
#include "platform/membership/business_partner.h"

namespace kestrix {

namespace {

// Source of the errors recorded while a tag value is resolved, and of the not-found errors.
constexpr std::string_view kResolveSource =
    "Kestrix.Utility.ExecuteXSLPatternAndFillPublicationTable";
constexpr std::string_view kNotFoundSource =
    "Kestrix.Utility.ExecuteXslPatternAndFillPublicationTable";

// The tags that name recipients, in the order they are emptied once used.
constexpr std::string_view kRecipientPatterns[] = {
    "//USESDISTLIST", "//RECEIVER", "//BUSINESSPARTNER", "//BUS-PART-C", "//BUS-PART-S"};

enum class RecipientTag { Receiver, BusinessPartner, PartnerCodeC, PartnerCodeS, Other };

RecipientTag TagOfPattern(std::string_view pattern) {
    if (pattern == "//RECEIVER") return RecipientTag::Receiver;
    if (pattern == "//BUSINESSPARTNER") return RecipientTag::BusinessPartner;
    if (pattern == "//BUS-PART-C") return RecipientTag::PartnerCodeC;
    if (pattern == "//BUS-PART-S") return RecipientTag::PartnerCodeS;
    return RecipientTag::Other;
}

// A partner identifier written as a whole number of the 32-bit range (blanks around it
// allowed); nothing for any other text.
std::optional<int32_t> PartnerNumber(std::string_view text) {
    std::string t = Trim(text);
    std::string_view digits = t;
    if (!digits.empty() && digits.front() == '+') digits.remove_prefix(1);
    if (digits.empty() || digits.front() == '+') return std::nullopt;
    int32_t value = 0;
    auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), value);
    if (ec != std::errc() || end != digits.data() + digits.size()) return std::nullopt;
    return value;
}

// The nodes a pattern selects; a pattern that does not compile is the caller's fault.
std::vector<xml::XmlNode> SelectOrRaise(const xml::XmlDocument& dom,
                                        const std::string& pattern) {
    std::optional<std::vector<xml::XmlNode>> nodes =
        xsl_patterns::ExecuteXSLPatternReturnAllNodes(dom, pattern);
    if (!nodes)
        Raise(EnumerationErrors::InvalidXSLPatternError, "Kestrix.Utility",
              "The XSL pattern '" + pattern + "' is not valid.");
    return std::move(*nodes);
}

// Empties every node the pattern selects; answers how many there were.
size_t EmptyNodes(const xml::XmlDocument& dom, const std::string& pattern) {
    std::vector<xml::XmlNode> nodes = SelectOrRaise(dom, pattern);
    for (xml::XmlNode& node : nodes) node.SetText("");
    return nodes.size();
}

// Stores the tree as the document's body, or, for a caller that stores it itself, notes that
// it changed.
void StoreBody(int32_t docId, const xml::XmlDocument& dom, routing::RoutingOutcome* deferred) {
    if (deferred) {
        deferred->bodyChanged = true;
        return;
    }
    DocumentStore document;
    int32_t id = docId;
    document.UpdateDocumentWithXmlBody(id, dom.Xml());
}

// What one tag value came to: the rows it gave (or 1 when its recipient already had its
// row), the failure met on the way, and the publication error that names why the value
// itself was refused.
struct Resolution {
    int64_t count = 0;
    bool failed = false;
    int32_t errorNumber = 0;
    std::string partnerId;  // the partner the value stands for, as far as it is known
    std::string refusalLabel;
    std::string refusalTextLabel;
    Dictionary refusalReplacements;
};

// Resolves tag values and records the publication errors of one document and pattern. The
// label texts and the type's description are read once per call.
class RecipientResolver {
  public:
    RecipientResolver(int32_t docId, const std::string& docTypeId,
                      RecipientTag tag, routing::RoutingOutcome* outcome)
        : docId_(docId), docTypeId_(docTypeId), tag_(tag), outcome_(outcome) {}

    /// Publishes to the recipient of one value and records what could not be resolved.
    /// True when a recipient was found.
    bool Publish(const std::string& value) {
        auto known = resolved_.find(value);
        if (known == resolved_.end()) known = resolved_.emplace(value, Resolve(value)).first;
        const Resolution& r = known->second;

        if (!r.refusalLabel.empty())
            Record(ErrNum(EnumerationErrors::ProcessDocumentError), r.refusalTextLabel,
                   r.refusalReplacements, kResolveSource, r.refusalLabel);

        if (r.failed || r.count == 0) {
            Dictionary reps;
            std::string textLabel;
            if (r.count != 0) {
                textLabel = "SLBSH4479";
                reps.Add("[%RECIPIENT_ID%]", value);
                reps.Add("[%DOCUMENT_ID%]", std::to_string(docId_));
                reps.Add("[%BP_ID%]",
                         tag_ == RecipientTag::Receiver ? PartnerOfUser(value) : r.partnerId);
                reps.Add("[%DOCTYPE%]", TypeDescription());
            } else if (tag_ == RecipientTag::Receiver) {
                textLabel = "SLBSH4478";
                reps.Add("[%USER_ID%]", value);
                reps.Add("[%DOCTYPE%]", TypeDescription());
            } else {
                textLabel = "SLBSH4479";
                reps.Add("[%RECIPIENT_ID%]", value);
                reps.Add("[%DOCUMENT_ID%]", std::to_string(docId_));
                reps.Add("[%BP_ID%]", value);
                reps.Add("[%DOCTYPE%]", TypeDescription());
            }
            Record(r.failed ? r.errorNumber : 0, textLabel, reps, kNotFoundSource, "SLBSH0008");
        }
        return r.count > 0;
    }

  private:
    Resolution Resolve(const std::string& value) {
        Resolution r;
        try {
            DistributionList list;
            switch (tag_) {
                case RecipientTag::Receiver: {
                    r.count = routing::FillPublicationTable(docId_, docTypeId_, 0, value);
                    if (r.count == 0 && list.UserFoundOnDBList(docTypeId_, value)) r.count = 1;
                    break;
                }
                case RecipientTag::BusinessPartner: {
                    r.partnerId = value;
                    std::optional<int32_t> bp = PartnerNumber(value);
                    if (!bp) {
                        r.refusalLabel = "SLBSH4475";
                        r.refusalTextLabel = "SLBSH4482";
                        r.refusalReplacements.Add("[%DOCID%]", std::to_string(docId_));
                        r.refusalReplacements.Add("[%BPID%]", value);
                        break;
                    }
                    r.count = PublishToPartner(list, *bp);
                    break;
                }
                case RecipientTag::PartnerCodeC:
                case RecipientTag::PartnerCodeS: {
                    r.partnerId = value;
                    std::optional<int32_t> bp;
                    try {
                        auto partners =
                            CreateAs<membership::BusinessPartner>("Brenlow.BusinessPartner");
                        partners->SetConfigFile(getSiteConfigFile());
                        const int16_t kind = tag_ == RecipientTag::PartnerCodeC ? 0 : 1;
                        bp = PartnerNumber(partners->PartnerIdentifier(value, kind));
                        if (!bp)
                            throw Error(
                                errnum::TypeMismatch, "Brenlow.BusinessPartner.PartnerIdentifier",
                                "The partner code '" + value + "' names no partner number.");
                    } catch (...) {
                        NoteFailure(r);
                        r.refusalLabel = "SLBSH4476";
                        r.refusalTextLabel = "SLBSH4481";
                        r.refusalReplacements.Add("[%BPID%]", value);
                        break;
                    }
                    r.partnerId = std::to_string(*bp);
                    r.count = PublishToPartner(list, *bp);
                    break;
                }
                case RecipientTag::Other:
                    break;
            }
        } catch (...) {
            NoteFailure(r);
        }
        return r;
    }

    // Rows for the users of the partner on the type's list. Partner 0 is no partner: it
    // must not open the whole list.
    int64_t PublishToPartner(DistributionList& list, int32_t bp) {
        if (bp == 0) return 0;
        int64_t count = routing::FillPublicationTable(docId_, docTypeId_, bp, {});
        if (count == 0 && list.BPFoundOnDBList(docTypeId_, bp)) count = 1;
        return count;
    }

    // The partner of a receiving user, only to complete an error text; "" when unknown.
    std::string PartnerOfUser(const std::string& user) {
        try {
            std::string login = user;
            return std::to_string(users::GetAUBusinessPartnerID(login));
        } catch (...) {
            return {};
        }
    }

    // Keeps the failure for the publication error; the log keeps its details.
    void NoteFailure(Resolution& r) {
        Error failure = CurrentError();
        r.failed = true;
        r.errorNumber = failure.number();
        LogError(kResolveSource, "DocumentID: '" + std::to_string(docId_) + "'");
    }

    void Record(int32_t errorNumber, const std::string& textLabel, const Dictionary& reps,
                std::string_view source, std::string_view label) {
        auto text = texts_.find(textLabel);
        if (text == texts_.end()) text = texts_.emplace(textLabel, TranslateLabel(textLabel)).first;
        std::optional<xml::XmlDocument> replacements;
        FillReplacements(replacements, reps);
        if (outcome_) outcome_->errorsRecorded = true;
        LogPublicationErrorWithReplacements(docId_, errorNumber,
                                            ApplyReplacements(text->second, 0, reps), source, label,
                                            &*replacements);
    }

    const std::string& TypeDescription() {
        if (!description_) description_ = document_types::GetDocumentTypeDescription(docTypeId_);
        return *description_;
    }

    int32_t docId_;
    std::string docTypeId_;
    RecipientTag tag_;
    routing::RoutingOutcome* outcome_;
    std::map<std::string, Resolution> resolved_;
    std::map<std::string, std::string> texts_;
    std::optional<std::string> description_;
};

}  // namespace

int32_t routing::FillPublicationTable(int32_t& iDocID, const std::string& iDocTypeID, int32_t iBPID,
                                      const std::string& iUserID) {
    try {
        // Values are bound: the text is one of four whatever the document.
        std::string sql =
            "INSERT INTO PUBLICATION SELECT CAST(? AS INTEGER), DISTRIBUTIONLIST.USERID, 0, 0, "
            "NULL "
            "FROM DISTRIBUTIONLIST WHERE DISTRIBUTIONLIST.DOCUMENTTYPEID = ?";
        std::vector<Variant> values{Variant(iDocID), Variant(iDocTypeID)};
        if (iBPID != 0) {
            sql += " AND BUSINESSPARTNERID = ?";
            values.emplace_back(iBPID);
        }
        if (!iUserID.empty()) {
            sql += " AND USERID = ?";
            values.emplace_back(iUserID);
        }
        sql +=
            " AND DISTRIBUTIONLIST.USERID NOT IN (SELECT PUBLICATION.USERID FROM PUBLICATION "
            "WHERE PUBLICATION.USERID = DISTRIBUTIONLIST.USERID AND DOCUMENTID = ?)";
        values.emplace_back(iDocID);
        // A user listed twice for the type (under two partners, say) still gets one row.
        sql += " GROUP BY DISTRIBUTIONLIST.USERID";
        db::Connection connection = GetConnection();
        return static_cast<int32_t>(connection.Execute(sql, values));
    } catch (...) {
        Reraise("Kestrix.Utility.FillPublicationTable");
    }
}

namespace {

// Publishes to the recipients one pattern names and empties its nodes (see
// routing::ExecuteXslPatternAndFillPublicationTable); `deferred` as StoreBody takes it.
bool PublishPattern(int32_t& iDocID, const std::string& iDocTypeID, xml::XmlDocument& iXMLDoc,
                    const std::string& iXslPattern, routing::RoutingOutcome* deferred) {
    RecipientResolver resolver(iDocID, iDocTypeID, TagOfPattern(iXslPattern), deferred);
    bool found = false;
    bool anyValue = false;
    for (xml::XmlNode& node : SelectOrRaise(iXMLDoc, iXslPattern)) {
        const std::string value = Trim(node.Text());
        if (value.empty()) continue;
        anyValue = true;
        if (resolver.Publish(value)) found = true;
        node.SetText("");
    }
    if (anyValue) StoreBody(iDocID, iXMLDoc, deferred);
    return found;
}

// Empties the five recipient tags; the body is stored once, after all of them.
void RemoveRoutingInfo(int32_t& iDocID, xml::XmlDocument& iXMLDoc,
                       routing::RoutingOutcome* deferred) {
    size_t emptied = 0;
    for (std::string_view pattern : kRecipientPatterns)
        emptied += EmptyNodes(iXMLDoc, std::string(pattern));
    if (emptied > 0) StoreBody(iDocID, iXMLDoc, deferred);
}

}  // namespace

bool routing::ExecuteXslPatternAndFillPublicationTable(int32_t& iDocID,
                                                       const std::string& iDocTypeID,
                                                       xml::XmlDocument& iXMLDoc,
                                                       const std::string& iXslPattern) {
    try {
        return PublishPattern(iDocID, iDocTypeID, iXMLDoc, iXslPattern, nullptr);
    } catch (...) {
        Reraise("Kestrix.Utility.ExecuteXslPatternAndFillPublicationTable");
    }
}

bool routing::ClearTagsAndWriteDocToDB(int32_t& iDocID, xml::XmlDocument& iXMLDoc,
                                       const std::string& iXslPattern) {
    try {
        if (EmptyNodes(iXMLDoc, iXslPattern) > 0) StoreBody(iDocID, iXMLDoc, nullptr);
        return false;
    } catch (...) {
        Reraise("Kestrix.Utility.ClearTagsAndWriteDocToDB");
    }
}

void routing::RemoveAllRoutingInfoFromDocument(int32_t& iDocID, xml::XmlDocument& iXMLDoc) {
    try {
        RemoveRoutingInfo(iDocID, iXMLDoc, nullptr);
    } catch (...) {
        Reraise("Kestrix.Utility.RemoveAllRoutingInfoFromDocument");
    }
}

namespace {

// The publication rows of a stored document from its parsed standard body (see
// routing::GetRecipientsAndFillPublicationTable).
int32_t RecipientsOfTree(int32_t& iDocID, const std::string& docType, xml::XmlDocument& dom,
                         routing::RoutingOutcome* deferred) {
    using namespace routing;
    if (xsl_patterns::ExecuteXSLPattern(dom, "//USESDISTLIST") == "1") {
        const int32_t result = FillPublicationTable(iDocID, docType, 0, {}) > 0 ? 1 : 0;
        RemoveRoutingInfo(iDocID, dom, deferred);
        return result;
    }

    OBI obi;
    std::string receiver;
    if (obi.GetObiDocumentInfo(dom, "", nullptr, nullptr, nullptr, nullptr, &receiver)) {
        // An OBI document without receiver names nobody; it does not go to the whole list.
        if (receiver.empty()) return 0;
        return FillPublicationTable(iDocID, docType, 0, receiver) > 0 ? 1 : 0;
    }

    bool found = PublishPattern(iDocID, docType, dom, "//RECEIVER", deferred);
    if (!xsl_patterns::ExecuteXSLPattern(dom, "//BUSINESSPARTNER").empty()) {
        found = PublishPattern(iDocID, docType, dom, "//BUSINESSPARTNER", deferred) || found;
    } else {
        found = PublishPattern(iDocID, docType, dom, "//BUS-PART-C", deferred) || found;
        found = PublishPattern(iDocID, docType, dom, "//BUS-PART-S", deferred) || found;
    }
    return found ? 1 : 0;
}

}  // namespace

int32_t routing::GetRecipientsAndFillPublicationTable(int32_t& iDocID,
                                                      const std::string& iDocTypeID,
                                                      const std::string& iXMLStr) {
    try {
        DocumentStore document;
        std::string xmlText = iXMLStr;
        std::string docType = iDocTypeID;
        if (iDocID > 0 && Trim(xmlText).empty()) xmlText = document.GetXmlDocument(iDocID);
        if (iDocID > 0 && docType.empty()) docType = document.GetDocumentTypeOfDocument(iDocID);
        if (docType.empty() || iDocID <= 0 || Trim(xmlText).empty()) return 0;

        xml::XmlDocument dom = xml::XmlDocument::FromText(xmlText);
        return RecipientsOfTree(iDocID, docType, dom, nullptr);
    } catch (...) {
        Reraise("Kestrix.Utility.GetRecipientsAndFillPublicationTable");
    }
}

int32_t routing::GetRecipientsAndFillPublicationTable(int32_t& iDocID, const std::string& iDocTypeID,
                                                      xml::XmlDocument& iStandard) {
    try {
        if (iDocID <= 0 || iDocTypeID.empty() || iStandard.IsEmpty()) return 0;
        return RecipientsOfTree(iDocID, iDocTypeID, iStandard, nullptr);
    } catch (...) {
        Reraise("Kestrix.Utility.GetRecipientsAndFillPublicationTable");
    }
}

int32_t routing::GetRecipientsAndFillPublicationTable(int32_t& iDocID, const std::string& iDocTypeID,
                                                      xml::XmlDocument& iStandard,
                                                      RoutingOutcome& outcome) {
    try {
        outcome = RoutingOutcome{};
        if (iDocID <= 0 || iDocTypeID.empty() || iStandard.IsEmpty()) return 0;
        return RecipientsOfTree(iDocID, iDocTypeID, iStandard, &outcome);
    } catch (...) {
        Reraise("Kestrix.Utility.GetRecipientsAndFillPublicationTable");
    }
}

}  // namespace kestrix
