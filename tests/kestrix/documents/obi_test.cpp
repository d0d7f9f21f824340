#include "kestrix/documents/obi.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "kestrix/documents/base64.h"
#include "kestrix/foundation/enums.h"
#include "kestrix/foundation/general.h"
#include "platform/base/error.h"
#include "platform/xml/xml.h"
#include "tests/support/site/test_site.h"

namespace kestrix {
namespace {

constexpr const char* kOrder =
    "<OBIOrderRequest version=\"3.0\"><Envelope><Sender><PartnerName>ACME</PartnerName>"
    "</Sender><Receiver><PartnerName> Supplies Ltd </PartnerName></Receiver></Envelope>"
    "<Item qty=\"2\">Paper</Item></OBIOrderRequest>";

/// Four bytes of a length, most significant first, written without the class under test.
void AppendLength(ByteArray& out, uint32_t n) {
    out.push_back(static_cast<uint8_t>(n >> 24));
    out.push_back(static_cast<uint8_t>(n >> 16));
    out.push_back(static_cast<uint8_t>(n >> 8));
    out.push_back(static_cast<uint8_t>(n));
}

/// The bytes of an object assembled by hand; the length fields may be given wrong on purpose.
ByteArray RawObject(uint8_t major, uint8_t minor, uint8_t language, std::string_view payload,
                    const ByteArray& signature = {}, std::optional<uint32_t> payloadLength = {},
                    std::optional<uint32_t> signatureLength = {}) {
    ByteArray out{major, minor, 0, language};
    AppendLength(out, payloadLength.value_or(static_cast<uint32_t>(payload.size())));
    out.insert(out.end(), payload.begin(), payload.end());
    AppendLength(out, signatureLength.value_or(static_cast<uint32_t>(signature.size())));
    out.insert(out.end(), signature.begin(), signature.end());
    return out;
}

std::string Encoded(ByteArray bytes) { return Base64().Base64Encode(bytes); }

ByteArray Decoded(std::string text) { return Base64().Base64Decode(text); }

/// What `DeconstructObiObject` hands back.
struct Parts {
    ByteArray version;
    EObiLanguage language = EObiLanguage::XML;
    std::string xml;
    ByteArray signature;
};

Parts Deconstruct(const std::string& object) {
    Parts parts;
    OBI().DeconstructObiObject(object, parts.version, parts.language, parts.xml, parts.signature);
    return parts;
}

std::string Construct(const std::string& xml, ByteArray version = {3, 0},
                      EObiLanguage language = EObiLanguage::XML, ByteArray signature = {}) {
    std::string object;
    OBI().ConstructObiObject(version, language, xml, signature, object);
    return object;
}

/// The error the call raises, or nothing.
std::optional<Error> Failure(const std::function<void()>& call) {
    try {
        call();
    } catch (const Error& e) {
        return e;
    }
    return std::nullopt;
}

std::optional<Error> DeconstructFailure(const std::string& object) {
    return Failure([&] { Deconstruct(object); });
}

bool Contains(const std::string& text, std::string_view part) {
    return text.find(part) != std::string::npos;
}

// ---------------------------------------------------------------------------------------
// Without a failure no label is read, so no site is needed.

TEST(ObiObjects, ConstructWritesTheHeaderLengthsPayloadAndSignature) {
    const ByteArray signature{0xDE, 0xAD, 0x00, 0xFF};
    const std::string object =
        Construct(std::string("  \r\n") + kOrder + "\r\n ", {3, 0}, EObiLanguage::XML, signature);
    // The text goes in trimmed, as 8-bit text; the object is Base64 text in lines.
    EXPECT_EQ(Decoded(object), RawObject(3, 0, 2, kOrder, signature));
    EXPECT_TRUE(Contains(object, "\r\n"));

    const Parts parts = Deconstruct(object);
    EXPECT_EQ(parts.version, (ByteArray{3, 0}));
    EXPECT_EQ(parts.language, EObiLanguage::XML);
    EXPECT_EQ(parts.xml, kOrder);
    EXPECT_EQ(parts.signature, signature);
}

TEST(ObiObjects, AnObjectWithoutSignatureRoundTripsWithAnEmptySignature) {
    const std::string text = "<OBIOrderRequest version=\"3.0\">x</OBIOrderRequest>";
    const std::string object = Construct(text, {3, 7});
    EXPECT_EQ(Decoded(object).size(), 12 + text.size());

    Parts parts;
    parts.signature = {1, 2, 3};  // left over from an earlier use: must be replaced
    parts.xml = "old";
    OBI().DeconstructObiObject(object, parts.version, parts.language, parts.xml, parts.signature);
    EXPECT_EQ(parts.version, (ByteArray{3, 7}));
    EXPECT_EQ(parts.xml, text);
    EXPECT_TRUE(parts.signature.empty());

    // A version of one element has minor 0; a longer one is cut to two.
    EXPECT_EQ(Decoded(Construct(text, {3}))[1], 0);
    EXPECT_EQ(Deconstruct(Construct(text, {3, 1, 9})).version, (ByteArray{3, 1}));
}

TEST(ObiObjects, TextOutsideTheEightBitCodePageRoundTrips) {
    const std::string text = "<OBIOrderRequest>\xE5\x8C\x97\xE4\xBA\xAC \xCE\xA9</OBIOrderRequest>";
    const std::string object = Construct(text);
    EXPECT_EQ(Deconstruct(object).xml, text);

    // Accented letters of the code page stay one byte each.
    const std::string latin = "<OBIOrderRequest>Caf\xC3\xA9</OBIOrderRequest>";
    EXPECT_EQ(Decoded(Construct(latin)).size(), 12 + latin.size() - 1);
    EXPECT_EQ(Deconstruct(Construct(latin)).xml, latin);
}

TEST(ObiObjects, ObjectsOfSeveralMegabytesRoundTrip) {
    std::string text = "<OBIOrderRequest version=\"3.0\">";
    std::string line = "<Item qty=\"1\">0123456789 abcdefghijklmnopqrstuvwxyz</Item>\n";
    while (text.size() < 5'000'000) text += line;
    text += "</OBIOrderRequest>";
    ByteArray signature(70'000);
    for (size_t i = 0; i < signature.size(); ++i) signature[i] = static_cast<uint8_t>(i * 13);

    const std::string object = Construct(text, {3, 0}, EObiLanguage::XML, signature);
    EXPECT_EQ(Decoded(object).size(), 12 + text.size() + signature.size());
    const Parts parts = Deconstruct(object);
    EXPECT_EQ(parts.xml.size(), text.size());
    EXPECT_TRUE(parts.xml == text);
    EXPECT_TRUE(parts.signature == signature);
}

TEST(ObiObjects, OtherLanguagesAreTakenApartWithoutLookingAtVersionOrContent) {
    const Parts x12 = Deconstruct(Encoded(RawObject(2, 1, 0, "ISA*00*~GS*PO~")));
    EXPECT_EQ(x12.language, EObiLanguage::X12);
    EXPECT_EQ(x12.version, (ByteArray{2, 1}));
    EXPECT_EQ(x12.xml, "ISA*00*~GS*PO~");

    const Parts edifact = Deconstruct(Encoded(RawObject(9, 9, 1, "UNB+UNOA:1'", {7})));
    EXPECT_EQ(edifact.language, EObiLanguage::Edifact);
    EXPECT_EQ(edifact.signature, ByteArray{7});

    // Only a signature, no payload at all.
    const Parts empty = Deconstruct(Encoded(RawObject(3, 0, 0, "", {1, 2, 3, 4})));
    EXPECT_EQ(empty.xml, "");
    EXPECT_EQ(empty.signature, (ByteArray{1, 2, 3, 4}));
}

TEST(ObiDocuments, TypesVersionsAndTheSwitch) {
    OBI obi;
    EXPECT_TRUE(obi.IsObiDocument("  obiorderrequest  "));
    EXPECT_TRUE(obi.IsObiDocument("OBI"));
    EXPECT_TRUE(obi.IsObiDocument("\tObiOrder"));
    EXPECT_FALSE(obi.IsObiDocument("ORDER-OBI"));
    EXPECT_FALSE(obi.IsObiDocument("OB"));
    EXPECT_FALSE(obi.IsObiDocument(""));
    EXPECT_FALSE(obi.IsOBIEnabled());

    ObjectPtr created = CreateComponent("Kestrix.OBI");
    ASSERT_NE(dynamic_cast<OBI*>(created.get()), nullptr);

    ByteArray ok{3, 5};
    obi.CheckObiVersionSupported(ok, EObiLanguage::XML);

    const auto version = [&](const std::string& text) {
        xml::XmlDocument dom;
        return obi.GetObiDocumentVersion(dom, text);
    };
    EXPECT_EQ(version("<OBIOrderRequest version=\"3.0\"/>"), (ByteArray{3, 0}));
    EXPECT_EQ(version("<OBIOrderRequest version=\" 3.1 \"/>"), (ByteArray{3, 1}));
    EXPECT_EQ(version("<OBIOrderRequest version=\"4\"/>"), (ByteArray{4, 0}));
    EXPECT_EQ(version("<OBIOrderRequest version=\"2.\"/>"), (ByteArray{2, 0}));
    EXPECT_EQ(version("<OBIOrderRequest/>"), (ByteArray{0, 0}));
    EXPECT_EQ(version("<OBIOrderRequest><x version=\"3.0\"/></OBIOrderRequest>"),
              (ByteArray{0, 0}));

    // A document already parsed is read as it is; the text is then not looked at.
    xml::XmlDocument dom = xml::XmlDocument::FromText("<OBIOrderRequest version=\"3.2\"/>");
    EXPECT_EQ(obi.GetObiDocumentVersion(dom, "not xml"), (ByteArray{3, 2}));
    // An empty one is filled from the text and handed back.
    xml::XmlDocument empty;
    EXPECT_EQ(obi.GetObiDocumentVersion(empty, "<OBIOrderRequest version=\"3.4\"/>"),
              (ByteArray{3, 4}));
    ASSERT_FALSE(empty.IsEmpty());
    EXPECT_EQ(empty.DocumentElement().Name(), "OBIOrderRequest");
}

TEST(ObiDocuments, InfoComesFromTheRootNameAndTheEnvelope) {
    OBI obi;
    xml::XmlDocument dom;
    std::string type, senderBP, senderUser, receiverBP, receiverUser;
    ASSERT_TRUE(obi.GetObiDocumentInfo(dom, kOrder, &type, &senderBP, &senderUser, &receiverBP,
                                       &receiverUser));
    EXPECT_EQ(type, "OBIOrderRequest");
    EXPECT_EQ(senderBP, "ACME");
    EXPECT_EQ(senderUser, "ACME");
    EXPECT_EQ(receiverBP, "Supplies Ltd");
    EXPECT_EQ(receiverUser, "Supplies Ltd");
    EXPECT_FALSE(dom.IsEmpty()) << "the parsed document is handed back";

    // Only what is asked for is written; an envelope without partners gives "".
    xml::XmlDocument bare = xml::XmlDocument::FromText("<obiOrder><Envelope/></obiOrder>");
    std::string receiverOnly = "unchanged", senderOnly = "unchanged";
    ASSERT_TRUE(obi.GetObiDocumentInfo(bare, "", nullptr, &senderOnly));
    EXPECT_EQ(senderOnly, "");
    EXPECT_EQ(receiverOnly, "unchanged");
    ASSERT_TRUE(obi.GetObiDocumentInfo(bare, "", &type));
    EXPECT_EQ(type, "obiOrder");

    // A document of another type answers false and leaves every output alone.
    xml::XmlDocument order;
    std::string a = "a", b = "b", c = "c", d = "d", e = "e";
    EXPECT_FALSE(obi.GetObiDocumentInfo(
        order, "<Order><Envelope><Sender><PartnerName>X</PartnerName></Sender></Envelope></Order>",
        &a, &b, &c, &d, &e));
    EXPECT_EQ(a + b + c + d + e, "abcde");
}

// ---------------------------------------------------------------------------------------
// Failures: their texts are labels, read from a site's database.

class ObiFailures : public ::testing::Test {
  protected:
    test::TestSite site_{"sqlite"};
};

TEST_F(ObiFailures, ConstructRefusesOtherVersionsLanguagesAndBadXml) {
    std::string object = "untouched";
    ByteArray version{2, 1};
    ByteArray signature;
    auto error = Failure(
        [&] { OBI().ConstructObiObject(version, EObiLanguage::XML, kOrder, signature, object); });
    ASSERT_TRUE(error);
    EXPECT_EQ(error->number(), ErrNum(EnumerationErrors::InvalidObiVersion));
    EXPECT_EQ(error->source(), "Kestrix.OBI.CheckObiVersionSupported");
    EXPECT_TRUE(Contains(error->description(), "OBI version 2 is not supported"));
    // Each operation the failure passes through adds its line.
    EXPECT_TRUE(Contains(error->description(),
                         "METHOD: Kestrix.OBI.ConstructObiObject_FillObiVersionSegment caught: "));
    EXPECT_TRUE(Contains(error->description(), "METHOD: Kestrix.OBI.ConstructObiObject caught: "));
    EXPECT_EQ(object, "untouched");

    error = Failure([&] { Construct(kOrder, {}); });
    ASSERT_TRUE(error);
    EXPECT_EQ(error->number(), ErrNum(EnumerationErrors::InvalidObiVersion));
    EXPECT_TRUE(Contains(error->description(), "OBI version 0 is not supported"));

    error = Failure([&] { Construct(kOrder, {3, 0}, EObiLanguage::X12); });
    ASSERT_TRUE(error);
    EXPECT_EQ(error->number(), ErrNum(EnumerationErrors::InvalidObiLanguage));
    EXPECT_TRUE(Contains(error->description(), "OBI object (X12) is not supported"));

    error = Failure([&] { Construct(kOrder, {3, 0}, EObiLanguage::Edifact); });
    ASSERT_TRUE(error);
    EXPECT_EQ(error->number(), ErrNum(EnumerationErrors::InvalidObiLanguage));
    EXPECT_TRUE(Contains(error->description(), "(EDIFACT)"));

    error = Failure([&] { Construct(kOrder, {3, 0}, static_cast<EObiLanguage>(9)); });
    ASSERT_TRUE(error);
    EXPECT_EQ(error->number(), ErrNum(EnumerationErrors::InvalidObiLanguage));
    EXPECT_TRUE(Contains(error->description(), "(unknown)"));

    for (const char* text : {"", "   ", "<OBIOrderRequest>", "plain text", "<a></b>"}) {
        error = Failure([&] { Construct(text); });
        ASSERT_TRUE(error) << text;
        EXPECT_EQ(error->number(), ErrNum(EnumerationErrors::InvalidObiObject)) << text;
        EXPECT_EQ(error->source(), "Kestrix.OBI.CheckObiObjectContainsValidXml") << text;
        EXPECT_TRUE(Contains(error->description(), "does not contain valid XML")) << text;
    }
}

TEST_F(ObiFailures, UnreadableDocumentsAndVersionsAreReported) {
    const auto error = Failure([] { OBI().XmlToDom("<a>\n  <b></c>\n</a>"); });
    ASSERT_TRUE(error);
    EXPECT_EQ(error->number(), ErrNum(EnumerationErrors::ProcessDocumentError));
    EXPECT_EQ(error->source(), "Kestrix.OBI.XmlToDom");
    const std::string& text = error->description();
    EXPECT_TRUE(Contains(text, "The document is not valid XML.\r\nReason: ")) << text;
    EXPECT_TRUE(Contains(text, "\r\nLine: 2\r\nPosition: ")) << text;
    EXPECT_FALSE(Contains(text, "[%")) << text;

    OBI obi;
    xml::XmlDocument dom;
    for (const char* text :
         {"<OBIOrderRequest version=\"v3\"/>", "<OBIOrderRequest version=\"3.x\"/>"}) {
        const auto version = Failure([&] { obi.GetObiDocumentVersion(dom, text); });
        ASSERT_TRUE(version) << text;
        EXPECT_EQ(version->number(), errnum::TypeMismatch) << text;
        EXPECT_TRUE(Contains(version->description(), "METHOD: Kestrix.OBI.GetObiDocumentVersion"));
        dom = xml::XmlDocument();
    }
    const auto info = Failure([&] { obi.GetObiDocumentInfo(dom, "<OBIOrder>"); });
    ASSERT_TRUE(info);
    EXPECT_EQ(info->number(), ErrNum(EnumerationErrors::ProcessDocumentError));
    EXPECT_TRUE(Contains(info->description(), "METHOD: Kestrix.OBI.GetObiDocumentInfo caught: "));
}

TEST_F(ObiFailures, TruncatedOrUndecodableObjectsAreRefused) {
    const auto expectRefused = [](const std::string& object, std::string_view label,
                                  std::string_view source) {
        const auto error = DeconstructFailure(object);
        ASSERT_TRUE(error) << object;
        EXPECT_EQ(error->number(), ErrNum(EnumerationErrors::InvalidObiObject)) << object;
        EXPECT_EQ(error->source(), source) << object;
        EXPECT_TRUE(Contains(error->description(), label)) << object << "\n"
                                                           << error->description();
        EXPECT_TRUE(Contains(error->description(), "METHOD: Kestrix.OBI.DeconstructObiObject"));
    };
    constexpr std::string_view kDecode = "could not be decoded or is too short";
    constexpr std::string_view kLength = "its length does not match its content";
    constexpr std::string_view kDeconstruct = "Kestrix.OBI.DeconstructObiObject";

    // Not Base64, or too short to be an object.
    expectRefused("", kDecode, kDeconstruct);
    expectRefused("\r\n \t", kDecode, kDeconstruct);
    expectRefused("this is not base64!", kDecode, kDeconstruct);
    expectRefused("QUJD=EFG", kDecode, kDeconstruct);
    expectRefused(kOrder, kDecode, kDeconstruct);
    expectRefused(Encoded(ByteArray(15, 0)), kDecode, kDeconstruct);

    // Cut short: anywhere inside the payload, the signature or its length field.
    const ByteArray whole = RawObject(3, 0, 2, "<OBIOrder>abc</OBIOrder>", {9, 8, 7});
    for (size_t keep = 16; keep < whole.size(); ++keep)
        expectRefused(Encoded(ByteArray(whole.begin(), whole.begin() + keep)), kLength,
                      kDeconstruct);
    // Too long: bytes after the signature.
    ByteArray longer = whole;
    longer.push_back(0);
    expectRefused(Encoded(longer), kLength, kDeconstruct);
}

TEST_F(ObiFailures, WrongLengthFieldsAreRefused) {
    constexpr std::string_view kLength = "its length does not match its content";
    const std::string text = "<OBIOrder>payload</OBIOrder>";
    const auto n = static_cast<uint32_t>(text.size());

    for (uint32_t wrong : {n + 1, n - 1, n + 4, n + 5, uint32_t{0}, uint32_t{0x7FFFFFFF}}) {
        const auto error = DeconstructFailure(Encoded(RawObject(3, 0, 2, text, {}, wrong)));
        ASSERT_TRUE(error) << wrong;
        EXPECT_EQ(error->number(), ErrNum(EnumerationErrors::InvalidObiObject)) << wrong;
        EXPECT_TRUE(Contains(error->description(), kLength)) << wrong << error->description();
    }
    for (uint32_t wrong : {uint32_t{1}, uint32_t{4}, uint32_t{0x7FFFFFFF}}) {
        const auto error = DeconstructFailure(Encoded(RawObject(3, 0, 2, text, {}, {}, wrong)));
        ASSERT_TRUE(error) << wrong;
        EXPECT_TRUE(Contains(error->description(), kLength)) << wrong;
    }
    // Lengths of 2^31 and more do not fit a length at all.
    for (uint32_t huge : {0x80000000u, 0xFFFFFFFFu}) {
        auto error = DeconstructFailure(Encoded(RawObject(3, 0, 2, text, {}, huge)));
        ASSERT_TRUE(error);
        EXPECT_EQ(error->number(), ErrNum(EnumerationErrors::InvalidObiObject));
        EXPECT_EQ(error->source(), "Kestrix.OBI.ByteArrayToLong");
        EXPECT_TRUE(Contains(error->description(), "length field of the OBI object could not"));

        error = DeconstructFailure(Encoded(RawObject(3, 0, 2, text, {}, {}, huge)));
        ASSERT_TRUE(error);
        EXPECT_EQ(error->source(), "Kestrix.OBI.ByteArrayToLong");
    }
}

TEST_F(ObiFailures, UnknownLanguagesAndBadXmlContentAreRefused) {
    for (uint8_t code : {3, 4, 0x80, 0xFF}) {
        const auto error = DeconstructFailure(Encoded(RawObject(3, 0, code, "<OBIOrder/>")));
        ASSERT_TRUE(error);
        EXPECT_EQ(error->number(), ErrNum(EnumerationErrors::InvalidObiObject));
        EXPECT_EQ(error->source(), "Kestrix.OBI.DeconstructObiObject");
        EXPECT_TRUE(Contains(error->description(), "OBI object (unknown) is not supported"));
    }
    // XML content that does not parse; the parser's findings are in the description.
    const auto error = DeconstructFailure(Encoded(RawObject(3, 0, 2, "<OBIOrder><x></OBIOrder>")));
    ASSERT_TRUE(error);
    EXPECT_EQ(error->number(), ErrNum(EnumerationErrors::InvalidObiObject));
    EXPECT_EQ(error->source(), "Kestrix.OBI.CheckObiObjectContainsValidXml");
    EXPECT_TRUE(Contains(error->description(), "does not contain valid XML"));
    EXPECT_TRUE(Contains(error->description(), "Additional information: "));
    EXPECT_TRUE(Contains(error->description(), "Line: 1"));
}

/// Random objects and near-objects, from a fixed seed: every one is either taken apart
/// consistently or refused as InvalidObiObject; nothing else may happen.
TEST_F(ObiFailures, RandomObjectsAreTakenApartOrRefusedNeverAnythingElse) {
    std::mt19937 random(20261208);
    const auto below = [&](size_t n) { return static_cast<size_t>(random() % n); };
    const ByteArray seed =
        RawObject(3, 0, 2, "<OBIOrder a=\"1\"><b>text</b><!-- c --></OBIOrder>", {1, 2, 3});
    const std::string alphabet =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/= \r\n\t!-";

    int accepted = 0;
    for (int round = 0; round < 3000; ++round) {
        std::string object;
        ByteArray bytes = seed;
        switch (round % 4) {
            case 0:  // a few bytes of a good object changed
                for (size_t k = 0, count = 1 + below(3); k < count; ++k)
                    bytes[below(bytes.size())] = static_cast<uint8_t>(random());
                object = Encoded(bytes);
                break;
            case 1:  // cut or lengthened
                bytes.resize(1 + below(bytes.size() + 8), static_cast<uint8_t>(random()));
                object = Encoded(bytes);
                break;
            case 2:  // a header with random lengths over random content
                bytes =
                    RawObject(static_cast<uint8_t>(random()), 0, static_cast<uint8_t>(below(4)),
                              std::string(below(40), 'x'), ByteArray(below(8), 0xAA),
                              static_cast<uint32_t>(below(64)), static_cast<uint32_t>(below(16)));
                object = Encoded(bytes);
                break;
            default:  // text that is hardly ever Base64
                for (size_t k = 0, count = below(60); k < count; ++k)
                    object += alphabet[below(alphabet.size())];
                break;
        }
        Parts parts;
        try {
            parts = Deconstruct(object);
        } catch (const Error& e) {
            ASSERT_EQ(e.number(), ErrNum(EnumerationErrors::InvalidObiObject))
                << "round " << round << ": " << e.description();
            continue;
        }
        ++accepted;
        // Accepted: the pieces are those the header describes, and XML content parses.
        const ByteArray decoded = Decoded(object);
        const auto lengthAt = [&](size_t at) {
            return uint64_t{decoded[at]} << 24 | uint64_t{decoded[at + 1]} << 16 |
                   uint64_t{decoded[at + 2]} << 8 | decoded[at + 3];
        };
        const uint64_t n = lengthAt(4);
        ASSERT_LE(12 + n, decoded.size()) << round;
        const uint64_t signatureLength = lengthAt(8 + n);
        ASSERT_EQ(12 + n + signatureLength, decoded.size()) << round;
        ASSERT_EQ(parts.version, ByteArray(decoded.begin(), decoded.begin() + 2)) << round;
        ASSERT_EQ(static_cast<int>(parts.language), decoded[3] + 1) << round;
        ASSERT_EQ(parts.signature, ByteArray(decoded.begin() + 12 + n, decoded.end())) << round;
        if (parts.language == EObiLanguage::XML) {
            ASSERT_TRUE(xml::XmlDocument().LoadXml(parts.xml)) << round;
        }
    }
    // Changed bytes often land in the version, the payload text or the signature.
    EXPECT_GT(accepted, 50);
}

}  // namespace
}  // namespace kestrix
