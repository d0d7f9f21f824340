#include "kestrix/delivery/send_method.h"

#include <vector>

#include "kestrix/delivery/push_doc_utils.h"
#include "kestrix/foundation/dbutils.h"
#include "kestrix/foundation/error_reporting.h"
#include "kestrix/foundation/i18n.h"
#include "platform/base/strings.h"
#include "platform/db/connection.h"

namespace kestrix {

namespace {

constexpr const char* kKeepPassword = "********";

/// The record's values in the columns of SENDMETHODPROPERTY, in the order they are written.
/// The password is left to the caller, which has its own rule for it.
void FillRow(db::EditRow& row, const TSendMethodProperties& p) {
    row.Set("AUTOPUSH", p.bAutoPush ? 1 : 0);
    row.Set("XSLFILENAME", p.sXslFileName);
    row.Set("FILEEXTENSION", p.sFileExtension);
    row.Set("USERNAME", p.sUser);
    row.Set("FORMAT", SendMethod::SendMethodFormat_EnumToInteger(p.nFormat));
    row.Set("PROXY", p.sProxy);
    row.Set("PORT", p.lPort);
    row.Set("PROXYPORT", p.lProxyPort);
    row.Set("PROTOCOL", SendMethod::SendMethodProtocol_EnumToInteger(p.nProtocol));
    row.Set("WRITEMODE", SendMethod::SendMethodWriteMode_EnumToInteger(p.nWriteMode));
    // A plug-in call addressed as ".." has no class to call: nothing is stored.
    row.Set("ADDRESS", p.nProtocol == ESendMethodProtocol::MethodCall && p.sAddress == ".." ? "" : p.sAddress);
    row.Set("EXCELTEMPLATE", p.sExcelTemplate);
    row.Set("SUFFIX", SendMethod::SendMethodSuffix_EnumToInteger(p.nSuffix));
    row.Set("FILENAME", p.sFileName);
    row.Set("FILEFORMAT", SendMethod::SendMethodFileFormat_EnumToInteger(p.nFileFormat));
    row.Set("FTPTRANSFERTYPE", SendMethod::SendMethodFTPTransferType_EnumToInteger(p.nFTPTransferType));
}

/// The form's integers and texts as a record.
TSendMethodProperties FromForm(const SendMethodFormValues& v) {
    TSendMethodProperties p;
    p.nProtocol = SendMethod::SendMethodProtocol_IntegerToEnum(v.protocol.ToLong());
    p.nFormat = SendMethod::SendMethodFormat_IntegerToEnum(v.format.ToLong());
    p.bAutoPush = v.autoPush.ToBool();
    p.sXslFileName = v.xsl.ToString();
    p.sAddress = v.address.ToString();
    p.lPort = v.port.ToLong();
    p.sUser = v.user.ToString();
    p.sPassword = v.password.ToString();
    p.sFileName = v.fileName.ToString();
    p.nSuffix = SendMethod::SendMethodSuffix_IntegerToEnum(v.suffix.ToLong());
    p.sFileExtension = v.extension.ToString();
    p.nWriteMode = SendMethod::SendMethodWriteMode_IntegerToEnum(v.writeMode.ToLong());
    p.sExcelTemplate = v.excelTemplate.ToString();
    p.sProxy = v.proxy.ToString();
    p.lProxyPort = v.proxyPort.ToLong();
    p.nFileFormat = SendMethod::SendMethodFileFormat_IntegerToEnum(v.fileFormat.ToLong());
    p.nFTPTransferType = SendMethod::SendMethodFTPTransferType_IntegerToEnum(v.ftpTransferType.ToLong());
    return p;
}

/// An enumeration column: NULL reads as 0.
int32_t EnumColumn(const db::Recordset& rs, std::string_view column) {
    return static_cast<int32_t>(rs.GetInt(column, 0));
}

struct WordValue {
    const char* word;
    int32_t value;
};

struct Field {
    const char* name;
    std::vector<WordValue> words;
};

const std::vector<Field>& Fields() {
    static const std::vector<Field> fields{
        {"protocol", {{"email", 10}, {"fax", 20}, {"filepath", 30}, {"ftp", 40}, {"http", 50}, {"methodcall", 60}}},
        {"format", {{"excel", 10}, {"obi", 20}, {"xml", 30}}},
        {"writemode", {{"append", 10}, {"create", 20}, {"update", 30}}},
        {"suffix", {{"docid", 10}, {"none", 20}}},
        {"fileformat", {{"ascii", 10}, {"unicode", 20}}},
        {"transfertype", {{"ascii", 10}, {"binary", 20}}},
    };
    return fields;
}

const Field* FindField(std::string_view name) {
    for (const Field& field : Fields())
        if (IEquals(field.name, name)) return &field;
    return nullptr;
}

}  // namespace

TSendMethodProperties NewSendMethodProperties() {
    TSendMethodProperties p;
    p.nFormat = ESendMethodFormat::XML;
    p.bAutoPush = true;
    p.lPort = -1;
    p.lProxyPort = -1;
    p.sFileExtension = "xml";
    p.nFileFormat = ESendMethodFileFormat::ASCII;
    p.nFTPTransferType = ESendMethodFTPTransferType::Binary;
    p.nSuffix = ESendMethodSuffix::None;
    return p;
}

std::optional<int32_t> send_method_words::Value(std::string_view field, std::string_view word) {
    if (const Field* f = FindField(field))
        for (const WordValue& w : f->words)
            if (IEquals(w.word, Trim(word))) return w.value;
    return std::nullopt;
}

std::string send_method_words::Word(std::string_view field, int32_t value) {
    if (const Field* f = FindField(field))
        for (const WordValue& w : f->words)
            if (w.value == value) return w.word;
    return value == 0 ? "-" : std::to_string(value);
}

std::string send_method_words::Words(std::string_view field) {
    std::string words;
    if (const Field* f = FindField(field))
        for (const WordValue& w : f->words) words += (words.empty() ? "" : ", ") + std::string(w.word);
    return words;
}

void SendMethod::AddSendMethodToHistory(int32_t iSendMethodID, int32_t iBusinessPartnerID, int32_t iRuleID,
                                        int32_t iDocID, const std::string& iDocTypeID,
                                        int32_t iPublicationErrorID, int16_t iStatus) {
    try {
        db::EditRow row;
        row.Set("SENDMETHODID", iSendMethodID);
        row.Set("BUSINESSPARTNERID", iBusinessPartnerID);
        row.Set("RULEID", iRuleID);
        row.Set("DOCUMENTID", iDocID);
        row.Set("DOCUMENTTYPEID", iDocTypeID);
        row.Set("PUBLICATIONERRORID", iPublicationErrorID);
        row.Set("STATUS", iStatus);
        row.Set("SENDDATE", DateTime::Now().Sortable());
        db::Connection connection = GetConnection();
        connection.Insert("SENDMETHODHISTORY", row, "HISTORYID");
        CloseConnection(connection);
    } catch (...) {
        Reraise("Kestrix.SendMethod.AddSendMethodToHistory");
    }
}

int32_t SendMethod::AddSendMethodProperties2(TSendMethodProperties& i_uProperties) {
    try {
        ClearSendMethodFieldsByProtocol(i_uProperties);
        db::EditRow row;
        FillRow(row, i_uProperties);
        row.Set("PASSWORD", i_uProperties.sPassword);
        db::Connection connection = GetConnection();
        const int32_t id =
            KeyAsInt32(connection.Insert("SENDMETHODPROPERTY", row, "SENDMETHODID"), "SENDMETHODPROPERTY");
        CloseConnection(connection);
        return id;
    } catch (...) {
        Reraise("Kestrix.SendMethod.AddSendMethodProperties2");
    }
}

int32_t SendMethod::AddSendMethodPropertiesFromAsp(const SendMethodFormValues& values) {
    try {
        TSendMethodProperties p = FromForm(values);
        return AddSendMethodProperties2(p);
    } catch (...) {
        Reraise("Kestrix.SendMethod.AddSendMethodPropertiesFromAsp");
    }
}

Variant SendMethod::GetSendMethodProperties2(int32_t i_lSendMethodID, TSendMethodProperties& o_uProperties) {
    try {
        o_uProperties = TSendMethodProperties{};
        if (i_lSendMethodID == -1) return {};
        db::Connection connection = GetConnection();
        db::Recordset rs =
            connection.Query("SELECT * FROM SENDMETHODPROPERTY WHERE SENDMETHODID = ?", {Variant(i_lSendMethodID)});
        CloseConnection(connection);
        if (rs.Eof()) return {};
        TSendMethodProperties& p = o_uProperties;
        PushDocUtils fields;
        p.bAutoPush = rs.GetInt("AUTOPUSH", 0) != 0;
        p.sXslFileName = fields.GetField(rs, "XSLFILENAME");
        p.sFileExtension = fields.GetField(rs, "FILEEXTENSION");
        p.sUser = fields.GetField(rs, "USERNAME");
        p.sPassword = fields.GetField(rs, "PASSWORD");
        p.sProxy = fields.GetField(rs, "PROXY");
        p.sAddress = fields.GetField(rs, "ADDRESS");
        p.sExcelTemplate = fields.GetField(rs, "EXCELTEMPLATE");
        p.sFileName = fields.GetField(rs, "FILENAME");
        p.nFormat = SendMethodFormat_IntegerToEnum(EnumColumn(rs, "FORMAT"));
        p.nProtocol = SendMethodProtocol_IntegerToEnum(EnumColumn(rs, "PROTOCOL"));
        p.nWriteMode = SendMethodWriteMode_IntegerToEnum(EnumColumn(rs, "WRITEMODE"));
        p.nSuffix = SendMethodSuffix_IntegerToEnum(EnumColumn(rs, "SUFFIX"));
        p.nFileFormat = SendMethodFileFormat_IntegerToEnum(EnumColumn(rs, "FILEFORMAT"));
        p.nFTPTransferType = SendMethodFTPTransferType_IntegerToEnum(EnumColumn(rs, "FTPTRANSFERTYPE"));
        p.lPort = static_cast<int32_t>(rs.GetInt("PORT", -1));
        p.lProxyPort = static_cast<int32_t>(rs.GetInt("PROXYPORT", -1));
        return {};
    } catch (...) {
        Reraise("Kestrix.SendMethod.GetSendMethodProperties2");
    }
}

void SendMethod::GetSendMethodPropertiesFromAsp(int32_t i_lSendMethodID, SendMethodFormValues& v) {
    try {
        TSendMethodProperties p;
        GetSendMethodProperties2(i_lSendMethodID, p);
        v.protocol = Variant(static_cast<int32_t>(SendMethodProtocol_EnumToInteger(p.nProtocol)));
        v.format = Variant(static_cast<int32_t>(SendMethodFormat_EnumToInteger(p.nFormat)));
        v.autoPush = Variant(p.bAutoPush);
        v.xsl = Variant(p.sXslFileName);
        v.address = Variant(p.sAddress);
        v.port = Variant(p.lPort);
        v.user = Variant(p.sUser);
        v.password = Variant(p.sPassword);
        v.fileName = Variant(p.sFileName);
        v.suffix = Variant(static_cast<int32_t>(SendMethodSuffix_EnumToInteger(p.nSuffix)));
        v.extension = Variant(p.sFileExtension);
        v.writeMode = Variant(static_cast<int32_t>(SendMethodWriteMode_EnumToInteger(p.nWriteMode)));
        v.excelTemplate = Variant(p.sExcelTemplate);
        v.proxy = Variant(p.sProxy);
        v.proxyPort = Variant(p.lProxyPort);
        v.fileFormat = Variant(static_cast<int32_t>(SendMethodFileFormat_EnumToInteger(p.nFileFormat)));
        v.ftpTransferType = Variant(static_cast<int32_t>(SendMethodFTPTransferType_EnumToInteger(p.nFTPTransferType)));
    } catch (...) {
        v = SendMethodFormValues{};
        Reraise("Kestrix.SendMethod.GetSendMethodPropertiesFromAsp");
    }
}

void SendMethod::UpdateSendMethodProperties2(int32_t i_lSendMethodID, TSendMethodProperties& i_uProperties) {
    try {
        ClearSendMethodFieldsByProtocol(i_uProperties);
        db::Connection connection = GetConnection();
        const std::string where = "SENDMETHODID = " + EncodeSqlNumber(i_lSendMethodID);
        std::optional<db::EditRow> row = connection.Edit("SENDMETHODPROPERTY", where);
        if (row) {
            FillRow(*row, i_uProperties);
            const std::string password = Trim(i_uProperties.sPassword);
            if (password != kKeepPassword) row->Set("PASSWORD", password.empty() ? "" : i_uProperties.sPassword);
            connection.Update("SENDMETHODPROPERTY", *row, where);
        }
        CloseConnection(connection);
    } catch (...) {
        Reraise("Kestrix.SendMethod.UpdateSendMethodProperties2");
    }
}

void SendMethod::UpdateSendMethodPropertiesFromAsp(int32_t i_lSendMethodID, const SendMethodFormValues& values) {
    try {
        TSendMethodProperties p = FromForm(values);
        UpdateSendMethodProperties2(i_lSendMethodID, p);
    } catch (...) {
        Reraise("Kestrix.SendMethod.UpdateSendMethodPropertiesFromAsp");
    }
}

void SendMethod::DeleteSendMethod2(const std::string& i_lSMID, int32_t i_lBPID, int32_t i_lruleid,
                                   const std::string& i_sDocTypeID) {
    try {
        // The identifier comes as text from the forms; only a number reaches a statement.
        const int32_t id = Variant(Trim(i_lSMID)).ToLong();
        db::Connection connection = GetConnection();
        if (i_lruleid == -1) {
            connection.Execute("DELETE FROM SENDMETHOD WHERE SENDMETHODID = ?", {Variant(id)});
        } else {
            db::Recordset rs = connection.Query(
                "SELECT DISTINCT SENDMETHODID FROM SENDMETHOD WHERE BUSINESSPARTNERID = ? AND DOCUMENTTYPEID = ? "
                "AND RULEID = ?",
                {Variant(i_lBPID), Variant(i_sDocTypeID), Variant(i_lruleid)});
            if (rs.RowCount() == 1) {
                // The rule keeps its assignment as a placeholder.
                connection.Execute(
                    "UPDATE SENDMETHOD SET SENDMETHODID = -1 WHERE BUSINESSPARTNERID = ? AND DOCUMENTTYPEID = ? "
                    "AND RULEID = ? AND SENDMETHODID = ?",
                    {Variant(i_lBPID), Variant(i_sDocTypeID), Variant(i_lruleid), rs.Field("SENDMETHODID")});
            } else {
                connection.Execute("DELETE FROM SENDMETHOD WHERE SENDMETHODID = ?", {Variant(id)});
            }
        }
        connection.Execute("DELETE FROM SENDMETHODPROPERTY WHERE SENDMETHODID = ?", {Variant(id)});
        CloseConnection(connection);
    } catch (...) {
        Reraise("Kestrix.SendMethod.DeleteSendMethod2");
    }
}

void SendMethod::AddSendMethod2(int32_t& i_lSendMethodID, int32_t& i_lBusinessPartnerID,
                                std::string& i_sDocumentTypeID, int32_t& i_lruleid) {
    try {
        db::Connection connection = GetConnection();
        db::Recordset rs = connection.Query(
            "SELECT SENDMETHODID FROM SENDMETHOD WHERE BUSINESSPARTNERID = ? AND DOCUMENTTYPEID = ? AND RULEID = ?",
            {Variant(i_lBusinessPartnerID), Variant(i_sDocumentTypeID), Variant(i_lruleid)});
        auto insert = [&] {
            db::EditRow row;
            row.Set("SENDMETHODID", i_lSendMethodID);
            row.Set("BUSINESSPARTNERID", i_lBusinessPartnerID);
            row.Set("DOCUMENTTYPEID", i_sDocumentTypeID);
            row.Set("RULEID", i_lruleid);
            connection.Insert("SENDMETHOD", row);
        };
        if (rs.Eof()) {
            insert();
        } else if (rs.GetInt("SENDMETHODID", 0) == -1) {
            connection.Execute(
                "UPDATE SENDMETHOD SET SENDMETHODID = ? WHERE BUSINESSPARTNERID = ? AND DOCUMENTTYPEID = ? "
                "AND RULEID = ? AND SENDMETHODID = -1",
                {Variant(i_lSendMethodID), Variant(i_lBusinessPartnerID), Variant(i_sDocumentTypeID),
                 Variant(i_lruleid)});
        } else if (i_lSendMethodID != -1) {
            insert();
        }
        CloseConnection(connection);
    } catch (...) {
        Reraise("Kestrix.SendMethod.AddSendmethod2");
    }
}

db::Recordset SendMethod::GetSendMethodIDs(int32_t i_lBPID, const std::string& i_sDocTypeID, int32_t i_lruleid) {
    try {
        db::Connection connection = GetConnection();
        db::Recordset rs = connection.Query(
            "SELECT SENDMETHODID FROM SENDMETHOD WHERE BUSINESSPARTNERID = ? AND DOCUMENTTYPEID = ? AND RULEID = ?",
            {Variant(i_lBPID), Variant(i_sDocTypeID), Variant(i_lruleid)});
        CloseConnection(connection);
        return rs;
    } catch (...) {
        Reraise("Kestrix.SendMethod.GetSendMethods");
    }
}

Variant SendMethod::GetSendMethodProperties3(int32_t /*i_lSendMethodID*/, bool& i_bEnableAttachments) {
    try {
        i_bEnableAttachments = ToUpper(GetParameter("EnableAttachments")) == "YES";
        return {};
    } catch (...) {
        Reraise("Kestrix.SendMethod.GetSendMethodProperties3");
    }
}

std::string SendMethod::GetSendMethodProtocolLabel(ESendMethodProtocol i_nProtocol) {
    switch (i_nProtocol) {
        case ESendMethodProtocol::Email: return "[%SLBSH4428%]";
        case ESendMethodProtocol::Fax: return "[%SLBSH4429%]";
        case ESendMethodProtocol::FilePath: return "[%SLBSH4430%]";
        case ESendMethodProtocol::Ftp: return "[%SLBSH4431%]";
        case ESendMethodProtocol::Http: return "[%SLBSH4432%]";
        case ESendMethodProtocol::MethodCall: return "[%SLBSH4433%]";
    }
    return "";
}

std::string SendMethod::GetSendMethodFormatLabel(ESendMethodFormat i_nFormat) {
    switch (i_nFormat) {
        case ESendMethodFormat::Excel: return "[%SLBSH5556%]";
        case ESendMethodFormat::OBI: return "[%SLBSH5555%]";
        case ESendMethodFormat::XML: return "[%SLBSH5554%]";
    }
    return "";
}

void SendMethod::ClearSendMethodFieldsByProtocol(TSendMethodProperties& p) {
    const bool excel = p.nFormat == ESendMethodFormat::Excel;
    auto noConnection = [&] {
        p.lPort = 0;
        p.lProxyPort = 0;
        p.sProxy.clear();
        p.sPassword.clear();
        p.sUser.clear();
    };
    switch (p.nProtocol) {
        case ESendMethodProtocol::Email:
        case ESendMethodProtocol::Fax:
            p.nFTPTransferType = {};
            p.nWriteMode = {};
            noConnection();
            if (p.nProtocol == ESendMethodProtocol::Email && !excel) p.sExcelTemplate.clear();
            break;
        case ESendMethodProtocol::FilePath:
            p.nFTPTransferType = {};
            noConnection();
            if (!excel) p.nWriteMode = {};
            if (!(excel && p.nWriteMode == EWriteMode::Create)) p.sExcelTemplate.clear();
            break;
        case ESendMethodProtocol::Ftp:
            p.nWriteMode = {};
            if (!excel) p.sExcelTemplate.clear();
            break;
        case ESendMethodProtocol::Http:
            p.nFTPTransferType = {};
            p.nSuffix = {};
            p.nWriteMode = {};
            p.sExcelTemplate.clear();
            p.sFileExtension.clear();
            p.sFileName.clear();
            break;
        case ESendMethodProtocol::MethodCall:
            p.nFTPTransferType = {};
            p.nSuffix = {};
            p.nWriteMode = {};
            p.sFileExtension.clear();
            p.sFileName.clear();
            noConnection();
            p.nFileFormat = {};
            if (!excel) p.sExcelTemplate.clear();
            break;
    }
}

void SendMethod::GetSendMethodData() {
    try {
        Dictionary replacements;
        replacements.Add("[%METHODNAME%]", "GetSendMethodProperties2");
        Raise(EnumerationErrors::NewerVersionAvailable, "Kestrix.SendMethod.GetSendMethodData",
              TranslateLabel("SLBSH4425", 0, replacements));
    } catch (...) {
        Reraise("Kestrix.SendMethod.GetSendMethodData");
    }
}

void SendMethod::GetSendMethodID() {
    try {
        Raise(EnumerationErrors::NewerVersionAvailable, "Kestrix.SendMethod.GetSendMethodID",
              TranslateLabel("SLBSH4426"));
    } catch (...) {
        Reraise("Kestrix.SendMethod.GetSendMethodID");
    }
}

}  // namespace kestrix
