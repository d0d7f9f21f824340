#include <gtest/gtest.h>

#include <optional>
#include <random>
#include <string>
#include <vector>

#include "kestrix/documents/document.h"
#include "platform/base/error.h"
#include "tests/support/site/test_site.h"

namespace kestrix {
namespace {

constexpr const char* kRefusal = "The batch file is not valid: a document in it has no closing tag.";
constexpr const char* kInformation = "Additional information: This is not an proper XML Batch file.";

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
    EXPECT_TRUE(Accepted("<?xml version=\"1.0\"?>\n<!-- first --><a>1</a>\r\n"
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
    // An inner closing tag inside a comment or a CDATA section is no end either.
    EXPECT_TRUE(Accepted("<a><!-- </a> --><![CDATA[</a>]]></a><a>2</a>"));
    // The root closed only once: its closing tag is taken by the inner element.
    EXPECT_FALSE(Accepted("<a><a>inner</a>"));
    EXPECT_FALSE(Accepted("<b></b><a><a>inner</a>"));
}

TEST_F(Batches, MalformedBatchesAreRefused) {
    const std::vector<std::string> refused = {
        "<a>1</a><b>2",                      // the last root is never closed
        "<a>1</a><b>2</a>",                  // ... nor with another name
        "<a>1</a><b><c></b>",                // closed, but the last document does not parse
        "<a>1</a><b><c></b>\r\n",            // ... with a final line break
        "<a>1</a >",                         // a closing tag with a blank is not recognised
        "<a>1</a>x",                         // text after the last document
        "<a>1</a>junk<b>2</b>",              // text between documents
        "just text",                         // no root at all
        "<",                                 //
        "<a",                                //
        "</a>",                              // a closing tag where a root should open
        "<a>1</A>",                          // names compare exactly
        "<a>&undefined;</a>",                // well-tagged but not well-formed
    };
    for (const std::string& text : refused) {
        const auto error = Refusal(text);
        ASSERT_TRUE(error) << text;
        EXPECT_EQ(error->number(), -1) << text;
        EXPECT_EQ(error->source(), "Kestrix.Document.ParseBatchXMLString") << text;
        EXPECT_NE(error->description().find(kRefusal), std::string::npos) << error->description();
        EXPECT_NE(error->description().find(kInformation), std::string::npos) << error->description();
        EXPECT_NE(error->description().find(
                      "\r\nMETHOD: Kestrix.Document.ParseBatchXMLString caught: "),
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
                    out += "<e/>";
                    break;
                default:  // often the root's own name
                    Element(out, Below(2) == 0 ? root_ : Name(), depth + 1);
                    break;
            }
        }
        out += "</" + name + ">";
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

    for (int round = 0; round < 600; ++round) {
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

        // Cut inside the last document (after its first character, before its last).
        const size_t firstMark = batch.find_first_not_of(" \t\r\n", lastStart);
        const size_t cut = firstMark + 1 + below(lastEnd - firstMark - 1);
        const auto error = Refusal(batch.substr(0, cut));
        ASSERT_TRUE(error) << batch.substr(0, cut);
        ASSERT_EQ(error->number(), -1);
    }

    const std::vector<std::string> pieces = {"<a>", "</a>", "<b>", "</b>", "<a x='1'>", "<a/>",
                                             "<!-- c -->", "<?xml version=\"1.0\"?>", "<![CDATA[",
                                             "]]>", "<", ">", "/", "!", "?", "text", " ", "\r\n",
                                             "&amp;", "&", "</", "<!", "-->", "\"", "<a", "</a"};
    int accepted = 0;
    for (int round = 0; round < 3000; ++round) {
        std::string text;
        for (size_t k = 0, count = below(12); k < count; ++k) text += pieces[below(pieces.size())];
        const auto error = Refusal(text);
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
