#include "kestrix/delivery/send_method.h"

#include <gtest/gtest.h>

#include "kestrix/foundation/enums.h"
#include "platform/base/error.h"
#include "tests/support/site/test_site.h"

namespace kestrix {
namespace {

class SendMethods : public ::testing::TestWithParam<std::string> {
  protected:
    TSendMethodProperties Read(int32_t id) {
        TSendMethodProperties p;
        methods_.GetSendMethodProperties2(id, p);
        return p;
    }
    std::string Stored(int32_t id, const std::string& column) {
        db::Recordset rs = site_.Query("SELECT " + column + " FROM SENDMETHODPROPERTY WHERE SENDMETHODID = " +
                                       std::to_string(id));
        return rs.Eof() ? "<none>" : rs.GetString(column);
    }

    test::TestSite site_{GetParam()};
    SendMethod methods_;
};

TEST_P(SendMethods, PropertiesAreStoredByProtocolAndReadBackTrimmed) {
    // An FTP method keeps its connection fields, drops the write mode and a non-workbook template.
    TSendMethodProperties ftp;
    ftp.nProtocol = ESendMethodProtocol::Ftp;
    ftp.nFormat = ESendMethodFormat::XML;
    ftp.bAutoPush = true;
    ftp.sAddress = "  ftp://files.bolt.test/in ";
    ftp.sUser = "bolt";
    ftp.sPassword = "s3cret";
    ftp.lPort = 2121;
    ftp.nWriteMode = EWriteMode::Append;
    ftp.sExcelTemplate = "t.xltx";
    ftp.nFTPTransferType = ESendMethodFTPTransferType::Binary;
    ftp.nSuffix = ESendMethodSuffix::DocumentID;
    const int32_t id = methods_.AddSendMethodProperties2(ftp);
    EXPECT_GT(id, 0);
    EXPECT_EQ(ftp.nWriteMode, EWriteMode{});  // the caller's record is cleared too
    TSendMethodProperties back = Read(id);
    EXPECT_TRUE(back.bAutoPush);
    EXPECT_EQ(back.sAddress, "ftp://files.bolt.test/in");
    EXPECT_EQ(back.sPassword, "s3cret");
    EXPECT_EQ(back.lPort, 2121);
    EXPECT_EQ(back.nFTPTransferType, ESendMethodFTPTransferType::Binary);
    EXPECT_EQ(back.sExcelTemplate, "");
    EXPECT_EQ(back.nWriteMode, EWriteMode{});
    EXPECT_EQ(back.lProxyPort, 0);

    // Eight asterisks keep the stored password, also with blanks around them; blanks clear it.
    back.sPassword = "  ******** ";
    methods_.UpdateSendMethodProperties2(id, back);
    EXPECT_EQ(Stored(id, "PASSWORD"), "s3cret");
    back.sPassword = "   ";
    methods_.UpdateSendMethodProperties2(id, back);
    EXPECT_EQ(Stored(id, "PASSWORD"), "");
    // An identifier without a row changes nothing and raises nothing.
    methods_.UpdateSendMethodProperties2(id + 100, back);
    EXPECT_EQ(site_.Count("SENDMETHODPROPERTY"), 1);

    // HTTP drops file naming and template; a plug-in call addressed ".." has no address.
    TSendMethodProperties http;
    http.nProtocol = ESendMethodProtocol::Http;
    http.sFileName = "order";
    http.sFileExtension = "xml";
    http.nSuffix = ESendMethodSuffix::DocumentID;
    http.sExcelTemplate = "t.xltx";
    TSendMethodProperties httpBack = Read(methods_.AddSendMethodProperties2(http));
    EXPECT_EQ(httpBack.sFileName + httpBack.sFileExtension + httpBack.sExcelTemplate, "");
    EXPECT_EQ(httpBack.nSuffix, ESendMethodSuffix{});
    TSendMethodProperties call;
    call.nProtocol = ESendMethodProtocol::MethodCall;
    call.sAddress = "..";
    EXPECT_EQ(Read(methods_.AddSendMethodProperties2(call)).sAddress, "");

    // A workbook by file path keeps its template only when the file is created.
    TSendMethodProperties file;
    file.nProtocol = ESendMethodProtocol::FilePath;
    file.nFormat = ESendMethodFormat::Excel;
    file.sExcelTemplate = "t.xltx";
    file.nWriteMode = EWriteMode::Append;
    EXPECT_EQ(Read(methods_.AddSendMethodProperties2(file)).sExcelTemplate, "");
    file.sExcelTemplate = "t.xltx";
    file.nWriteMode = EWriteMode::Create;
    EXPECT_EQ(Read(methods_.AddSendMethodProperties2(file)).sExcelTemplate, "t.xltx");

    // Blanks for -1 and for an identifier without a row; a stored NULL port reads as -1.
    EXPECT_EQ(Read(-1).lPort, 0);
    EXPECT_EQ(Read(9999).sAddress, "");
    site_.Exec("UPDATE SENDMETHODPROPERTY SET PORT = NULL, PROTOCOL = 35 WHERE SENDMETHODID = " + std::to_string(id));
    EXPECT_EQ(Read(id).lPort, -1);
    EXPECT_EQ(Read(id).nProtocol, ESendMethodProtocol{});

    // The web forms' variant converts and reads back the same values.
    SendMethodFormValues form;
    form.protocol = Variant(30);
    form.format = Variant(30);
    form.autoPush = Variant(true);
    form.address = Variant("/srv/out");
    form.suffix = Variant(77);  // unknown: stored as 0
    const int32_t formId = methods_.AddSendMethodPropertiesFromAsp(form);
    SendMethodFormValues read;
    methods_.GetSendMethodPropertiesFromAsp(formId, read);
    EXPECT_EQ(read.protocol.ToLong(), 30);
    EXPECT_EQ(read.address.ToString(), "/srv/out");
    EXPECT_EQ(read.suffix.ToLong(), 0);
    EXPECT_TRUE(read.autoPush.ToBool());
}

TEST_P(SendMethods, AssignmentsKeepAPlaceholderAndHistoryIsWritten) {
    int32_t bp = 7, rule = 3, first = 11, second = 12;
    std::string type = "ORDER";
    methods_.AddSendMethod2(first, bp, type, rule);
    methods_.AddSendMethod2(second, bp, type, rule);
    EXPECT_EQ(methods_.GetSendMethodIDs(bp, type, rule).RowCount(), 2u);
    int32_t none = -1;
    methods_.AddSendMethod2(none, bp, type, rule);  // nothing to add
    EXPECT_EQ(methods_.GetSendMethodIDs(bp, type, rule).RowCount(), 2u);

    methods_.DeleteSendMethod2("12", bp, rule, type);
    methods_.DeleteSendMethod2("11", bp, rule, type);
    // The last one of partner, type and rule stays as a placeholder, which the next assignment fills.
    db::Recordset left = methods_.GetSendMethodIDs(bp, type, rule);
    ASSERT_EQ(left.RowCount(), 1u);
    EXPECT_EQ(left.GetInt("SENDMETHODID"), -1);
    int32_t third = 13;
    methods_.AddSendMethod2(third, bp, type, rule);
    db::Recordset filled = methods_.GetSendMethodIDs(bp, type, rule);
    ASSERT_EQ(filled.RowCount(), 1u);
    EXPECT_EQ(filled.GetInt("SENDMETHODID"), 13);
    // A type with a quote reaches the database as a value, not as SQL.
    std::string odd = "O'RDER";
    methods_.AddSendMethod2(third, bp, odd, rule);
    EXPECT_EQ(methods_.GetSendMethodIDs(bp, odd, rule).RowCount(), 1u);

    methods_.AddSendMethodToHistory(13, bp, rule, 42, type, 0, methods_.getSendMethodStatus_SENT());
    methods_.AddSendMethodToHistory(13, bp, rule, 42, type, 5, methods_.getSendMethodStatus_NOTSENT());
    EXPECT_EQ(site_.Count("SENDMETHODHISTORY WHERE DOCUMENTID = 42 AND STATUS = 1 AND PUBLICATIONERRORID = 0"), 1);
    EXPECT_EQ(site_.Count("SENDMETHODHISTORY WHERE DOCUMENTID = 42 AND STATUS = 0 AND PUBLICATIONERRORID = 5"), 1);

    // The superseded calls say which method replaced them.
    try {
        methods_.GetSendMethodData();
    } catch (const Error& e) {
        EXPECT_EQ(e.number(), ErrNum(EnumerationErrors::NewerVersionAvailable));
        EXPECT_NE(e.description().find("GetSendMethodProperties2"), std::string::npos) << e.description();
    }
    EXPECT_EQ(SendMethod::GetSendMethodProtocolLabel(ESendMethodProtocol::Ftp), "[%SLBSH4431%]");
    EXPECT_EQ(SendMethod::SendMethodProtocol_IntegerToEnum(35), ESendMethodProtocol{});
    EXPECT_EQ(SendMethod::SendMethodProtocol_IntegerToEnum(70), ESendMethodProtocol{});
}

INSTANTIATE_TEST_SUITE_P(Backends, SendMethods, ::testing::ValuesIn(test::Backends()));

}  // namespace
}  // namespace kestrix
