// Style sheets applied to XML texts: through the library's own XML class, or through
// "QelFile.XML" for style sheets on network shares.
#include "kestrix/foundation/style_sheets.h"

#include <string_view>
#include <vector>

#include "kestrix/foundation/error_reporting.h"
#include "kestrix/foundation/general.h"
#include "kestrix/foundation/xml.h"
#include "platform/services/file_paths.h"

namespace kestrix {

namespace {

/// Calls an operation of "QelFile.XML", created for this one call: the class that reads
/// style sheets on network shares.
Variant CallQelFileXml(std::string_view method, std::vector<Variant> args) {
    ObjectPtr xml = CreateComponent("QelFile.XML");
    return xml->Invoke(method, args);
}

}  // namespace

std::string style_sheets::transformXMLStringToHTML(const std::string& iXmlString,
                                                   const std::string& iXSLURL) {
    try {
        if (services::IsNetworkPath(iXSLURL))
            return CallQelFileXml("ApplyXslStyleSheetToXmlString",
                                  {Variant(iXmlString), Variant(iXSLURL)})
                .ToString();
        XML xml;
        return xml.ApplyXslStyleSheetToXmlString(iXmlString, iXSLURL);
    } catch (...) {
        Reraise("Kestrix.Utility.transformXMLStringToHTML");
    }
}

std::string style_sheets::transformXMLToHTMLCommon(const xml::XmlDocument& iDoc,
                                                   const std::string& iXslFileName) {
    try {
        if (services::IsNetworkPath(iXslFileName))
            return transformXMLStringToHTML(iDoc.Xml(), iXslFileName);
        // A local sheet is applied to the tree itself, without writing it out and parsing
        // it again.
        XML xml;
        return xml.ApplyXslStyleSheetToTree(iDoc, iXslFileName);
    } catch (...) {
        Reraise("Kestrix.Utility.transformXMLToHTMLCommon");
    }
}

}  // namespace kestrix
