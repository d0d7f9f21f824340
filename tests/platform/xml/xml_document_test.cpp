#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "platform/xml/xml.h"
#include "tests/peers/http_server.h"
#include "tests/support/backends.h"

using kestrix::xml::NodeType;
using kestrix::xml::XmlDocument;
using kestrix::xml::XmlNode;
using kestrix::xml::XPathStatus;
namespace errnum = kestrix::xml::errnum;

namespace {

std::string WriteFile(const std::filesystem::path& path, std::string_view bytes) {
    std::ofstream out(path, std::ios::binary);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    return path.string();
}

/// UTF-16 bytes of an ASCII/Latin-1 text (every char below U+0100), with byte order mark.
std::string Utf16(std::u16string_view text, bool bigEndian) {
    std::string out = bigEndian ? "\xFE\xFF" : "\xFF\xFE";
    for (char16_t c : text) {
        char hi = static_cast<char>(c >> 8), lo = static_cast<char>(c & 0xFF);
        out += bigEndian ? hi : lo;
        out += bigEndian ? lo : hi;
    }
    return out;
}

const std::string kEAcute = "\xC3\xA9";  // "é" in UTF-8

}  // namespace

// ------------------------------------------------------------------------------ encodings

TEST(XmlDocumentEncoding, FilesDecodeByTheirBytes) {
    kestrix::test::TempDir dir;
    struct Case {
        const char* name;
        std::string bytes;
    };
    std::vector<Case> cases = {
        {"utf8.xml", "<?xml version=\"1.0\" encoding=\"UTF-8\"?><r>caf" + kEAcute + "</r>"},
        {"utf8-bom.xml", "\xEF\xBB\xBF<?xml version=\"1.0\"?><r>caf" + kEAcute + "</r>"},
        {"utf8-nodecl.xml", "<r>caf" + kEAcute + "</r>"},
        {"utf16le.xml",
         Utf16(u"<?xml version=\"1.0\" encoding=\"UTF-16\"?><r>caf\u00e9</r>", false)},
        {"utf16be.xml",
         Utf16(u"<?xml version=\"1.0\" encoding=\"UTF-16\"?><r>caf\u00e9</r>", true)},
        {"utf16le-nodecl.xml", Utf16(u"<r>caf\u00e9</r>", false)},
        {"latin1.xml", "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?><r>caf\xE9</r>"},
        {"cp1252.xml", "<?xml version=\"1.0\" encoding=\"windows-1252\"?><r>caf\xE9</r>"},
    };
    for (const Case& c : cases) {
        XmlDocument doc;
        ASSERT_TRUE(doc.LoadFile(WriteFile(dir.path() / c.name, c.bytes)))
            << c.name << ": " << doc.parseError().Describe();
        EXPECT_EQ(doc.DocumentElement().Text(), "caf" + kEAcute) << c.name;
        EXPECT_EQ(doc.Url(), (dir.path() / c.name).string());
    }
}

TEST(XmlDocumentEncoding, TextIgnoresItsEncodingDeclaration) {
    for (const char* declared : {"UTF-16", "ISO-8859-1", "windows-1252", "no-such-charset"}) {
        XmlDocument doc;
        std::string text = std::string("<?xml version=\"1.0\" encoding=\"") + declared +
                           "\"?><r a=\"" + kEAcute + "\">caf" + kEAcute + "</r>";
        ASSERT_TRUE(doc.LoadXml(text)) << declared << ": " << doc.parseError().Describe();
        EXPECT_EQ(doc.DocumentElement().Text(), "caf" + kEAcute) << declared;
        EXPECT_EQ(doc.DocumentElement().Attribute("a").value_or(""), kEAcute);
        // The text is given back as it is, without an encoding that would no longer hold.
        EXPECT_EQ(doc.Xml(),
                  "<?xml version=\"1.0\"?>\n<r a=\"" + kEAcute + "\">caf" + kEAcute + "</r>\n");
    }
}

TEST(XmlDocumentEncoding, XmlTextKeepsDeclarationOnlyWhenThereWasOne) {
    XmlDocument doc;
    ASSERT_TRUE(doc.LoadXml("<r>x</r>"));
    EXPECT_EQ(doc.Xml(), "<r>x</r>\n");
    ASSERT_TRUE(doc.LoadXml("<?xml version=\"1.0\" standalone=\"yes\"?><r/>"));
    EXPECT_EQ(doc.Xml(), "<?xml version=\"1.0\" standalone=\"yes\"?>\n<r/>\n");
    EXPECT_EQ(XmlDocument().Xml(), "");
}

// ---------------------------------------------------------------------------- parse errors

TEST(XmlDocumentParseError, ReportsReasonLineColumnAndSource) {
    XmlDocument doc;
    EXPECT_FALSE(doc.LoadXml("<order>\n  <line>1</line>\n  <line>2</lime>\n</order>"));
    const auto& e = doc.parseError();
    EXPECT_TRUE(e.failed());
    EXPECT_NE(e.errorCode, 0);
    EXPECT_EQ(e.errorCode & 0xFFFF0000, errnum::ParseErrorBase);
    EXPECT_EQ(e.line, 3);
    EXPECT_GT(e.linepos, 10);
    EXPECT_NE(e.reason.find("line"), std::string::npos) << e.reason;  // names the mismatched tag
    EXPECT_EQ(e.srcText, "  <line>2</lime>");
    EXPECT_TRUE(doc.IsEmpty());
    EXPECT_EQ(doc.Xml(), "");

    // A later successful load clears the error.
    EXPECT_TRUE(doc.LoadXml("<ok/>"));
    EXPECT_FALSE(doc.parseError().failed());
    EXPECT_EQ(doc.parseError().reason, "");
}

TEST(XmlDocumentParseError, DifferentFaultsHaveDifferentCodes) {
    XmlDocument a, b, c;
    EXPECT_FALSE(a.LoadXml("<a></b>"));
    EXPECT_FALSE(b.LoadXml("<a>"));
    EXPECT_FALSE(c.LoadXml(""));
    EXPECT_NE(a.parseError().errorCode, b.parseError().errorCode);
    EXPECT_NE(c.parseError().errorCode, 0);
    EXPECT_FALSE(c.parseError().reason.empty());
}

TEST(XmlDocumentParseError, FileErrorsNameTheFile) {
    kestrix::test::TempDir dir;
    std::string path =
        WriteFile(dir.path() / "bad.xml", "<?xml version=\"1.0\"?>\n<a>\n<b>&</b></a>");
    XmlDocument doc;
    EXPECT_FALSE(doc.LoadFile(path));
    EXPECT_EQ(doc.parseError().url, path);
    EXPECT_EQ(doc.parseError().line, 3);
    EXPECT_NE(doc.parseError().Describe().find(path), std::string::npos);

    EXPECT_FALSE(doc.LoadFile((dir.path() / "missing.xml").string()));
    EXPECT_EQ(doc.parseError().errorCode, errnum::ResourceUnavailable);
    EXPECT_EQ(doc.parseError().url, (dir.path() / "missing.xml").string());
}

TEST(XmlDocumentParseError, UndeclaredNamespacePrefixFails) {
    XmlDocument doc;
    EXPECT_FALSE(doc.LoadXml("<a><x:b/></a>"));
    EXPECT_EQ(doc.parseError().line, 1);
}

TEST(XmlDocumentParseError, ThrowingConvenienceCarriesTheCode) {
    try {
        XmlDocument::FromText("<a>\n<b></a>");
        FAIL() << "no exception";
    } catch (const kestrix::Error& e) {
        EXPECT_EQ(e.number() & 0xFFFF0000, errnum::ParseErrorBase);
        EXPECT_NE(std::string(e.description()).find("line 2"), std::string::npos)
            << e.description();
    }
    EXPECT_EQ(XmlDocument::FromText("<a>1</a>").DocumentElement().Text(), "1");
}

TEST(XmlDocumentParseError, ThreadsKeepTheirOwnErrors) {
    std::vector<std::thread> threads;
    std::vector<int> wrong(4, 0);
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([t, &wrong] {
            std::string text =
                "<a>" + std::string(static_cast<size_t>(t + 1), '\n') + "<b></c></a>";
            for (int i = 0; i < 200; ++i) {
                XmlDocument doc;
                if (doc.LoadXml(text) || doc.parseError().line != t + 2)
                    ++wrong[static_cast<size_t>(t)];
            }
        });
    }
    for (auto& th : threads) th.join();
    EXPECT_EQ(wrong, std::vector<int>(4, 0));
}

TEST(XmlDocumentParseError, NothingGoesToStandardError) {
    testing::internal::CaptureStderr();
    XmlDocument doc;
    doc.LoadXml("<a><b></a>");
    doc.LoadXml("<!DOCTYPE a [<!ENTITY e SYSTEM \"/etc/hostname\">]><a>&e;</a>");
    doc.LoadXml("<a/>");
    doc.SelectNodes("//[");
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
}

// -------------------------------------------------------------------------------- entities

TEST(XmlDocumentSecurity, ExternalEntityIsNotExpanded) {
    kestrix::test::TempDir dir;
    std::string secret = WriteFile(dir.path() / "secret.txt", "TOPSECRET");
    XmlDocument doc;
    // The reference expands to nothing; the document itself is fine.
    ASSERT_TRUE(
        doc.LoadXml("<!DOCTYPE r [<!ENTITY x SYSTEM \"file://" + secret + "\">]><r>&x;</r>"));
    EXPECT_EQ(doc.DocumentElement().Text(), "");
    EXPECT_EQ(doc.Xml().find("TOPSECRET"), std::string::npos);
    // Declared but not referenced: the document parses.
    ASSERT_TRUE(doc.LoadXml("<!DOCTYPE r [<!ENTITY x SYSTEM \"" + secret + "\">]><r>ok</r>"));
    EXPECT_EQ(doc.DocumentElement().Text(), "ok");
    // A parameter entity is not fetched either.
    doc.LoadXml("<!DOCTYPE r [<!ENTITY % p SYSTEM \"" + secret + "\"> %p;]><r>ok</r>");
    EXPECT_EQ(doc.Xml().find("TOPSECRET"), std::string::npos);
}

TEST(XmlDocumentSecurity, NothingIsFetchedWhileParsing) {
    kestrix::test::TempDir dir;
    WriteFile(dir.path() / "x.dtd", "<!ENTITY e \"FETCHED\">");
    WriteFile(dir.path() / "e.txt", "FETCHED");
    kestrix::test::HttpServer server(dir.path().string());
    XmlDocument doc;
    EXPECT_TRUE(doc.LoadXml("<!DOCTYPE r SYSTEM \"" + server.Url("/x.dtd") + "\"><r>ok</r>"));
    doc.LoadXml("<!DOCTYPE r [<!ENTITY e SYSTEM \"" + server.Url("/e.txt") + "\">]><r>&e;</r>");
    doc.LoadXml("<!DOCTYPE r [<!ENTITY % p SYSTEM \"" + server.Url("/x.dtd") +
                "\"> %p;]><r>&e;</r>");
    EXPECT_EQ(doc.Xml().find("FETCHED"), std::string::npos);
    EXPECT_TRUE(server.Requests().empty());
}

TEST(XmlDocumentSecurity, InternalEntitiesExpandWithinBounds) {
    XmlDocument doc;
    ASSERT_TRUE(
        doc.LoadXml("<!DOCTYPE r [<!ENTITY co \"ACME &amp; Sons\">]><r a=\"&co;\">&co;</r>"));
    EXPECT_EQ(doc.DocumentElement().Text(), "ACME & Sons");
    EXPECT_EQ(doc.DocumentElement().Attribute("a").value_or(""), "ACME & Sons");

    std::string bomb = "<!DOCTYPE r [<!ENTITY a0 \"lollollollollollollollollollol\">";
    for (int i = 1; i <= 9; ++i) {
        bomb += "<!ENTITY a" + std::to_string(i) + " \"";
        for (int k = 0; k < 10; ++k) bomb += "&a" + std::to_string(i - 1) + ";";
        bomb += "\">";
    }
    bomb += "]><r>&a9;</r>";
    EXPECT_FALSE(doc.LoadXml(bomb));
    EXPECT_NE(doc.parseError().reason.find("xpansion"), std::string::npos)
        << doc.parseError().reason;

    // Many references to one large entity are charged one by one.
    std::string wide = "<!DOCTYPE r [<!ENTITY big \"" + std::string(100000, 'x') + "\">]><r>";
    for (int i = 0; i < 400; ++i) wide += "&big;";
    EXPECT_FALSE(doc.LoadXml(wide + "</r>"));
}

TEST(XmlDocumentSecurity, ShapesTheParserHandlesInQuadraticTimeAreRefusedQuickly) {
    using Clock = std::chrono::steady_clock;
    auto attributes = [](int n) {
        std::string text = "<r>\n<big";
        for (int i = 0; i < n; ++i)
            text += " a" + std::to_string(i) + "=\"" + std::to_string(i) + "\"";
        return text + "/></r>";
    };
    auto nested = [](int depth) {
        std::string text;
        for (int i = 0; i < depth; ++i) text += "<e>";
        for (int i = 0; i < depth; ++i) text += "</e>";
        return text;
    };
    XmlDocument doc;
    const auto start = Clock::now();
    EXPECT_FALSE(doc.LoadXml(attributes(200000)));  // about 2.4 MB
    EXPECT_LT(Clock::now() - start, std::chrono::seconds(2));
    EXPECT_NE(doc.parseError().reason.find("'big'"), std::string::npos) << doc.parseError().reason;
    EXPECT_NE(doc.parseError().reason.find("10000 attributes"), std::string::npos);
    EXPECT_EQ(doc.parseError().line, 2);
    // The same shape in UTF-16 is seen as well.
    const std::string narrow = attributes(10001);
    EXPECT_FALSE(doc.LoadBytes(Utf16(std::u16string(narrow.begin(), narrow.end()), true)));
    EXPECT_NE(doc.parseError().reason.find("10000 attributes"), std::string::npos);
    EXPECT_FALSE(doc.LoadXml(nested(200000)));
    EXPECT_NE(doc.parseError().reason.find("5000 levels"), std::string::npos)
        << doc.parseError().reason;

    // Up to the limits, with "=" and ">" inside values, comments, CDATA and a DOCTYPE, the
    // document parses as before.
    std::string fine = "<!DOCTYPE r [<!-- '>' --><!ATTLIST r x CDATA \"a=b>\">]><r x='1=2>3'>";
    fine += "<!-- <a b=c> --><![CDATA[<x y=z>]]><?pi a=b?>";
    fine += attributes(10000) + nested(4000) + "</r>";
    ASSERT_TRUE(doc.LoadXml(fine)) << doc.parseError().reason;
    EXPECT_EQ(doc.DocumentElement().Attribute("x").value_or(""), "1=2>3");
}

// -------------------------------------------------------------------------------- http

TEST(XmlDocumentHttp, LoadsFromAnAddressAndReportsFailures) {
    kestrix::test::TempDir dir;
    WriteFile(dir.path() / "doc.xml", Utf16(u"<?xml version=\"1.0\"?><r>caf\u00e9</r>", false));
    kestrix::test::HttpServer server(dir.path().string());
    server.SetStatus("/gone.xml", 500);
    server.Stall("/slow.xml");

    XmlDocument doc;
    ASSERT_TRUE(doc.Load(server.Url("/doc.xml"))) << doc.parseError().Describe();
    EXPECT_EQ(doc.DocumentElement().Text(), "caf" + kEAcute);
    EXPECT_EQ(doc.Url(), server.Url("/doc.xml"));
    // The scheme is recognised in any case.
    EXPECT_TRUE(doc.Load("HTTP://127.0.0.1:" + std::to_string(server.port()) + "/doc.xml"));

    EXPECT_FALSE(doc.Load(server.Url("/missing.xml")));
    EXPECT_EQ(doc.parseError().errorCode, errnum::ResourceUnavailable);
    EXPECT_NE(doc.parseError().reason.find("404"), std::string::npos);
    EXPECT_FALSE(doc.Load(server.Url("/gone.xml")));
    EXPECT_NE(doc.parseError().reason.find("500"), std::string::npos);

    auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(doc.Load(server.Url("/slow.xml"), {std::chrono::milliseconds(300)}));
    EXPECT_EQ(doc.parseError().errorCode, errnum::ResourceUnavailable);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
    EXPECT_EQ(server.RequestCount("/slow.xml"), 1u);
}

TEST(XmlDocumentHttp, AnAddressNobodyListensOnFails) {
    int port;
    {
        kestrix::test::HttpServer closed;
        port = closed.port();
    }
    XmlDocument doc;
    EXPECT_FALSE(doc.Load("http://127.0.0.1:" + std::to_string(port) + "/x.xml",
                          {std::chrono::milliseconds(500)}));
    EXPECT_EQ(doc.parseError().errorCode, errnum::ResourceUnavailable);
    EXPECT_FALSE(doc.parseError().reason.empty());
}

// -------------------------------------------------------------------------------- XPath

TEST(XmlDocumentXPath, InvalidExpressionIsToldApartFromNoMatch) {
    XmlDocument doc =
        XmlDocument::FromText("<r><SENDER>ACME</SENDER><x attr=\"1\"/><x attr=\"2\"/></r>");
    auto none = doc.SelectSingleNode("//RECEIVER");
    EXPECT_EQ(none.status, XPathStatus::Ok);
    EXPECT_TRUE(none.first().isNull());

    for (const char* bad : {"//[", "//SENDER[", "", "no-such-function()"}) {
        auto r = doc.SelectNodes(bad);
        EXPECT_EQ(r.status, XPathStatus::InvalidExpression) << bad;
        EXPECT_FALSE(r.error.empty()) << bad;
        EXPECT_TRUE(r.nodes.empty());
    }
    // An invalid expression is invalid even on an empty document.
    EXPECT_EQ(XmlDocument().SelectNodes("//[").status, XPathStatus::InvalidExpression);
    EXPECT_EQ(XmlDocument().SelectNodes("//a").status, XPathStatus::Ok);

    auto count = doc.SelectNodes("count(//x)");
    EXPECT_EQ(count.status, XPathStatus::NotANodeSet);
    EXPECT_EQ(count.value, "2");
}

TEST(XmlDocumentXPath, SelectsInDocumentOrderFromDocumentOrNode) {
    XmlDocument doc = XmlDocument::FromText(
        "<r><RECEIVER>1</RECEIVER><g><RECEIVER>2</RECEIVER><i "
        "attr=\"a\"/></g><RECEIVER>3</RECEIVER><i attr=\"b\"/></r>");
    auto all = doc.SelectNodes("//RECEIVER");
    ASSERT_EQ(all.nodes.size(), 3u);
    EXPECT_EQ(all.nodes[0].Text() + all.nodes[1].Text() + all.nodes[2].Text(), "123");
    EXPECT_EQ(doc.SelectSingleNode("//RECEIVER").first().Text(), "1");

    auto attrs = doc.SelectNodes("//@attr");
    ASSERT_EQ(attrs.nodes.size(), 2u);
    EXPECT_EQ(attrs.nodes[0].type(), NodeType::Attribute);
    EXPECT_EQ(attrs.nodes[0].Name(), "attr");
    EXPECT_EQ(attrs.nodes[1].Text(), "b");
    EXPECT_EQ(attrs.nodes[0].Xml(), "attr=\"a\"");

    XmlNode g = doc.SelectSingleNode("/r/g").first();
    EXPECT_EQ(g.SelectNodes("RECEIVER").nodes.size(), 1u);
    EXPECT_EQ(g.SelectNodes(".//RECEIVER").first().Text(), "2");
    EXPECT_EQ(g.SelectNodes("//RECEIVER").nodes.size(), 3u);  // "//" starts at the root
    EXPECT_EQ(g.SelectSingleNode("../RECEIVER[last()]").first().Text(), "3");
}

TEST(XmlDocumentXPath, NamespacedElementsWithRegisteredPrefix) {
    XmlDocument doc = XmlDocument::FromText("<o:order xmlns:o=\"urn:o\"><o:id>7</o:id></o:order>");
    EXPECT_EQ(doc.SelectSingleNode("//o:id").status, XPathStatus::InvalidExpression);
    auto r = doc.SelectSingleNode("//p:id", {{"p", "urn:o"}});
    ASSERT_TRUE(r.ok()) << r.error;
    EXPECT_EQ(r.first().Text(), "7");
    EXPECT_EQ(r.first().Name(), "o:id");
}

// -------------------------------------------------------------------------------- nodes

TEST(XmlNodeEditing, TextIsLiteralAndConcatenated) {
    XmlDocument doc = XmlDocument::FromText("<r>a<![CDATA[<b>]]><i>c</i>d</r>");
    XmlNode r = doc.DocumentElement();
    EXPECT_EQ(r.Text(), "a<b>cd");
    r.SetText("x &amp; <y>");
    EXPECT_EQ(r.Text(), "x &amp; <y>");
    EXPECT_TRUE(r.ChildElements().empty());
    EXPECT_EQ(r.Xml(), "<r>x &amp;amp; &lt;y&gt;</r>");
    r.SetText("");
    EXPECT_EQ(r.Xml(), "<r/>");
}

TEST(XmlNodeEditing, AttributesGetSetRemove) {
    XmlDocument doc = XmlDocument::FromText("<r xmlns:q=\"urn:q\" a=\"1\" q:b=\"2\"/>");
    XmlNode r = doc.DocumentElement();
    EXPECT_EQ(r.Attribute("a").value_or("?"), "1");
    EXPECT_EQ(r.Attribute("q:b").value_or("?"), "2");
    EXPECT_FALSE(r.Attribute("b").has_value());
    r.SetAttribute("a", "<&\">");
    r.SetAttribute("c", "3");
    r.SetAttribute("q:d", "4");
    EXPECT_EQ(r.Attribute("a").value_or("?"), "<&\">");
    auto attrs = r.Attributes();
    ASSERT_EQ(attrs.size(), 4u);
    EXPECT_EQ(attrs[3].first, "q:d");
    EXPECT_EQ(doc.SelectSingleNode("//@p:d", {{"p", "urn:q"}}).first().Text(), "4");
    EXPECT_TRUE(r.RemoveAttribute("c"));
    EXPECT_FALSE(r.RemoveAttribute("c"));
    EXPECT_EQ(r.Xml(), "<r xmlns:q=\"urn:q\" a=\"&lt;&amp;&quot;&gt;\" q:b=\"2\" q:d=\"4\"/>");
    // The document survives a round trip through its text.
    XmlDocument again = XmlDocument::FromText(doc.Xml());
    EXPECT_EQ(again.DocumentElement().Attribute("a").value_or("?"), "<&\">");
}

TEST(XmlNodeEditing, BuildAppendMoveAndRemove) {
    XmlDocument doc;
    XmlNode reps = doc.CreateDocumentElement("REPS");
    XmlNode rep = reps.AppendElement("REP", "ACME");
    rep.SetAttribute("name", "[%SENDER%]");
    reps.AppendElement("REP", "7").SetAttribute("name", "[%DOCID%]");
    EXPECT_EQ(doc.Xml(),
              "<REPS><REP name=\"[%SENDER%]\">ACME</REP><REP name=\"[%DOCID%]\">7</REP></REPS>\n");

    // Appending a node of the same document moves it.
    reps.AppendChild(rep);
    auto children = reps.ChildElements();
    ASSERT_EQ(children.size(), 2u);
    EXPECT_EQ(children[1].Text(), "ACME");
    EXPECT_THROW(rep.AppendChild(reps), kestrix::Error);

    // A node of another document is copied.
    XmlDocument other = XmlDocument::FromText("<x xmlns=\"urn:x\"><y>1</y></x>");
    XmlNode copy = reps.AppendChild(other.DocumentElement());
    EXPECT_NE(copy, other.DocumentElement());
    EXPECT_EQ(other.DocumentElement().Text(), "1");
    EXPECT_EQ(copy.Xml(), "<x xmlns=\"urn:x\"><y>1</y></x>");
    // A new child of a namespaced element takes its default namespace.
    copy.AppendElement("z");
    EXPECT_EQ(copy.Xml(), "<x xmlns=\"urn:x\"><y>1</y><z/></x>");

    children[0].Remove();
    EXPECT_TRUE(children[0].isNull());
    EXPECT_EQ(reps.ChildElements().size(), 2u);
    EXPECT_EQ(reps.ChildElements()[0].Name(), "REP");
    EXPECT_EQ(reps.ChildElements()[0].Attribute("name").value_or(""), "[%SENDER%]");
    // The document node holds one element only.
    EXPECT_EQ(reps.Parent().type(), NodeType::Document);
    EXPECT_THROW(reps.Parent().AppendElement("second"), kestrix::Error);
}

TEST(XmlNodeEditing, EmptyingMatchedNodesThroughXPath) {
    XmlDocument doc =
        XmlDocument::FromText("<r><RECEIVER>a</RECEIVER><k><RECEIVER>b</RECEIVER></k></r>");
    for (XmlNode n : doc.SelectNodes("//RECEIVER").nodes) n.SetText("");
    EXPECT_EQ(doc.Xml(), "<r><RECEIVER/><k><RECEIVER/></k></r>\n");
    XmlDocument clone = doc.Clone();
    doc.DocumentElement().Remove();
    EXPECT_EQ(clone.Xml(), "<r><RECEIVER/><k><RECEIVER/></k></r>\n");
    EXPECT_TRUE(doc.DocumentElement().isNull());
}

TEST(XmlNodeEditing, NullHandleAnswersEmptyValues) {
    XmlNode none;
    EXPECT_EQ(none.Name(), "");
    EXPECT_EQ(none.Text(), "");
    EXPECT_EQ(none.Xml(), "");
    EXPECT_FALSE(none.Attribute("a").has_value());
    EXPECT_TRUE(none.ChildElements().empty());
    EXPECT_TRUE(none.SelectNodes("//a").nodes.empty());
}
