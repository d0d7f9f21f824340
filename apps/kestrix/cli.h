#pragma once

#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace kestrix::cli {

/// The words and options of one command line: positional words in order, "--name value"
/// options by name, and "--flag" switches.
class Args {
public:
    Args(int argc, char** argv, int first);

    const std::vector<std::string>& words() const { return words_; }
    std::string word(size_t i, const char* what) const;
    std::optional<std::string> option(const std::string& name) const;
    std::string option(const std::string& name, const std::string& fallback) const;
    bool flag(const std::string& name) const;
    /// Raises for options and switches that no command asked about.
    void finish() const;

private:
    std::vector<std::string> words_;
    std::map<std::string, std::string> options_;
    mutable std::map<std::string, bool> asked_;
};

/// A command: its usage line and what it does.
struct Command {
    std::string usage;
    std::string summary;
    std::function<int(Args&)> run;
};

/// Commands of the membership directory (partner, user, app).
void AddMembershipCommands(std::map<std::string, Command>& commands);

/// Commands of what a site exchanges (doctype, receive, sender, distribution, transform,
/// apply).
void AddSiteCommands(std::map<std::string, Command>& commands);

/// The command that runs documents through processing (process).
void AddProcessCommand(std::map<std::string, Command>& commands);

/// The command that shows and works off the outbox (outbox).
void AddOutboxCommand(std::map<std::string, Command>& commands);

}  // namespace kestrix::cli
