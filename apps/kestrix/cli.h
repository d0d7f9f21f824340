#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

namespace kestrix::cli {

/// The exit statuses of the program.
namespace exit_status {
inline constexpr int Done = 0;
/// At least one document was refused or failed, or the command could not do its work.
inline constexpr int Failed = 1;
/// The command line was wrong: unknown command, option or verb, a missing or extra argument,
/// a value that does not parse.
inline constexpr int Usage = 2;
/// The site or its database cannot be used.
inline constexpr int Site = 3;
}  // namespace exit_status

/// A command line used wrongly (exit status 2).
class UsageError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

/// The words and options of one command: positional words in order (the command's name is
/// word 0), "--name value" or "--name=value" options by name, and "--flag" switches, which
/// the command declares. Every word and option must be asked for: `Finish` refuses the rest.
class Args {
public:
    /// `tokens`: the command's name, then what follows it. `switches`: the command's options
    /// that take no value. Raises UsageError for an option that needs a value and has none.
    Args(const std::vector<std::string>& tokens, const std::set<std::string>& switches);

    const std::string& command() const { return words_.front(); }
    /// Word `i`; UsageError "missing WHAT" when there is none.
    std::string Word(size_t i, const char* what) const;
    /// Word `i`, or nothing.
    std::optional<std::string> OptionalWord(size_t i) const;
    /// The words from `from` on.
    std::vector<std::string> Rest(size_t from) const;
    std::optional<std::string> Option(const std::string& name) const;
    std::string Option(const std::string& name, const std::string& fallback) const;
    /// An option that holds a whole number; UsageError naming the option and the value when
    /// it does not parse.
    int32_t Number(const std::string& name, int32_t fallback) const;
    bool Flag(const std::string& name) const;
    /// Raises UsageError for options nobody asked about and for words beyond those asked for.
    void Finish() const;

private:
    std::vector<std::string> words_;
    std::map<std::string, std::optional<std::string>> options_;
    mutable std::set<std::string> asked_;
    mutable size_t wordsUsed_ = 1;
};

/// A command: its usage, what it does, the options that take no value, and its work, which
/// answers the exit status.
struct Command {
    std::string usage;
    std::string summary;
    std::set<std::string> switches;
    std::function<int(Args&)> run;
};

using Commands = std::map<std::string, Command>;

/// Raises UsageError for a verb that the command does not know.
[[noreturn]] void UnknownVerb(const Args& args, const std::string& verb);

/// Commands of the site itself (init, param).
void AddSiteSetupCommands(Commands& commands);

/// Commands of the membership directory (partner, user, app).
void AddMembershipCommands(Commands& commands);

/// Commands of what a site exchanges (doctype, receive, sender, distribution, transform,
/// apply).
void AddSiteCommands(Commands& commands);

/// The command that runs documents through processing (process).
void AddProcessCommand(Commands& commands);

/// The command that imports the files of the import folders once (import).
void AddImportCommand(Commands& commands);

/// The command that tells what became of documents (doc).
void AddDocumentCommand(Commands& commands);

/// The command that shows and works off the outbox (outbox).
void AddOutboxCommand(Commands& commands);

/// The commands of the publishing roads (publish, forward).
void AddPublishCommands(Commands& commands);

/// The command that saves the attachments of the import mailbox (mail-import).
void AddMailImportCommand(Commands& commands);

/// The commands of deliveries (sendmethod, push, repush, history).
void AddDeliveryCommands(Commands& commands);

/// The long-running service of a site (serve).
void AddServeCommand(Commands& commands);

/// A business partner given by identifier or by name; an error naming it when there is none.
int32_t PartnerId(const std::string& given);

}  // namespace kestrix::cli
