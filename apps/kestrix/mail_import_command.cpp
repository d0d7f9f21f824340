// kestrix mail-import: one pass over the import mailbox, for cron-style use.
#include <iostream>

#include "apps/kestrix/cli.h"
#include "kestrix/intake/email_import.h"
#include "platform/base/strings.h"

namespace kestrix::cli {

namespace {

int MailImport(Args& args) {
    args.Finish();
    EMailImport job;
    job.Run();
    const EMailImport::Tally& tally = job.LastRun();
    for (const EMailImport::SavedAttachment& saved : tally.saved)
        std::cout << "saved " << Printable(saved.path) << "  (" << Printable(saved.attachment) << " of message "
                  << Printable(saved.message) << (saved.sender.empty() ? "" : " from " + Printable(saved.sender))
                  << ")\n";
    if (!tally.mailboxRead) {
        std::cerr << "kestrix: the mailbox could not be read (see the site's log)\n";
        return exit_status::Failed;
    }
    std::cout << tally.messagesSeen << " messages, " << tally.attachmentsSaved << " attachments saved, "
              << tally.messagesDeleted << " messages deleted, " << tally.failures << " failures\n";
    return tally.failures == 0 ? exit_status::Done : exit_status::Failed;
}

}  // namespace

void AddMailImportCommand(Commands& commands) {
    commands["mail-import"] = {"mail-import",
                               "saves the XML and workbook attachments of the import mailbox into the import\n"
                               "      folder (XMLPath1) and deletes the messages whose attachments are all saved",
                               {}, MailImport};
}

}  // namespace kestrix::cli
