#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "tests/support/program.h"
#include "tests/support/site/test_site.h"

namespace kestrix {
namespace {

namespace fs = std::filesystem;
using test::Contains;
using test::RunKestrix;

constexpr const char* kOrder =
    "<ORDER><SENDER>alice</SENDER><DOCTYPE-ID>ORDER</DOCTYPE-ID><USESDISTLIST>1</USESDISTLIST>"
    "<LINE qty='2'>Bolts</LINE></ORDER>";

TEST(PublishCommands, PublishAndForwardThroughTheProgram) {
    test::TwoPartnerSite site("sqlite");
    site.Exec("INSERT INTO SENDERLIST (DOCUMENTTYPEID, USERID, NOTIFICATION, BUSINESSPARTNERID) VALUES ('ORDER', "
              "'bob', 0, " + std::to_string(site.bolt()) + ")");
    const fs::path order = site.root() / "temp" / "order.xml", sheet = site.root() / "temp" / "order.xlsx",
                   missing = site.root() / "temp" / "missing.xml";
    test::WriteAll(order, kOrder);
    test::WriteAll(sheet, "not a workbook");

    // Each file is reported; the one that fails does not stop the others.
    test::ProgramRun run = RunKestrix({"publish", order.string(), missing.string(), sheet.string()});
    EXPECT_EQ(run.status, 1) << run.out << run.err;
    EXPECT_TRUE(Contains(run.out, order.string() + ": document ")) << run.out;
    EXPECT_TRUE(Contains(run.out, missing.string() + ": refused: " + missing.string() + " does not exist."))
        << run.out;
    EXPECT_TRUE(Contains(run.out, sheet.string() + ": refused: ")) << run.out;
    EXPECT_EQ(site.Count("DOCUMENT", "DOCUMENTTYPEID = 'ORDER'"), 1);

    run = RunKestrix({"publish", "--async", order.string()});
    EXPECT_EQ(run.status, 0) << run.out << run.err;
    const std::string prefix = order.string() + ": queued ";
    ASSERT_TRUE(Contains(run.out, prefix)) << run.out;
    const std::string queued = run.out.substr(run.out.find(prefix) + prefix.size(),
                                              run.out.find('\n') - run.out.find(prefix) - prefix.size());
    EXPECT_EQ(test::ReadAll(queued), kOrder) << queued;
    EXPECT_EQ(site.Count("DOCUMENT"), 1);

    db::Recordset rs = site.Query("SELECT MAX(DOCUMENTID) AS ID FROM DOCUMENT");
    const std::string old = rs.Field("ID").ToString();
    run = RunKestrix({"forward", old, "--user", "bob"});
    EXPECT_EQ(run.status, 0) << run.out << run.err;
    EXPECT_TRUE(Contains(run.out, "document " + old + " forwarded by bob as document ")) << run.out;
    EXPECT_EQ(site.Count("PUBLICATION", "DOCUMENTID = " + old + " AND USERID = 'bob' AND FORWARD = 1"), 1);

    // Wrong input: usage errors for the command line, a failure for a document that is not there.
    EXPECT_EQ(RunKestrix({"publish"}).status, 2);
    EXPECT_EQ(RunKestrix({"forward", old}).status, 2);
    run = RunKestrix({"forward", "twelve", "--user", "bob"});
    EXPECT_EQ(run.status, 2);
    EXPECT_TRUE(Contains(run.err, "'twelve' is not a document identifier")) << run.err;
    run = RunKestrix({"forward", "999999", "--user", "bob"});
    EXPECT_EQ(run.status, 1);
    EXPECT_TRUE(Contains(run.err, "Document with documentID = 999999 doesn't exist.")) << run.err;
}

}  // namespace
}  // namespace kestrix
