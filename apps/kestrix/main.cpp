// The command line of Kestrix: set up a site, administer it, run documents through it.
#include <cstdlib>
#include <filesystem>
#include <iostream>

#include "apps/kestrix/cli.h"
#include "kestrix/foundation/dbutils.h"
#include "kestrix/foundation/general.h"
#include "kestrix/foundation/site.h"
#include "platform/base/error.h"
#include "platform/base/process_heap.h"
#include "platform/base/strings.h"

namespace kestrix::cli {

Args::Args(int argc, char** argv, int first) {
    for (int i = first; i < argc; ++i) {
        std::string a = argv[i];
        if (a.rfind("--", 0) == 0 && a.size() > 2) {
            std::string name = a.substr(2);
            size_t eq = name.find('=');
            if (eq != std::string::npos) {
                options_[name.substr(0, eq)] = name.substr(eq + 1);
            } else if (i + 1 < argc && std::string(argv[i + 1]).rfind("--", 0) != 0) {
                options_[name] = argv[++i];
            } else {
                options_[name] = "\x01";  // a switch
            }
        } else {
            words_.push_back(a);
        }
    }
}

std::string Args::word(size_t i, const char* what) const {
    if (i >= words_.size()) throw std::runtime_error(std::string("missing ") + what);
    return words_[i];
}

std::optional<std::string> Args::option(const std::string& name) const {
    asked_[name] = true;
    auto it = options_.find(name);
    if (it == options_.end()) return std::nullopt;
    if (it->second == "\x01") throw std::runtime_error("option --" + name + " needs a value");
    return it->second;
}

std::string Args::option(const std::string& name, const std::string& fallback) const {
    return option(name).value_or(fallback);
}

bool Args::flag(const std::string& name) const {
    asked_[name] = true;
    auto it = options_.find(name);
    return it != options_.end() && it->second == "\x01";
}

void Args::finish() const {
    for (const auto& [name, value] : options_)
        if (!asked_.count(name)) throw std::runtime_error("unknown option --" + name);
}

namespace {

int Init(Args& args) {
    std::string folder = args.word(1, "site folder");
    SiteOptions options;
    options.database = args.option("database", "");
    args.finish();
    std::string connection = InitSite(folder, options);
    std::string shown = connection;
    if (size_t at = shown.find('@'); at != std::string::npos && shown.rfind("postgres", 0) == 0) {
        size_t scheme = shown.find("://");
        size_t colon = shown.find(':', scheme + 3);
        if (colon != std::string::npos && colon < at) shown.replace(colon + 1, at - colon - 1, "****");
    }
    std::cout << "Site ready in " << std::filesystem::absolute(folder).lexically_normal().string()
              << "\n  database: " << shown << "\n";
    return 0;
}

int Param(Args& args) {
    std::string verb = args.word(1, "param get|set|list");
    args.finish();
    db::Connection connection = GetConnection();
    if (verb == "list") {
        db::Recordset rs = connection.Query(
            "SELECT PARAMNAME, PARAMVALUE FROM COLLABORATIONPARAMETER ORDER BY PARAMNAME");
        for (; !rs.Eof(); rs.MoveNext())
            std::cout << rs.GetString("PARAMNAME") << " = " << rs.GetString("PARAMVALUE") << "\n";
        return 0;
    }
    std::string name = args.word(2, "parameter name");
    if (verb == "get") {
        std::cout << GetParameter(name) << "\n";
        return 0;
    }
    if (verb == "set") {
        std::string value = args.word(3, "parameter value");
        db::EditRow row;
        row.Set("PARAMVALUE", value);
        std::string where = "PARAMNAME = " + EncodeSqlText(name);
        if (connection.Update("COLLABORATIONPARAMETER", row, where) == 0) {
            row.Set("PARAMNAME", name);
            connection.Insert("COLLABORATIONPARAMETER", row);
        }
        std::cout << name << " = " << value << "\n";
        return 0;
    }
    throw std::runtime_error("unknown verb 'param " + verb + "'");
}

void Usage(const std::map<std::string, Command>& commands) {
    std::cout << "usage: kestrix [--site DIR] COMMAND ...\n\n"
                 "The site is DIR, else $KESTRIX_HOME, else the current folder.\n\n";
    for (const auto& [name, command] : commands)
        std::cout << "  " << command.usage << "\n      " << command.summary << "\n";
}

}  // namespace
}  // namespace kestrix::cli

int main(int argc, char** argv) {
    using namespace kestrix::cli;
    kestrix::KeepFreedHeap();
    std::map<std::string, Command> commands{
        {"init",
         {"init DIR [--database URL]",
          "create (or complete) a site: folders, configuration, schema, labels, parameters",
          Init}},
        {"param",
         {"param get NAME | param set NAME VALUE | param list",
          "read and write the server parameters", Param}},
    };
    AddMembershipCommands(commands);
    AddSiteCommands(commands);
    AddProcessCommand(commands);
    AddOutboxCommand(commands);

    int first = 1;
    if (argc > 2 && std::string(argv[1]) == "--site") {
        setenv("KESTRIX_HOME", std::filesystem::absolute(argv[2]).c_str(), 1);
        first = 3;
    }
    if (argc <= first || std::string(argv[first]) == "help" || std::string(argv[first]) == "--help") {
        Usage(commands);
        return argc <= first ? 2 : 0;
    }
    // The log of a command line run also goes to the terminal.
    setenv("KESTRIX_LOG_STDERR", "1", 0);
    if (!getenv("KESTRIX_HOME")) setenv("KESTRIX_HOME", std::filesystem::current_path().c_str(), 1);

    auto it = commands.find(argv[first]);
    if (it == commands.end()) {
        std::cerr << "kestrix: unknown command '" << argv[first] << "' (try 'kestrix help')\n";
        return 2;
    }
    try {
        Args args(argc, argv, first);
        return it->second.run(args);
    } catch (const kestrix::Error& e) {
        std::cerr << "kestrix " << it->first << ": error " << kestrix::HexNumber(e.number());
        if (!e.source().empty()) std::cerr << " in " << e.source();
        std::cerr << ": " << kestrix::Trim(e.description()) << "\n";
        return 1;
    } catch (const std::exception& e) {
        std::cerr << "kestrix " << it->first << ": " << e.what() << "\n";
        return 1;
    }
}
