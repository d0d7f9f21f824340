#include <gtest/gtest.h>

#include <string>

#include "tests/support/program.h"
#include "tests/support/site/test_site.h"

namespace kestrix {
namespace {

using test::ProgramRun;
using test::RunKestrix;

class DocumentCommand : public ::testing::TestWithParam<std::string> {};

TEST_P(DocumentCommand, ShowsWhatBecameOfADocumentInWords) {
    test::TwoPartnerSite site(GetParam());
    const auto order = site.root() / "order.xml";
    test::WriteAll(order,
                   "<ORDER><SENDER>alice</SENDER><DOCTYPE-ID>ORDER</DOCTYPE-ID><RECEIVER>bob</RECEIVER>"
                   "<RECEIVER>zed</RECEIVER></ORDER>");
    ASSERT_EQ(RunKestrix({"process", order.string()}).status, 0);
    const std::string id = site.Query("SELECT MAX(DOCUMENTID) AS ID FROM DOCUMENT").GetString("ID");

    const ProgramRun show = RunKestrix({"doc", "show", id});
    EXPECT_EQ(show.status, 0) << show.err;
    for (const char* part : {"  type:         ORDER\n", "  sender:       alice\n", "  status:       published",
                             "recipients:\n  bob  new\n", "delivery history: none\n"})
        EXPECT_TRUE(test::Contains(show.out, part)) << part << "\n" << show.out;
    // The unknown recipient's error, with its label's text.
    EXPECT_TRUE(test::Contains(show.out, "error ")) << show.out;
    const std::string label = site.Query("SELECT LABEL FROM PUBLICATIONERRORS").GetString("LABEL");
    const std::string text =
        site.Query("SELECT TEXT FROM I18NTEXT WHERE LOCALEID = 1033 AND LABEL = '" + label + "'").GetString("TEXT");
    EXPECT_TRUE(test::Contains(show.out, "[" + label + "] " + text)) << show.out;

    EXPECT_TRUE(test::Contains(RunKestrix({"doc", "list", "--status", "published", "--sender", "alice"}).out,
                    id + "\tORDER\talice\tpublished\t"));
    EXPECT_EQ(RunKestrix({"doc", "list", "--since", "2999-01-01"}).out, "no documents\n");
    EXPECT_EQ(RunKestrix({"doc", "list", "--status", "lost"}).status, 2);
    EXPECT_EQ(RunKestrix({"doc", "show", "424242"}).status, 1);
}

INSTANTIATE_TEST_SUITE_P(Backends, DocumentCommand, ::testing::ValuesIn(test::Backends()));

}  // namespace
}  // namespace kestrix
