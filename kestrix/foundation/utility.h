#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "kestrix/foundation/enums.h"
#include "platform/base/object.h"
#include "platform/base/variant.h"
#include "platform/db/recordset.h"
#include "platform/xml/xml.h"

namespace kestrix::membership {
class User;
}

namespace kestrix {

/// "Kestrix.Utility": the public helper class of the library. It is a thin facade: each
/// method forwards to the room that owns the work (conversions and parameters here, users
/// in web/, routing in documents/, mail in delivery/, files in intake/).
class Utility : public Object {
public:
    // ---- conversions, long texts and server parameters ----------------------------------

    /// Writes a long text into the column `iFieldName` of the row being edited, in chunks of
    /// 1,000,000 characters; empty content sets the empty text. On failure the column is
    /// set to the empty text and the error raised on.
    void SetLongDBTextField(std::string& iFieldContent, std::string& iFieldName, db::EditRow& oRS);
    /// Null reads as 0; any other value as a 32-bit integer (halves to even); Overflow
    /// outside the 32-bit range.
    int32_t CheckLong(Variant& iVar);
    /// Null reads as ""; any other value as its text.
    std::string CheckString(Variant& iVar);
    /// The server parameter of that name; a failure is passed on unchanged.
    std::string GetQelServerParameter(std::string& i_sParamName);
    /// The value formatted with the format expression (see FormatExpression).
    Variant Formats(const Variant& i_vSource, const Variant& i_vFormat);

    // ---- users of the membership directory ----------------------------------------------

    /// The site's virtual identifier (site configuration, GLOBAL "IISVirtId"), read once per
    /// instance.
    std::string getIISVirtID();
    /// The membership user object of the user.
    std::shared_ptr<membership::User> GetAUObject(std::string& iUserID);
    /// The membership user object of the user (the virtual identifier is not used).
    std::shared_ptr<membership::User> getAUOAddress(std::string iIISVirtID, std::string& iUserID);
    /// The membership users matching the criteria ("cn=<login>", "employeenumber=<n>"); an
    /// empty virtual identifier is filled in and handed back.
    db::Recordset GetAuoRSByCriteria(const Variant& iCriteria, std::string& iIISVirtID);
    /// The business partner of the user.
    int32_t GetAUBusinessPartnerID(std::string& iUserID);
    /// The e-mail address of the user.
    std::string GetAUEmailAddress(std::string& iUserID);

    // ---- publication errors --------------------------------------------------------------

    /// True when the document has an open publication error.
    bool CheckPublicationErrors(int32_t& iDocID);

    // ---- XSL patterns and the recipients of a document (documents/) ---------------------

    /// The trimmed text of the first node the pattern selects; "" for an empty pattern, when
    /// nothing is selected and when the pattern is rejected.
    std::string ExecuteXSLPattern(const xml::XmlDocument& i_oXMLDoc, const std::string& i_sXslPattern);
    /// All nodes the pattern selects, in document order; nothing (nullopt) when the pattern
    /// is rejected.
    std::optional<std::vector<xml::XmlNode>> ExecuteXSLPatternReturnAllNodes(
        const xml::XmlDocument& iXMLDoc, const std::string& iXslPattern);
    /// The pattern for a tag name ("//name"), an attribute name ("//@name") or a pattern
    /// given as it is; "" for any other kind.
    std::string ConstructXslPattern(TagAttrXsl iTagAttrXsl, const std::string& iXslPattern);
    /// The recipients of a document of that type: EMAIL, HTMLATTACHMENTXSL, USERID and
    /// HTMLATTACHMENT of every publication whose user is on the type's distribution list and
    /// that is not deleted; with iEmailFlag only the users who want mail.
    db::Recordset GetRecipientsFromPublicationTable(int32_t iDocID, const std::string& iDocTypeID,
                                                    bool iEmailFlag = false);

    // ---- files, folders and the error folder (intake/) ----------------------------------

    /// `WriteXMLFileToDiskAsciiOrUnicode` as UTF-16.
    Variant WriteXMLFileToDisk(const std::string& i_sXMLStr, const std::string& i_sFileName = {});
    /// Writes the text into a file, overwriting it: UTF-16 with byte-order mark when
    /// `i_bUnicode`, else code page 1252. A blank name becomes a fresh temporary name (handed
    /// back); a name without a drive lands in the temporary folder. Answers the name written.
    Variant WriteXMLFileToDiskAsciiOrUnicode(const std::string& i_sXMLStr, std::string& i_sFileName,
                                             bool i_bUnicode = true);
    /// Deletes the file; a blank name does nothing. A file that may not be deleted is only
    /// logged; other failures are raised.
    void DeleteXMLFileFromDisk(const std::string& iFileName);
    /// True when the file exists on this server.
    bool FileExist(const std::string& iFileName);
    /// True when the folder exists on this server.
    bool DirExistOnThisServer(const std::string& iDir);
    /// True when the folder exists; network paths are asked through "QelFile.File".
    bool DirExist(const std::string& iDir);
    /// True when the file `iFile` exists in the folder `iPath`; network paths are asked
    /// through "QelFile.File".
    bool FileExistAlsoRemote(const std::string& iPath, const std::string& iFile);
    /// True unless the site configuration switches the spreadsheet engine off (section
    /// GLOBAL, key "ExcelEnabled" = "0" or "false"). A configuration that cannot be read
    /// leaves it on.
    bool IsExcelInstalled();
    /// `IsExcelInstalled`, raising ExcelNotInstalled when it is false.
    bool IsExcelInstalledWithErrRaise();
    /// The path unchanged when it has a drive ("/..." or "X:"), else placed in the system's
    /// temporary folder.
    std::string AddTempPathIfNoDriveFound(const std::string& i_sPath);
    /// A folder of the present second under the error folder (server parameter
    /// "XMLErrorPath", created with its parents when missing), named
    /// "yyyy-mm-dd_hh-mm-ss"; created when missing. Answers its path.
    std::string CreateErrorDir();
    /// Writes the content as UTF-16 into a new file of a fresh error folder and answers its
    /// path. A blank name becomes a temporary name; a leading "~" is dropped; a name already
    /// taken gets a counter before its first "." (at its end when it has none).
    std::string WriteXmlFileToErrorDir(const std::string& iFileContent, const std::string& iFileName = {});
    /// Moves the file into a fresh error folder under a free name (as above) and answers its
    /// new path.
    std::string MoveFileToErrorDir(const std::filesystem::path& iFile);

    // ---- plug-in method calls (delivery/) ------------------------------------------------

    /// The class part of a plug-in address: everything before its second dot (the whole
    /// address when it has none): "Acme.Orders.Receive" gives "Acme.Orders".
    Variant GetClass(const std::string& iDllClassMethodString);
    /// The method part of a plug-in address: everything after its second dot; "" when there
    /// is none or it ends the address.
    Variant GetMethod(const std::string& iDllClassMethodString);
    /// Creates the plug-in class of the address and calls it with the document data (by
    /// reference): the named method by name, else `IMethodCall::MethodCall` (or
    /// "IMethodCall_MethodCall" by name for a class without the interface). Answers the
    /// plug-in's boolean. Any failure is raised on with the source
    /// "Kestrix.Utility.CallMethod" and "object <address> not found or method called with
    /// wrong number/type of arguments".
    bool CallMethod(const std::string& iDllClassMethodString, Variant& iArguments);
    /// True when the class part of the address can be created; failures answer false
    /// without being reported.
    bool CheckMethodCall(const std::string& iDllClassMethodString);
    /// The elements of an array as texts joined by ", "; "" (after logging) for a value that
    /// is no array.
    std::string MakeStringFromArray(const Variant& iArray);

private:
    std::string virtualId_;
};

}  // namespace kestrix
