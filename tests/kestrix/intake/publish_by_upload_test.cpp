#include <gtest/gtest.h>

#include <ctime>
#include <filesystem>

#include "kestrix/documents/qel_excel.h"
#include "kestrix/foundation/enums.h"
#include "kestrix/foundation/file_handling.h"
#include "kestrix/foundation/general.h"
#include "kestrix/foundation/i18n.h"
#include "kestrix/intake/publish_by_upload.h"
#include "platform/base/error.h"
#include "tests/support/site/test_site.h"

namespace kestrix {
namespace {

namespace fs = std::filesystem;

/// The local time `offset` seconds from now.
DateTime LocalMoment(int offset) {
    const std::time_t t = std::time(nullptr) + offset;
    std::tm local{};
    localtime_r(&t, &local);
    return DateTime::FromParts(local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min,
                               local.tm_sec);
}

class PublishByUploadTest : public ::testing::TestWithParam<std::string> {
  protected:
    std::string Root() { return FileHandling().GetFolderName(EFolderType::UploadFolder); }
    fs::path Folder(int32_t docId) { return fs::path(Root()) / std::to_string(docId); }

    /// A temporary document (no type) created at `created`; answers its identifier.
    int32_t TempDocument(const std::string& created, const std::string& type = {}) {
        site_.Exec("INSERT INTO DOCUMENT (DOCUMENTTYPEID, CREATIONDATE, STATUS) VALUES (" +
                   (type.empty() ? std::string("NULL") : "'" + type + "'") + ", '" + created + "', 0)");
        db::Recordset rs = site_.Query("SELECT MAX(DOCUMENTID) AS ID FROM DOCUMENT");
        return rs.Field("ID").ToLong();
    }

    test::TwoPartnerSite site_{GetParam()};
    PublishByUpload upload_;
};

TEST_P(PublishByUploadTest, TheFirstNonEmptyXmlFileOfAnyCaseIsReadAndTheUploadIsCleared) {
    std::string root = Root();
    int32_t doc = 41;
    test::WriteAll(Folder(doc) / "a.xml", "");
    test::WriteAll(Folder(doc) / "b.XML", "<ORDER>\n  <LINE>1</LINE>\n</ORDER>");
    test::WriteAll(Folder(doc) / "c.txt", "notes");
    test::WriteAll(Folder(doc) / "d.xml", "<SECOND/>");
    EXPECT_EQ(upload_.ReadXMLFile(root, doc), "<ORDER>\n  <LINE>1</LINE>\n</ORDER>\n");
    EXPECT_FALSE(fs::exists(Folder(doc)));

    // An upload named in capitals is a document like any other.
    doc = 42;
    test::WriteAll(Folder(doc) / "ORDER.XML", "<ORDER/>");
    EXPECT_EQ(upload_.ReadXMLFile(root, doc), "<ORDER/>\n");
    EXPECT_FALSE(fs::exists(Folder(doc)));

    // No upload folder: nothing to read, nothing raised.
    doc = 43;
    EXPECT_EQ(upload_.ReadXMLFile(root, doc), "");

    // A folder without a document says so; what it held is gone.
    doc = 44;
    test::WriteAll(Folder(doc) / "picture.png", "png");
    Error none = test::RaisedBy<Error>([&] { upload_.ReadXMLFile(root, doc); });
    EXPECT_EQ(none.number(), ErrNum(EnumerationErrors::MissingXMLFile));
    EXPECT_NE(none.description().find("No XML file found"), std::string::npos);
    EXPECT_FALSE(fs::exists(Folder(doc) / "picture.png"));

    // A text that does not parse raises the parser's error at the loading step and leaves
    // the files not visited yet.
    doc = 45;
    test::WriteAll(Folder(doc) / "a.xml", "<ORDER><LINE></ORDER>");
    test::WriteAll(Folder(doc) / "z.txt", "later");
    Error broken = test::RaisedBy<Error>([&] { upload_.ReadXMLFile(root, doc); });
    EXPECT_NE(broken.description().find("The Dom object couldn't parse the xml file. error:"), std::string::npos);
    EXPECT_NE(broken.description().find("Kestrix.PublishByUpload.ReadXMLFile 70"), std::string::npos)
        << broken.description();
    EXPECT_TRUE(fs::exists(Folder(doc) / "z.txt"));

    // OBI documents do not come this way.
    doc = 46;
    test::WriteAll(Folder(doc) / "obi.xml",
                   "<OBIPurchaseOrder><Envelope><Sender><PartnerName>Acme</PartnerName></Sender></Envelope>"
                   "</OBIPurchaseOrder>");
    Error obi = test::RaisedBy<Error>([&] { upload_.ReadXMLFile(root, doc); });
    EXPECT_EQ(obi.number(), ErrNum(EnumerationErrors::CannotLoadFile));
    EXPECT_NE(obi.description().find(TranslateLabel("SLBSH4250")), std::string::npos);
}

TEST_P(PublishByUploadTest, AnUploadedWorkbookOfAnyKindIsReadAsXml) {
    std::string root = Root();
    int32_t doc = 51;
    Error missing = test::RaisedBy<Error>([&] { upload_.ReadExcelFile(root, doc); });
    EXPECT_EQ(missing.number(), ErrNum(EnumerationErrors::NotAnExcelFile));
    EXPECT_NE(missing.description().find(TranslateLabel("SLBSH4226")), std::string::npos);

    QelExcel excel;
    ExcelWorkBookPtr book =
        excel.TransformXMLToExcel("<S><A QELWORKSHEET='Lines' QELVALUEPOS='C3'>Washers</A></S>", EWriteMode::Create, 0, false);
    fs::create_directories(Folder(doc));
    excel.WriteExcelObjectToFile(book, (Folder(doc) / "Order.XLSX").string(), true);
    test::WriteAll(Folder(doc) / "readme.txt", "x");
    const std::string xml = upload_.ReadExcelFile(root, doc);
    EXPECT_NE(xml.find("<QELEXCEL"), std::string::npos) << xml;
    EXPECT_NE(xml.find("Washers"), std::string::npos) << xml;
    EXPECT_FALSE(fs::exists(Folder(doc)));

    doc = 52;
    test::WriteAll(Folder(doc) / "order.csv", "a;b");
    Error noBook = test::RaisedBy<Error>([&] { upload_.ReadExcelFile(root, doc); });
    EXPECT_EQ(noBook.number(), ErrNum(EnumerationErrors::NotAnExcelFile));
    EXPECT_NE(noBook.description().find(TranslateLabel("SLBSH4225")), std::string::npos);

    // A file named as a workbook that is none goes to the page with the one plain reason.
    doc = 53;
    test::WriteAll(Folder(doc) / "order.xlsm", "this is no workbook");
    Error unreadable = test::RaisedBy<Error>([&] { upload_.ReadExcelFile(root, doc); });
    EXPECT_EQ(unreadable.number(), ErrNum(EnumerationErrors::NotAnExcelFile));
    EXPECT_EQ(unreadable.description(), "Additional information: " + TranslateLabel("SLBSH4525"));
    EXPECT_EQ(unreadable.source(), "Kestrix.PublishByUpload");
}

TEST_P(PublishByUploadTest, TheDailyCleanUpRemovesExactlyTheTemporaryDocumentsOfEarlierDays) {
    const std::string today = DateTime::Now().Sortable().substr(0, 10);
    const std::string yesterday = LocalMoment(-24 * 3600).Sortable().substr(0, 10);
    const int32_t old = TempDocument(yesterday + " 23:59:59");
    const int32_t ancient = TempDocument("2003-12-31 08:00:00");
    const int32_t fresh = TempDocument(today + " 00:00:00");
    const int32_t typed = TempDocument(yesterday + " 10:00:00", "ORDER");
    for (int32_t doc : {old, fresh, typed}) {
        test::WriteAll(Folder(doc) / "upload.xml", "<X/>");
        site_.Exec("INSERT INTO PUBLICATIONERRORS (DOCUMENTID, ERRORNUMBER, DESCRIPTION, CLOSED) VALUES (" +
                   std::to_string(doc) + ", 1, 'x', 0)");
    }

    // The service calls it by name, with the upload root of the site.
    ObjectPtr object = CreateComponent("Kestrix.PublishByUpload");
    std::vector<Variant> args{Variant(Root())};
    object->Invoke("DeleteAllOldTempXMLFiles", args);

    EXPECT_EQ(site_.Count("DOCUMENT", "DOCUMENTID IN (" + std::to_string(old) + ", " + std::to_string(ancient) + ")"), 0);
    EXPECT_EQ(site_.Count("PUBLICATIONERRORS", "DOCUMENTID = " + std::to_string(old)), 0);
    EXPECT_FALSE(fs::exists(Folder(old) / "upload.xml"));
    for (int32_t kept : {fresh, typed}) {
        EXPECT_EQ(site_.Count("DOCUMENT", "DOCUMENTID = " + std::to_string(kept)), 1) << kept;
        EXPECT_EQ(site_.Count("PUBLICATIONERRORS", "DOCUMENTID = " + std::to_string(kept)), 1) << kept;
        EXPECT_TRUE(fs::exists(Folder(kept) / "upload.xml")) << kept;
    }

    // Deleting one upload never touches a document that has a type.
    int32_t doc = typed;
    upload_.DeleteTempDocumentInDB(doc);
    std::string root = Root();
    upload_.DeleteXMLFileAndDocument(root, doc);
    EXPECT_EQ(site_.Count("DOCUMENT", "DOCUMENTID = " + std::to_string(typed)), 1);
    EXPECT_FALSE(fs::exists(Folder(typed)));
    doc = fresh;
    upload_.DeleteXMLFileAndDocument(root, doc);
    EXPECT_EQ(site_.Count("DOCUMENT", "DOCUMENTID = " + std::to_string(fresh)), 0);
    EXPECT_FALSE(fs::exists(Folder(fresh)));
}

INSTANTIATE_TEST_SUITE_P(Backends, PublishByUploadTest, ::testing::ValuesIn(test::Backends()));

}  // namespace
}  // namespace kestrix
