// The sender, type and default receiver a document names in its routing tags, and
// the small look-ups and conversions around publications.
#include <optional>
#include <array>
#include <cctype>
#include <string>
#include <string_view>

#include "kestrix/documents/xsl_patterns.h"
#include "kestrix/documents/obi.h"
#include "kestrix/foundation/dbutils.h"
#include "kestrix/foundation/error_reporting.h"
#include "kestrix/foundation/general.h"
#include "kestrix/foundation/i18n.h"
#include "kestrix/foundation/site_cache.h"
#include "kestrix/foundation/users.h"
#include "kestrix/rules/routing.h"
#include "kestrix/rules/rules.h"
#include "platform/base/strings.h"
#include "platform/membership/business_partner.h"

namespace kestrix {

namespace {

// Bodies larger than this are not kept after their look-ups.
constexpr size_t kKeptTextLimit = 1 << 20;

// The last text this thread parsed for its routing tags, with its tree. Sender, type and
// default receiver are looked up one after the other in the same body; the tree is lent to
// each look-up in turn instead of being parsed again.
struct KeptRoutedText {
    std::string text;
    xml::XmlDocument dom;  // empty while lent out
};

KeptRoutedText& ThreadKeptRoutedText() {
    thread_local KeptRoutedText kept;
    return kept;
}

// The text parsed, for one look-up: the thread's kept tree when it is of the same text,
// else a new one, which is kept afterwards. A nested look-up of the same text meanwhile
// parses its own. A text the parser refuses raises the parser's number, with the offending
// source line as source and the parser's reason as description.
class RoutedText {
public:
    explicit RoutedText(const std::string& text) : text_(text) {
        KeptRoutedText& kept = ThreadKeptRoutedText();
        if (!kept.dom.IsEmpty() && kept.text == text) {
            dom_ = std::move(kept.dom);
            kept.dom = xml::XmlDocument();
            return;
        }
        if (!dom_.LoadXml(text)) {
            const xml::ParseError& failure = dom_.parseError();
            throw Error(failure.errorCode != 0 ? failure.errorCode : errnum::E_FAIL,
                        failure.srcText, failure.reason);
        }
    }
    ~RoutedText() {
        if (!keep_ || dom_.IsEmpty() || text_.size() > kKeptTextLimit) return;
        KeptRoutedText& kept = ThreadKeptRoutedText();
        try {
            kept.dom = xml::XmlDocument();
            kept.text = text_;
            kept.dom = std::move(dom_);
        } catch (...) {
            kept.dom = xml::XmlDocument();  // out of memory: keep nothing
        }
    }
    RoutedText(const RoutedText&) = delete;
    RoutedText& operator=(const RoutedText&) = delete;

    xml::XmlDocument& dom() { return dom_; }
    // The tree goes to code that may change it: it is not kept afterwards.
    xml::XmlDocument& domToChange() {
        keep_ = false;
        return dom_;
    }

private:
    const std::string& text_;
    xml::XmlDocument dom_;
    bool keep_ = true;
};

// The first user the directory finds for the criteria; false when there is none. The
// answer is kept by the thread while a site cache scope lives.
bool FindSender(const std::string& criteria, int32_t& bp, std::string& name) {
    const std::optional<std::string> found =
        CachedSiteValue(SiteCacheKind::Sender, criteria, [&]() -> std::optional<std::string> {
            std::string virtualId;
            db::Recordset users = users::GetAuoRSByCriteria(Variant(criteria), virtualId);
            if (users.Eof()) return std::nullopt;
            return std::to_string(users.GetInt("BusinessPartnerID")) + '\x1f' +
                   users.GetString("cn");
        });
    if (!found) return false;
    const size_t separator = found->find('\x1f');
    bp = static_cast<int32_t>(std::stol(found->substr(0, separator)));
    name = found->substr(separator + 1);
    return true;
}

// The sender of a parsed document (see routing::GetSenderBPAndName).
void SenderOfTree(xml::XmlDocument& dom, int32_t& oSenderBP,
                  std::string& oSenderName) {
    OBI obi;
    obi.GetObiDocumentInfo(dom, "", nullptr, nullptr, &oSenderName);
    if (oSenderName.empty()) oSenderName = xsl_patterns::ExecuteXSLPattern(dom, "//SENDER");

    if (!oSenderName.empty()) {
        FindSender("cn=" + oSenderName, oSenderBP, oSenderName);
    } else {
        const std::string contact = xsl_patterns::ExecuteXSLPattern(dom, "//CONTACT");
        if (contact.empty())
            Raise(EnumerationErrors::TagNotPresentError, "Kestrix.Utility.GetSenderBPAndName",
                  "The document names its sender neither in SENDER nor in CONTACT.");
        if (!FindSender("employeenumber=" + contact, oSenderBP, oSenderName))
            FindSender("cn=" + contact, oSenderBP, oSenderName);
    }
}

// The failure of a sender look-up raised on, with the label texts that explain it.
[[noreturn]] void RaiseSenderFailure(int32_t& oSenderBP, std::string& oSenderName) {
    oSenderBP = 0;
    oSenderName.clear();
    std::string info;
    try {
        info = TranslateLabel("SLBSH0004") + "\r\n" + TranslateLabel("SLBSH1903");
    } catch (...) {
        // Without the label texts the failure itself still travels up.
    }
    Reraise("Kestrix.Utility.GetSenderBPAndName", info);
}

// The type a parsed document names (see routing::GetDocType). The type rules may change the
// tree they read: `toChange` gives the tree they may have.
template <typename TreeToChange>
std::string TypeOfTree(xml::XmlDocument& dom, int32_t iBPID,
                       TreeToChange&& toChange) {
    OBI obi;
    std::string type;
    if (obi.GetObiDocumentInfo(dom, "", &type)) return type;

    type = xsl_patterns::ExecuteXSLPattern(dom, "//DOCTYPE-ID");
    if (!type.empty() && !routing::DocTypeFoundInTable(type)) type.clear();
    if (type.empty()) {
        Rules rules;
        int32_t noDocument = 0;
        int32_t partner = iBPID;
        type = rules.ExecuteDocumentTypeRuleSet(noDocument, partner, toChange());
        if (!type.empty() && !routing::DocTypeFoundInTable(type)) type.clear();
    }
    return type;
}

// The default receiver a parsed document names (see routing::GetDefaultReceiver).
std::string DefaultReceiverOfTree(const xml::XmlDocument& dom) {
    if (xsl_patterns::ExecuteXSLPattern(dom, "//REQUISITIONER").empty()) return {};
    return xsl_patterns::ExecuteXSLPattern(dom, "//RECEIVER");
}

// True for a text that reads as a number: optional blanks and sign, digits with at most
// one decimal point, an optional exponent.
bool IsNumericText(std::string_view text) {
    std::string t = Trim(text);
    size_t i = 0;
    if (i < t.size() && (t[i] == '+' || t[i] == '-')) ++i;
    size_t digits = 0;
    bool point = false;
    for (; i < t.size(); ++i) {
        if (std::isdigit(static_cast<unsigned char>(t[i])))
            ++digits;
        else if (t[i] == '.' && !point)
            point = true;
        else
            break;
    }
    if (digits == 0) return false;
    if (i < t.size() && (t[i] == 'e' || t[i] == 'E')) {
        ++i;
        if (i < t.size() && (t[i] == '+' || t[i] == '-')) ++i;
        size_t exponent = 0;
        while (i < t.size() && std::isdigit(static_cast<unsigned char>(t[i]))) ++i, ++exponent;
        if (exponent == 0) return false;
    }
    return i == t.size();
}

}  // namespace

void routing::GetSenderBPAndName(const std::string& iXMLStr, int32_t& oSenderBP,
                                 std::string& oSenderName) {
    try {
        oSenderBP = 0;
        RoutedText routed(iXMLStr);
        SenderOfTree(routed.dom(), oSenderBP, oSenderName);
    } catch (...) {
        RaiseSenderFailure(oSenderBP, oSenderName);
    }
}

void routing::GetSenderBPAndName(xml::XmlDocument& iDom, int32_t& oSenderBP,
                                 std::string& oSenderName) {
    try {
        oSenderBP = 0;
        SenderOfTree(iDom, oSenderBP, oSenderName);
    } catch (...) {
        RaiseSenderFailure(oSenderBP, oSenderName);
    }
}

bool routing::BPOfDocumentEqualsBPOfUser(const std::string& i_sUser, const std::string& i_sXml) {
    try {
        int32_t senderPartner = 0;
        std::string senderName;
        GetSenderBPAndName(i_sXml, senderPartner, senderName);
        std::string user = i_sUser;
        return senderPartner == users::GetAUBusinessPartnerID(user);
    } catch (...) {
        Reraise("Kestrix.Utility.BPOfDocumentEqualsBPOfUser");
    }
}

std::string routing::GetDocType(const std::string& iXMLStr, int32_t iBPID) {
    try {
        RoutedText routed(iXMLStr);
        return TypeOfTree(routed.dom(), iBPID,
                          [&]() -> xml::XmlDocument& { return routed.domToChange(); });
    } catch (...) {
        Reraise("Kestrix.Utility.GetDocType");
    }
}

std::string routing::GetDocType(xml::XmlDocument& iDom, int32_t iBPID) {
    try {
        // The caller's tree goes on to later steps unchanged: the rules get a copy.
        std::optional<xml::XmlDocument> copy;
        return TypeOfTree(iDom, iBPID,
                          [&]() -> xml::XmlDocument& { return copy.emplace(iDom.Clone()); });
    } catch (...) {
        Reraise("Kestrix.Utility.GetDocType");
    }
}

bool routing::DocTypeFoundInTable(const std::string& iDocTypeID) {
    try {
        return CachedSiteValue(
                   SiteCacheKind::DocumentType, iDocTypeID,
                   [&]() -> std::optional<std::string> {
                       db::Connection connection = GetConnection();
                       db::Recordset rs = connection.Query(
                           "SELECT DOCUMENTTYPEID FROM DOCUMENTTYPE WHERE DOCUMENTTYPEID = ?",
                           {Variant(iDocTypeID)});
                       if (rs.Eof()) return std::nullopt;
                       return std::string();
                   })
            .has_value();
    } catch (...) {
        Reraise("Kestrix.Utility.DocTypeFoundInTable");
    }
}

std::string routing::GetDefaultReceiver(const std::string& iXMLStr) {
    try {
        RoutedText routed(iXMLStr);
        return DefaultReceiverOfTree(routed.dom());
    } catch (...) {
        Reraise("Kestrix.Utility.GetDefaultReceiver");
    }
}

std::string routing::GetDefaultReceiver(const xml::XmlDocument& iDom) {
    try {
        return DefaultReceiverOfTree(iDom);
    } catch (...) {
        Reraise("Kestrix.Utility.GetDefaultReceiver");
    }
}

bool routing::CheckXslPattern(std::string& iXslPattern, TagAttrXsl iTagAttrXsl) {
    try {
        iXslPattern = Trim(iXslPattern);
        const std::string& p = iXslPattern;
        const bool numericStart = !p.empty() && std::isdigit(static_cast<unsigned char>(p[0]));
        switch (iTagAttrXsl) {
            case TagAttrXsl::TAGVALUE:
            case TagAttrXsl::ATTRVALUE: {
                static constexpr std::string_view kForbidden = " ?.,><'\";:|][}{=+)(*&^%$#@`~!\\/";
                if (p.find_first_of(kForbidden) != std::string::npos) return false;
                return !(IsNumericText(p) || numericStart);
            }
            case TagAttrXsl::XSLPATTERN:
                if (p.find(' ') != std::string::npos) return false;
                if (p == "//" || p == "\\\\" || p == "\\" || p == "/") return false;
                return !(IsNumericText(p) || numericStart);
        }
        return true;
    } catch (...) {
        Reraise("Kestrix.Utility.CheckXslPattern", "XSL pattern checked: " + iXslPattern);
    }
}

int32_t routing::GetPublicationStatus(int32_t& iDocID, const std::string& iRecipientID) {
    try {
        db::Connection connection = GetConnection();
        db::Recordset rs =
            connection.Query("SELECT STATUS FROM PUBLICATION WHERE DOCUMENTID = ? AND USERID = ?",
                             {Variant(iDocID), Variant(iRecipientID)});
        if (rs.Eof() || rs.IsNull("STATUS")) return -1;
        return static_cast<int32_t>(rs.GetInt("STATUS"));
    } catch (...) {
        Reraise("Kestrix.Utility.GetPublicationStatus");
    }
}

int32_t routing::GetForwardFlag(int32_t& iDocID, const std::string& iRecipientID) {
    try {
        db::Connection connection = GetConnection();
        db::Recordset rs =
            connection.Query("SELECT FORWARD FROM PUBLICATION WHERE DOCUMENTID = ? AND USERID = ?",
                             {Variant(iDocID), Variant(iRecipientID)});
        if (rs.Eof() || rs.IsNull("FORWARD")) return -1;
        return static_cast<int32_t>(rs.GetInt("FORWARD"));
    } catch (...) {
        Reraise("Kestrix.Utility.GetForwardFlag");
    }
}

PUBLICATIONSTATUS routing::ConvertPublicationStatusFromStringToEnum(const std::string& iStatus) {
    try {
        struct Spelling {
            std::string_view text;
            PUBLICATIONSTATUS status;
        };
        using enum PUBLICATIONSTATUS;
        static constexpr std::array<Spelling, 29> kSpellings{{
            {"New", PUBLICATIONNEW},
            {"new", PUBLICATIONNEW},
            {"NEW", PUBLICATIONNEW},
            {"Accepted", PUBLICATIONACC},
            {"accepted", PUBLICATIONACC},
            {"ACCEPTED", PUBLICATIONACC},
            {"Accept", PUBLICATIONACC},
            {"accept", PUBLICATIONACC},
            {"ACCEPT", PUBLICATIONACC},
            {"Rejected", PUBLICATIONREJECTED},
            {"rejected", PUBLICATIONREJECTED},
            {"REJECTED", PUBLICATIONREJECTED},
            {"Reject", PUBLICATIONREJECTED},
            {"reject", PUBLICATIONREJECTED},
            {"REJECT", PUBLICATIONREJECTED},
            {"Viewed", PUBLICATIONVIEWED},
            {"viewed", PUBLICATIONVIEWED},
            {"VIEWED", PUBLICATIONVIEWED},
            {"View", PUBLICATIONVIEWED},
            {"view", PUBLICATIONVIEWED},
            {"VIEW", PUBLICATIONVIEWED},
            {"DownLoaded", PUBLICATIONDOWNLOADED},
            {"DownLoad", PUBLICATIONDOWNLOADED},
            {"downloaded", PUBLICATIONDOWNLOADED},
            {"download", PUBLICATIONDOWNLOADED},
            {"DOWNLOADED", PUBLICATIONDOWNLOADED},
            {"DOWNLOAD", PUBLICATIONDOWNLOADED},
            {"Downloaded", PUBLICATIONDOWNLOADED},
            {"Download", PUBLICATIONDOWNLOADED},
        }};
        for (const Spelling& s : kSpellings)
            if (s.text == iStatus) return s.status;
        return PUBLICATIONUNKNOWNSTATUS;
    } catch (...) {
        Reraise("Kestrix.Utility.ConvertPublicationStatusFromStringToEnum");
    }
}

std::string routing::GetBusinessPartnerName(int32_t i_lBPID) {
    try {
        auto partners = CreateAs<membership::BusinessPartner>("Brenlow.BusinessPartner");
        partners->SetConfigFile(getSiteConfigFile());
        return partners->PartnerName(i_lBPID);
    } catch (...) {
        // An unknown partner, or a directory that cannot be reached, shows as no name.
        try {
            LogError("Kestrix.Utility.GetBusinessPartnerName",
                     "BusinessPartnerID: '" + std::to_string(i_lBPID) + "'");
        } catch (...) {
            // A log that cannot be written does not turn the empty name into a failure.
        }
        return {};
    }
}

std::string routing::ConvertArrayToList(const Variant& iArray) {
    try {
        if (!iArray.IsArray()) return {};
        std::string list;
        const Array& elements = iArray.ToArray();
        for (size_t i = 0; i < elements.size(); ++i) {
            if (i > 0) list += ", ";
            list += elements[i].IsNull() ? std::string() : elements[i].ToString();
        }
        return list;
    } catch (...) {
        Reraise("Kestrix.Utility.ConvertArrayToList");
    }
}

}  // namespace kestrix
