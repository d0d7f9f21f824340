// The push engine: which partners get a document, by which send methods, converted how, and
// what is recorded about every attempt.
#include <unistd.h>

#include <chrono>
#include <climits>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "kestrix/delivery/email.h"
#include "kestrix/delivery/push_doc_utils.h"
#include "kestrix/delivery/send_method.h"
#include "kestrix/documents/attachments.h"
#include "kestrix/documents/document.h"
#include "kestrix/documents/document_types.h"
#include "kestrix/documents/obi.h"
#include "kestrix/documents/publication_errors.h"
#include "kestrix/documents/qel_excel.h"
#include "kestrix/documents/workbook_calls.h"
#include "kestrix/documents/sender_list.h"
#include "kestrix/foundation/dbutils.h"
#include "kestrix/foundation/error_reporting.h"
#include "kestrix/foundation/files.h"
#include "kestrix/foundation/i18n.h"
#include "kestrix/foundation/method_call.h"
#include "kestrix/foundation/site_cache.h"
#include "kestrix/foundation/site_settings.h"
#include "kestrix/foundation/style_sheets.h"
#include "kestrix/foundation/users.h"
#include "kestrix/rules/routing.h"
#include "kestrix/rules/rules.h"
#include "platform/base/strings.h"
#include "platform/db/connection.h"
#include "platform/membership/user.h"
#include "platform/net/file_target.h"
#include "platform/net/ftp.h"
#include "platform/net/http.h"
#include "platform/net/transport.h"
#include "platform/net/url.h"
#include "platform/services/file_paths.h"
#include "platform/text/code_page.h"
#include "platform/xml/xml.h"
#include "kestrix/foundation/file_handling.h"
#include "kestrix/foundation/general.h"

namespace kestrix {

namespace fs = std::filesystem;

namespace {

constexpr const char* kCrLf = "\r\n";

/// A label's text in `language` (0: the default) with its placeholders filled.
std::string Text(std::string_view code, std::initializer_list<std::pair<const char*, std::string>> entries = {},
                 int32_t language = 0) {
    Dictionary replacements;
    for (const auto& [key, value] : entries) replacements.Add(key, value);
    return TranslateLabel(code, language, replacements);
}

/// "Document 42" as the failure messages of a delivery name the document.
std::string DocumentReference(int32_t docId, int32_t language = 0) {
    return Text("SLBSH4228", {{"[%DOCID%]", std::to_string(docId)}}, language);
}

/// A step's message: its label text, a blank and the document reference.
std::string StepMessage(std::string_view code, std::initializer_list<std::pair<const char*, std::string>> entries,
                        int32_t docId) {
    return Text(code, entries) + " " + DocumentReference(docId);
}

/// Records a publication error with the replacements of a failed delivery.
int32_t LogDeliveryError(int32_t docId, int32_t number, const std::string& description, std::string_view source,
                         std::string_view label, const Dictionary& entries) {
    std::optional<xml::XmlDocument> replacements;
    FillReplacements(replacements, entries);
    return LogPublicationErrorWithReplacements(docId, number, description, source, label,
                                               replacements ? &*replacements : nullptr);
}

/// The document's data as text (a workbook never reaches here: no engine is built in).
std::string DataText(const Variant& data) { return data.IsEmpty() || data.IsNull() ? std::string() : data.ToString(); }

/// Writes the text of a delivery to a temporary file named as the send method names its
/// output, in code page 1252 or UTF-16 as the send method asks; answers the path.
std::string WriteDeliveryFile(int32_t docId, const std::string& text, const TSendMethodProperties& p) {
    std::string name = PushDocUtils::GetSendMethodOutputFileName(docId, p);
    return files::WriteXMLFileToDiskAsciiOrUnicode(text, name, p.nFileFormat == ESendMethodFileFormat::Unicode)
        .ToString();
}

/// A value of the site configuration's GLOBAL section.
std::string SiteSetting(std::string_view key) { return kestrix::SiteSetting("GLOBAL", key); }

/// A switch of the site configuration: on when "1" or "true".
bool SiteSwitch(std::string_view key) {
    const std::string value = SiteSetting(key);
    return value == "1" || IEquals(value, "true");
}

/// The limits of one transfer: "TransferConnectTimeout" (seconds, 30) and "TransferTimeout"
/// (seconds, 300) of the site configuration.
net::Timeouts TransferTimeouts() {
    net::Timeouts timeouts;
    auto seconds = [](std::string_view key, std::chrono::milliseconds& value) {
        const std::string text = SiteSetting(key);
        if (!text.empty() && text.find_first_not_of("0123456789") == std::string::npos)
            value = std::chrono::seconds(std::stoll(text));
    };
    seconds("TransferConnectTimeout", timeouts.connect);
    seconds("TransferTimeout", timeouts.transfer);
    return timeouts;
}

/// Whether a web page's status means "later": the site's list "HttpTransientStatuses"
/// (statuses separated by commas) when set, else the transport's own.
bool TransientHttpStatus(int status) {
    const std::string list = SiteSetting("HttpTransientStatuses");
    if (list.empty()) return net::IsTransientStatus(status);
    for (const std::string& item : Split(list, ','))
        if (Trim(item) == std::to_string(status)) return true;
    return false;
}

/// The bytes of a text as a send method writes it: UTF-16 with a byte order mark, or code
/// page 1252.
std::string EncodedText(const std::string& text, const TSendMethodProperties& p) {
    return p.nFileFormat == ESendMethodFileFormat::Unicode ? text::Utf8ToUtf16LE(text, text::ByteOrderMark::Write)
                                                           : text::Utf8ToCp1252(text).bytes;
}

/// The folder of the send methods' workbook templates (server parameter
/// "ExcelTemplatesPath"), ending in a separator.
std::string TemplatesFolder() {
    std::string folder = FileHandling().GetFolderName(EFolderType::AsIs, GetParameter("ExcelTemplatesPath"));
    if (!folder.empty() && !folder.ends_with("/") && !folder.ends_with("\\")) folder += "/";
    return folder;
}

}  // namespace

std::string PushDocUtils::WorkbookFile(int32_t docId, const std::string& text, const TSendMethodProperties& p) {
    QelExcel excel;
    const fs::path scratch = WorkbookScratchFile(p.sFileName);
    if (Trim(p.sExcelTemplate).empty()) {
        ExcelWorkBookPtr book = excel.TransformXMLToExcel(text, EWriteMode::Create, docId, false);
        excel.WriteExcelObjectToFile(book, scratch.string(), true);
    } else {
        ExcelWorkBookPtr book = excel.TransformXMLToExcel(text, EWriteMode::Create, docId, true,
                                                          TemplatesFolder() + p.sExcelTemplate, scratch.string());
        excel.CloseWorkBook(book);
    }
    return scratch.string();
}

std::string PushDocUtils::WorkbookForFolder(int32_t docId, const std::string& text, const TSendMethodProperties& p,
                                            const fs::path& target) {
    // The workbook is made on a scratch copy and only then put in place whole, so that a
    // failure leaves the target as it was.
    QelExcel excel;
    const fs::path scratch = WorkbookScratchFile(target.filename().string());
    struct Remove {
        fs::path path;
        ~Remove() {
            std::error_code ec;
            fs::remove(path, ec);
        }
    } remove{scratch};
    switch (p.nWriteMode) {
        case EWriteMode::Append:
        case EWriteMode::Update: {
            fs::copy_file(target, scratch, fs::copy_options::overwrite_existing);
            ExcelWorkBookPtr book = excel.TransformXMLToExcel(text, p.nWriteMode, docId, false, scratch.string());
            excel.CloseWorkBook(book);
            break;
        }
        case EWriteMode::Create:
            if (Trim(p.sExcelTemplate).empty()) {
                ExcelWorkBookPtr book = excel.TransformXMLToExcel(text, EWriteMode::Create, docId, false);
                excel.WriteExcelObjectToFile(book, scratch.string(), true);
            } else {
                ExcelWorkBookPtr book = excel.TransformXMLToExcel(text, EWriteMode::Create, docId, true,
                                                                  TemplatesFolder() + p.sExcelTemplate,
                                                                  scratch.string());
                excel.CloseWorkBook(book);
            }
            break;
        default:
            Raise(EnumerationErrors::InvalidParamValue, "Kestrix.PushDocUtils.TransformXMLToExcel",
                  "A workbook by file path needs the write mode append, create or update. " +
                      DocumentReference(docId));
    }
    std::ifstream in(scratch, std::ios::binary);
    std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (!in.good() && !in.eof())
        throw Error(ErrNum(EnumerationErrors::PushDocumentError), "Kestrix.PushDocUtils.TransformXMLToExcel",
                    "The workbook made in '" + scratch.string() + "' cannot be read.");
    return bytes;
}

void PushDocUtils::RemoveTemporaryWorkbook(TSendMethodProperties& p) noexcept {
    if (!p.bTempFileCanBeRemoved || p.sTempFileName.empty()) return;
    std::error_code ec;
    fs::remove(p.sTempFileName, ec);
    p.sTempFileName.clear();
    p.bTempFileCanBeRemoved = false;
}

void PushDocUtils::NoteTransient() {
    try {
        throw;
    } catch (const net::TransportError& failure) {
        transientFailure_ = failure.transient();
    } catch (...) {
        transientFailure_ = false;
    }
}

std::string PushDocUtils::GetSendMethodOutputFileName(int32_t docId, const TSendMethodProperties& p) {
    const std::string id = std::to_string(docId);
    const std::string suffix = p.nSuffix == ESendMethodSuffix::DocumentID ? "_" + id : "";
    const std::string base = Trim(p.sFileName).empty() || p.sFileName.starts_with(".") ? id : p.sFileName;
    // Workbooks are written as Office Open XML.
    const std::string extension = p.nFormat == ESendMethodFormat::Excel ? "xlsx" : p.sFileExtension;
    return base + suffix + "." + extension;
}

db::Recordset PushDocUtils::GetPushableBPs(int32_t docId, const std::string& docTypeId) {
    try {
        db::Connection connection = GetConnection();
        db::Recordset rs = connection.Query(
            " SELECT DISTINCT s.DOCUMENTTYPEID,s.BUSINESSPARTNERID,s.SENDMETHODID,s.RULEID FROM PUBLICATION AS "
            "p,DISTRIBUTIONLIST AS d,SENDMETHOD AS s WHERE     p.DOCUMENTID = ? AND d.DOCUMENTTYPEID = ? AND "
            "p.USERID = d.USERID AND d.DOCUMENTTYPEID = s.DOCUMENTTYPEID AND d.BUSINESSPARTNERID = "
            "s.BUSINESSPARTNERID ORDER BY s.DOCUMENTTYPEID, s.BUSINESSPARTNERID, s.RULEID",
            {Variant(docId), Variant(docTypeId)});
        CloseConnection(connection);
        return rs;
    } catch (...) {
        Reraise("Kestrix.PushDocUtils.GetPushableBPs");
    }
}

Dictionary PushDocUtils::FailureReplacements(int32_t docId, int32_t partner, const TSendMethodProperties& p) {
    Dictionary entries;
    entries.Add("[%DOCID%]", std::to_string(docId));
    entries.Add("[%LABEL%]", SendMethod::GetSendMethodFormatLabel(p.nFormat));
    entries.Add("[%LABEL1%]", SendMethod::GetSendMethodProtocolLabel(p.nProtocol));
    entries.Add("[%ADDRESS%]", p.sAddress);
    std::string name;
    try {
        name = routing::GetBusinessPartnerName(partner);
    } catch (...) {
        LogError("Kestrix.PushDocUtils.FailureReplacements");
    }
    entries.Add("[%BUSINESSPARTNER%]", name);
    return entries;
}

void PushDocUtils::PushDocumentToReceivers(int32_t& i_lDocID, const std::string& i_sDocTypeID,
                                           const std::string& i_sXMLStr) {
    constexpr const char* kSource = "Kestrix.PushDocUtils.PushDocumentToReceivers";
    try {
        const std::vector<PlannedDelivery> planned = PlanDeliveries(i_lDocID, i_sDocTypeID);
        if (planned.empty()) return;
        DocumentStore store;
        const std::string xml = Trim(i_sXMLStr).empty() ? store.GetXmlDocument(i_lDocID) : i_sXMLStr;
        SendMethod methods;
        for (const PlannedDelivery& delivery : planned) {
            TSendMethodProperties properties;
            bool attachments = false;
            try {
                methods.GetSendMethodProperties2(delivery.sendMethod, properties);
                methods.GetSendMethodProperties3(delivery.sendMethod, attachments);
            } catch (...) {
                LogError(kSource);
                continue;
            }
            bool delivered = false;
            try {
                PushDocument(i_lDocID, xml, properties, attachments);
                delivered = true;
            } catch (...) {
                const Error failure = CurrentError();
                const std::string description =
                    failure.description() + kCrLf +
                    Text("SLBSH5021", {{"[%SENDMETHODID%]", std::to_string(delivery.sendMethod)}});
                const int32_t errorId =
                    LogDeliveryError(i_lDocID, failure.number(), description, kSource, "SLBSH0883",
                                     FailureReplacements(i_lDocID, delivery.partner, properties));
                methods.AddSendMethodToHistory(delivery.sendMethod, delivery.partner, delivery.rule, i_lDocID,
                                               i_sDocTypeID, errorId, methods.getSendMethodStatus_NOTSENT());
            }
            // The history of a delivery that was made is written apart from it: a failure to
            // write it must not turn the delivery into a failed one that would be made again.
            if (delivered) {
                try {
                    methods.AddSendMethodToHistory(delivery.sendMethod, delivery.partner, delivery.rule, i_lDocID,
                                                   i_sDocTypeID, 0, methods.getSendMethodStatus_SENT());
                } catch (...) {
                    LogError(kSource);
                }
            }
        }
        store.SetDocumentStatus(i_lDocID, DOCUMENTSTATUS::DOCUMENTSENT);
    } catch (...) {
        try {
            const Error failure = CurrentError();
            LogPublicationError(i_lDocID, failure.number(), failure.description(), kSource, "SLBSH0875");
        } catch (...) {
            LogError(kSource);
        }
    }
}

void PushDocUtils::PushDocumentToReceiversWithErrorRaise(int32_t& i_lDocID, const std::string& i_sDocTypeID,
                                                         const std::string& i_sXMLStr) {
    constexpr const char* kSource = "Kestrix.PushDocUtils.PushDocumentToReceiversWithErrorRaise";
    try {
        PushDocumentToReceivers(i_lDocID, i_sDocTypeID, i_sXMLStr);
        if (publication_errors::CheckPublicationErrors(i_lDocID))
            Raise(EnumerationErrors::PushDocumentError, kSource,
                  Text("SLBSH4327", {{"[%DOCID%]", std::to_string(i_lDocID)}}));
    } catch (...) {
        Reraise(kSource);
    }
}

bool PushDocUtils::PushDocumentToReceiver(int32_t i_lBPID, int32_t i_lDocID, const std::string& i_sDocTypeID,
                                          const std::string& i_sXMLStr) {
    constexpr const char* kSource = "Kestrix.PushDocUtils.PushDocumentToReceiver";
    try {
        Rules rules;
        std::string type = i_sDocTypeID;
        int32_t partner = i_lBPID;
        const int32_t rule = rules.ExecuteSendMethodRuleSet(i_lDocID, type, partner);
        SendMethod methods;
        db::Recordset listed = methods.GetSendMethodIDs(i_lBPID, i_sDocTypeID, rule);
        if (listed.Eof()) return false;
        DocumentStore store;
        const std::string xml = i_sXMLStr.empty() ? store.GetXmlDocument(i_lDocID) : i_sXMLStr;
        for (; !listed.Eof(); listed.MoveNext()) {
            try {
                ExecuteSendMethod(i_lBPID, i_lDocID, static_cast<int32_t>(listed.GetInt("SENDMETHODID", 0)), rule,
                                  xml, 0);
            } catch (...) {
                // The send method recorded its own publication error and history row.
            }
        }
        store.SetDocumentStatus(i_lDocID, DOCUMENTSTATUS::DOCUMENTSENT);
        return true;
    } catch (...) {
        try {
            const Error failure = CurrentError();
            LogDeliveryError(i_lDocID, ErrNum(EnumerationErrors::PublishDocumentError), failure.description(), kSource,
                             "SLBSH0883", FailureReplacements(i_lDocID, i_lBPID, TSendMethodProperties{}));
        } catch (...) {
            LogError(kSource);
        }
        return false;
    }
}

void PushDocUtils::ExecuteSendMethod(int32_t i_lBPID, int32_t i_lDocID, int32_t i_lSendMethodID, int32_t i_lruleid,
                                     const std::string& i_sXMLStr, int32_t i_lPublicationErrorID) {
    constexpr const char* kSource = "Kestrix.PushDocUtils.ExecuteSendMethod";
    try {
        DocumentStore store;
        const std::string type = store.GetDocumentTypeOfDocument(i_lDocID);
        SendMethod methods;
        TSendMethodProperties properties;
        methods.GetSendMethodProperties2(i_lSendMethodID, properties);
        const std::string xml = i_sXMLStr.empty() ? store.GetXmlDocument(i_lDocID) : i_sXMLStr;
        std::optional<Error> failure;
        try {
            PushDocument(i_lDocID, xml, properties);
        } catch (...) {
            failure = CurrentError();
        }
        if (!failure) {
            if (i_lPublicationErrorID > 0) publication_errors::ClosePublicationErrors(i_lPublicationErrorID);
            methods.AddSendMethodToHistory(i_lSendMethodID, i_lBPID, i_lruleid, i_lDocID, type, 0,
                                           methods.getSendMethodStatus_SENT());
            return;
        }
        const int32_t errorId =
            LogDeliveryError(i_lDocID, ErrNum(EnumerationErrors::PublishDocumentError), failure->description(),
                             kSource, "SLBSH0883", FailureReplacements(i_lDocID, i_lBPID, properties));
        if (i_lPublicationErrorID > 0) publication_errors::ClosePublicationErrors(i_lPublicationErrorID);
        methods.AddSendMethodToHistory(i_lSendMethodID, i_lBPID, i_lruleid, i_lDocID, type, errorId,
                                       methods.getSendMethodStatus_NOTSENT());
        Raise(EnumerationErrors::CannotExecuteSendMethod, kSource, Text("SLBSH0875"));
    } catch (...) {
        Reraise(kSource);
    }
}

std::vector<PushDocUtils::PlannedDelivery> PushDocUtils::PlanDeliveries(int32_t docId, const std::string& docTypeId) {
    constexpr const char* kSource = "Kestrix.PushDocUtils.PushDocumentToReceivers";
    std::vector<PlannedDelivery> planned;
    // Most types go to nobody by a send method; whether a type has any is kept per site
    // version, so that a document of such a type asks nothing more.
    const std::optional<std::string> any = CachedSiteValue(SiteCacheKind::SendMethods, docTypeId, [&] {
        db::Connection connection = GetConnection();
        db::Recordset rs = connection.Query(
            "SELECT COUNT(*) AS N FROM SENDMETHOD WHERE DOCUMENTTYPEID = ? AND SENDMETHODID <> -1", {Variant(docTypeId)});
        return std::optional<std::string>(rs.Eof() || rs.GetInt("N", 0) == 0 ? "0" : "1");
    });
    if (any && *any == "0") return planned;
    db::Recordset rows = GetPushableBPs(docId, docTypeId);
    if (rows.Eof()) return planned;
    int32_t id = docId;
    const std::string sender = DocumentStore().GetSenderOfDocument(id);
    if (!SenderList().CheckAuthorizationForSender(docTypeId, sender)) {
        const std::string text = Text("SLBSH1720", {{"[%USER%]", sender},
                                                    {"[%DOCTYPE%]", document_types::GetDocumentTypeDescription(docTypeId)}});
        LogPublicationError(docId, ErrNum(EnumerationErrors::PushDocumentError), text, kSource, "SLBSH0875");
        return planned;
    }
    SendMethod methods;
    Rules rules;
    std::string type = docTypeId;
    int32_t previous = 0;
    constexpr int32_t kNoRule = INT_MIN;
    int32_t rule = kNoRule;
    for (; !rows.Eof(); rows.MoveNext()) {
        int32_t partner = Variant(GetField(rows, "BUSINESSPARTNERID")).ToLong();
        const int32_t sendMethod = Variant(GetField(rows, "SENDMETHODID")).ToLong();
        const int32_t rowRule = Variant(GetField(rows, "RULEID")).ToLong();
        if (partner != previous) {
            try {
                rule = rules.ExecuteSendMethodRuleSet(id, type, partner);
            } catch (...) {
                rule = kNoRule;
                const Error failure = CurrentError();
                LogPublicationError(docId, failure.number(), failure.description(), kSource, "SLBSH0875");
            }
        }
        previous = partner;
        if (rowRule != rule) continue;
        TSendMethodProperties properties;
        try {
            methods.GetSendMethodProperties2(sendMethod, properties);
        } catch (...) {
            LogError(kSource);
            continue;
        }
        if (properties.bAutoPush) planned.push_back({partner, sendMethod, rule});
    }
    return planned;
}

PushDocUtils::DeliveryAttempt PushDocUtils::AttemptDelivery(int32_t docId, int32_t partner, int32_t sendMethod,
                                                            int32_t rule, int32_t previousErrorId) {
    constexpr const char* kSource = "Kestrix.PushDocUtils.PushDocumentToReceivers";
    DeliveryAttempt attempt;
    SendMethod methods;
    DocumentStore store;
    {
        // Made before (a run that stopped after the delivery and before the outbox knew it).
        db::Connection connection = GetConnection();
        db::Recordset rs = connection.Query(
            "SELECT HISTORYID FROM SENDMETHODHISTORY WHERE DOCUMENTID = ? AND BUSINESSPARTNERID = ? AND "
            "SENDMETHODID = ? AND STATUS = 1",
            {Variant(docId), Variant(partner), Variant(sendMethod)});
        if (!rs.Eof()) {
            attempt.delivered = true;
            return attempt;
        }
    }
    const std::string type = store.GetDocumentTypeOfDocument(docId);
    TSendMethodProperties properties;
    transientFailure_ = false;
    try {
        bool attachments = false;
        methods.GetSendMethodProperties2(sendMethod, properties);
        methods.GetSendMethodProperties3(sendMethod, attachments);
        PushDocument(docId, store.GetXmlDocument(docId), properties, attachments);
        attempt.delivered = true;
    } catch (...) {
        const Error failure = CurrentError();
        attempt.transient = transientFailure_;
        attempt.error = failure.description();
        const std::string description =
            failure.description() + kCrLf + Text("SLBSH5021", {{"[%SENDMETHODID%]", std::to_string(sendMethod)}});
        attempt.publicationErrorId = LogDeliveryError(docId, failure.number(), description, kSource, "SLBSH0883",
                                                      FailureReplacements(docId, partner, properties));
    }
    if (previousErrorId > 0) publication_errors::ClosePublicationErrors(previousErrorId);
    methods.AddSendMethodToHistory(sendMethod, partner, rule, docId, type, attempt.delivered ? 0 : attempt.publicationErrorId,
                                   attempt.delivered ? methods.getSendMethodStatus_SENT()
                                                     : methods.getSendMethodStatus_NOTSENT());
    int32_t id = docId;
    store.SetDocumentStatus(id, DOCUMENTSTATUS::DOCUMENTSENT);
    return attempt;
}

bool PushDocUtils::CanPush(int32_t iBPID, int32_t /*iDocID*/, const std::string& iDocTypeID) {
    try {
        if (!SendMethod().GetSendMethodIDs(iBPID, iDocTypeID, -1).Eof()) return true;
        return Rules().ExistRulesAttachedToSendMethods(iDocTypeID, iBPID);
    } catch (...) {
        Reraise("Kestrix.PushDocUtils.CanPush");
    }
}

void PushDocUtils::PushDocument(int32_t docId, const std::string& xml, TSendMethodProperties& p, bool attachments) {
    try {
        if (p.nFormat == ESendMethodFormat::Excel) files::IsExcelInstalledWithErrRaise();
        std::string text = Trim(p.sXslFileName).empty()
                               ? xml
                               : style_sheets::transformXMLStringToHTML(
                                     xml, document_types::GetTransformXSLPath() + p.sXslFileName);
        Variant data;
        switch (p.nFormat) {
            case ESendMethodFormat::XML:
                data = Variant(std::move(text));
                break;
            case ESendMethodFormat::OBI: {
                OBI obi;
                xml::XmlDocument dom = obi.XmlToDom(text);
                ByteArray version = obi.GetObiDocumentVersion(dom, text);
                ByteArray signature;
                std::string object;
                obi.ConstructObiObject(version, EObiLanguage::XML, text, signature, object);
                data = Variant(std::move(object));
                break;
            }
            case ESendMethodFormat::Excel:
                // A file path writes its workbook itself, in its write mode; a plug-in gets the
                // document. Every other protocol carries the workbook as a file made here.
                if (p.nProtocol == ESendMethodProtocol::FilePath || p.nProtocol == ESendMethodProtocol::MethodCall) {
                    data = Variant(std::move(text));
                } else {
                    p.sFileName = GetSendMethodOutputFileName(docId, p);
                    p.sTempFileName = WorkbookFile(docId, text, p);
                    p.bTempFileCanBeRemoved = true;
                }
                break;
            default:
                Raise(EnumerationErrors::SendMethodFormatNotSupported, "Kestrix.PushDocUtils.PushDocument",
                      Text("SLBSH4326", {{"[%FORMAT%]", std::to_string(static_cast<int32_t>(p.nFormat))}}));
        }
        switch (p.nProtocol) {
            case ESendMethodProtocol::Email:
                if (attachments) SendByEmail2(docId, data, p, attachments);
                else SendByEmail(docId, data, p);
                break;
            case ESendMethodProtocol::Fax: SendByFax(docId, data, p); break;
            case ESendMethodProtocol::FilePath: SendByFileStream(docId, data, p); break;
            case ESendMethodProtocol::Ftp: SendByFTP(docId, data, p); break;
            case ESendMethodProtocol::Http: SendByHTTP(docId, p, DataText(data)); break;
            case ESendMethodProtocol::MethodCall: SendByMethodCall(docId, data, p); break;
            default:
                Raise(EnumerationErrors::SendMethodProtocolNotSupported, "Kestrix.PushDocUtils.PushDocument",
                      Text("SLBSH4325", {{"[%PROTOCOL%]", std::to_string(static_cast<int32_t>(p.nProtocol))}}));
        }
        RemoveTemporaryWorkbook(p);
    } catch (...) {
        RemoveTemporaryWorkbook(p);
        Reraise("Kestrix.PushDocUtils.PushDocument");
    }
}

void PushDocUtils::SendByEmail(int32_t i_lDocID, const Variant& i_vSendData, TSendMethodProperties& i_uProperties) {
    bool noAttachments = false;
    SendByEmail2(i_lDocID, i_vSendData, i_uProperties, noAttachments);
}

void PushDocUtils::SendByEmail2(int32_t i_lDocID, const Variant& i_vSendData, TSendMethodProperties& p,
                                bool& i_bEnableAttachments) {
    const char* source = i_bEnableAttachments ? "Kestrix.PushDocUtils.SendByEmail2" : "Kestrix.PushDocUtils.SendByEmail";
    std::string recipient, from, file, reference;
    try {
        if (!Trim(p.sUser).empty()) {
            std::string user = p.sUser;
            auto member = users::GetAUObject(user);
            recipient = member->EmailAddress();
            reference = DocumentReference(i_lDocID, Variant(member->LanguageID()).ToLong());
        } else {
            recipient = p.sAddress;
            reference = DocumentReference(i_lDocID);
        }
        std::string sender;
        {
            db::Connection connection = GetConnection();
            db::Recordset rs = connection.Query("SELECT SENDER FROM DOCUMENT WHERE DOCUMENTID = ?", {Variant(i_lDocID)});
            CloseConnection(connection);
            if (!rs.Eof()) sender = Trim(rs.GetString("SENDER"));
        }
        from = users::GetAUEmailAddress(sender);
        // The document travels as the attachment; an OBI object too, as its text, so that a
        // mail never arrives without the document it announces.
        // A workbook was made as a file already and goes as it is.
        const bool workbook = p.nFormat == ESendMethodFormat::Excel && !p.sTempFileName.empty();
        file = workbook ? p.sTempFileName : WriteDeliveryFile(i_lDocID, DataText(i_vSendData), p);
        Array paths;
        if (i_bEnableAttachments) {
            Attachments attachments;
            Variant virtualPath, folder;
            if (attachments.AttachmentsMode(virtualPath, folder).ToLong() !=
                static_cast<int32_t>(EAttachmentMode::Supported))
                throw Error(ErrNum(EnumerationErrors::PushDocumentError), "SendByEmail2",
                            Text("SLBSH5071", {{"[%PARAMNAME%]", "AttachmentsVirtualPath"}}));
            int32_t docId = i_lDocID;
            db::Recordset rs = attachments.GetDocumentAttachmentsBySenderRS(sender, docId);
            for (; !rs.Eof(); rs.MoveNext())
                paths.push_back(Variant(folder.ToString() + std::to_string(i_lDocID) + "/" +
                                        rs.GetString("ATTACHMENTFILENAME")));
        }
        if (!paths.empty())
            email::SendEmailWithAttachments(from, recipient, reference, "", "", file, Variant(Array{Variant(paths)}));
        else
            email::SendEmail(from, recipient, reference, "", "", file);
        if (!workbook) files::DeleteXMLFileFromDisk(file);
    } catch (...) {
        if (!file.empty() && file != p.sTempFileName) {
            try {
                files::DeleteXMLFileFromDisk(file);
            } catch (...) {
                LogError(source);
            }
        }
        // A mail server that cannot be reached now may take the mail later; a mail without
        // sender or receiver never will.
        const int32_t number = CurrentError().number();
        transientFailure_ = number != ErrNum(EnumerationErrors::MissingEmailSenderError) &&
                            number != ErrNum(EnumerationErrors::MissingEmailReceiverError) &&
                            number != ErrNum(EnumerationErrors::PushDocumentError);
        std::string message;
        try {
            message = Text("SLBSH4232", {{"[%RECIPIENTS%]", recipient}}) + " " +
                      Text("SLBSH4233", {{"[%SENDER%]", from}}) + " " +
                      Text("SLBSH4234", {{"[%ATTACHMENT%]", file}}) + " " +
                      (reference.empty() ? DocumentReference(i_lDocID) : reference);
        } catch (...) {
            LogError(source);
        }
        Reraise(source, message);
    }
}

void PushDocUtils::SendByFax(int32_t i_lDocID, const Variant& i_vSendData, TSendMethodProperties& p) {
    try {
        p.sAddress = p.sAddress + "@" + GetParameter("FaxServer");
        SendByEmail(i_lDocID, i_vSendData, p);
    } catch (...) {
        Reraise("Kestrix.PushDocUtils.SendByFax",
                Text("SLBSH4227", {{"[%FAXSERVER%]", p.sAddress}}) + " " + DocumentReference(i_lDocID));
    }
}

void PushDocUtils::SendByFileStream(int32_t docId, const Variant& data, TSendMethodProperties& p) {
    std::string path = p.sAddress;
    try {
        if (!path.ends_with("\\") && !path.ends_with("/")) path += "\\";
        const std::string name = GetSendMethodOutputFileName(docId, p);
        path += name;
        // A network share is reached under the site's root of shares, a local folder as it
        // stands. The file appears whole or not at all, replacing one of the same name as
        // the file functions of the house do: a partner polling the folder never reads half.
        std::string folder = p.sAddress;
        folder = services::IsNetworkPath(folder) ? services::MapNetworkPath(folder, services::InSite(SiteSetting("UncRoot"), getInstallDir()))
                                                 : LocalFilePath(folder);
        if (p.nFormat == ESendMethodFormat::Excel) {
            net::WriteFileInFolder(folder, name, WorkbookForFolder(docId, DataText(data), p, fs::path(folder) / name),
                                   net::ExistingFile::Replace);
        } else {
            // An OBI object is written as its text, as an XML document is.
            net::WriteFileInFolder(folder, name, EncodedText(DataText(data), p), net::ExistingFile::Replace);
        }
    } catch (...) {
        NoteTransient();
        Reraise("Kestrix.PushDocUtils.SendByFileStream",
                Text("SLBSH4229", {{"[%FILENAME%]", path}}) + " " + DocumentReference(docId));
    }
}

void PushDocUtils::SendByFTP(int32_t docId, const Variant& data, TSendMethodProperties& p) {
    try {
        // The transfer type is checked before anything is prepared or sent.
        net::FtpOptions options;
        if (p.nFTPTransferType == ESendMethodFTPTransferType::ASCII)
            options.transferType = net::FtpTransferType::Ascii;
        else if (p.nFTPTransferType == ESendMethodFTPTransferType::Binary)
            options.transferType = net::FtpTransferType::Binary;
        else
            Raise(EnumerationErrors::InvalidParamValue, "Kestrix.PushDocUtils.SendDataByFTP",
                  StepMessage("SLBSH4328",
                              {{"[%FTPTRANSFERTYPE%]", std::to_string(static_cast<int32_t>(p.nFTPTransferType))}},
                              docId));
        const std::string lower = ToLower(Trim(p.sAddress));
        if (!lower.starts_with("ftp://") && !lower.starts_with("ftps://") && !lower.starts_with("sftp://"))
            Raise(EnumerationErrors::PushByFTPError, "Kestrix.PushDocUtils.SendDataByFTP",
                  StepMessage("SLBSH4239", {{"[%ADDRESS%]", net::MaskAddress(p.sAddress)}}, docId));
        if (p.sFileName.empty() || p.nFormat != ESendMethodFormat::Excel) p.sFileName = GetSendMethodOutputFileName(docId, p);
        options.user = p.sUser;
        options.password = p.sPassword;
        options.port = p.lPort > 0 ? p.lPort : 0;
        options.proxy = p.sProxy;
        options.proxyPort = p.lProxyPort > 0 ? p.lProxyPort : 0;
        options.explicitTls = SiteSwitch("FtpTls");
        options.activeMode = SiteSwitch("FtpActiveMode");
        options.caFile = SiteSetting("TransferCaFile");
        options.privateKeyFile = SiteSetting("SftpPrivateKey");
        options.knownHostsFile = SiteSetting("SftpKnownHosts");
        options.timeouts = TransferTimeouts();
        try {
            if (p.nFormat == ESendMethodFormat::Excel && !p.sTempFileName.empty())
                net::FtpPutFile(Trim(p.sAddress), p.sFileName, p.sTempFileName, options);
            else
                net::FtpPut(Trim(p.sAddress), p.sFileName, EncodedText(DataText(data), p), options);
        } catch (...) {
            NoteTransient();
            const Error failure = CurrentError();
            const std::optional<net::Address> address = net::ParseAddress(Trim(p.sAddress));
            throw Error(ErrNum(EnumerationErrors::PushByFTPError), "Kestrix.PushDocUtils.SendDataByFTP",
                        StepMessage("SLBSH4237",
                                    {{"[%SERVER%]", address ? address->host : std::string()},
                                     {"[%PORT%]", std::to_string(address && address->port ? address->port : p.lPort)},
                                     {"[%SOURCEFILE%]", p.sFileName},
                                     {"[%DESTINATIONFILE%]", p.sFileName}},
                                    docId) +
                            kCrLf + failure.description());
        }
    } catch (...) {
        Reraise("Kestrix.PushDocUtils.SendByFTP", Text("SLBSH4230", {{"[%FTPSERVER%]", net::MaskAddress(p.sAddress)}}) +
                                                      " " + Text("SLBSH4231", {{"[%FILENAME%]", p.sFileName}}) + " " +
                                                      DocumentReference(docId));
    }
}

void PushDocUtils::SendByHTTP(int32_t docId, TSendMethodProperties& p, const std::string& data) {
    constexpr const char* kStep = "Kestrix.PushDocUtils.SendDataByHTTP";
    try {
        std::string body = (p.nFormat == ESendMethodFormat::OBI ? "EOBIO=" : "xml=") + URLEncode(data);
        if (!p.sUser.empty()) body += "&USER=" + URLEncode(p.sUser) + "&PASSWORD=" + URLEncode(p.sPassword);
        body += "&DocID=" + URLEncode(std::to_string(docId));

        // The address: "http://" or "https://", a host, an optional ":port", and the page,
        // which must be there (at least "/").
        const std::string masked = net::MaskAddress(p.sAddress);
        const std::string lower = ToLower(p.sAddress);
        const bool secure = lower.starts_with("https://");
        if (!secure && !lower.starts_with("http://"))
            Raise(EnumerationErrors::PushByHTTPError, kStep, StepMessage("SLBSH4241", {{"[%ADDRESS%]", masked}}, docId));
        const std::string rest = p.sAddress.substr(secure ? 8 : 7);
        const size_t slash = rest.find('/');
        if (slash == std::string::npos)
            Raise(EnumerationErrors::PushByHTTPError, kStep, StepMessage("SLBSH4243", {{"[%ADDRESS%]", masked}}, docId));
        const std::optional<net::Address> address = net::ParseAddress(p.sAddress);
        if (!address || address->host.empty())
            Raise(EnumerationErrors::PushByHTTPError, kStep, StepMessage("SLBSH4242", {{"[%ADDRESS%]", masked}}, docId));

        net::HttpOptions options;
        options.port = p.lPort > 0 ? p.lPort : 0;
        options.proxy = p.sProxy;
        options.proxyPort = p.lProxyPort > 0 ? p.lProxyPort : 0;
        options.caFile = SiteSetting("TransferCaFile");
        options.verifyPeer = SiteSetting("HttpVerifyCertificate") != "0";
        options.timeouts = TransferTimeouts();
        net::HttpAnswer answer;
        try {
            answer = net::PostForm(p.sAddress, body, options);
            net::RequireStatus200(answer, p.sAddress, [](int status) { return TransientHttpStatus(status); });
        } catch (...) {
            NoteTransient();
            const Error failure = CurrentError();
            const int port = address->port ? address->port : options.port > 0 ? options.port : secure ? 443 : 80;
            throw Error(ErrNum(EnumerationErrors::PushByHTTPError), kStep,
                        StepMessage("SLBSH4247",
                                    {{"[%SERVER%]", address->host}, {"[%PORT%]", std::to_string(port)},
                                     {"[%PAGE%]", rest.substr(slash)}},
                                    docId) +
                            kCrLf + failure.description());
        }
        // A receiving page that is not XML, or says nothing of an error, took the document.
        if (const std::optional<net::ReceiverError> refused = net::FindReceiverError(answer.body))
            throw Error(refused->number, "Error from receiving web page: " + refused->source, refused->description);
    } catch (...) {
        Reraise("Kestrix.PushDocUtils.SendByHTTP");
    }
}

void PushDocUtils::SendByMethodCall(int32_t docId, const Variant& data, TSendMethodProperties& p) {
    const char* source = p.nFormat == ESendMethodFormat::Excel ? "Kestrix.PushDocUtils.SendByMethodCallForExcel"
                                                               : "Kestrix.PushDocUtils.SendByMethodCallForXML";
    try {
        const std::string address = Trim(p.sAddress);
        if (address.empty() || address == "..")
            Raise(EnumerationErrors::PushDocumentError, source, Text("SLBSH4427", {{"[%METHODCALL%]", p.sAddress}}));
        if (p.nFormat == ESendMethodFormat::Excel) {
            QelExcel excel;
            if (Trim(p.sExcelTemplate).empty()) {
                ExcelWorkBookPtr book = excel.TransformXMLToExcel(DataText(data), EWriteMode::Create, docId, false);
                workbook_calls::CallMethodForExcel(p.sAddress, book);
            } else {
                const std::string copy = WorkbookScratchFile(p.sExcelTemplate).string();
                ExcelWorkBookPtr book = excel.TransformXMLToExcel(DataText(data), EWriteMode::Create, docId, true,
                                                                  TemplatesFolder() + p.sExcelTemplate, copy);
                workbook_calls::CallMethodForExcel(p.sAddress, book, copy);
            }
            return;
        }
        Variant arguments = data;
        plugin_calls::CallMethod(p.sAddress, arguments);
    } catch (...) {
        Reraise(source, Text("SLBSH4427", {{"[%METHODCALL%]", p.sAddress}}));
    }
}

int32_t PushDocUtils::GetSendMethodIDByPublicationErrorID(int32_t i_lPublicationErrordID) {
    try {
        db::Connection connection = GetConnection();
        db::Recordset rs = connection.Query("SELECT SENDMETHODID FROM SENDMETHODHISTORY WHERE PUBLICATIONERRORID = ?",
                                            {Variant(i_lPublicationErrordID)});
        CloseConnection(connection);
        return rs.Eof() ? 0 : static_cast<int32_t>(rs.GetInt("SENDMETHODID", 0));
    } catch (...) {
        LogError("Kestrix.PushDocUtils.GetSendMethodIDByPublicationErrorID");
        return 0;
    }
}

void PushDocUtils::GetSendMethodInfoViaPublicationError(int32_t i_lPublicationErrordID, int32_t& o_lBusinessPartnerID,
                                                        int32_t& o_lSendMethodID, int32_t& o_lDocumentID,
                                                        std::string& o_sSender) {
    try {
        o_lBusinessPartnerID = o_lSendMethodID = o_lDocumentID = 0;
        o_sSender = "0";
        db::Connection connection = GetConnection();
        db::Recordset rs = connection.Query(
            " SELECT SMH.DOCUMENTID AS DID,  SMH.SENDMETHODID as SID,  SMH.BUSINESSPARTNERID AS BPID,  D.SENDER as "
            "SENDER  FROM   SENDMETHODHISTORY SMH,  DOCUMENT D  WHERE  SMH.PUBLICATIONERRORID = ? AND    "
            "D.DOCUMENTID = SMH.DOCUMENTID",
            {Variant(i_lPublicationErrordID)});
        CloseConnection(connection);
        if (rs.Eof()) return;
        o_lSendMethodID = static_cast<int32_t>(rs.GetInt("SID", 0));
        o_lBusinessPartnerID = static_cast<int32_t>(rs.GetInt("BPID", 0));
        o_lDocumentID = static_cast<int32_t>(rs.GetInt("DID", 0));
        o_sSender = rs.GetString("SENDER");
    } catch (...) {
        Reraise("Kestrix.PushDocUtils.GetSendMethodInfoViaPublicationError");
    }
}

void PushDocUtils::RepushDocumentFromErrorBox(const std::string& i_sCurrentUser, int32_t i_lDocID,
                                              int32_t i_lPublicationErrorID) {
    constexpr const char* kSource = "Kestrix.PushDocUtils.RepushDocumentFromErrorBox";
    try {
        int32_t partner = 0, sendMethod = 0, document = 0;
        std::string sender;
        GetSendMethodInfoViaPublicationError(i_lPublicationErrorID, partner, sendMethod, document, sender);
        if (document != i_lDocID || sender != i_sCurrentUser)
            Raise(EnumerationErrors::PushDocumentError, kSource, Text("SLBSH0875"));
        ExecuteSendMethod(partner, document, sendMethod, 0, "", i_lPublicationErrorID);
    } catch (...) {
        Reraise(kSource);
    }
}

bool PushDocUtils::ErrorIsExecSendMethodError(const Variant& i_lErrNumber) const {
    try {
        return i_lErrNumber.ToLong() == ErrNum(EnumerationErrors::CannotExecuteSendMethod);
    } catch (...) {
        return false;
    }
}

}  // namespace kestrix
