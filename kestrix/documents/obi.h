#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "kestrix/documents/base64.h"
#include "kestrix/foundation/enums.h"
#include "platform/base/object.h"
#include "platform/xml/xml.h"

namespace kestrix {

/// "Kestrix.OBI": builds and takes apart OBI objects, reads the version and the routing
/// information of OBI XML documents, and tells OBI document types.
///
/// An OBI object is Base64 text around these bytes (lengths big-endian):
///
///     0  major version      1  minor version      2  reserved (0)
///     3  language: 0 X12, 1 EDIFACT, 2 XML
///     4  payload length N   8  payload (the document as 8-bit text, or UTF-16 when it
///                              holds characters code page 1252 cannot represent)
///     8+N  signature length S      12+N  signature bytes
///
/// Only version 3 with XML content is accepted when an object is built; X12 and EDIFACT
/// objects are recognised when one is taken apart. Lengths are at most 2^31 - 1.
///
/// Every failure is raised with "Kestrix.OBI.<operation>" as its source, the operation
/// being the one that found the fault, and wrapped by each operation it passes through.
class OBI : public Object {
  public:
    /// Builds an OBI object from version (major, minor: a missing element counts as 0), a
    /// language, the document text (trimmed first) and the signature bytes (may be empty).
    /// The version must be 3 (`InvalidObiVersion`), the language XML (`InvalidObiLanguage`)
    /// and the text well-formed XML (`InvalidObiObject`).
    void ConstructObiObject(ByteArray& i_yObiVersion, EObiLanguage i_nObiLanguage,
                            const std::string& i_sObiXml, ByteArray& i_ayObiSignature,
                            std::string& o_sObiObject);

    /// Takes an OBI object apart into version (two bytes), language, document text and
    /// signature (empty when the object carries none). The version is not checked; any
    /// language of the header is accepted, but XML content must be well-formed. A text that
    /// does not decode, or decodes to fewer than 16 bytes, an unknown language code, length
    /// fields that do not add up to the object's size and XML content that does not parse
    /// fail with `InvalidObiObject`. The outputs are set before the checks that follow the
    /// decoding: on failure they hold what was read up to that point.
    void DeconstructObiObject(const std::string& i_sObiObject, ByteArray& o_yObiVersion,
                              EObiLanguage& o_nObiLanguage, std::string& o_sObiXml,
                              ByteArray& o_ayObiSignature);

    /// The version an OBI XML document states in the "version" attribute of its root ("3.0"
    /// gives {3, 0}): the first character is the major, the third the minor; what is missing
    /// stays 0, and a character there that is not a digit is a type mismatch. The document
    /// is `i_oXmlDom`; when that is empty, `i_sXmlString` is parsed into it.
    ByteArray GetObiDocumentVersion(xml::XmlDocument& i_oXmlDom, const std::string& i_sXmlString);

    /// Fails with `InvalidObiVersion` unless the first version byte is 3 (an empty version
    /// counts as 0), then with `InvalidObiLanguage` unless the language is XML.
    void CheckObiVersionSupported(ByteArray& i_ayObiVersion, EObiLanguage i_nObiLanguage);

    /// True when the document type, trimmed and ignoring case, begins with "OBI".
    bool IsObiDocument(const std::string& i_sDocTypeID);

    /// True for an OBI document (one whose root name is an OBI document type); it then fills
    /// each output that is asked for: the type is the root name, the sender partner and the
    /// sender user are both the text of <root>/Envelope/Sender/PartnerName, the receiver
    /// outputs that of <root>/Envelope/Receiver/PartnerName ("" when absent). For any other
    /// document the answer is false and the outputs are left alone. The document is
    /// `i_oXmlDom`; when that is empty, `i_sXmlString` is parsed into it.
    bool GetObiDocumentInfo(xml::XmlDocument& i_oXmlDom, const std::string& i_sXmlString,
                            std::string* o_sDocTypeID = nullptr, std::string* o_sSenderBP = nullptr,
                            std::string* o_sSenderUser = nullptr,
                            std::string* o_sReceiverBP = nullptr,
                            std::string* o_sReceiverUser = nullptr);

    /// The text parsed. Text that is not well-formed fails with `ProcessDocumentError`,
    /// describing the parser's reason, line and column on lines of their own.
    xml::XmlDocument XmlToDom(const std::string& i_sXmlString);

    /// OBI delivery and intake are switched off: always false.
    bool IsOBIEnabled();

  private:
    /// The four header bytes: version, reserved 0, language code; then checks that version
    /// and language are supported.
    ByteArray ConstructObiObject_FillObiVersionSegment(ByteArray& i_yObiVersion,
                                                       EObiLanguage i_nObiLanguage);
    /// Fails with `InvalidObiObject` when XML content is not well-formed; other languages
    /// are not looked at.
    void CheckObiObjectContainsValidXml(EObiLanguage i_nObiLanguage, const std::string& i_sObiXml);
    /// The four bytes of a length, most significant first; a value outside 0 .. 2^31 - 1
    /// fails with `InvalidObiObject`.
    ByteArray LongToByteArray(int64_t i_lValue);
    /// The length held in the four bytes at `i_lOffset`; fails with `InvalidObiObject` when
    /// the array ends before them or the value is 2^31 or more.
    int32_t ByteArrayToLong(const ByteArray& i_ayBytes, size_t i_lOffset);
};

}  // namespace kestrix
