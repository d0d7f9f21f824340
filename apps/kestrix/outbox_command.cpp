// kestrix outbox: what is waiting to leave the system, and working it off by hand.
#include <iostream>

#include "apps/kestrix/cli.h"
#include "kestrix/delivery/outbox.h"
#include "platform/base/strings.h"

namespace kestrix::cli {

namespace {

int Outbox(Args& args) {
    const std::string verb = args.Word(1, "verb (list or retry)");
    const bool all = verb == "retry" && args.Flag("all");
    args.Finish();
    if (verb == "list") {
        const std::vector<outbox::Item> items = outbox::List();
        if (items.empty()) std::cout << "the outbox is empty\n";
        for (const outbox::Item& item : items) {
            std::cout << item.id << "  document " << item.docId << "  " << item.kind;
            if (!item.target.empty()) std::cout << " " << Printable(item.target);
            std::cout << "  attempts " << item.attempts;
            if (!item.nextAttempt.empty()) std::cout << "  next " << item.nextAttempt;
            std::cout << "\n";
            if (!item.lastError.empty())
                std::cout << "    last error: " << Printable(ReplaceAll(Trim(item.lastError), "\r\n", " / ")) << "\n";
        }
        return exit_status::Done;
    }
    if (verb == "retry") {
        const outbox::Outcome outcome = outbox::WorkOffDue(all);
        std::cout << outcome.done << " done, " << outcome.failed << " failed\n";
        return outcome.failed == 0 ? exit_status::Done : exit_status::Failed;
    }
    UnknownVerb(args, verb);
}

}  // namespace

void AddOutboxCommand(Commands& commands) {
    commands["outbox"] = {"outbox list | outbox retry [--all]",
                          "shows what waits to leave the system (mails, deliveries), and works off what is\n"
                          "      due (--all: everything, whatever its next attempt)",
                          {"all"}, Outbox};
}

}  // namespace kestrix::cli
