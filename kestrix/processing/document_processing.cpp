// The processing every road of intake ends in.
#include <chrono>
#include <memory>
#include <optional>
#include <set>
#include <vector>

#include "kestrix/documents/obi.h"
#include "kestrix/delivery/outbox.h"
#include "kestrix/delivery/push_doc_utils.h"
#include "kestrix/processing/document_processing.h"
#include "kestrix/documents/publication_errors.h"
#include "kestrix/documents/sender_list.h"
#include "kestrix/foundation/dbutils.h"
#include "kestrix/foundation/general.h"
#include "kestrix/foundation/error_reporting.h"
#include "kestrix/foundation/i18n.h"
#include "kestrix/delivery/email.h"
#include "kestrix/delivery/notifications.h"
#include "kestrix/documents/attachment_copies.h"
#include "kestrix/documents/recipients_query.h"
#include "kestrix/documents/document_types.h"
#include "kestrix/foundation/users.h"
#include "kestrix/rules/routing.h"
#include "kestrix/foundation/site_cache.h"
#include "kestrix/foundation/site_settings.h"
#include "kestrix/rules/user_defined_fields.h"
#include "platform/base/strings.h"
#include "platform/membership/user.h"

namespace kestrix {

namespace {

constexpr const char* kSource = "Kestrix.Document.ProcessDocument";
constexpr const char* kCrLf = "\r\n";

// A step's label text. A label that cannot be translated (the database went away) is
// named by its code, so that the failure being reported is never lost for it.
std::string Label(std::string_view code, std::initializer_list<std::pair<const char*, std::string>> entries = {}) {
    try {
        Dictionary replacements;
        for (const auto& [key, value] : entries) replacements.Add(key, value);
        return TranslateLabel(code, 0, replacements);
    } catch (...) {
        LogError(kSource);
        std::string text(code);
        for (const auto& [key, value] : entries) text += std::string(" ") + key + "=" + value;
        return text;
    }
}

// A step that failed: the message for the caller, and the number of the failure when the
// failure is recorded with the document. `keepsRow`: the document stays stored all the same.
struct StepFailure {
    std::string message;
    int32_t number = 0;
    bool late = false;
    bool keepsRow = false;
};

// Inside a handler: a busy database is passed on as it is, never hidden under a step's label.
void PassOnBusy() {
    if (CurrentError().number() == errnum::DatabaseBusy) throw;
}

// Runs one step; a failure becomes a StepFailure with the step's label text.
template <typename Step>
void Run(Step&& step, std::string_view label, bool late) {
    try {
        step();
    } catch (const StepFailure&) {
        throw;
    } catch (...) {
        PassOnBusy();
        throw StepFailure{Label(label), CurrentError().number(), late};
    }
}

// Runs one step of a stored document behind a savepoint: a failure undoes that step only,
// and the document stays with what came before.
template <typename Step>
void InStep(Step&& step, std::string_view label, bool late) {
    db::Transaction savepoint(CurrentConnectionString());
    try {
        step();
        savepoint.Commit();
    } catch (...) {
        savepoint.Rollback();
        PassOnBusy();
        if (late) throw StepFailure{Label(label), CurrentError().number(), true, true};
        throw;
    }
}

}  // namespace

Variant DocumentProcessing::ProcessDocument(int32_t iInterActive, const std::string& iOriginalXmlBody,
                                  std::string& iOriginalDocTypeID, std::string& iOriginalDefRecipient,
                                  int32_t& oDocID, int32_t& oSenderBPID, std::string& oDocTypeID,
                                  std::string& oSenderName, std::string& oDefRecipient, int16_t& oStatus,
                                  int32_t iForwardedDocID) {
    return ProcessDocumentInternal(iInterActive, iOriginalXmlBody, iOriginalDocTypeID, iOriginalDefRecipient,
                                   Variant{}, oDocID, oSenderBPID, oDocTypeID, oSenderName, oDefRecipient,
                                   oStatus, iForwardedDocID);
}

Variant DocumentProcessing::ProcessDocumentWithAttachments(int32_t iInterActive, const std::string& iOriginalXmlBody,
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

Variant DocumentProcessing::ProcessDocumentInternal(int32_t iInterActive, const std::string& iOriginalXmlBody,
                                          std::string& iOriginalDocTypeID, std::string& iOriginalDefRecipient,
                                          const Variant& i_oAttachments, int32_t& oDocID,
                                          int32_t& oSenderBPID, std::string& oDocTypeID,
                                          std::string& oSenderName, std::string& oDefRecipient,
                                          int16_t& oStatus, int32_t iForwardedDocID) {
    // Every document leaves one entry in the log, whatever became of it.
    const auto started = std::chrono::steady_clock::now();
    DocumentTrace& trace = trace_;
    std::string origin = std::move(trace_.origin);
    trace = DocumentTrace{};
    trace.origin = std::move(origin);
    auto finish = [&](bool refused) {
        trace.docId = oDocID;
        trace.type = oDocTypeID;
        trace.sender = oSenderName;
        trace.status = oStatus;
        trace.refused = refused;
        trace.duration =
            std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - started);
        LogDocumentTrace(trace);
        if (metrics_) metrics_->Record(trace);
    };
    try {
        Variant id = ProcessOnce(iInterActive, iOriginalXmlBody, iOriginalDocTypeID, iOriginalDefRecipient,
                                 i_oAttachments, oDocID, oSenderBPID, oDocTypeID, oSenderName, oDefRecipient,
                                 oStatus, iForwardedDocID);
        try {
            trace.recipients = PublicationRecipients(oDocID);
        } catch (...) {
            // The document is stored; only its entry in the log goes without its recipients.
        }
        finish(false);
        return id;
    } catch (...) {
        try {
            trace.reason = CurrentError().description();
        } catch (...) {
        }
        finish(true);
        throw;
    }
}

Variant DocumentProcessing::ProcessOnce(int32_t iInterActive, const std::string& iOriginalXmlBody,
                              std::string& iOriginalDocTypeID, std::string& iOriginalDefRecipient,
                              const Variant& i_oAttachments, int32_t& oDocID, int32_t& oSenderBPID,
                              std::string& oDocTypeID, std::string& oSenderName, std::string& oDefRecipient,
                              int16_t& oStatus, int32_t iForwardedDocID) {
    const std::string& body = iOriginalXmlBody;
    const bool blank = Trim(body).empty();
    const bool empty = body.empty();
    std::optional<xml::XmlDocument> dom;
    bool show = true;
    bool standardForm = false;
    xml::XmlDocument standard;  // the standard form's tree, read by the later steps
    // The style sheet's output for a row written whole, until it is stored.
    std::optional<std::string> standardBody;
    // Stays empty: a hidden document's received tree is not handed over to be released, as
    // the administrator's mail of its failure shows it.
    std::optional<xml::XmlDocument> keptReceived;
    // Look-ups kept for the document, checked against the site's change marker once per
    // document.
    std::optional<SiteCacheScope> siteCaches;
    // The document's unit of work: everything it writes, the outbox items included, is
    // committed at once or not at all. It joins the caller's unit of work when there is one.
    std::optional<db::Transaction> work;
    // Whether the row survives a failure (a failure after the row was completed).
    bool kept = false;
    std::vector<outbox::Item> intents;

    // A row the caller handed in may hold values of an earlier body.
    const bool reused = oDocID != 0;
    try {
        // A server database shows each statement what was committed before it, inside a
        // transaction or not, so its change marker is read before the transaction opens,
        // where reading it needs no savepoint. SQLite's is read inside, in the snapshot the
        // document works in.
        const bool serverDatabase = db::DialectOf(CurrentConnectionString()) == db::Dialect::PostgreSQL;
        if (serverDatabase) siteCaches.emplace();
        work.emplace(CurrentConnectionString(), DatabaseBusyTimeoutMs());
        if (!serverDatabase) siteCaches.emplace();
        // The size limit comes first: nothing of an oversized document is parsed.
        const uint64_t limit = MaxDocumentSize();
        if (body.size() > limit)
            throw StepFailure{Label("SLBSH1844", {{"[%SIZE%]", std::to_string(body.size())},
                                                 {"[%MAXSIZE%]", std::to_string(limit)}}),
                              ErrNum(EnumerationErrors::ProcessDocumentError), false};
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
                        routing::GetSenderBPAndName(*dom, oSenderBPID, oSenderName);
                    else
                        routing::GetSenderBPAndName(body, oSenderBPID, oSenderName);
                }
                if (oSenderBPID == 0 && !empty && iInterActive != -1)
                    throw Error(ErrNum(EnumerationErrors::ProcessDocumentError), kSource, "Unknown sender.");
            },
            "SLBSH1826", false);
        // 5. Type.
        Run(
            [&] {
                if (oDocTypeID.empty() && !empty)
                    oDocTypeID = dom ? routing::GetDocType(*dom, oSenderBPID)
                                     : routing::GetDocType(body, oSenderBPID);
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
                PassOnBusy();
                number = CurrentError().number();
            }
            if (!allowed) {
                std::string user = oSenderName;
                if (iInterActive != 0) {
                    try {
                        auto object = users::GetAUObject(oSenderName);
                        user = object->FirstName() + " " + object->SecondName();
                    } catch (...) {
                        PassOnBusy();
                        LogError(kSource);
                    }
                }
                std::string description;
                try {
                    description = document_types::GetDocumentTypeDescription(oDocTypeID);
                } catch (...) {
                    PassOnBusy();
                    LogError(kSource);
                }
                throw StepFailure{Label("SLBSH1720", {{"[%USER%]", user}, {"[%DOCTYPE%]", description}}), number, false};
            }
        }
        // A new row of a parsed body is written whole, once everything it holds is known
        // (after step 9), and its standard body once, after the routing tags are emptied;
        // until then nothing reads either from the database. A failure up to step 10 rolls
        // the document back whole either way, so nobody can tell that the row came later.
        const bool whole = oDocID == 0 && dom && iOriginalDocTypeID.empty();
        // 7. Store.
        if (!whole)
            Run(
                [&] {
                    if (oDocID != 0) UpdateDocumentWithOriginalXmlBody(oDocID, body);
                    else oDocID = StoreOriginalDocument(body);
                },
                "SLBSH1812", false);
        // 8. to 10.: a failure rolls the document back whole, so that no untyped row and no
        // half-made record is ever seen.
        // The default receiver (step 9) is read from the received tree before the style sheet
        // runs, so that a shown document's received tree can go as soon as the sheet has read
        // it; a failure of the look-up is still reported at step 9.
        std::optional<std::string> defaultReceiver;
        std::optional<Error> defaultReceiverFailure;
        if (oDefRecipient.empty() && !empty && dom) {
            try {
                defaultReceiver = routing::GetDefaultReceiver(*dom);
            } catch (...) {
                PassOnBusy();
                defaultReceiverFailure = CurrentError();
            }
        }
        // 8. Transform to the standard form, or to the new type the caller asked for. The
        // received tree is read no more afterwards, except by the administrator's mail of a
        // hidden document's failure.
        Run(
            [&] {
                if (whole) {
                    std::optional<std::string> output =
                        show ? StandardFormOfTree(oDocTypeID, oSenderBPID, *dom, dom, standard)
                             : StandardFormOfTree(oDocTypeID, oSenderBPID, *dom, keptReceived, standard);
                    standardForm = output ? !output->empty() : !standard.IsEmpty();
                    if (output) standardBody = std::move(*output);
                    else standardBody.reset();
                } else if (!iOriginalDocTypeID.empty()) TransformDocToNewDocType(oDocID, iOriginalDocTypeID, oDocTypeID);
                else if (dom && show)
                    standardForm = TransformDocumentToStandard(oDocID, oDocTypeID, oSenderBPID, dom, standard);
                else if (dom)
                    standardForm = TransformDocumentToStandard(oDocID, oDocTypeID, oSenderBPID, *dom, standard);
                else
                    standardForm = !TransformDocumentToStandard(oDocID, oDocTypeID, oSenderBPID).empty();
            },
            "SLBSH1824", false);
        if (show) dom.reset();
        // 9. Default receiver.
        Run(
            [&] {
                if (defaultReceiverFailure) throw *defaultReceiverFailure;
                if (defaultReceiver) oDefRecipient = *defaultReceiver;
                else if (oDefRecipient.empty() && !empty) oDefRecipient = routing::GetDefaultReceiver(body);
            },
            "SLBSH1827", false);
        // 10. Complete the row; a new one is stored now, whole. Its standard body waits for
        // the routing step when that step will run on the tree.
        const DOCUMENTSTATUS completedStatus = ConvertStatusFromIntToEnum(oStatus);
        const bool routedTree = whole && standardForm && !standard.IsEmpty() && !oDocTypeID.empty();
        if (whole) {
            Run(
                [&] {
                    const std::string& standardText = standardBody ? *standardBody : body;
                    oDocID = StoreCompleteDocument(body, routedTree ? nullptr : &standardText, oDocTypeID,
                                                   oSenderName, oDefRecipient,
                                                   static_cast<DOCUMENTSTATUS>(oStatus), show, iForwardedDocID);
                },
                "SLBSH1812", false);
            if (!routedTree) standardBody.reset();
        } else {
            Run(
                [&] {
                    UpdateDocument(oDocID, oDocTypeID, oSenderName, oDefRecipient,
                                   static_cast<DOCUMENTSTATUS>(oStatus), show, iForwardedDocID);
                },
                "SLBSH1825", false);
        }
        // The standard body still to be written (the body as received when no style sheet
        // applies); written by the routing step, or after it when it fails.
        bool standardPending = routedTree;
        // The style sheet's output is kept until it or the tree it became is stored, so that
        // a routing step undone still finds it.
        auto writeStandard = [&](std::optional<DOCUMENTSTATUS> status, bool mayHaveOpenErrors,
                                 bool changed) {
            std::string text = changed ? standard.Xml() : standardBody ? *standardBody : body;
            SetDocumentStatus(oDocID, status, completedStatus, mayHaveOpenErrors, &text);
            standardBody.reset();
            standardPending = false;
        };
        kept = true;
        // 11. User-defined fields: a failure is recorded and processing goes on. A new row of
        // a type without fields has no values to store or to replace.
        if (!empty && (reused || TypeHasUserDefinedFields(oDocTypeID))) {
            db::Transaction step(CurrentConnectionString());
            try {
                UserDefinedFields fields;
                if (whole && !standard.IsEmpty())
                    fields.FillValuesOfNewDocument(oDocID, oDocTypeID, standard);
                else if (!standard.IsEmpty())
                    fields.UpdateValuesInTagsValueTable(oDocID, oDocTypeID, standard);
                else
                    fields.UpdateValuesInTagsValueTable(oDocID, oDocTypeID);
                step.Commit();
            } catch (...) {
                PassOnBusy();
                Error failure = CurrentError();
                step.Rollback();
                LogPublicationError(oDocID, failure.number(), failure.description(), kSource, "SLBSH1828");
                LogError(kSource, Label("SLBSH1828"));
            }
        }
        // 12. Recipients.
        try {
            InStep(
                [&] {
                    if (!standardForm || oDocID == 0 || oDocTypeID.empty()) return;
                    if (iOriginalDefRecipient.empty() || iInterActive == 0) {
                        routing::RoutingOutcome outcome;
                        int32_t status =
                            standard.IsEmpty()
                                ? routing::GetRecipientsAndFillPublicationTable(oDocID, oDocTypeID)
                            : standardPending
                                ? routing::GetRecipientsAndFillPublicationTable(oDocID, oDocTypeID,
                                                                               standard, outcome)
                                : routing::GetRecipientsAndFillPublicationTable(oDocID, oDocTypeID,
                                                                               standard);
                        oStatus = static_cast<int16_t>(status);
                        const bool move = iInterActive != -1 && oStatus != 0;
                        if (standardPending)
                            // A row made in this unit of work has only the publication
                            // errors that routing recorded just now.
                            writeStandard(move ? std::optional(ConvertStatusFromIntToEnum(oStatus))
                                               : std::nullopt,
                                          outcome.errorsRecorded, outcome.bodyChanged);
                        else if (move)
                            SetDocumentStatus(oDocID, ConvertStatusFromIntToEnum(oStatus));
                    } else {
                        routing::FillPublicationTable(oDocID, oDocTypeID, 0, iOriginalDefRecipient);
                        if (standardPending) writeStandard(std::nullopt, false, false);
                    }
                },
                "SLBSH1829", true);
        } catch (const StepFailure&) {
            // The step was undone: the standard body goes in as the style sheet made it.
            if (standardPending) {
                try {
                    writeStandard(std::nullopt, false, false);
                } catch (...) {
                    PassOnBusy();
                    LogError(kSource);
                }
            }
            throw;
        }
        // 13. Attachments.
        if (i_oAttachments.IsArray()) {
            db::Transaction step(CurrentConnectionString());
            try {
                CopyAttachmentCollection(oDocID, i_oAttachments, 0);
                step.Commit();
            } catch (...) {
                PassOnBusy();
                Error failure = CurrentError();
                step.Rollback();
                throw StepFailure{Label("SLBSH1816") + kCrLf + failure.description(), failure.number(), false, true};
            }
        }
        // 14. What leaves the system is written down with the document and done after the
        // commit: first the deliveries, then the mails, composed from their outcome.
        const bool leaves = oStatus != 0 && standardForm && oDocID != 0 && !oDocTypeID.empty() && iInterActive != -1;
        // An OBI document is announced only once its deliveries went out, so its mails wait
        // for them.
        bool obi = false;
        bool delivering = false;
        auto addItem = [&](std::string_view kind, const std::string& target = {},
                           std::shared_ptr<outbox::KnownDocument> known = nullptr) {
            outbox::Item item;
            item.id = outbox::Add(oDocID, kind, target);
            item.docId = oDocID;
            item.kind = kind;
            item.target = target;
            item.known = std::move(known);
            intents.push_back(std::move(item));
        };
        // Who is to be told is read first; only writing the items needs the savepoint.
        auto announce = [&] {
            bool tellRecipients = false, tellSender = false;
            auto known = std::make_shared<outbox::KnownDocument>();
            known->type = oDocTypeID;
            known->sender = oSenderName;
            Run(
                [&] {
                    known->recipients = recipients::GetRecipientsFromPublicationTable(oDocID, oDocTypeID, true);
                    tellRecipients = !known->recipients.Eof();
                    SenderList senders;
                    tellSender = senders.GetNotification(oDocTypeID, oSenderName);
                },
                "SLBSH1810", true);
            if (tellRecipients || tellSender)
                InStep(
                    [&] {
                        if (tellRecipients) addItem(outbox::kind::NotifyRecipients, {}, known);
                        if (tellSender) addItem(outbox::kind::NotifySender, {}, known);
                    },
                    "SLBSH1810", true);
        };
        if (leaves) {
            std::vector<PushDocUtils::PlannedDelivery> deliveries;
            Run(
                [&] {
                    obi = OBI().IsObiDocument(oDocTypeID);
                    deliveries = PushDocUtils().PlanDeliveries(oDocID, oDocTypeID);
                },
                "SLBSH1809", true);
            if (!deliveries.empty())
                InStep(
                    [&] {
                        for (const PushDocUtils::PlannedDelivery& d : deliveries)
                            addItem(outbox::kind::Deliver, outbox::DeliveryTarget(d.partner, d.sendMethod, d.rule));
                    },
                    "SLBSH1809", true);
            delivering = !deliveries.empty();
            if (show && !obi) announce();
        }
        const bool owner = !work->IsNested();
        work->Commit();
        work.reset();
        // The caller who opened the unit of work commits it and works off the outbox after.
        if (owner && !intents.empty()) outbox::WorkOff(intents);
        if (!owner) leftItems_.insert(leftItems_.end(), intents.begin(), intents.end());
        if (leaves && obi && owner) {
            // An OBI document whose first deliveries failed ends here, kept with its errors.
            if (delivering && publication_errors::CheckPublicationErrors(oDocID))
                throw StepFailure{Label("SLBSH1809"), ErrNum(EnumerationErrors::ProcessDocumentError), true, true};
            if (show) {
                intents.clear();
                work.emplace(CurrentConnectionString(), DatabaseBusyTimeoutMs());
                announce();
                work->Commit();
                work.reset();
                if (!intents.empty()) outbox::WorkOff(intents);
            }
        }
        return Variant(oDocID);
    } catch (const StepFailure& failure) {
        int32_t storedId = 0;
        bool keptHere = false;
        try {
            if (kept || failure.keepsRow) {
                // Late exit: the failure stays with the stored document.
                if (failure.late && oDocID != 0) {
                    try {
                        LogPublicationError(oDocID, failure.number, failure.message, kSource, "SLBSH1812");
                    } catch (...) {
                        LogError(kSource);
                    }
                }
                if (work) {
                    work->Commit();
                    keptHere = true;
                }
                storedId = oDocID;
            } else if (work) {
                work->Rollback();
            }
        } catch (...) {
            // The commit itself failed: nothing of the document is stored.
            LogError(kSource);
            if (work) work->Rollback();
            storedId = 0;
            keptHere = false;
        }
        work.reset();
        // What the kept document wrote down to go out before the failing step goes as well
        // (the items of the step that failed went with its roll-back).
        if (keptHere && storedId != 0 && !intents.empty()) {
            try {
                if (db::InTransaction(CurrentConnectionString()))
                    leftItems_.insert(leftItems_.end(), intents.begin(), intents.end());
                else
                    WorkOffStored(std::move(intents));
            } catch (...) {
                LogError(kSource);
            }
        }
        const Error error(ErrNum(EnumerationErrors::ProcessDocumentError), kSource, failure.message);
        // A hidden document's failure goes to the administrator, queued on its own and named
        // by its identifier only when the row was kept.
        if (!show) {
            try {
                const std::string subject = storedId != 0
                                                ? Label("SLBSH0037", {{"[%DOCID%]", std::to_string(storedId)}})
                                                : Label("SLBSH0038");
                std::string text = Label("SLBSH0035", {{"[%ERRORDESCRIPTION%]", failure.message}});
                // The administrator finds the document by the name its road gave it.
                if (!trace_.origin.empty()) text += kCrLf + Label("KXL0001", {{"[%SOURCE%]", trace_.origin}});
                if (dom && !dom->IsEmpty()) text += kCrLf + Label("SLBSH0036") + ":" + kCrLf + dom->Xml();
                const bool joined = db::InTransaction(CurrentConnectionString());
                const int64_t item = outbox::Add(storedId, outbox::kind::AdminMail, "", subject, text);
                if (!joined) {
                    outbox::WorkOff(std::vector<int64_t>{item});
                } else {
                    // Sent once the caller's unit of work is committed.
                    outbox::Item intent;
                    intent.id = item;
                    intent.docId = storedId;
                    intent.kind = outbox::kind::AdminMail;
                    intent.subject = subject;
                    leftItems_.push_back(std::move(intent));
                }
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
    } catch (...) {
        // A database that stayed locked, or a transaction that could not be had, leaves the
        // document absent, and the caller is told so plainly rather than with a step's label.
        if (work) work->Rollback();
        oDocID = 0;
        const Error error = CurrentError();
        try {
            if (error.number() != errnum::DatabaseBusy) throw;
            throw Error(errnum::DatabaseBusy, kSource,
                        "The database is busy; the document was not stored. " + error.description());
        } catch (...) {
            LogError(kSource);
            throw;
        }
    }
}

outbox::Outcome DocumentProcessing::WorkOffLeftItems() {
    std::vector<outbox::Item> left;
    left.swap(leftItems_);
    return outbox::WorkOff(left);
}

void DocumentProcessing::DropLeftItems() noexcept { leftItems_.clear(); }

outbox::Outcome DocumentProcessing::WorkOffStored(std::vector<outbox::Item> items) {
    if (items.empty()) return {};
    // Only what was committed exists: the items of a unit of work (or a step) that was
    // rolled back are gone with it and must not be done.
    std::string ids;
    std::vector<Variant> values;
    for (const outbox::Item& item : items) {
        ids += ids.empty() ? "?" : ", ?";
        values.emplace_back(static_cast<long long>(item.id));
    }
    std::set<int64_t> stored;
    {
        db::Connection connection = GetConnection();
        for (db::Recordset rs = connection.Query("SELECT OUTBOXID FROM OUTBOX WHERE OUTBOXID IN (" + ids + ")", values);
             !rs.Eof(); rs.MoveNext())
            stored.insert(rs.GetInt("OUTBOXID"));
    }
    std::erase_if(items, [&](const outbox::Item& item) { return !stored.contains(item.id); });
    return outbox::WorkOff(items);
}

}  // namespace kestrix
