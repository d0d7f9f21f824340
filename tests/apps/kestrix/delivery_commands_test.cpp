#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "tests/support/program.h"
#include "tests/support/site/test_site.h"

namespace kestrix {
namespace {

namespace fs = std::filesystem;
using test::Contains;
using test::ProgramRun;
using test::RunKestrix;

class DeliveryCommands : public ::testing::TestWithParam<std::string> {};

// Bolt receives Acme's orders into a folder; a second method with a wrong folder fails, is
// corrected and pushed again from the error box.
TEST_P(DeliveryCommands, SendMethodsFromASiteFileDeliverAndAFailureIsPushedAgain) {
    test::TwoPartnerSite site(GetParam());
    const fs::path out = site.root() / "out" / "bolt";
    fs::create_directories(out);
    const auto file = site.root() / "send.xml";
    const std::string methods = "<site><sendmethod partner='Bolt' doctype='ORDER' protocol='filepath' address='" +
                                out.string() + "' filename='order' suffix='docid'/>"
                                "<sendmethod partner='Bolt' doctype='ORDER' protocol='ftp' address='ftp://127.0.0.1:1/in'"
                                " user='bolt' password='s3cret-ftp' transfertype='binary'/></site>";
    test::WriteAll(file, methods);
    ProgramRun run = RunKestrix({"apply", file.string()});
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(RunKestrix({"apply", file.string()}).out.find("added"), std::string::npos);  // again: nothing new
    EXPECT_EQ(site.Count("SENDMETHODPROPERTY"), 2);
    test::WriteAll(file, "<site><sendmethod partner='Bolt' doctype='ORDER' protocol='carrier-pigeon'/></site>");
    run = RunKestrix({"apply", file.string()});
    EXPECT_EQ(run.status, 1);
    EXPECT_TRUE(Contains(run.err, "carrier-pigeon")) << run.err;

    run = RunKestrix({"sendmethod", "list"});
    EXPECT_TRUE(Contains(run.out, "ftp xml  ftp://127.0.0.1:1/in")) << run.out;
    run = RunKestrix({"sendmethod", "show", "2"});
    EXPECT_TRUE(Contains(run.out, "password:      ********")) << run.out;
    EXPECT_FALSE(Contains(run.out + run.err, "s3cret-ftp"));
    EXPECT_EQ(RunKestrix({"sendmethod", "show", "99"}).status, 2);

    const fs::path order = site.root() / "order.xml";
    test::WriteAll(order, "<ORDER><SENDER>alice</SENDER><DOCTYPE-ID>ORDER</DOCTYPE-ID><RECEIVER>bob</RECEIVER></ORDER>");
    ASSERT_EQ(RunKestrix({"process", "--interactive", order.string()}).status, 0);
    run = RunKestrix({"push", "1"});
    EXPECT_EQ(run.status, 1);  // the FTP server is not there: an open publication error
    EXPECT_TRUE(fs::exists(out / "order_1.xml"));
    EXPECT_TRUE(Contains(run.out, "send method 1  partner " + std::to_string(site.bolt()) + "  sent")) << run.out;
    EXPECT_TRUE(Contains(run.out, "send method 2  partner " + std::to_string(site.bolt()) + "  not sent")) << run.out;
    EXPECT_FALSE(Contains(run.out + run.err, "s3cret-ftp"));

    const std::string errorId = std::to_string(site.Query("SELECT PUBLICATIONERRORID FROM SENDMETHODHISTORY WHERE "
                                                          "STATUS = 0").GetInt("PUBLICATIONERRORID"));
    EXPECT_EQ(RunKestrix({"repush", errorId, "--user", "bob"}).status, 1);  // not the sender
    EXPECT_EQ(site.Count("SENDMETHODHISTORY"), 2);
    // The partner moves to a folder: the send method is changed, its password kept, and
    // the failed delivery pushed again by its sender.
    const fs::path moved = site.root() / "out" / "moved";
    fs::create_directories(moved);
    run = RunKestrix({"sendmethod", "update", "2", "--protocol", "filepath", "--address", moved.string()});
    ASSERT_EQ(run.status, 0) << run.err;
    run = RunKestrix({"repush", errorId, "--user", "alice"});
    EXPECT_EQ(run.status, 0) << run.out << run.err;
    EXPECT_TRUE(fs::exists(moved / "1.xml"));
    EXPECT_EQ(site.Count("PUBLICATIONERRORS", "PUBLICATIONERRORID = " + errorId + " AND CLOSED = 1"), 1);
    run = RunKestrix({"history", "1"});
    EXPECT_TRUE(Contains(run.out, "(closed)")) << run.out;
}

INSTANTIATE_TEST_SUITE_P(Backends, DeliveryCommands, ::testing::ValuesIn(test::Backends()));

}  // namespace
}  // namespace kestrix
