#include "platform/xml/xml_utility.h"

#include <optional>

#include "platform/base/strings.h"
#include "platform/xml/detail.h"
#include "platform/xml/stylesheet_cache.h"

namespace kestrix::xml {

namespace {

constexpr const char* kCrLf = "\r\n";

/// The description of a document that did not load: one line per detail.
std::string LoadFailureText(const ParseError& error, const std::string& source, bool fromSource) {
    std::string text;
    if (fromSource) text += "File/URL    : " + source + kCrLf;
    text += "Description : " + error.reason + kCrLf;
    text += "Line        : " + std::to_string(error.line) + kCrLf;
    text += "Column      : " + std::to_string(error.linepos) + kCrLf;
    text += "Unable to parse the XML document: It is not present, invalid or not well-formed";
    return text;
}

std::shared_ptr<XmlDocument> DocumentArgument(const Variant& value) {
    if (value.IsEmpty() || value.IsNull()) return nullptr;
    auto document = std::dynamic_pointer_cast<XmlDocument>(value.ToObject());
    if (!document)
        throw Error(kestrix::errnum::E_FAIL, "XML", "Not a valid Xml DOM document is given");
    return document;
}

}  // namespace

XmlUtility::XmlUtility(std::string sourcePrefix, XmlUtilityHooks hooks)
    : prefix_(std::move(sourcePrefix)), hooks_(hooks) {}

void XmlUtility::Report(std::string_view method) {
    if (hooks_.report) hooks_.report(prefix_ + std::string(method));
    throw;
}

LoadOptions XmlUtility::FetchOptions() const {
    return hooks_.loadOptions ? hooks_.loadOptions() : LoadOptions{};
}

std::shared_ptr<XmlDocument> XmlUtility::Load(const std::string& text, const std::string& source,
                                              bool styleSheet) {
    auto document = std::make_shared<XmlDocument>();
    const bool fromSource = Trim(text).empty();
    bool loaded = false;
    if (!fromSource) {
        loaded = document->LoadXml(text);
    } else if (IsHttpAddress(source)) {
        // An address ("http..." in any case) is fetched by the server itself.
        loaded = document->LoadUrl(source, FetchOptions());
    } else {
        std::string path = hooks_.mapPath ? hooks_.mapPath(source) : source;
        loaded = document->LoadFile(path);
    }
    if (!loaded) {
        const ParseError& error = document->parseError();
        throw Error(error.errorCode ? error.errorCode : kestrix::errnum::E_FAIL,
                    prefix_ + (styleSheet ? "LoadXslInDomDocument" : "LoadXmlInDomDocument"),
                    LoadFailureText(error, source, fromSource));
    }
    return document;
}

std::shared_ptr<XmlDocument> XmlUtility::XmlStringToDomDocument(const std::string& i_sXmlString) {
    try {
        return Load(i_sXmlString, {}, false);
    } catch (...) {
        Report("XmlStringToDomDocument");
    }
}

std::shared_ptr<XmlDocument> XmlUtility::XmlFileToDomDocument(const std::string& i_sXmlFileName) {
    try {
        return Load({}, i_sXmlFileName, false);
    } catch (...) {
        Report("XmlFileToDomDocument");
    }
}

std::shared_ptr<XmlDocument> XmlUtility::XslFileToDomDocument(const std::string& i_sXslFileName) {
    try {
        return Load({}, i_sXslFileName, true);
    } catch (...) {
        Report("XslFileToDomDocument");
    }
}

std::shared_ptr<XslStyleSheet> XmlUtility::CompiledStyleSheet(const std::string& xslFileOrUrl) {
    std::string path;
    std::optional<FileSignature> signature;
    if (!IsHttpAddress(xslFileOrUrl)) {
        path = hooks_.mapPath ? hooks_.mapPath(xslFileOrUrl) : xslFileOrUrl;
        // Taken before the file is read: a change while it is read shows at the next use.
        signature = SignatureOf(path);
        if (signature)
            if (std::shared_ptr<XslStyleSheet> kept = FindThreadStyleSheet(path, *signature))
                return kept;
    }
    std::shared_ptr<XmlDocument> sheetDocument = XslFileToDomDocument(xslFileOrUrl);
    // Includes of the sheet are fetched with the same time-out.
    const LoadOptions options = FetchOptions();
    detail::LoadOptionsScope includes(options);
    auto sheet = std::make_shared<XslStyleSheet>();
    if (!sheet->Compile(*sheetDocument)) {
        const ParseError& error = sheet->error();
        throw Error(error.errorCode ? error.errorCode : kestrix::errnum::E_FAIL,
                    prefix_ + "ApplyXslStyleSheetToXmlDomDocument",
                    "The XML Object couldn't parse XSL file '" + xslFileOrUrl + "'.");
    }
    if (signature) KeepThreadStyleSheet(path, *signature, sheet);
    return sheet;
}

std::string XmlUtility::ApplyXslStyleSheetToTree(const XmlDocument& document,
                                                 const std::string& xslFileOrUrl) {
    try {
        if (Trim(xslFileOrUrl).empty()) return document.Xml();
        std::shared_ptr<XslStyleSheet> sheet = CompiledStyleSheet(xslFileOrUrl);
        // document() calls of the sheet are fetched with the same time-out.
        const LoadOptions options = FetchOptions();
        detail::LoadOptionsScope includes(options);
        return sheet->Transform(document);
    } catch (...) {
        Report("ApplyXslStyleSheetToXmlDomDocument");
    }
}

std::string XmlUtility::ApplyXslStyleSheetToXmlDomDocument(std::shared_ptr<XmlDocument>& i_oXmlDom,
                                                           std::string& i_sXslFileOrUrl) {
    try {
        if (!i_oXmlDom) {
            throw Error(kestrix::errnum::E_FAIL, prefix_ + "ApplyXslStyleSheetToXmlDomDocument",
                        "Not a valid Xml DOM document is given");
        }
    } catch (...) {
        Report("ApplyXslStyleSheetToXmlDomDocument");
    }
    return ApplyXslStyleSheetToTree(*i_oXmlDom, i_sXslFileOrUrl);
}

std::string XmlUtility::ApplyXslStyleSheetToXmlString(const std::string& i_sXmlString,
                                                      const std::string& i_sXslFileOrUrl) {
    try {
        std::shared_ptr<XmlDocument> document = XmlStringToDomDocument(i_sXmlString);
        std::string sheet = i_sXslFileOrUrl;
        return ApplyXslStyleSheetToXmlDomDocument(document, sheet);
    } catch (...) {
        // This operation has always reported under this fixed source.
        if (hooks_.report) hooks_.report("METHODNAME");
        throw;
    }
}

Variant XmlUtility::Invoke(std::string_view method, std::span<Variant> args) {
    auto text = [&](size_t i) { return i < args.size() ? args[i].ToString() : std::string(); };
    if (IEquals(method, "XmlStringToDomDocument") && args.size() == 1)
        return Variant(ObjectPtr(XmlStringToDomDocument(text(0))));
    if (IEquals(method, "XmlFileToDomDocument") && args.size() == 1)
        return Variant(ObjectPtr(XmlFileToDomDocument(text(0))));
    if (IEquals(method, "XslFileToDomDocument") && args.size() == 1)
        return Variant(ObjectPtr(XslFileToDomDocument(text(0))));
    if (IEquals(method, "ApplyXslStyleSheetToXmlString") && args.size() == 2)
        return Variant(ApplyXslStyleSheetToXmlString(text(0), text(1)));
    if (IEquals(method, "ApplyXslStyleSheetToXmlDomDocument") && args.size() == 2) {
        std::shared_ptr<XmlDocument> document;
        try {
            document = DocumentArgument(args[0]);
        } catch (...) {
            Report("ApplyXslStyleSheetToXmlDomDocument");
        }
        std::string sheet = text(1);
        std::string result = ApplyXslStyleSheetToXmlDomDocument(document, sheet);
        args[1] = Variant(sheet);
        return Variant(std::move(result));
    }
    throw Error(kestrix::errnum::MethodNotSupported, prefix_ + std::string(method),
                "Object doesn't support this property or method");
}

}  // namespace kestrix::xml
