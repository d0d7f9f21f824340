#pragma once

#include <memory>
#include <span>
#include <string>
#include <string_view>

#include "platform/base/object.h"
#include "platform/base/variant.h"
#include "platform/xml/xml.h"

namespace kestrix::xml {

/// What a library that offers the XML helpers plugs into them.
struct XmlUtilityHooks {
    /// Reports the error being handled under `source` (a full source such as
    /// "QelFile.XML.XmlFileToDomDocument") and raises it again. Called only from a catch
    /// block; when it returns, the error is raised on unchanged.
    void (*report)(std::string_view source) = nullptr;
    /// Turns a file name as the caller gave it into a local path (a network path under the
    /// site's root of shares, "\" separators); addresses are never passed to it. Null keeps
    /// names as they are.
    std::string (*mapPath)(std::string_view path) = nullptr;
    /// How documents and style sheets (with their includes) are fetched from addresses: the
    /// library's time-out, looked up at each fetch. Null keeps the defaults of `LoadOptions`.
    LoadOptions (*loadOptions)() = nullptr;
};

/// The XML helpers that both libraries publish as their class "XML": documents from text,
/// files and addresses with the parser's error details, and style sheets applied to them.
/// One implementation, told apart only by the prefix of its error sources ("QelFile.XML.",
/// "Kestrix.XML.") and by its hooks.
class XmlUtility : public Object {
  public:
    XmlUtility(std::string sourcePrefix, XmlUtilityHooks hooks);

    /// The text parsed into a new document. A parse failure raises the parser's error
    /// number with the file, the reason, the line and the column in the description.
    std::shared_ptr<XmlDocument> XmlStringToDomDocument(const std::string& i_sXmlString);
    /// A file or http(s) address loaded into a new document (failures as above).
    std::shared_ptr<XmlDocument> XmlFileToDomDocument(const std::string& i_sXmlFileName);
    /// A style sheet file or address loaded into a new document; a load failure is reported
    /// under "...LoadXslInDomDocument".
    std::shared_ptr<XmlDocument> XslFileToDomDocument(const std::string& i_sXslFileName);
    /// The text parsed and transformed by the style sheet; the output text.
    std::string ApplyXslStyleSheetToXmlString(const std::string& i_sXmlString,
                                              const std::string& i_sXslFileOrUrl);
    /// The document transformed by the style sheet at the path or address; a blank style
    /// sheet gives the document's own text. A null document is refused.
    std::string ApplyXslStyleSheetToXmlDomDocument(std::shared_ptr<XmlDocument>& i_oXmlDom,
                                                   std::string& i_sXslFileOrUrl);
    /// `ApplyXslStyleSheetToXmlDomDocument` on a document the caller owns, reported under the
    /// same name. The compiled sheet of a local file is kept by the thread until the file
    /// changes (see `FindThreadStyleSheet`).
    std::string ApplyXslStyleSheetToTree(const XmlDocument& document,
                                         const std::string& xslFileOrUrl);

    /// Late-bound calls of the five operations by name (arguments as `Variant`s; a document
    /// travels as an object).
    Variant Invoke(std::string_view method, std::span<Variant> args) override;

  private:
    std::shared_ptr<XmlDocument> Load(const std::string& text, const std::string& source,
                                      bool styleSheet);
    [[noreturn]] void Report(std::string_view method);
    LoadOptions FetchOptions() const;
    /// The compiled sheet at the path or address: the thread's kept one while its file is
    /// unchanged, else read and compiled (and kept when it is a local file).
    std::shared_ptr<XslStyleSheet> CompiledStyleSheet(const std::string& xslFileOrUrl);

    std::string prefix_;
    XmlUtilityHooks hooks_;
};

}  // namespace kestrix::xml
