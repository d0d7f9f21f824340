#include "kestrix/foundation/error_reporting.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "kestrix/foundation/dbutils.h"
#include "kestrix/foundation/enums.h"
#include "kestrix/foundation/i18n.h"
#include "kestrix/api/utility.h"
#include "tests/support/site/test_site.h"

namespace kestrix {
namespace {

// Three call levels, each trapping and raising on with its own source.
void Innermost() {
    try {
        Raise(EnumerationErrors::MissingXMLFileString, "Kestrix.Deep.Innermost", "No XML given.");
    } catch (...) {
        Reraise("Kestrix.Deep.Innermost");
    }
}
void Middle() {
    try {
        Innermost();
    } catch (...) {
        Reraise("Kestrix.Deep.Middle", "while reading");
    }
}
void Outer() {
    try {
        Middle();
    } catch (...) {
        Reraise("Kestrix.Deep.Outer");
    }
}

size_t Count(const std::string& text, const std::string& what) {
    size_t n = 0;
    for (size_t pos = text.find(what); pos != std::string::npos; pos = text.find(what, pos + 1)) ++n;
    return n;
}

TEST(ErrorReporting, AFailureThreeLevelsDeepKeepsNumberAndSourceAndStacksThreeLines) {
    test::TestSite site("sqlite");
    try {
        Outer();
        FAIL() << "no error raised";
    } catch (const Error& e) {
        EXPECT_EQ(e.number(), ErrNum(EnumerationErrors::MissingXMLFileString));
        EXPECT_EQ(e.source(), "Kestrix.Deep.Innermost");
        EXPECT_EQ(Count(e.description(), "\r\nMETHOD: "), 3u);
        // Outermost first, innermost last; each line ends with the number in hexadecimal.
        EXPECT_EQ(e.description().rfind("\r\nMETHOD: Kestrix.Deep.Outer caught: \r\nMETHOD: ", 0), 0u);
        EXPECT_NE(e.description().find("Kestrix.Deep.Innermost caught: No XML given.(800401FD)."),
                  std::string::npos);
        EXPECT_NE(e.description().find("(800401FD). Additional information: while reading"),
                  std::string::npos);
    }
    // Logged where it was first passed up and where a level added information, each time
    // under the source of the deepest failure; the outermost level only passes it on.
    std::string log = site.LogText();
    EXPECT_EQ(Count(log, "\n"), 2u) << log;
    EXPECT_EQ(Count(log, "Kestrix.Deep.Innermost: METHOD: Kestrix.Deep.Innermost caught: No XML given."), 1u)
        << log;
    EXPECT_EQ(Count(log, "Additional information: while reading"), 1u) << log;
    EXPECT_EQ(Count(log, "Kestrix.Deep.Outer caught:"), 0u) << log;
}

TEST(ErrorReporting, WithoutAPendingErrorItLogsAndReturns) {
    test::TestSite site("sqlite");
    EXPECT_NO_THROW(RaiseError("Kestrix.Test.Nothing", "just a note"));
    EXPECT_NE(site.LogText().find("Kestrix.Test.Nothing caught: (0). Additional information:  "
                                  "Additional information: just a note"),
              std::string::npos);
}

TEST(ErrorReporting, ForeignExceptionsBecomeUnspecifiedFailures) {
    test::TestSite site("sqlite");
    try {
        try {
            throw std::runtime_error("disk on fire");
        } catch (...) {
            Reraise("Kestrix.Test.Foreign");
        }
    } catch (const Error& e) {
        EXPECT_EQ(e.number(), errnum::E_FAIL);
        EXPECT_EQ(e.description(), "\r\nMETHOD: Kestrix.Test.Foreign caught: disk on fire(80004005).");
    }
}

TEST(ErrorReporting, AnUnwritableLogOrAnUnreadableLabelNeverHidesTheErrorBeingReported) {
    test::TestSite site("sqlite");
    // The log folder is a file: no entry can be written there.
    std::filesystem::remove_all(site.root() / "var" / "log");
    std::ofstream(site.root() / "var" / "log") << "not a folder";

    testing::internal::CaptureStderr();
    try {
        try {
            Raise(EnumerationErrors::MissingXMLFileString, "Kestrix.Deep.Innermost",
                  "No XML given.");
        } catch (...) {
            LogError("Kestrix.Test.CleanUp", "removing the temporary file");
            Reraise("Kestrix.Test.Outer");
        }
        FAIL() << "no error raised";
    } catch (const Error& e) {
        EXPECT_EQ(e.number(), ErrNum(EnumerationErrors::MissingXMLFileString));
        EXPECT_EQ(e.source(), "Kestrix.Deep.Innermost");
        EXPECT_EQ(e.description().rfind("\r\nMETHOD: Kestrix.Test.Outer caught: No XML given.", 0),
                  0u);
    }
    // The entries went to stderr, with the reason the log refused them.
    const std::string errors = testing::internal::GetCapturedStderr();
    EXPECT_NE(errors.find("the log cannot be written (Cannot open the log file"), std::string::npos)
        << errors;
    EXPECT_NE(errors.find("Kestrix.Test.CleanUp caught: No XML given.(800401FD). Additional "
                          "information: removing the temporary file"),
              std::string::npos)
        << errors;

    // Without label texts (the table is gone) a clean-up path still gets a text: the code.
    db::Connection connection = GetConnection();
    connection.Execute("DELETE FROM COLLABORATIONPARAMETER WHERE PARAMNAME = 'AdminEmailAddress'");
    connection.Execute("DROP TABLE I18NTEXT");
    CloseConnection(connection);
    EXPECT_THROW(TranslateLabel("SLBSH4104", 1033), Error);
    EXPECT_EQ(LabelOrCode("SLBSH4104", 1033), "SLBSH4104");
    // The administrator's mail without an address is skipped with a log entry, not raised.
    testing::internal::CaptureStderr();
    EXPECT_NO_THROW(Utility().SendEmailToAdministrator("order.xml"));
    EXPECT_NE(testing::internal::GetCapturedStderr().find("SLBSH4104"), std::string::npos);
}

TEST(Enumerations, CodesAndSharedMemberNamesResolveByTheirEnumeration) {
    EXPECT_EQ(ErrNum(EnumerationErrors::ReferentialAdd), -2147221003);
    EXPECT_EQ(ErrNum(EnumerationErrors::CannotExecuteSendMethod), -2147220952);
    EXPECT_EQ(ErrNum(EnumerationErrors::ProcessDocumentError), -2147220980);
    EXPECT_EQ(ErrNum(EnumerationErrors::MissingParameter), -2147220994);
    EXPECT_EQ(static_cast<uint32_t>(ErrNum(EnumerationErrors::InValidFileFormat)), 0x80040225u);
    EXPECT_EQ(ToInt(Condition::GREATERTHAN), 2);
    EXPECT_EQ(ToInt(EExcelSearchOptions::GREATERTHAN), 1);
    EXPECT_EQ(ToInt(ESendMethodFormat::XML), 30);
    EXPECT_EQ(ToInt(EObiLanguage::XML), 3);
}

}  // namespace
}  // namespace kestrix
