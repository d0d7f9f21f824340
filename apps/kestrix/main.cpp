// The command line of Kestrix: set up a site, administer it, run documents through it.
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <iostream>

#include "apps/kestrix/cli.h"
#include "kestrix/foundation/dbutils.h"
#include "kestrix/foundation/general.h"
#include "kestrix/foundation/site.h"
#include "kestrix/foundation/site_settings.h"
#include "platform/base/error.h"
#include "platform/base/process_heap.h"
#include "platform/base/strings.h"
#include "platform/services/configuration.h"

namespace kestrix::cli {

Args::Args(const std::vector<std::string>& tokens, const std::set<std::string>& switches) {
    bool wordsOnly = false;
    for (size_t i = 0; i < tokens.size(); ++i) {
        const std::string& a = tokens[i];
        if (wordsOnly || a.size() < 2 || a[0] != '-') {
            words_.push_back(a);
            continue;
        }
        if (a == "--") {
            wordsOnly = true;
            continue;
        }
        if (a[1] != '-') throw UsageError("unknown option " + a);
        std::string name = a.substr(2);
        if (size_t eq = name.find('='); eq != std::string::npos) {
            options_[name.substr(0, eq)] = name.substr(eq + 1);
        } else if (switches.count(name)) {
            options_[name] = std::nullopt;
        } else if (i + 1 < tokens.size()) {
            options_[name] = tokens[++i];
        } else {
            throw UsageError("option --" + name + " needs a value");
        }
    }
}

std::string Args::Word(size_t i, const char* what) const {
    if (i >= words_.size()) throw UsageError(std::string("missing ") + what);
    wordsUsed_ = std::max(wordsUsed_, i + 1);
    return words_[i];
}

std::optional<std::string> Args::OptionalWord(size_t i) const {
    if (i >= words_.size()) return std::nullopt;
    wordsUsed_ = std::max(wordsUsed_, i + 1);
    return words_[i];
}

std::vector<std::string> Args::Rest(size_t from) const {
    wordsUsed_ = std::max(wordsUsed_, words_.size());
    if (from >= words_.size()) return {};
    return {words_.begin() + static_cast<std::ptrdiff_t>(from), words_.end()};
}

std::optional<std::string> Args::Option(const std::string& name) const {
    asked_.insert(name);
    auto it = options_.find(name);
    if (it == options_.end()) return std::nullopt;
    if (!it->second) throw UsageError("option --" + name + " needs a value");
    return it->second;
}

std::string Args::Option(const std::string& name, const std::string& fallback) const {
    return Option(name).value_or(fallback);
}

int32_t Args::Number(const std::string& name, int32_t fallback) const {
    const std::optional<std::string> text = Option(name);
    if (!text) return fallback;
    const std::optional<int32_t> value = WholeNumber(*text);
    if (!value) throw UsageError("option --" + name + ": '" + Printable(*text) + "' is not a whole number");
    return *value;
}

bool Args::Flag(const std::string& name) const {
    asked_.insert(name);
    auto it = options_.find(name);
    if (it == options_.end()) return false;
    if (it->second) throw UsageError("option --" + name + " takes no value");
    return true;
}

void Args::Finish() const {
    for (const auto& [name, value] : options_)
        if (!asked_.count(name)) throw UsageError("unknown option --" + Printable(name));
    if (wordsUsed_ < words_.size()) throw UsageError("unexpected argument '" + Printable(words_[wordsUsed_]) + "'");
}

void UnknownVerb(const Args& args, const std::string& verb) {
    throw UsageError("unknown verb '" + args.command() + " " + Printable(verb) + "'");
}

namespace {

constexpr const char* kVersion = KESTRIX_VERSION;

void Usage(const Commands& commands, std::ostream& out) {
    out << "usage: kestrix [--site DIR] COMMAND ...\n"
           "       kestrix COMMAND --help | kestrix --help | kestrix --version\n\n"
           "The site is DIR, else $KESTRIX_HOME, else the current folder.\n"
           "Exit status: 0 done, 1 a document refused or a command failed, 2 wrong usage,\n"
           "3 the site or its database cannot be used.\n\n";
    for (const auto& [name, command] : commands)
        out << "  " << command.usage << "\n      " << command.summary << "\n";
}

void CommandUsage(const Command& command, std::ostream& out) {
    out << "usage: kestrix [--site DIR] " << command.usage << "\n\n  " << command.summary << "\n";
}

/// An error's text for the terminal: each line kept, control characters shown as escapes.
std::string ShownMessage(const std::string& text) {
    std::string out;
    for (const std::string& line : Split(ReplaceAll(Trim(text), "\r\n", "\n"), '\n'))
        out += (out.empty() ? "" : "\n  ") + Printable(line);
    return out;
}

/// Why the site's database cannot be used ("" when it can): it cannot be opened, or it has
/// no schema.
std::string DatabaseProblem() {
    try {
        db::Connection connection = GetConnection();
        connection.Query("SELECT COUNT(*) AS N FROM COLLABORATIONPARAMETER");
        return {};
    } catch (const Error& e) {
        return e.description();
    } catch (const std::exception& e) {
        return e.what();
    }
}

}  // namespace
}  // namespace kestrix::cli

int main(int argc, char** argv) {
    using namespace kestrix::cli;
    // Line by line, so that a run that is stopped has printed everything it finished.
    std::setvbuf(stdout, nullptr, _IOLBF, 0);

    kestrix::KeepFreedHeap();
    Commands commands;
    AddSiteSetupCommands(commands);
    AddMembershipCommands(commands);
    AddSiteCommands(commands);
    AddProcessCommand(commands);
    AddImportCommand(commands);
    AddDocumentCommand(commands);
    AddOutboxCommand(commands);
    AddDeliveryCommands(commands);
    AddServeCommand(commands);
    AddPublishCommands(commands);
    AddMailImportCommand(commands);

    // --site, --help and --version stand anywhere; the first other word is the command.
    std::vector<std::string> tokens;
    std::optional<std::string> site;
    bool help = false, version = false;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--") {
            for (++i; i < argc; ++i) tokens.emplace_back(argv[i]);
            break;
        }
        if (a == "--site" || a.rfind("--site=", 0) == 0) {
            if (a == "--site" && i + 1 >= argc) {
                std::cerr << "kestrix: option --site needs a folder\n";
                return exit_status::Usage;
            }
            site = a == "--site" ? argv[++i] : a.substr(7);
        } else if (a == "--help" || a == "-h") {
            help = true;
        } else if (a == "--version") {
            version = true;
        } else if (tokens.empty() && a.size() > 1 && a[0] == '-') {
            std::cerr << "kestrix: unknown option " << kestrix::Printable(a) << " (try 'kestrix --help')\n";
            return exit_status::Usage;
        } else {
            tokens.push_back(a);
        }
    }
    if (version) {
        std::cout << "kestrix " << kVersion << "\n";
        return exit_status::Done;
    }
    if (!tokens.empty() && tokens.front() == "help") {
        tokens.erase(tokens.begin());
        help = true;
        if (tokens.size() > 1) {
            std::cerr << "kestrix: help takes one command\n";
            return exit_status::Usage;
        }
    }
    if (tokens.empty()) {
        Usage(commands, help ? std::cout : std::cerr);
        return help ? exit_status::Done : exit_status::Usage;
    }
    auto it = commands.find(tokens.front());
    if (it == commands.end()) {
        std::cerr << "kestrix: unknown command '" << kestrix::Printable(tokens.front()) << "' (try 'kestrix --help')\n";
        return exit_status::Usage;
    }
    const std::string& name = it->first;
    const Command& command = it->second;
    if (help) {
        CommandUsage(command, std::cout);
        return exit_status::Done;
    }

    namespace fs = std::filesystem;
    std::error_code ec;
    if (site) {
        setenv("KESTRIX_HOME", fs::absolute(*site, ec).lexically_normal().c_str(), 1);
    } else if (!getenv("KESTRIX_HOME") || !*getenv("KESTRIX_HOME")) {
        setenv("KESTRIX_HOME", fs::current_path(ec).c_str(), 1);
    }
    // Every command but init works on an existing site, and touches nothing (not even a log
    // file) when there is none.
    if (name != "init") {
        std::string problem = kestrix::SiteProblem(getenv("KESTRIX_HOME"));
        if (problem.empty()) {
            if (std::string reason = DatabaseProblem(); !reason.empty())
                problem = "the database of the site " + std::string(getenv("KESTRIX_HOME")) +
                          " cannot be used: " + reason;
        }
        if (!problem.empty()) {
            std::cerr << "kestrix " << name << ": " << ShownMessage(problem)
                      << "\n  (make a site with 'kestrix init DIR', or name one with --site DIR)\n";
            return exit_status::Site;
        }
    }
    // The log of a command line run also goes to the terminal.
    setenv("KESTRIX_LOG_STDERR", "1", 0);
    // A site that asks for its log as JSON lines ("LogFormat" json) gets it from every command.
    // No site yet (init) or an unreadable configuration reads as unset: the command says so itself.
    if (kestrix::IEquals(kestrix::SiteSetting("GLOBAL", "LogFormat"), "json")) setenv("KESTRIX_LOG_FORMAT", "json", 0);

    try {
        Args args(tokens, command.switches);
        return command.run(args);
    } catch (const UsageError& e) {
        std::cerr << "kestrix " << name << ": " << e.what() << " (try 'kestrix " << name << " --help')\n";
        return exit_status::Usage;
    } catch (const kestrix::Error& e) {
        std::cerr << "kestrix " << name << ": error " << kestrix::HexNumber(e.number());
        if (!e.source().empty()) std::cerr << " in " << kestrix::Printable(e.source());
        std::cerr << ": " << ShownMessage(e.description()) << "\n";
        return exit_status::Failed;
    } catch (const std::exception& e) {
        std::cerr << "kestrix " << name << ": " << ShownMessage(e.what()) << "\n";
        return exit_status::Failed;
    }
}
