#include <gtest/gtest.h>

#include <ctime>
#include <filesystem>
#include <map>

#include "kestrix/documents/obi.h"
#include "kestrix/documents/qel_excel.h"
#include "kestrix/foundation/enums.h"
#include "kestrix/foundation/file_handling.h"
#include "kestrix/foundation/i18n.h"
#include "kestrix/intake/publish_create_document.h"
#include "platform/base/error.h"
#include "platform/text/code_page.h"
#include "tests/support/site/test_site.h"

namespace kestrix {
namespace {

namespace fs = std::filesystem;

const std::string kOrder =
    "<ORDER><SENDER>alice</SENDER><DOCTYPE-ID>ORDER</DOCTYPE-ID><RECEIVER>bob</RECEIVER>"
    "<LINE qty='2'>Bolts</LINE></ORDER>";

/// The files of a folder by name, with their bytes.
std::map<std::string, std::string> FilesOf(const fs::path& folder) {
    std::map<std::string, std::string> files;
    std::error_code ec;
    for (const auto& e : fs::directory_iterator(folder, ec))
        if (e.is_regular_file()) files[e.path().filename().string()] = test::ReadAll(e.path());
    return files;
}

class PublishCreateDocumentTest : public ::testing::TestWithParam<std::string> {
  protected:
    fs::path Queue() { return FileHandling().GetFolderName(EFolderType::XmlPath2Folder); }

    test::TwoPartnerSite site_{GetParam()};
};

TEST_P(PublishCreateDocumentTest, XmlIsPublishedAtOnceOrQueuedWithoutEverReplacingAQueuedFile) {
    PublishCreateDocument publisher;
    Variant none;
    const int32_t viaMain = publisher.Main(kOrder, none);
    const int32_t direct = publisher.PublishXmlDocument(kOrder, Variant(), true);
    ASSERT_GT(viaMain, 0);
    ASSERT_GT(direct, viaMain);
    EXPECT_EQ(site_.Count("DOCUMENT", "DOCUMENTTYPEID = 'ORDER' AND SENDER = 'alice'"), 2);
    EXPECT_EQ(site_.Count("PUBLICATION", "USERID = 'bob'"), 2);

    // Attachments cannot wait in the queue: a collection that is present, even empty, is
    // refused before anything is written.
    Error refused = test::RaisedBy<Error>([&] { publisher.PublishXmlDocument(kOrder, Variant(Array{}), false); });
    EXPECT_EQ(refused.number(), ErrNum(EnumerationErrors::AttachmentsSupported));
    EXPECT_NE(refused.description().find(TranslateLabel("SLBSH4275")), std::string::npos);
    EXPECT_TRUE(FilesOf(Queue()).empty());

    // Names of the coming seconds are taken already: each queued document gets the next
    // counter, and the files that were there keep their bytes.
    fs::create_directories(Queue());
    FileHandling files;
    std::map<std::string, std::string> taken;
    const std::time_t now = std::time(nullptr);
    for (int s = 0; s < 4; ++s) {
        const std::time_t t = now + s;
        std::tm local{};
        localtime_r(&t, &local);
        const DateTime moment = DateTime::FromParts(local.tm_year + 1900, local.tm_mon + 1, local.tm_mday,
                                                    local.tm_hour, local.tm_min, local.tm_sec);
        const std::string name = "XML" + TimeStampSuffix(moment) + "-0.xml";
        taken[name] = "<KEEP n='" + std::to_string(s) + "'/>";
        test::WriteAll(Queue() / name, taken[name]);
    }
    EXPECT_EQ(publisher.PublishXmlDocument(kOrder, Variant(), false), 0);
    const std::string first = fs::path(publisher.LastQueuedFile()).filename().string();
    EXPECT_EQ(publisher.PublishXmlDocument("<ORDER n='2'/>", Variant(), false), 0);
    const std::string second = fs::path(publisher.LastQueuedFile()).filename().string();
    EXPECT_TRUE(first.starts_with("XML_") && first.ends_with("-1.xml")) << first;
    EXPECT_NE(first, second);
    const auto queued = FilesOf(Queue());
    for (const auto& [name, bytes] : taken) EXPECT_EQ(queued.at(name), bytes) << name;
    EXPECT_EQ(queued.at(first), kOrder);
    EXPECT_EQ(queued.at(second), "<ORDER n='2'/>");
    // Only whole files under their own names: nothing half-written is left for the import.
    EXPECT_EQ(queued.size(), taken.size() + 2);
    for (const auto& [name, bytes] : queued) EXPECT_FALSE(name.starts_with(".")) << name;
    EXPECT_EQ(site_.Count("DOCUMENT"), 2) << "queued documents are not processed";

    // Without a queue folder the document is refused instead of landing in the working folder.
    site_.SetParameter("XMLPath2", "");
    Error unset = test::RaisedBy<Error>([&] { publisher.PublishXmlDocument(kOrder, Variant(), false); });
    EXPECT_EQ(unset.number(), ErrNum(EnumerationErrors::MissingParameter));
    EXPECT_NE(unset.description().find("XMLPath2"), std::string::npos) << unset.description();
}

TEST_P(PublishCreateDocumentTest, ARefusedDocumentIsKeptInTheErrorFolderAndReportedAsNotPublished) {
    PublishCreateDocument publisher;
    const std::string stranger = "<ORDER><SENDER>mallory</SENDER><DOCTYPE-ID>ORDER</DOCTYPE-ID></ORDER>";
    Error e = test::RaisedBy<Error>([&] { publisher.PublishXmlDocument(stranger, Variant(), true); });
    EXPECT_EQ(e.number(), ErrNum(EnumerationErrors::ProcessDocumentError));
    EXPECT_NE(e.description().find(TranslateLabel("SLBSH0003")), std::string::npos) << e.description();
    EXPECT_NE(e.description().find("PublishCreateDocument.PublishDocumentSync"), std::string::npos);

    // The text waits for the administrator as Error.xml in a folder of the second it failed.
    const fs::path errors = FileHandling().GetFolderName(EFolderType::XmlErrorFolder);
    int kept = 0;
    for (const auto& e2 : fs::recursive_directory_iterator(errors))
        if (e2.is_regular_file() && e2.path().filename() == "Error.xml") {
            ++kept;
            EXPECT_NE(text::DecodeText(test::ReadAll(e2.path())).find("mallory"), std::string::npos);
        }
    EXPECT_EQ(kept, 1);

    // The language of the messages: blank is the default language, a bad one changes nothing.
    publisher.SetPublisherLanguageID("");
    EXPECT_EQ(publisher.GetPublisherLanguageID(), 1033);
    publisher.SetPublisherLanguageID("1031");
    publisher.SetPublisherLanguageID("German");
    EXPECT_EQ(publisher.GetPublisherLanguageID(), 1031);
    EXPECT_NE(site_.LogText().find("'German' is not a language"), std::string::npos);
}

TEST_P(PublishCreateDocumentTest, WorkbooksOfEveryKindArePublishedOrQueuedUnderTheirOwnExtension) {
    // A workbook whose properties route it like a tagged document.
    const std::string xml =
        "<ORDERSHEET><P QELPROPLABEL='QEL-SENDER' QELPROPVALUE='alice' QELPROPTYPE='text'/>"
        "<P QELPROPLABEL='QEL-DOCTYPE-ID' QELPROPVALUE='ORDER' QELPROPTYPE='text'/>"
        "<P QELPROPLABEL='QEL-RECEIVER' QELPROPVALUE='carol' QELPROPTYPE='text'/>"
        "<A QELWORKSHEET='Lines' QELVALUEPOS='B2'>Hex bolts</A></ORDERSHEET>";
    QelExcel excel;
    ExcelWorkBookPtr book = excel.TransformXMLToExcel(xml, EWriteMode::Create, 0, false);
    const fs::path upper = site_.root() / "temp" / "ORDER.XLSX";
    fs::create_directories(upper.parent_path());
    excel.WriteExcelObjectToFile(book, upper.string(), true);
    const fs::path macro = site_.root() / "temp" / "order.xlsm";
    fs::copy_file(upper, macro);

    PublishCreateDocument publisher;
    const int32_t docId = publisher.PublishExcelDocument(upper.string(), Variant(), true);
    ASSERT_GT(docId, 0);
    db::Recordset rs = site_.Query("SELECT DOCUMENTTYPEID, SENDER, XMLBODY FROM DOCUMENT WHERE DOCUMENTID = " +
                                   std::to_string(docId));
    ASSERT_FALSE(rs.Eof());
    EXPECT_EQ(rs.GetString("DOCUMENTTYPEID"), "ORDER");
    EXPECT_EQ(rs.GetString("SENDER"), "alice");
    EXPECT_NE(rs.GetString("XMLBODY").find("Hex bolts"), std::string::npos);
    EXPECT_EQ(site_.Count("PUBLICATION", "USERID = 'carol' AND DOCUMENTID = " + std::to_string(docId)), 1);

    // Queued, the workbook is copied as it is and keeps its kind.
    EXPECT_EQ(publisher.PublishExcelDocument(macro.string(), Variant(), false), 0);
    const fs::path queued = publisher.LastQueuedFile();
    EXPECT_TRUE(queued.filename().string().starts_with("QelExcel_")) << queued;
    EXPECT_EQ(queued.extension(), ".xlsm");
    EXPECT_EQ(test::ReadAll(queued), test::ReadAll(macro));

    // Anything not named as a workbook is refused with its name.
    const fs::path text = site_.root() / "temp" / "order.csv";
    test::WriteAll(text, "a;b\n");
    Error notBook = test::RaisedBy<Error>([&] { publisher.PublishExcelDocument(text.string(), Variant(), true); });
    EXPECT_EQ(notBook.number(), ErrNum(EnumerationErrors::NotAnExcelFile));
    EXPECT_NE(notBook.description().find(text.string()), std::string::npos);
    Error withAttachments = test::RaisedBy<Error>(
        [&] { publisher.PublishExcelDocument(macro.string(), Variant(Array{Variant("x.pdf")}), false); });
    EXPECT_EQ(withAttachments.number(), ErrNum(EnumerationErrors::AttachmentsSupported));
}

TEST_P(PublishCreateDocumentTest, AnObiObjectIsPublishedByTheDocumentItCarries) {
    OBI obi;
    ByteArray version{3, 0}, signature{1, 2, 3};
    std::string object;
    obi.ConstructObiObject(version, EObiLanguage::XML, kOrder, signature, object);

    PublishCreateDocument publisher;
    const int32_t docId = publisher.PublishObiDocument(object, true);
    ASSERT_GT(docId, 0);
    EXPECT_EQ(site_.Count("DOCUMENT", "DOCUMENTTYPEID = 'ORDER' AND DOCUMENTID = " + std::to_string(docId)), 1);

    EXPECT_EQ(publisher.PublishObiDocument(object, false), 0);
    const fs::path queued = publisher.LastQueuedFile();
    EXPECT_TRUE(queued.filename().string().starts_with("OBI_")) << queued;
    EXPECT_EQ(queued.extension(), ".xml");
    EXPECT_EQ(test::ReadAll(queued), kOrder);

    Error bad = test::RaisedBy<Error>([&] { publisher.PublishObiDocument("not an object", true); });
    EXPECT_EQ(bad.number(), ErrNum(EnumerationErrors::InvalidObiObject));
    EXPECT_NE(bad.description().find("PublishCreateDocument.PublishObiDocument"), std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(Backends, PublishCreateDocumentTest, ::testing::ValuesIn(test::Backends()));

}  // namespace
}  // namespace kestrix
