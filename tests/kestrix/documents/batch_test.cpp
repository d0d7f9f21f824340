#include <gtest/gtest.h>

#include <optional>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "kestrix/api/document.h"
#include "platform/base/error.h"
#include "platform/xml/xml.h"
#include "tests/support/site/test_site.h"

namespace kestrix {
namespace {

constexpr const char* kRefusal =
    "The batch file is not valid: a document in it has no closing tag.";
constexpr const char* kInformation =
    "Additional information: This is not an proper XML Batch file.";

/// The error `ParseBatchXMLString` raises for the text, or nothing when it accepts it.
std::optional<Error> Refusal(std::string text) {
    try {
        Document().ParseBatchXMLString(text);
    } catch (const Error& e) {
        return e;
    }
    return std::nullopt;
}

bool Accepted(const std::string& text) { return !Refusal(text).has_value(); }

class Batches : public ::testing::Test {
  protected:
    test::TestSite site_{"sqlite"};
};

TEST_F(Batches, DocumentsBackToBackAreAccepted) {
    EXPECT_TRUE(Accepted("<a>1</a><b x=\"1\"><c/></b>"));
    EXPECT_TRUE(Accepted("<order>1</order>\r\n<order>2</order>\r\n<order>3</order>"));
    // A root whose name begins another's: the closing tag is matched whole.
    EXPECT_TRUE(Accepted("<ab><a>1</a></ab><a><ab/></a>"));
    // Blanks and line breaks after the last document, and a text of nothing else.
    EXPECT_TRUE(Accepted("<a>1</a>\r\n \t\n"));
    EXPECT_TRUE(Accepted(""));
    EXPECT_TRUE(Accepted(" \r\n"));

    // The text is only read.
    std::string batch = "<a>1</a>\n<b>2</b>\n";
    Document().ParseBatchXMLFile(batch);
    EXPECT_EQ(batch, "<a>1</a>\n<b>2</b>\n");
}

TEST_F(Batches, DeclarationsAndCommentsBelongToTheFollowingDocument) {
    EXPECT_TRUE(
        Accepted("<?xml version=\"1.0\"?>\n<!-- first --><a>1</a>\r\n"
                 "<?xml version=\"1.0\" encoding=\"UTF-8\"?><!-- second -->\n<b>2</b>"));
    // Markup inside a comment or an instruction is no root; a DOCTYPE is passed over.
    EXPECT_TRUE(Accepted("<!-- <b> --><a>1</a><?note <c>?><!DOCTYPE b><b>2</b>"));
    // A declaration opens a document or nothing.
    EXPECT_FALSE(Accepted("<a>1<?xml version=\"1.0\"?></a>"));
    EXPECT_FALSE(Accepted("<a>1</a><!-- x --><?xml version=\"1.0\"?><b>2</b>"));
    // Only a comment after the last document, or a comment that never ends.
    EXPECT_FALSE(Accepted("<a>1</a><!-- end -->"));
    EXPECT_FALSE(Accepted("<a>1</a><!-- never closed <b>2</b>"));
    EXPECT_FALSE(Accepted("<?xml version=\"1.0\"?><a>1</a><?xml version"));
}

TEST_F(Batches, NestedElementsOfTheRootsNameAreTakenWhole) {
    EXPECT_TRUE(Accepted("<a><a>inner</a></a><b></b>"));
    EXPECT_TRUE(Accepted("<a><a><a>x</a></a><b><a/></b></a>\n<a><a>y</a></a>"));
    // An inner closing tag inside a comment, a CDATA section or an instruction is no end
    // either; nor is a ">" inside an attribute value.
    EXPECT_TRUE(Accepted("<a><!-- </a> --><![CDATA[</a>]]><?pi </a>?></a><a>2</a>"));
    EXPECT_TRUE(Accepted("<a k=\"/>\" l='a/b>c'><a/></a>"));
    // Found by the random run: a comment whose text begins with "->" ends at the next "-->".
    EXPECT_TRUE(Accepted("<!--->- <b> --><a><!--->- </a> --></a>"));
    // The root closed only once: its closing tag is taken by the inner element.
    EXPECT_FALSE(Accepted("<a><a>inner</a>"));
    EXPECT_FALSE(Accepted("<b></b><a><a>inner</a>"));
}

TEST_F(Batches, MalformedBatchesAreRefused) {
    const std::vector<std::string> refused = {
        "<a>1</a><b>2",            // the last root is never closed
        "<a>1</a><b>2</a>",        // ... nor with another name
        "<a>1</a><b><c></b>",      // closed, but the last document does not parse
        "<a>1</a><b><c></b>\r\n",  // ... with a final line break
        "<a>1</a >",               // a closing tag with a blank is not recognised
        "<a>1</a>x",               // text after the last document
        "<a>1</a>junk<b>2</b>",    // text between documents
        "just text",               // no root at all
        "<",                       //
        "<a",                      //
        "</a>",                    // a closing tag where a root should open
        "<a>1</A>",                // names compare exactly
        "<a>&undefined;</a>",      // well-tagged but not well-formed
    };
    for (const std::string& text : refused) {
        const auto error = Refusal(text);
        ASSERT_TRUE(error) << text;
        EXPECT_EQ(error->number(), -1) << text;
        EXPECT_EQ(error->source(), "Kestrix.Document.ParseBatchXMLString") << text;
        EXPECT_NE(error->description().find(kRefusal), std::string::npos) << error->description();
        EXPECT_NE(error->description().find(kInformation), std::string::npos)
            << error->description();
        EXPECT_NE(
            error->description().find("\r\nMETHOD: Kestrix.Document.ParseBatchXMLString caught: "),
            std::string::npos);
    }

    std::string text = "<a>1</a><b>";
    try {
        Document().ParseBatchXMLFile(text);
        FAIL() << "accepted";
    } catch (const Error& e) {
        EXPECT_EQ(e.number(), -1);
        EXPECT_EQ(e.source(), "Kestrix.Document.ParseBatchXMLFile");
        EXPECT_NE(e.description().find("METHOD: Kestrix.Document.ParseBatchXMLFile caught: "),
                  std::string::npos);
        EXPECT_NE(e.description().find(kInformation), std::string::npos);
    }
}

/// Whether a batch can be cut, found the slow and obvious way: from each root on, the
/// closing tags of the root's name are tried in turn until the document parses.
bool ReferenceAccepts(const std::string& text) {
    constexpr size_t npos = std::string::npos;
    size_t start = 0;
    for (;;) {
        start = text.find_first_not_of(" \t\r\n", start);
        if (start == npos) return true;
        size_t open = start;
        for (;;) {  // the root, past comments and instructions
            open = text.find('<', open);
            if (open == npos) return false;
            const std::string_view rest = std::string_view(text).substr(open);
            if (rest.starts_with("<!--")) {
                const size_t close = text.find("-->", open + 4);
                if (close == npos) return false;
                open = close + 3;
            } else if (rest.starts_with("<?")) {
                const size_t close = text.find("?>", open + 2);
                if (close == npos) return false;
                open = close + 2;
            } else if (rest.starts_with("<!")) {
                open += 1;
            } else {
                break;
            }
        }
        size_t nameEnd = text.find_first_of(" \t\r\n>", open + 1);
        if (nameEnd == npos) nameEnd = text.size();
        const std::string closing = "</" + text.substr(open + 1, nameEnd - open - 1) + ">";
        size_t end = open + 2;
        for (;;) {
            const size_t found = end <= text.size() ? text.find(closing, end) : npos;
            if (found == npos) return false;
            end = found + closing.size();
            if (xml::XmlDocument().LoadXml(text.substr(start, end - start))) break;
        }
        start = end;
    }
}

TEST_F(Batches, ADamagedDocumentEarlyInALongBatchIsRefused) {
    std::string good;
    for (int i = 0; i < 5000; ++i)
        good += "<order><line no=\"" + std::to_string(i) + "\">paper</line><line/></order>\r\n";
    EXPECT_TRUE(Accepted(good));
    // The first document's closing tag closes an element it did not open; every later
    // closing tag of the same name would do no better.
    EXPECT_FALSE(Accepted("<order><x></order>\r\n" + good));
    EXPECT_FALSE(Accepted("<order><!-- never closed </order>\r\n" + good));
    EXPECT_FALSE(Accepted(good + "<order><line></order>"));
}

/// Makes random well-formed documents: nested elements that often share the root's name,
/// attributes, text, comments, CDATA, and a declaration or comment before the root.
class DocumentMaker {
  public:
    explicit DocumentMaker(std::mt19937& random) : random_(random) {}

    std::string Document() {
        std::string out;
        if (Below(3) == 0) out += "<?xml version=\"1.0\"?>";
        if (Below(3) == 0) out += "\n<!-- note <x> -->";
        if (Below(4) == 0) out += "\r\n";
        root_ = Name();
        Element(out, root_, 0);
        return out;
    }

  private:
    size_t Below(size_t n) { return static_cast<size_t>(random_() % n); }

    std::string Name() {
        static constexpr const char* names[] = {"a", "ab", "b", "order", "OBIOrder"};
        return names[Below(5)];
    }

    void Element(std::string& out, const std::string& name, int depth) {
        out += "<" + name;
        if (Below(3) == 0) out += " id=\"" + std::to_string(Below(100)) + "\"";
        if (Below(5) == 0) out += "\n note='a>b/'";
        out += ">";
        const size_t children = depth < 4 ? Below(4) : 0;
        for (size_t i = 0; i < children; ++i) {
            switch (Below(6)) {
                case 0:
                    out += "text &amp; more";
                    break;
                case 1:
                    out += "<!-- </" + root_ + "> -->";
                    break;
                case 2:
                    out += "<![CDATA[</" + root_ + ">]]>";
                    break;
                case 3:
                    out += Below(2) == 0 ? "<e k=\"/>\"/>" : "<?pi </" + root_ + "> ?>";
                    break;
                default:  // often the root's own name
                    Element(out, Below(2) == 0 ? root_ : Name(), depth + 1);
                    break;
            }
        }
        // Only the root's own end tag must be written without a blank.
        out += "</" + name + (depth > 0 && Below(4) == 0 ? " >" : ">");
    }

    std::mt19937& random_;
    std::string root_;
};

/// Random batches from a fixed seed. Well-formed batches are accepted whatever their nesting;
/// one whose last document is cut short anywhere is refused; random fragments of markup are
/// either accepted or refused with the batch error, never anything else.
TEST_F(Batches, RandomBatchesAreCutCorrectlyAndNeverCrash) {
    std::mt19937 random(8121426);
    const auto below = [&](size_t n) { return static_cast<size_t>(random() % n); };
    DocumentMaker maker(random);
    const std::vector<std::string> separators = {"", "\n", "\r\n", " \t", "\r\n\r\n"};
    const std::vector<std::string> inserts = {
        "<a>", "</a>",      "</b>", "<b/>", "<!-- x -->", "-->",
        "\"",  "'",         ">",    "<",    " ",          "<?xml version=\"1.0\"?>",
        "]]>", "<![CDATA[", "/",    "&",    "</order>",   "<ab>"};
    int changedAccepted = 0;

    for (int round = 0; round < 1000; ++round) {
        std::string batch;
        size_t lastStart = 0;
        for (size_t k = 0, count = 1 + below(4); k < count; ++k) {
            batch += separators[below(separators.size())];
            lastStart = batch.size();
            batch += maker.Document();
        }
        const size_t lastEnd = batch.size();
        batch += separators[below(separators.size())];
        ASSERT_TRUE(Accepted(batch)) << batch;
        ASSERT_TRUE(ReferenceAccepts(batch)) << batch;

        // Cut inside the last document (after its first character, before its last).
        const size_t firstMark = batch.find_first_not_of(" \t\r\n", lastStart);
        const size_t cut = firstMark + 1 + below(lastEnd - firstMark - 1);
        const auto error = Refusal(batch.substr(0, cut));
        ASSERT_TRUE(error) << batch.substr(0, cut);
        ASSERT_EQ(error->number(), -1);

        // A few characters taken out or put in anywhere: cut as the slow way cuts.
        std::string changed = batch;
        const size_t at = below(changed.size());
        if (below(2) == 0)
            changed.erase(at, 1 + below(6));
        else
            changed.insert(at, inserts[below(inserts.size())]);
        const bool accepted = Accepted(changed);
        ASSERT_EQ(accepted, ReferenceAccepts(changed)) << changed;
        changedAccepted += accepted ? 1 : 0;
    }
    // Many changes land in text, attribute values, comments or between documents.
    EXPECT_GT(changedAccepted, 50);

    const std::vector<std::string> pieces = {"<a>",        "</a>",
                                             "<b>",        "</b>",
                                             "<a x='1'>",  "<a x='>'>",
                                             "<a/>",       "</a >",
                                             "<!-- c -->", "<?xml version=\"1.0\"?>",
                                             "<?pi?>",     "<!DOCTYPE a>",
                                             "<![CDATA[",  "]]>",
                                             "<",          ">",
                                             "/",          "!",
                                             "?",          "text",
                                             " ",          "\r\n",
                                             "&amp;",      "&",
                                             "</",         "<!",
                                             "-->",        "\"",
                                             "'",          "<a",
                                             "</a"};
    int accepted = 0;
    for (int round = 0; round < 3000; ++round) {
        std::string text;
        for (size_t k = 0, count = below(12); k < count; ++k) text += pieces[below(pieces.size())];
        const auto error = Refusal(text);
        ASSERT_EQ(!error, ReferenceAccepts(text)) << text;
        if (!error) {
            ++accepted;
            continue;
        }
        ASSERT_EQ(error->number(), -1) << text;
        ASSERT_EQ(error->source(), "Kestrix.Document.ParseBatchXMLString") << text;
    }
    // Empty and blank texts at least, and the odd lucky document.
    EXPECT_GT(accepted, 10);
}

}  // namespace
}  // namespace kestrix
