#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <string>

#include "kestrix/foundation/imethodcall.h"
#include "kestrix/foundation/general.h"
#include "kestrix/api/utility.h"
#include "platform/base/error.h"
#include "tests/support/site/test_site.h"

namespace kestrix {
namespace {

namespace fs = std::filesystem;

const fs::path kPlugin = test::TestSite::TestPluginLibrary();
const std::string kNotFound = " not found or method called with wrong number/type of arguments";

template <typename Call>
Error RaisedBy(Call&& call) {
    return test::RaisedBy<Error>(call);
}

TEST(PluginAddress, TheClassEndsBeforeTheSecondDotAndTheMethodFollowsIt) {
    Utility utility;
    struct Case {
        const char* address;
        const char* className;
        const char* method;
    };
    for (const Case& c : {Case{"Acme.Orders.Receive", "Acme.Orders", "Receive"},
                          Case{"Acme.Orders", "Acme.Orders", ""},
                          Case{"Acme.Orders.", "Acme.Orders", ""},
                          Case{"Acme", "Acme", ""},
                          Case{"", "", ""},
                          Case{"Acme.Orders.Receive.Now", "Acme.Orders", "Receive.Now"},
                          Case{".Orders.Receive", ".Orders", "Receive"}}) {
        EXPECT_EQ(utility.GetClass(c.address).ToString(), c.className) << c.address;
        EXPECT_EQ(utility.GetMethod(c.address).ToString(), c.method) << c.address;
    }
}

class MethodCalls : public ::testing::TestWithParam<std::string> {
  protected:
    void SetUp() override {
        ASSERT_TRUE(fs::exists(kPlugin)) << kPlugin;
        site_ = std::make_unique<test::TestSite>(GetParam());
        site_->RegisterTestPlugin();
    }
    void TearDown() override { site_.reset(); }

    std::unique_ptr<test::TestSite> site_;
    Utility utility_;
};

TEST_P(MethodCalls, AnInterfacePlugInIsCalledThroughTheInterfaceOrByTheNamedMethod) {
    // Only the C entry crosses the plug-in library's boundary: on this side neither class is
    // a C++ IMethodCall; the plug-in's own side reaches the interface by name.
    ObjectPtr receiver = CreateComponent("KestrixTest.Receiver");
    ASSERT_NE(receiver, nullptr);
    EXPECT_FALSE(std::dynamic_pointer_cast<IMethodCall>(receiver));
    EXPECT_FALSE(std::dynamic_pointer_cast<IMethodCall>(CreateComponent("KestrixTest.Judge")));

    // Without a method: MethodCall of the interface, which may change the data.
    Variant data = "<ORDER/>";
    EXPECT_TRUE(utility_.CallMethod("KestrixTest.Receiver", data));
    EXPECT_EQ(data.ToString(), "received: <ORDER/>");

    // With a method: that method by name, even though the class has the interface.
    data = "<ORDER/>";
    EXPECT_TRUE(utility_.CallMethod("KestrixTest.Receiver.Stamp", data));
    EXPECT_EQ(data.ToString(), "stamped: <ORDER/>");

    // The interface's operation is known by name as well.
    data = "x";
    EXPECT_TRUE(utility_.CallMethod("KestrixTest.Receiver.IMethodCall_MethodCall", data));
    EXPECT_EQ(data.ToString(), "received: x");

    // An array with a blank value is refused: false is an answer, not a failure.
    data = Array{Variant("a"), Variant(" ")};
    EXPECT_FALSE(utility_.CallMethod("KestrixTest.Receiver", data));
}

TEST_P(MethodCalls, APlugInWithoutTheInterfaceIsCalledByName) {
    Variant yes = "yes";
    Variant no = "no";
    EXPECT_TRUE(utility_.CallMethod("KestrixTest.Judge", yes));
    EXPECT_FALSE(utility_.CallMethod("KestrixTest.Judge", no));

    Variant values = Array{Variant("1"), Variant("5"), Variant("7")};
    EXPECT_TRUE(utility_.CallMethod("KestrixTest.Judge.Ascending", values));
    values = Array{Variant("5"), Variant("1")};
    EXPECT_FALSE(utility_.CallMethod("KestrixTest.Judge.Ascending", values));

    // A number answered is read as a boolean.
    Variant two = Array{Variant("a"), Variant("b")};
    EXPECT_TRUE(utility_.CallMethod("KestrixTest.Judge.Count", two));
    Variant none = Array{};
    EXPECT_FALSE(utility_.CallMethod("KestrixTest.Judge.Count", none));
}

TEST_P(MethodCalls, EveryKindOfFailureIsRaisedWithTheAddressInTheMessage) {
    Variant data = "<ORDER/>";
    const std::string addresses[] = {"Acme.Missing.Go", "KestrixTest.Judge.NoSuchMethod",
                                     "KestrixTest.Judge.Maybe", "KestrixTest.Judge.Explode"};
    for (const std::string& address : addresses) {
        Error e = RaisedBy([&] { utility_.CallMethod(address, data); });
        EXPECT_NE(e.description().find("METHOD: Kestrix.Utility.CallMethod caught: "), std::string::npos)
            << e.description();
        EXPECT_NE(e.description().find("object " + address + kNotFound), std::string::npos) << e.description();
    }
    // The plug-in's own error keeps its number and text.
    Error own = RaisedBy([&] { utility_.CallMethod("KestrixTest.Judge.Explode", data); });
    EXPECT_EQ(own.number(), 1234);
    EXPECT_NE(own.description().find("The judge refuses."), std::string::npos);
    // A class nobody registered is an invalid class string.
    Error unknown = RaisedBy([&] { utility_.CallMethod("Acme.Missing", data); });
    EXPECT_EQ(unknown.number(), static_cast<int32_t>(0x800401F3u));
    // A class without the interface and without "IMethodCall_MethodCall".
    Error noInterface = RaisedBy([&] { utility_.CallMethod("Kestrix.Utility", data); });
    EXPECT_EQ(noInterface.number(), errnum::MethodNotSupported);
}

TEST_P(MethodCalls, AnyTextReachesThePlugInUnchanged) {
    const std::string texts[] = {"O'Brien & \"Sons\" <b>", "'; DROP TABLE DOCUMENT; --",
                                 "$(rm -rf /tmp/x) `id` | cat", std::string("nul\0byte", 8), "äöü €"};
    for (const std::string& text : texts) {
        Variant data = text;
        EXPECT_TRUE(utility_.CallMethod("KestrixTest.Receiver.Stamp", data));
        EXPECT_EQ(data.ToString(), "stamped: " + text);
    }
}

TEST_P(MethodCalls, CheckingAnAddressCreatesOnlyItsClassAndNeverRaises) {
    EXPECT_TRUE(utility_.CheckMethodCall("KestrixTest.Judge"));
    // The method part is not checked.
    EXPECT_TRUE(utility_.CheckMethodCall("KestrixTest.Judge.NoSuchMethod"));
    EXPECT_TRUE(utility_.CheckMethodCall("Kestrix.IMethodCall"));
    EXPECT_FALSE(utility_.CheckMethodCall("Acme.Missing.Go"));
    EXPECT_FALSE(utility_.CheckMethodCall(""));
    // A failed check is not reported.
    EXPECT_EQ(site_->LogText().find("Acme.Missing"), std::string::npos);
}

TEST_P(MethodCalls, TheLibrarysOwnInterfaceClassDoesNothingAndAnswersFalse) {
    auto plugin = std::dynamic_pointer_cast<IMethodCall>(CreateComponent("Kestrix.IMethodCall"));
    ASSERT_TRUE(plugin);
    Variant data = "<ORDER/>";
    EXPECT_FALSE(plugin->MethodCall(data));
    EXPECT_FALSE(plugin->GetExcelWorkBook(data));
    EXPECT_EQ(data.ToString(), "<ORDER/>");
    EXPECT_FALSE(utility_.CallMethod("Kestrix.IMethodCall", data));
}

TEST(MakeStringFromArray, JoinsTheElementsAndAnswersNothingForAValueThatIsNoArray) {
    test::TestSite site("sqlite");  // a failure is logged into the site's log
    Utility utility;
    EXPECT_EQ(utility.MakeStringFromArray(Array{Variant("a"), Variant(2), Variant("")}), "a, 2, ");
    EXPECT_EQ(utility.MakeStringFromArray(Array{}), "");
    EXPECT_EQ(utility.MakeStringFromArray(Variant("text")), "");
    EXPECT_NE(site.LogText().find("Kestrix.Utility.MakeStringFromArray"), std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(Backends, MethodCalls, ::testing::ValuesIn(test::Backends()));

}  // namespace
}  // namespace kestrix
