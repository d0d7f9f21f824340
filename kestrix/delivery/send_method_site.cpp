#include "kestrix/delivery/send_method_site.h"

#include <charconv>

#include "kestrix/delivery/send_method.h"
#include "kestrix/foundation/enums.h"
#include "kestrix/foundation/error_reporting.h"
#include "platform/base/strings.h"

namespace kestrix {

namespace {

constexpr const char* kSource = "Kestrix.SiteAdministration.ApplySiteFile";

std::string Attribute(const xml::XmlNode& e, std::string_view name) { return e.Attribute(name).value_or(""); }

/// "<sendmethod partner="..." doctype="...">", to name the element in a message.
std::string Shown(const xml::XmlNode& e) {
    return "<sendmethod partner=\"" + Attribute(e, "partner") + "\" doctype=\"" + Attribute(e, "doctype") + "\">";
}

[[noreturn]] void Refuse(const xml::XmlNode& e, const std::string& what) {
    Raise(EnumerationErrors::MissingInput, kSource, Shown(e) + ": " + what);
}

int32_t Number(const xml::XmlNode& e, std::string_view name, int32_t fallback) {
    const std::string text = Trim(Attribute(e, name));
    if (text.empty()) return fallback;
    int32_t value = 0;
    const char* end = text.data() + text.size();
    if (auto [stop, ec] = std::from_chars(text.data(), end, value); ec == std::errc() && stop == end) return value;
    Refuse(e, std::string(name) + " '" + text + "' is not a number.");
}

int32_t Word(const xml::XmlNode& e, std::string_view attribute, std::string_view field, int32_t fallback) {
    const std::string text = Trim(Attribute(e, attribute));
    if (text.empty()) return fallback;
    if (auto value = send_method_words::Value(field, text)) return *value;
    Refuse(e, std::string(attribute) + " '" + text + "' is none of " + send_method_words::Words(field) + ".");
}

/// The send method the element describes, with the fields its protocol does not use blanked.
TSendMethodProperties Wanted(const xml::XmlNode& e) {
    TSendMethodProperties p = NewSendMethodProperties();
    p.nProtocol = SendMethod::SendMethodProtocol_IntegerToEnum(Word(e, "protocol", "protocol", 0));
    p.nFormat = SendMethod::SendMethodFormat_IntegerToEnum(Word(e, "format", "format", static_cast<int32_t>(p.nFormat)));
    p.nWriteMode = SendMethod::SendMethodWriteMode_IntegerToEnum(Word(e, "writemode", "writemode", 0));
    p.nSuffix = SendMethod::SendMethodSuffix_IntegerToEnum(Word(e, "suffix", "suffix", static_cast<int32_t>(p.nSuffix)));
    p.nFileFormat = SendMethod::SendMethodFileFormat_IntegerToEnum(
        Word(e, "fileformat", "fileformat", static_cast<int32_t>(p.nFileFormat)));
    p.nFTPTransferType = SendMethod::SendMethodFTPTransferType_IntegerToEnum(
        Word(e, "transfertype", "transfertype", static_cast<int32_t>(p.nFTPTransferType)));
    p.sAddress = Attribute(e, "address");
    p.sUser = Attribute(e, "user");
    p.sPassword = Attribute(e, "password");
    p.sProxy = Attribute(e, "proxy");
    if (e.Attribute("filename")) p.sFileName = Attribute(e, "filename");
    if (e.Attribute("extension")) p.sFileExtension = Attribute(e, "extension");
    p.sExcelTemplate = Attribute(e, "template");
    p.sXslFileName = Attribute(e, "xsl");
    p.lPort = Number(e, "port", p.lPort);
    p.lProxyPort = Number(e, "proxyport", p.lProxyPort);
    p.bAutoPush = Number(e, "autopush", 1) != 0;
    SendMethod::ClearSendMethodFieldsByProtocol(p);
    return p;
}

/// Whether two send methods deliver alike (the run-time fields do not count). Text is
/// compared trimmed, as it reads back from the database.
bool Same(const TSendMethodProperties& a, const TSendMethodProperties& b) {
    auto t = [](const std::string& s) { return Trim(s); };
    return a.bAutoPush == b.bAutoPush && t(a.sXslFileName) == t(b.sXslFileName) && t(a.sUser) == t(b.sUser) &&
           t(a.sPassword) == t(b.sPassword) && a.nFormat == b.nFormat && t(a.sProxy) == t(b.sProxy) &&
           a.lProxyPort == b.lProxyPort && a.lPort == b.lPort && a.nProtocol == b.nProtocol &&
           a.nWriteMode == b.nWriteMode && t(a.sExcelTemplate) == t(b.sExcelTemplate) &&
           t(a.sAddress) == t(b.sAddress) && t(a.sFileName) == t(b.sFileName) &&
           t(a.sFileExtension) == t(b.sFileExtension) && a.nSuffix == b.nSuffix && a.nFileFormat == b.nFileFormat &&
           a.nFTPTransferType == b.nFTPTransferType;
}

}  // namespace

SiteFileElement SendMethodSiteElement() {
    SiteFileElement element;
    element.name = "sendmethod";
    element.required = {"partner", "doctype", "protocol"};
    element.optional = {"address", "format", "user", "password", "port", "proxy", "proxyport", "filename",
                        "suffix", "extension", "fileformat", "writemode", "template", "transfertype",
                        "xsl", "autopush", "rule"};
    element.check = [](const xml::XmlNode& e, const SiteFileNames& known) {
        if (!known.partners.count(Attribute(e, "partner")))
            Raise(EnumerationErrors::MissingBusinessPartnerID, kSource,
                  Shown(e) + ": there is no business partner '" + Attribute(e, "partner") + "'.");
        if (!known.types.count(Attribute(e, "doctype")))
            Raise(EnumerationErrors::MissingDocumentTypeID, kSource,
                  Shown(e) + ": there is no document type '" + Attribute(e, "doctype") + "'.");
        Wanted(e);  // every word and number of the element is checked here
        Number(e, "rule", -1);
    };
    element.apply = [](const xml::XmlNode& e, SiteAdministration& site) -> std::pair<std::string, Change> {
        TSendMethodProperties wanted = Wanted(e);
        int32_t partner = site.PartnerByName(Attribute(e, "partner"));
        std::string type = Attribute(e, "doctype");
        int32_t rule = Number(e, "rule", -1);
        const std::string what = "send method of " + Attribute(e, "partner") + " for " + type + " (" +
                                 send_method_words::Word("protocol", static_cast<int32_t>(wanted.nProtocol)) + " " +
                                 Trim(wanted.sAddress) + ")";
        SendMethod methods;
        for (db::Recordset rs = methods.GetSendMethodIDs(partner, type, rule); !rs.Eof(); rs.MoveNext()) {
            const int32_t id = static_cast<int32_t>(rs.GetInt("SENDMETHODID", -1));
            if (id <= 0) continue;
            TSendMethodProperties stored;
            methods.GetSendMethodProperties2(id, stored);
            if (stored.nProtocol != wanted.nProtocol || Trim(stored.sAddress) != Trim(wanted.sAddress)) continue;
            if (Same(stored, wanted)) return {what, Change::Unchanged};
            methods.UpdateSendMethodProperties2(id, wanted);
            return {what, Change::Changed};
        }
        int32_t id = methods.AddSendMethodProperties2(wanted);
        methods.AddSendMethod2(id, partner, type, rule);
        return {what, Change::Added};
    };
    return element;
}

}  // namespace kestrix
