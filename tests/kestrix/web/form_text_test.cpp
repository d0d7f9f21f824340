#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "kestrix/foundation/dbutils.h"
#include "kestrix/web/form_text.h"
#include "platform/base/error.h"
#include "platform/text/code_page.h"
#include "tests/support/site/test_site.h"

namespace kestrix {
namespace {

namespace fs = std::filesystem;
using form_text::HTMLDecode;
using form_text::RetrieveElementFromRequestFormCollection;
using form_text::urlDecode;

class FormText : public ::testing::TestWithParam<std::string> {};

// The escapes of a posted form and of HTML: every character is decoded, the last one too,
// single bytes by code page 1252, "%u" escapes as UTF-16 (a pair as one character), entities
// one level deep and only when one is written in small letters; a field is found only where
// one begins, and a value that does not decode is kept in the error folder.
TEST_P(FormText, DecodesEscapesEntitiesAndFields) {
    test::TestSite site(GetParam());

    EXPECT_EQ(urlDecode("a+b%41%u0042"), "a bAB");
    EXPECT_EQ(urlDecode("ends+"), "ends ");
    EXPECT_EQ(urlDecode("+"), "+");
    EXPECT_EQ(urlDecode(""), "");
    EXPECT_EQ(urlDecode("%80%E4%FC"), "\xE2\x82\xAC\xC3\xA4\xC3\xBC");      // euro, ä, ü
    EXPECT_EQ(urlDecode("%uD83D%uDE00!"), "\xF0\x9F\x98\x80!");              // one character
    EXPECT_EQ(urlDecode("%u00e4"), "\xC3\xA4");
    for (const char* broken : {"ab%4", "ab%", "%G1x", "x%U0042"}) {
        try {
            urlDecode(broken);
            ADD_FAILURE() << broken << " decoded";
        } catch (const Error& e) {
            EXPECT_EQ(e.source(), "Kestrix.Utility.urlCharDecode") << broken;
            EXPECT_NE(e.description().find("Kestrix.Utility.urlDecode"), std::string::npos) << e.description();
            EXPECT_NE(e.description().find("couldn't be decoded"), std::string::npos) << e.description();
        }
    }

    EXPECT_EQ(HTMLDecode(Variant(std::string("a &LT;b"))), "a &LT;b");
    EXPECT_EQ(HTMLDecode(Variant(std::string("&lt;x&GT; &Quot;q&quot;"))), "<x> \"q\"");
    EXPECT_EQ(HTMLDecode(Variant(std::string("&amp;lt;"))), "&lt;");
    EXPECT_EQ(HTMLDecode(Variant(int32_t{42})), "42");

    Variant value;
    EXPECT_TRUE(RetrieveElementFromRequestFormCollection("a=1&DocID=42&b=2", "docid=", value));
    EXPECT_EQ(value.ToString(), "42");
    EXPECT_FALSE(RetrieveElementFromRequestFormCollection("a=1&DocID=42&b=2", "c=", value));
    EXPECT_EQ(value.ToString(), "");
    EXPECT_TRUE(RetrieveElementFromRequestFormCollection("DocID=7&ID=8", "id=", value));
    EXPECT_EQ(value.ToString(), "8") << "a field's name is not found inside another's";
    EXPECT_FALSE(RetrieveElementFromRequestFormCollection("a=&b=2", "a=", value));
    EXPECT_EQ(value.ToString(), "");
    EXPECT_TRUE(RetrieveElementFromRequestFormCollection("a=1&b=+", "b=", value));
    EXPECT_EQ(value.ToString(), "+") << "one character stays as it is";
    EXPECT_TRUE(RetrieveElementFromRequestFormCollection("xml=%3CA%3Ex+y%3C%2FA%3E", "XML=", value));
    EXPECT_EQ(value.ToString(), "<A>x y</A>");

    const std::string errors = GetParameter("XMLErrorPath");
    EXPECT_THROW(RetrieveElementFromRequestFormCollection("a=1&xml=%ZZ", "xml=", value), Error);
    bool kept = false;
    for (const auto& entry : fs::recursive_directory_iterator(errors)) {
        if (!entry.is_regular_file()) continue;
        std::ifstream in(entry.path(), std::ios::binary);
        const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        kept = kept || text::Utf16LEToUtf8(bytes) == "a=1&xml=%ZZ";
    }
    EXPECT_TRUE(kept) << "the form text is kept in " << errors;
}

INSTANTIATE_TEST_SUITE_P(Backends, FormText, ::testing::ValuesIn(test::Backends()));

}  // namespace
}  // namespace kestrix
