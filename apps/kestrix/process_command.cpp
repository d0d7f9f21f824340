// kestrix process: runs document files through processing and tells what became of each.
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <sstream>

#include "apps/kestrix/cli.h"
#include "apps/kestrix/document_view.h"
#include "kestrix/api/document.h"
#include "kestrix/foundation/dbutils.h"
#include "platform/base/error.h"
#include "platform/base/strings.h"
#include "platform/text/code_page.h"

namespace kestrix::cli {

namespace {

/// The decoded text of a document file. A file that is missing, unreadable or a folder
/// raises with the reason; an empty file is refused as not a document.
std::string ReadDocument(const std::string& path) {
    namespace fs = std::filesystem;
    const char* source = "kestrix process";
    std::error_code ec;
    if (fs::is_directory(path, ec))
        throw Error(errnum::E_FAIL, source, path + " is a folder, not a document file.");
    std::ifstream in(path, std::ios::binary);
    if (!in)
        throw Error(errnum::E_FAIL, source, "Cannot read " + path + ": " + std::strerror(errno));
    std::ostringstream bytes;
    bytes << in.rdbuf();
    if (in.bad())
        throw Error(errnum::E_FAIL, source, "Cannot read " + path + ": " + std::strerror(errno));
    std::string text = text::DecodeText(bytes.str());
    if (Trim(text).empty())
        throw Error(errnum::E_FAIL, source, path + " is empty: it is not a document.");
    return text;
}

/// How a run went, for its closing line.
struct Tally {
    int processed = 0;
    int refused = 0;
    int withOpenErrors = 0;
};

/// Runs one file through processing and prints what became of it; answers false when it was
/// refused.
bool ProcessFile(const std::string& file, bool interactive, const std::string& originalType,
                 const std::string& recipient, Tally& tally) {
    Document document;
    int32_t docId = 0, senderBp = 0;
    int16_t status = 0;
    std::string type, sender, defaultReceiver, originalTypeArg = originalType, recipientArg = recipient;
    document.SetOrigin(file);
    try {
        std::string body = ReadDocument(file);
        document.ProcessDocument(interactive ? -1 : 0, body, originalTypeArg, recipientArg, docId, senderBp, type,
                                 sender, defaultReceiver, status);
    } catch (...) {
        // Reported for this file; the run goes on with the others.
        ++tally.refused;
        const Error e = CurrentError();
        std::cout << "  refused:      " << Printable(ReplaceAll(Trim(e.description()), "\r\n", " / ")) << "\n";
        return false;
    }
    ++tally.processed;
    std::cout << "  document:     " << docId << "\n  type:         " << Printable(type)
              << "\n  sender:       " << Printable(sender) << " (business partner " << senderBp << ")\n";
    if (!defaultReceiver.empty()) std::cout << "  default to:   " << Printable(defaultReceiver) << "\n";
    db::Connection connection = GetConnection();
    const std::vector<PublicationView> publications = Publications(connection, docId);
    std::cout << "  recipients:   " << RecipientList(publications) << "\n";
    if (publications.empty()) std::cout << "  warning:      no recipient: the document went to nobody\n";
    const std::vector<PublicationErrorView> errors = PublicationErrors(connection, docId, true);
    for (const PublicationErrorView& error : errors) std::cout << "  " << ErrorLine(error) << "\n";
    if (!errors.empty()) ++tally.withOpenErrors;
    return true;
}

int Process(Args& args) {
    const bool interactive = args.Flag("interactive");
    const std::string originalType = args.Option("from-type", "");
    const std::string recipient = args.Option("recipient", "");
    const std::vector<std::string> files = args.Rest(1);
    args.Finish();
    if (files.empty()) throw UsageError("missing document file");

    // On a terminal a run of several files says how far it got: in the heading of each file
    // when the output is the terminal, else on one line of the error stream that the run
    // keeps overwriting.
    const bool several = files.size() > 1;
    const bool headingProgress = several && ::isatty(STDOUT_FILENO);
    const bool lineProgress = several && !headingProgress && ::isatty(STDERR_FILENO);
    const auto started = std::chrono::steady_clock::now();
    Tally tally;
    for (size_t i = 0; i < files.size(); ++i) {
        const std::string counter = "[" + std::to_string(i + 1) + "/" + std::to_string(files.size()) + "] ";
        if (lineProgress) std::cerr << "\r\x1b[K" << counter << Printable(files[i]) << std::flush;
        std::cout << (headingProgress ? counter : "") << Printable(files[i]) << "\n";
        ProcessFile(files[i], interactive, originalType, recipient, tally);
    }
    if (lineProgress) std::cerr << "\r\x1b[K" << std::flush;

    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    char rate[32];
    std::snprintf(rate, sizeof rate, "%.1f", seconds > 0 ? (tally.processed + tally.refused) / seconds : 0.0);
    std::cout << files.size() << (files.size() == 1 ? " file: " : " files: ") << tally.processed << " processed, "
              << tally.refused << " refused, " << tally.withOpenErrors << " with open publication errors; " << rate
              << " documents/s\n";
    return tally.refused == 0 ? exit_status::Done : exit_status::Failed;
}

}  // namespace

void AddProcessCommand(Commands& commands) {
    commands["process"] = {
        "process FILE... [--interactive] [--from-type TYPE] [--recipient USER]",
        "runs document files through processing (unattended unless --interactive) and shows the\n"
        "      document, type, sender, recipients and publication errors, or why it was refused;\n"
        "      a file that cannot be read is reported and the run goes on with the next",
        {"interactive"}, Process};
}

}  // namespace kestrix::cli
