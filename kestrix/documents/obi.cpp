#include "kestrix/documents/obi.h"

#include <optional>
#include <string_view>

#include "kestrix/foundation/error_reporting.h"
#include "kestrix/foundation/i18n.h"
#include "kestrix/documents/xsl_patterns.h"
#include "platform/base/dictionary.h"
#include "platform/base/error.h"
#include "platform/base/strings.h"

namespace kestrix {

namespace {

/// The only major version accepted when an object is built.
constexpr uint8_t kSupportedMajor = 3;
/// Header bytes before the payload: version segment and payload length.
constexpr size_t kHeaderSize = 8;
/// Bytes of the signature length field.
constexpr size_t kLengthSize = 4;
/// Fewer decoded bytes than this cannot be an object with content.
constexpr size_t kMinimumObjectSize = 16;
/// Largest length a length field may hold.
constexpr int64_t kMaxLength = 0x7FFFFFFF;

/// The language code written into byte 3 of the header; -1 for a value outside the
/// enumeration.
int LanguageCode(EObiLanguage language) {
    switch (language) {
        case EObiLanguage::X12:
            return 0;
        case EObiLanguage::Edifact:
            return 1;
        case EObiLanguage::XML:
            return 2;
    }
    return -1;
}

/// Label text with one placeholder filled.
std::string LabelWith(std::string_view code, std::string key, std::string value) {
    Dictionary replacements;
    replacements.Add(std::move(key), Variant(std::move(value)));
    return TranslateLabel(code, 0, replacements);
}

/// The "SLBSH4501" text naming a language of the header.
std::string UnsupportedLanguageText(std::string_view languageLabel) {
    return LabelWith("SLBSH4501", "[%OBILANGUAGE%]", TranslateLabel(languageLabel));
}

/// A single digit of the version attribute as its value.
uint8_t VersionDigit(char c) {
    if (c < '0' || c > '9')
        throw Error(errnum::TypeMismatch, "Kestrix.OBI.GetObiDocumentVersion", "Type mismatch");
    return static_cast<uint8_t>(c - '0');
}

/// The document to read: the given one, or the text parsed into it when it is empty.
void EnsureParsed(OBI& obi, xml::XmlDocument& dom, const std::string& text) {
    if (dom.IsEmpty()) dom = obi.XmlToDom(text);
}

}  // namespace

void OBI::ConstructObiObject(ByteArray& i_yObiVersion, EObiLanguage i_nObiLanguage,
                             const std::string& i_sObiXml, ByteArray& i_ayObiSignature,
                             std::string& o_sObiObject) {
    try {
        ByteArray segment = ConstructObiObject_FillObiVersionSegment(i_yObiVersion, i_nObiLanguage);
        CheckObiObjectContainsValidXml(i_nObiLanguage, i_sObiXml);

        Base64 codec;
        const ByteArray payload = codec.UnicodeStringToByte(Trim(i_sObiXml));
        const ByteArray payloadLength = LongToByteArray(static_cast<int64_t>(payload.size()));
        const ByteArray signatureLength =
            LongToByteArray(static_cast<int64_t>(i_ayObiSignature.size()));

        ByteArray object;
        object.reserve(segment.size() + 2 * kLengthSize + payload.size() + i_ayObiSignature.size());
        object.insert(object.end(), segment.begin(), segment.end());
        object.insert(object.end(), payloadLength.begin(), payloadLength.end());
        object.insert(object.end(), payload.begin(), payload.end());
        object.insert(object.end(), signatureLength.begin(), signatureLength.end());
        object.insert(object.end(), i_ayObiSignature.begin(), i_ayObiSignature.end());

        o_sObiObject = codec.Base64Encode(object);
    } catch (...) {
        Reraise("Kestrix.OBI.ConstructObiObject");
    }
}

void OBI::DeconstructObiObject(const std::string& i_sObiObject, ByteArray& o_yObiVersion,
                               EObiLanguage& o_nObiLanguage, std::string& o_sObiXml,
                               ByteArray& o_ayObiSignature) {
    static constexpr const char* kSource = "Kestrix.OBI.DeconstructObiObject";
    try {
        o_yObiVersion.assign(2, 0);
        o_sObiXml.clear();
        o_ayObiSignature.clear();

        Base64 codec;
        std::optional<ByteArray> decoded;
        try {
            std::string text = i_sObiObject;
            decoded = codec.Base64Decode(text);
        } catch (const Error&) {
            // The codec has reported its own failure; the caller learns that this is no object.
        }
        if (!decoded || decoded->size() < kMinimumObjectSize)
            Raise(EnumerationErrors::InvalidObiObject, kSource, TranslateLabel("SLBSH4503"));
        const ByteArray& bytes = *decoded;

        o_yObiVersion[0] = bytes[0];
        o_yObiVersion[1] = bytes[1];
        switch (bytes[3]) {
            case 0:
                o_nObiLanguage = EObiLanguage::X12;
                break;
            case 1:
                o_nObiLanguage = EObiLanguage::Edifact;
                break;
            case 2:
                o_nObiLanguage = EObiLanguage::XML;
                break;
            default:
                Raise(EnumerationErrors::InvalidObiObject, kSource,
                      UnsupportedLanguageText("SLBSH0033"));
        }

        const int64_t size = static_cast<int64_t>(bytes.size());
        const int64_t payloadLength = ByteArrayToLong(bytes, 4);
        // The signature length must lie inside the object; a payload length that runs over
        // it means the lengths do not match the object.
        if (int64_t{kHeaderSize} + payloadLength + int64_t{kLengthSize} > size)
            Raise(EnumerationErrors::InvalidObiObject, kSource, TranslateLabel("SLBSH4502"));
        const int64_t signatureLength =
            ByteArrayToLong(bytes, kHeaderSize + static_cast<size_t>(payloadLength));
        if (int64_t{kHeaderSize + kLengthSize} + payloadLength + signatureLength != size)
            Raise(EnumerationErrors::InvalidObiObject, kSource, TranslateLabel("SLBSH4502"));

        const auto payloadBegin = bytes.begin() + kHeaderSize;
        const auto payloadEnd = payloadBegin + payloadLength;
        if (payloadLength > 0)
            o_sObiXml = codec.ByteToUnicodeString(ByteArray(payloadBegin, payloadEnd));
        if (signatureLength > 0) o_ayObiSignature.assign(payloadEnd + kLengthSize, bytes.end());

        CheckObiObjectContainsValidXml(o_nObiLanguage, o_sObiXml);
    } catch (...) {
        Reraise(kSource);
    }
}

ByteArray OBI::GetObiDocumentVersion(xml::XmlDocument& i_oXmlDom, const std::string& i_sXmlString) {
    try {
        EnsureParsed(*this, i_oXmlDom, i_sXmlString);
        ByteArray version(2, 0);
        const std::string text =
            Trim(i_oXmlDom.DocumentElement().Attribute("version").value_or(std::string{}));
        if (!text.empty()) version[0] = VersionDigit(text[0]);
        if (text.size() > 2) version[1] = VersionDigit(text[2]);
        return version;
    } catch (...) {
        Reraise("Kestrix.OBI.GetObiDocumentVersion");
    }
}

void OBI::CheckObiVersionSupported(ByteArray& i_ayObiVersion, EObiLanguage i_nObiLanguage) {
    static constexpr const char* kSource = "Kestrix.OBI.CheckObiVersionSupported";
    try {
        const uint8_t major = i_ayObiVersion.empty() ? 0 : i_ayObiVersion[0];
        if (major != kSupportedMajor)
            Raise(EnumerationErrors::InvalidObiVersion, kSource,
                  LabelWith("SLBSH4500", "[%VERSION%]", std::to_string(major)));
        if (i_nObiLanguage != EObiLanguage::XML) {
            std::string_view languageLabel = "SLBSH0033";
            if (i_nObiLanguage == EObiLanguage::X12) languageLabel = "SLBSH4505";
            if (i_nObiLanguage == EObiLanguage::Edifact) languageLabel = "SLBSH4506";
            Raise(EnumerationErrors::InvalidObiLanguage, kSource,
                  UnsupportedLanguageText(languageLabel));
        }
    } catch (...) {
        Reraise(kSource);
    }
}

bool OBI::IsObiDocument(const std::string& i_sDocTypeID) {
    try {
        return ToUpper(Trim(i_sDocTypeID)).starts_with("OBI");
    } catch (...) {
        Reraise("Kestrix.OBI.IsObiDocument");
    }
}

bool OBI::GetObiDocumentInfo(xml::XmlDocument& i_oXmlDom, const std::string& i_sXmlString,
                             std::string* o_sDocTypeID, std::string* o_sSenderBP,
                             std::string* o_sSenderUser, std::string* o_sReceiverBP,
                             std::string* o_sReceiverUser) {
    try {
        EnsureParsed(*this, i_oXmlDom, i_sXmlString);
        const std::string name = i_oXmlDom.DocumentElement().Name();
        if (!IsObiDocument(name)) return false;

        if (o_sDocTypeID) *o_sDocTypeID = name;
        if (o_sSenderBP || o_sSenderUser) {
            const std::string sender =
                xsl_patterns::ExecuteXSLPattern(i_oXmlDom, "/" + name + "/Envelope/Sender/PartnerName");
            if (o_sSenderBP) *o_sSenderBP = sender;
            if (o_sSenderUser) *o_sSenderUser = sender;
        }
        if (o_sReceiverBP || o_sReceiverUser) {
            const std::string receiver =
                xsl_patterns::ExecuteXSLPattern(i_oXmlDom, "/" + name + "/Envelope/Receiver/PartnerName");
            if (o_sReceiverBP) *o_sReceiverBP = receiver;
            if (o_sReceiverUser) *o_sReceiverUser = receiver;
        }
        return true;
    } catch (...) {
        Reraise("Kestrix.OBI.GetObiDocumentInfo");
    }
}

xml::XmlDocument OBI::XmlToDom(const std::string& i_sXmlString) {
    static constexpr const char* kSource = "Kestrix.OBI.XmlToDom";
    try {
        xml::XmlDocument dom;
        if (!dom.LoadXml(i_sXmlString)) {
            const xml::ParseError& error = dom.parseError();
            std::string description = TranslateLabel("SLBSH1839");
            description += "\r\n";
            description += LabelWith("SLBSH1843", "[%DESCRIPTION%]", error.reason);
            description += "\r\n";
            description += LabelWith("SLBSH1840", "[%ERROR_LINE%]", std::to_string(error.line));
            description += "\r\n";
            description +=
                LabelWith("SLBSH1841", "[%ERROR_COLUMN%]", std::to_string(error.linepos));
            Raise(EnumerationErrors::ProcessDocumentError, kSource, std::move(description));
        }
        return dom;
    } catch (...) {
        Reraise(kSource);
    }
}

bool OBI::IsOBIEnabled() { return false; }

ByteArray OBI::ConstructObiObject_FillObiVersionSegment(ByteArray& i_yObiVersion,
                                                        EObiLanguage i_nObiLanguage) {
    try {
        ByteArray segment(4, 0);
        if (!i_yObiVersion.empty()) segment[0] = i_yObiVersion[0];
        if (i_yObiVersion.size() > 1) segment[1] = i_yObiVersion[1];
        const int code = LanguageCode(i_nObiLanguage);
        if (code >= 0) segment[3] = static_cast<uint8_t>(code);
        CheckObiVersionSupported(segment, i_nObiLanguage);
        return segment;
    } catch (...) {
        Reraise("Kestrix.OBI.ConstructObiObject_FillObiVersionSegment");
    }
}

void OBI::CheckObiObjectContainsValidXml(EObiLanguage i_nObiLanguage,
                                         const std::string& i_sObiXml) {
    static constexpr const char* kSource = "Kestrix.OBI.CheckObiObjectContainsValidXml";
    // The parser's findings travel with the error, so that the log says what is wrong.
    std::optional<std::string> parserText;
    try {
        if (i_nObiLanguage != EObiLanguage::XML) return;
        try {
            XmlToDom(i_sObiXml);
            return;
        } catch (const Error& error) {
            parserText = error.description();
        }
        Raise(EnumerationErrors::InvalidObiObject, kSource, TranslateLabel("SLBSH4504"));
    } catch (...) {
        if (parserText) Reraise(kSource, *parserText);
        Reraise(kSource);
    }
}

ByteArray OBI::LongToByteArray(int64_t i_lValue) {
    static constexpr const char* kSource = "Kestrix.OBI.LongToByteArray";
    try {
        if (i_lValue < 0 || i_lValue > kMaxLength)
            Raise(EnumerationErrors::InvalidObiObject, kSource, TranslateLabel("SLBSH4507"));
        ByteArray bytes(kLengthSize);
        int64_t rest = i_lValue;
        for (size_t i = 0; i < kLengthSize; ++i) {
            const int64_t unit = int64_t{1} << (8 * (kLengthSize - 1 - i));
            bytes[i] = static_cast<uint8_t>(rest / unit);
            rest -= bytes[i] * unit;
        }
        return bytes;
    } catch (...) {
        Reraise(kSource);
    }
}

int32_t OBI::ByteArrayToLong(const ByteArray& i_ayBytes, size_t i_lOffset) {
    static constexpr const char* kSource = "Kestrix.OBI.ByteArrayToLong";
    try {
        if (i_lOffset > i_ayBytes.size() || i_ayBytes.size() - i_lOffset < kLengthSize)
            Raise(EnumerationErrors::InvalidObiObject, kSource, TranslateLabel("SLBSH4507"));
        int64_t value = 0;
        for (size_t i = 0; i < kLengthSize; ++i) value = value * 256 + i_ayBytes[i_lOffset + i];
        if (value > kMaxLength)
            Raise(EnumerationErrors::InvalidObiObject, kSource, TranslateLabel("SLBSH4507"));
        return static_cast<int32_t>(value);
    } catch (...) {
        Reraise(kSource);
    }
}

}  // namespace kestrix
