#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

// The enumerations the library publishes with its classes. Each is its own scope: several
// reuse a member name with another value (Condition::GREATERTHAN is 2,
// EExcelSearchOptions::GREATERTHAN is 1), so a member is always named with its enumeration.

namespace kestrix {

enum class DOCUMENTSTATUS : int32_t {
    DOCUMENTUNKNOWNSTATUS = -1,
    DOCUMENTNEW = 0,
    DOCUMENTPUBLISHED = 1,
    DOCUMENTACCEPTED = 2,
    DOCUMENTPARTIALLYACCEPTED = 3,
    DOCUMENTDELETED = 4,
    DOCUMENTSENT = 5,
};

enum class PUBLICATIONSTATUS : int32_t {
    PUBLICATIONUNKNOWNSTATUS = -1,
    PUBLICATIONNEW = 0,
    PUBLICATIONACC = 1,
    PUBLICATIONNEWDEL = 2,
    PUBLICATIONACCDEL = 3,
    PUBLICATIONREJECTED = 4,
    PUBLICATIONVIEWED = 5,
    PUBLICATIONDOWNLOADED = 6,
    PUBLICATIONREJECTEDDEL = 7,
    PUBLICATIONVIEWEDDEL = 8,
    PUBLICATIONDOWNLOADEDDEL = 9,
};

/// The name of a document status as people read it ("published", "partially accepted");
/// "status N" for a number that is no status.
std::string DocumentStatusName(int32_t status);
/// The status of that name (ignoring case; "-" or "_" may stand for the blank), or nothing.
std::optional<DOCUMENTSTATUS> DocumentStatusByName(std::string_view name);
/// The name of a recipient's publication status ("new", "viewed, deleted"); "status N" for a
/// number that is no status.
std::string PublicationStatusName(int32_t status);

enum class SENDERMODE : int32_t {
    SENDERMODE = 0,
    RECEIVERMODE = 1,
    ERRORMODE = 2,
    UPLOADMODE = 3,
    CHANGEDOCTYPEMODE = 4,
};

enum class SENDMETHODSTATUS : int32_t { NOTSENT = 0, SENT = 1 };

enum class RuleType : int32_t {
    SENDMETHODRULE = 1,
    DOCUMENTTYPERULE = 2,
    SENDERIDRULE = 3,
    RECIPIENTIDRULE = 4,
};

enum class RuleLogic : int32_t { ANDRULE = 1, ORRULE = 2 };

enum class FieldType : int32_t { STRINGFIELD = 1, NUMERICFIELD = 2, DATEFIELD = 3 };

enum class Condition : int32_t {
    ISEXACTLY = 1,
    GREATERTHAN = 2,
    GREATEREQUAL = 3,
    LOWERTHAN = 4,
    LOWEREQUAL = 5,
    ISNOT = 6,
    PARTOF = 7,
    NOTPARTOF = 8,
    CONTAINS = 9,
    NOTCONTAINS = 10,
};

enum class TagAttrXsl : int32_t { TAGVALUE = 1, ATTRVALUE = 2, XSLPATTERN = 3 };

enum class ESendMethodProtocol : int32_t {
    Email = 10,
    Fax = 20,
    FilePath = 30,
    Ftp = 40,
    Http = 50,
    MethodCall = 60,
};

enum class ESendMethodFormat : int32_t { Excel = 10, OBI = 20, XML = 30 };

enum class EWriteMode : int32_t { Append = 10, Create = 20, Update = 30 };

enum class ESendMethodSuffix : int32_t { DocumentID = 10, None = 20 };

enum class ESendMethodFileFormat : int32_t { ASCII = 10, Unicode = 20 };

enum class ESendMethodFTPTransferType : int32_t { ASCII = 10, Binary = 20 };

enum class EFileIOMode : int32_t { Reading = 1, Writing = 2, Appending = 3 };

enum class EFileType : int32_t { AsIs = 1, TempFile = 2, WithTimeStamp = 3, Backup = 4 };

enum class EFolderType : int32_t {
    AsIs = 1,
    UploadFolder = 2,
    ErrorFolder = 3,
    XmlPath1Folder = 4,
    XmlPath2Folder = 5,
    XmlErrorFolder = 6,
    ObiFolder = 7,
    WindowsFolder = 8,
    TempFolder = 9,
    SystemFolder = 10,
    WithTimeStamp = 11,
    AttachmentsVirtualFolder = 12,
    ExcelTempFolder = 13,
};

enum class EAttachmentMode : int32_t { NotSupported = 1, Supported = 2 };

enum class EMsoDocProperties : int32_t {
    EMsoPropertyTypeNumber = 1,
    EMsoPropertyTypeBoolean = 2,
    EMsoPropertyTypeDate = 3,
    EMsoPropertyTypeString = 4,
    EMsoPropertyTypeFloat = 5,
};

enum class EExcelSearchOptions : int32_t { GREATERTHAN = 1, LessThan = 2, Equals = 3 };

enum class EExcelIndexMode : int32_t { Sequence = 1, Scattered = 2 };

enum class EObiLanguage : int32_t { X12 = 1, Edifact = 2, XML = 3 };

/// The numbered errors of the library: the application-defined base 0x80040000 plus the
/// offsets 501 to 552, in this order.
enum class EnumerationErrors : int32_t {
    ReferentialAdd = static_cast<int32_t>(0x80040000u + 501),
    ReferentialInsert,
    ReferentialDelete,
    MissingBusinessPartnerID,
    MissingUserID,
    MissingDocumentTypeID,
    ErrorFunctionUserExist,
    ErrorFunctionDocTypeExist,
    MissingXMLFileString,
    MissingParameter,
    TagNotPresentError,
    TagIsEmptyError,
    MissingEmailSenderError,
    MissingEmailReceiverError,
    MissingXMLFile,
    PushByHTTPError,
    PushByFTPError,
    HTMLXSLFileError,
    XSLParseError,
    XMLLoadError,
    DocumentIDNotInDatabase,
    InvalidXSLPatternError,
    PushDocumentError,
    ProcessDocumentError,
    PublishDocumentError,
    NotAnExcelFile,
    InvalidObiObject,
    InvalidObiLanguage,
    InvalidObiVersion,
    MissingInput,
    AttachmentsSupported,
    CannotLoadFile,
    NewerVersionAvailable,
    SendMethodProtocolNotSupported,
    SendMethodFormatNotSupported,
    WrongIOMode,
    AlreadyPresent,
    NotPresent,
    EmailImportError,
    CDOProcessMessagesError,
    CDOProcessMessageError,
    CDOProcessAttachmentsError,
    CDOProcessAttachmentError,
    MissingFileLocation,
    InValidDataTypeForExcel,
    ExcelNotInstalled,
    InValidExcelAddress,
    InsertExcelError,
    InValidFileFormat,
    ExcelOpeningsError,
    InvalidParamValue,
    CannotExecuteSendMethod,
};

/// The number of an error code as the 32-bit signed integer that errors carry.
constexpr int32_t ErrNum(EnumerationErrors e) { return static_cast<int32_t>(e); }

/// The integer value of any of the enumerations above.
template <typename E>
constexpr int32_t ToInt(E e) {
    return static_cast<int32_t>(e);
}

}  // namespace kestrix
