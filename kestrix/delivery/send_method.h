#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "kestrix/foundation/enums.h"
#include "platform/base/object.h"
#include "platform/base/variant.h"
#include "platform/db/recordset.h"

namespace kestrix {

/// How a document reaches one business partner: protocol, format, destination, credentials
/// and file naming. The last four fields live only while a delivery runs.
struct TSendMethodProperties {
    bool bAutoPush = false;
    std::string sXslFileName;
    std::string sUser;
    std::string sPassword;
    ESendMethodFormat nFormat{};
    std::string sProxy;
    int32_t lProxyPort = 0;
    int32_t lPort = 0;
    ESendMethodProtocol nProtocol{};
    EWriteMode nWriteMode{};
    std::string sExcelTemplate;
    std::string sFromAddress;
    std::string sAddress;
    std::string sFileName;
    std::string sFileExtension;
    ESendMethodSuffix nSuffix{};
    ESendMethodFileFormat nFileFormat{};
    EFileIOMode nFileIOMode{};
    std::string sTempFileName;
    bool bTempFileCanBeRemoved = false;
    ESendMethodFTPTransferType nFTPTransferType{};
};

/// What a new send method is unless told otherwise: an automatic XML delivery named by the
/// document number with the extension "xml", in code page 1252, binary over FTP, on the
/// protocol's own port and without proxy. The protocol is left to the caller.
TSendMethodProperties NewSendMethodProperties();

/// The words by which people name the values of a send method's enumerated fields
/// ("protocol": email, fax, filepath, ftp, http, methodcall; "format": excel, obi, xml;
/// "writemode": append, create, update; "suffix": docid, none; "fileformat": ascii,
/// unicode; "transfertype": ascii, binary).
namespace send_method_words {
/// The value of `word` for `field` (ignoring case); nothing for an unknown word.
std::optional<int32_t> Value(std::string_view field, std::string_view word);
/// The word of `value` for `field`; "-" for 0, the number for anything else unknown.
std::string Word(std::string_view field, int32_t value);
/// The words of `field`, separated by ", ".
std::string Words(std::string_view field);
}  // namespace send_method_words

/// The seventeen plain values by which the web forms add, change and read a send method, in
/// their order: protocol, format, auto-push, style sheet, address, port, user, password,
/// file name, suffix, extension, write mode, workbook template, proxy, proxy port, file
/// format, FTP transfer type.
struct SendMethodFormValues {
    Variant protocol, format, autoPush, xsl, address, port, user, password, fileName, suffix,
        extension, writeMode, excelTemplate, proxy, proxyPort, fileFormat, ftpTransferType;
};

/// "Kestrix.SendMethod": the send methods (SENDMETHODPROPERTY), their assignment to a
/// partner, document type and rule (SENDMETHOD), and the delivery history
/// (SENDMETHODHISTORY). Failures are raised on with the source "Kestrix.SendMethod.<method>".
class SendMethod : public Object {
  public:
    int16_t getSendMethodStatus_SENT() const { return 1; }
    int16_t getSendMethodStatus_NOTSENT() const { return 0; }

    /// One row of delivery history: an attempt with its outcome (the publication error of a
    /// failed attempt, 0 for a delivered one) at the local date and time.
    void AddSendMethodToHistory(int32_t iSendMethodID, int32_t iBusinessPartnerID, int32_t iRuleID,
                                int32_t iDocID, const std::string& iDocTypeID, int32_t iPublicationErrorID,
                                int16_t iStatus);

    /// Stores a new send method (the fields its protocol does not use are blanked in the
    /// record first) and answers its identifier.
    int32_t AddSendMethodProperties2(TSendMethodProperties& i_uProperties);
    int32_t AddSendMethodPropertiesFromAsp(const SendMethodFormValues& values);
    /// The stored send method; blanks for -1 or an identifier without a row.
    Variant GetSendMethodProperties2(int32_t i_lSendMethodID, TSendMethodProperties& o_uProperties);
    /// The stored send method as the web forms show it (the password as stored). On failure
    /// every value is set empty before the error is raised.
    void GetSendMethodPropertiesFromAsp(int32_t i_lSendMethodID, SendMethodFormValues& values);
    /// Rewrites a stored send method; a password of eight asterisks keeps the stored one. An
    /// identifier without a row changes nothing.
    void UpdateSendMethodProperties2(int32_t i_lSendMethodID, TSendMethodProperties& i_uProperties);
    void UpdateSendMethodPropertiesFromAsp(int32_t i_lSendMethodID, const SendMethodFormValues& values);
    /// Removes a send method's assignment (the last one of a partner, type and rule stays as
    /// a placeholder) and its properties.
    void DeleteSendMethod2(const std::string& i_lSMID, int32_t i_lBPID, int32_t i_lruleid,
                           const std::string& i_sDocTypeID);
    /// Assigns a send method to a partner, type and rule, filling a placeholder when there is one.
    void AddSendMethod2(int32_t& i_lSendMethodID, int32_t& i_lBusinessPartnerID, std::string& i_sDocumentTypeID,
                        int32_t& i_lruleid);
    /// The send methods assigned to the partner, type and rule (-1: the partner's defaults).
    db::Recordset GetSendMethodIDs(int32_t i_lBPID, const std::string& i_sDocTypeID, int32_t i_lruleid);
    /// Whether the site lets deliveries carry attachments (server parameter
    /// "EnableAttachments" YES); the send method is not looked at.
    Variant GetSendMethodProperties3(int32_t i_lSendMethodID, bool& i_bEnableAttachments);

    static std::string GetSendMethodProtocolLabel(ESendMethodProtocol i_nProtocol);
    static std::string GetSendMethodFormatLabel(ESendMethodFormat i_nFormat);
    /// Blanks the fields that the record's protocol does not use.
    static void ClearSendMethodFieldsByProtocol(TSendMethodProperties& io_uSMP);

    /// Superseded: always raise NewerVersionAvailable.
    [[noreturn]] void GetSendMethodData();
    [[noreturn]] void GetSendMethodID();

    // Conversions between the enumerations and the integers of the database and the web
    // forms: the identity on the enumeration's values, 0 for any other value.
    static int16_t SendMethodProtocol_EnumToInteger(ESendMethodProtocol v) { return Known(static_cast<int32_t>(v), 60); }
    static ESendMethodProtocol SendMethodProtocol_IntegerToEnum(int32_t v) { return ESendMethodProtocol(Known(v, 60)); }
    static int16_t SendMethodWriteMode_EnumToInteger(EWriteMode v) { return Known(static_cast<int32_t>(v), 30); }
    static EWriteMode SendMethodWriteMode_IntegerToEnum(int32_t v) { return EWriteMode(Known(v, 30)); }
    static int16_t SendMethodFormat_EnumToInteger(ESendMethodFormat v) { return Known(static_cast<int32_t>(v), 30); }
    static ESendMethodFormat SendMethodFormat_IntegerToEnum(int32_t v) { return ESendMethodFormat(Known(v, 30)); }
    static int16_t SendMethodSuffix_EnumToInteger(ESendMethodSuffix v) { return Known(static_cast<int32_t>(v), 20); }
    static ESendMethodSuffix SendMethodSuffix_IntegerToEnum(int32_t v) { return ESendMethodSuffix(Known(v, 20)); }
    static int16_t SendMethodFileFormat_EnumToInteger(ESendMethodFileFormat v) { return Known(static_cast<int32_t>(v), 20); }
    static ESendMethodFileFormat SendMethodFileFormat_IntegerToEnum(int32_t v) { return ESendMethodFileFormat(Known(v, 20)); }
    static int16_t SendMethodFTPTransferType_EnumToInteger(ESendMethodFTPTransferType v) {
        return Known(static_cast<int32_t>(v), 20);
    }
    static ESendMethodFTPTransferType SendMethodFTPTransferType_IntegerToEnum(int32_t v) {
        return ESendMethodFTPTransferType(Known(v, 20));
    }

  private:
    /// `v` when it is one of 10, 20, ... up to `last`; else 0.
    static int16_t Known(int32_t v, int32_t last) {
        return v >= 10 && v <= last && v % 10 == 0 ? static_cast<int16_t>(v) : 0;
    }
};

}  // namespace kestrix
