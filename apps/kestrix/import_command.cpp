// kestrix import: one pass over the import folders, for a scheduler such as cron; tells what
// became of each file.
#include <iostream>

#include "apps/kestrix/cli.h"
#include "kestrix/intake/document_import.h"
#include "platform/base/strings.h"

namespace kestrix::cli {

namespace {

const char* OutcomeText(ImportedFile::Outcome outcome) {
    switch (outcome) {
        case ImportedFile::Outcome::Imported: return "imported";
        case ImportedFile::Outcome::PartlyRefused: return "refused";
        case ImportedFile::Outcome::SetAside: return "set aside";
        case ImportedFile::Outcome::PutBack: return "waits";
        case ImportedFile::Outcome::LostClaim: return "taken over";
    }
    return "?";
}

int Import(Args& args) {
    args.Finish();
    bool failed = false;
    DocumentImport import;
    import.SetFileReport([&](const ImportedFile& file) {
        std::cout << Printable(file.path) << ": " << OutcomeText(file.outcome) << " (" << file.stored << " stored, "
                  << file.refused << " refused)";
        if (!file.message.empty())
            std::cout << "\n  " << Printable(ReplaceAll(Trim(file.message), "\r\n", " / "));
        std::cout << "\n";
        if (file.outcome != ImportedFile::Outcome::Imported && file.outcome != ImportedFile::Outcome::LostClaim)
            failed = true;
    });
    import.Run();
    const ImportTally tally = import.LastTally();
    std::cout << tally.filesTaken << " files taken, " << tally.documentsStored << " documents stored, "
              << tally.documentsRefused << " refused, " << tally.filesPutBack << " files wait for a later run\n";
    return failed || tally.filesPutBack > 0 ? exit_status::Failed : exit_status::Done;
}

}  // namespace

void AddImportCommand(Commands& commands) {
    commands["import"] = {"import",
                          "one pass over the import folders (XMLPath1, XMLPath2): each file's documents are\n"
                          "      processed, refused ones kept in the error folder; exit status 1 when a file failed",
                          {}, Import};
}

}  // namespace kestrix::cli
