// kestrix publish and kestrix forward: the publishing roads of the web pages, from the
// command line.
#include <filesystem>
#include <fstream>
#include <iostream>

#include "apps/kestrix/cli.h"
#include "kestrix/documents/attachments.h"
#include "kestrix/documents/qel_excel.h"
#include "kestrix/foundation/enums.h"
#include "kestrix/foundation/file_handling.h"
#include "kestrix/intake/publish_create_document.h"
#include "kestrix/intake/publish_forward_document.h"
#include "platform/base/error.h"
#include "platform/base/strings.h"

namespace kestrix::cli {

namespace {

namespace fs = std::filesystem;

enum class Kind { Xml, Workbook, Obi };

/// The first bytes of a file ("" when it cannot be read).
std::string Head(const std::string& path, size_t count) {
    std::ifstream in(path, std::ios::binary);
    std::string bytes(count, '\0');
    in.read(bytes.data(), static_cast<std::streamsize>(count));
    bytes.resize(static_cast<size_t>(in.gcount()));
    return bytes;
}

/// What a file holds: by its extension ("xml", a workbook's, "obi"), else by its first
/// bytes: markup is XML, a package or a legacy workbook is refused for want of a workbook
/// name, anything else is taken for an OBI object (which says itself when it is none).
Kind KindOf(const std::string& path) {
    const std::string ext = FileHandling().GetFileExtension(path);
    if (ext == "xml") return Kind::Xml;
    if (ext == "obi") return Kind::Obi;
    if (IsWorkbookDocumentName(path)) return Kind::Workbook;
    const std::string head = Trim(Head(path, 512));
    if (head.starts_with("<") || head.starts_with("\xEF\xBB\xBF<") || head.starts_with("\xFF\xFE") ||
        head.starts_with("\xFE\xFF"))
        return Kind::Xml;
    if (head.starts_with("PK\x03\x04") || head.starts_with("\xD0\xCF\x11\xE0"))
        throw Error(errnum::E_FAIL, "kestrix publish",
                    path + " looks like a workbook: name it .xls, .xlsx or .xlsm to publish it");
    return Kind::Obi;
}

/// Publishes one file and prints what became of it; false when it was refused.
bool PublishFile(const std::string& path, bool synchronous) {
    PublishCreateDocument publisher;
    try {
        std::error_code ec;
        if (fs::is_directory(path, ec))
            throw Error(errnum::E_FAIL, "kestrix publish", path + " is a folder, not a document file.");
        if (!fs::exists(path, ec))
            throw Error(errnum::E_FAIL, "kestrix publish", path + " does not exist.");
        int32_t docId = 0;
        switch (KindOf(path)) {
            case Kind::Workbook:
                docId = publisher.PublishExcelDocument(fs::absolute(path, ec).string(), Variant(), synchronous);
                break;
            case Kind::Obi:
                docId = publisher.PublishObiDocument(Trim(FileHandling().GetFileContentAsString(path)), synchronous);
                break;
            case Kind::Xml: {
                const std::string text = FileHandling().GetFileContentAsString(path);
                if (Trim(text).empty())
                    throw Error(errnum::E_FAIL, "kestrix publish", path + " is empty: it is not a document.");
                docId = publisher.PublishXmlDocument(text, Variant(), synchronous);
                break;
            }
        }
        if (synchronous)
            std::cout << Printable(path) << ": document " << docId << "\n";
        else
            std::cout << Printable(path) << ": queued " << Printable(publisher.LastQueuedFile()) << "\n";
        return true;
    } catch (...) {
        const Error e = CurrentError();
        std::cout << Printable(path) << ": refused: "
                  << Printable(ReplaceAll(Trim(e.description()), "\r\n", " / ")) << "\n";
        return false;
    }
}

int Publish(Args& args) {
    const bool async = args.Flag("async");
    const std::vector<std::string> files = args.Rest(1);
    args.Finish();
    if (files.empty()) throw UsageError("missing document file");
    int refused = 0;
    for (const std::string& file : files)
        if (!PublishFile(file, !async)) ++refused;
    return refused == 0 ? exit_status::Done : exit_status::Failed;
}

int Forward(Args& args) {
    const std::string given = args.Word(1, "document identifier");
    const std::optional<std::string> user = args.Option("user");
    const std::string type = args.Option("as", "");
    args.Finish();
    const std::optional<int32_t> number = WholeNumber(given);
    if (!number || *number <= 0) throw UsageError("'" + Printable(given) + "' is not a document identifier");
    const int32_t docId = *number;
    if (!user || Trim(*user).empty()) throw UsageError("missing --user LOGIN");

    // The attachments travel with the document when the site keeps attachments.
    std::string root;
    {
        Attachments attachments;
        Variant virtualPath, folder;
        if (attachments.AttachmentsMode(virtualPath, folder).ToLong() ==
            static_cast<int32_t>(EAttachmentMode::Supported))
            root = folder.ToString();
    }
    PublishForwardDocument forward;
    const int32_t newId = forward.Main2(docId, type, *user, root);
    std::cout << "document " << docId << " forwarded by " << Printable(*user) << " as document " << newId
              << "\n";
    return exit_status::Done;
}

}  // namespace

void AddPublishCommands(Commands& commands) {
    commands["publish"] = {
        "publish FILE... [--async]",
        "publishes XML documents, workbooks (.xls, .xlsx, .xlsm) and OBI objects and prints each\n"
        "      new document's identifier; with --async each is queued for the next folder import\n"
        "      and the queued file is printed; a refused file is reported and the run goes on",
        {"async"}, Publish};
    commands["forward"] = {
        "forward DOCID --user LOGIN [--as TYPE]",
        "forwards a received document in the name of one of its recipients, as TYPE when given,\n"
        "      with its attachments, and prints the new document's identifier",
        {}, Forward};
}

}  // namespace kestrix::cli
