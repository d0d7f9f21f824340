#include "kestrix/foundation/site.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>

#include "kestrix/foundation/general.h"
#include "platform/base/error.h"
#include "platform/base/strings.h"
#include "platform/db/connection.h"
#include "platform/db/schema.h"
#include "platform/services/configuration.h"

namespace fs = std::filesystem;

namespace kestrix {

namespace {

std::string Slash(const fs::path& p) { return p.string() + "/"; }

std::string RandomCode() {
    std::random_device rd;
    static constexpr char kAlphabet[] = "abcdefghijkmnpqrstuvwxyzABCDEFGHJKLMNPQRSTUVWXYZ23456789";
    std::string code;
    for (int i = 0; i < 24; ++i) code += kAlphabet[rd() % (sizeof kAlphabet - 1)];
    return code;
}

// Reads one line of a label file: CODE <TAB> TEXT, with \n, \t and \\ escapes in TEXT.
bool ParseLabelLine(const std::string& line, std::string& code, std::string& text) {
    size_t tab = line.find('\t');
    if (tab == std::string::npos) return false;
    code = Trim(line.substr(0, tab));
    if (code.empty() || code[0] == '#') return false;
    text.clear();
    for (size_t i = tab + 1; i < line.size(); ++i) {
        char c = line[i];
        if (c == '\r' && i + 1 == line.size()) break;
        if (c == '\\' && i + 1 < line.size()) {
            char e = line[++i];
            text += e == 'n' ? '\n' : e == 't' ? '\t' : e == 'r' ? '\r' : e;
        } else {
            text += c;
        }
    }
    return true;
}

void WriteFileIfMissing(const fs::path& path, const std::string& content) {
    if (fs::exists(path)) return;
    fs::path temp = path;
    temp += ".tmp";
    {
        std::ofstream out(temp, std::ios::binary);
        out << content;
        if (!out) throw Error(errnum::E_FAIL, "Kestrix.Site", "Cannot write " + temp.string());
    }
    fs::rename(temp, path);
}

size_t LoadLabelsInto(db::Connection& connection, const std::string& labelsFolder) {
    size_t rows = 0;
    if (!fs::is_directory(labelsFolder)) return 0;
    for (const auto& entry : fs::directory_iterator(labelsFolder)) {
        const std::string stem = entry.path().stem().string();
        if (entry.path().extension() != ".tsv" || stem.empty() ||
            stem.find_first_not_of("0123456789") != std::string::npos)
            continue;
        const int32_t language = std::stoi(stem);
        connection.Execute("DELETE FROM I18NTEXT WHERE LOCALEID = " + db::Connection::EncodeNumber(language));
        std::ifstream in(entry.path(), std::ios::binary);
        std::string line, code, text;
        while (std::getline(in, line)) {
            if (!ParseLabelLine(line, code, text)) continue;
            connection.Execute("INSERT INTO I18NTEXT (LABEL, LOCALEID, TEXT) VALUES (" +
                               connection.EncodeText(code) + ", " +
                               db::Connection::EncodeNumber(language) + ", " +
                               connection.EncodeText(text) + ")");
            ++rows;
        }
    }
    return rows;
}

std::string ServerConfiguration() {
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
           "<Configuration>\n"
           "  <Section name=\"GLOBAL\">\n"
           "    <Key name=\"ReceiveUrl\">http://localhost:8080/kestrix/receive</Key>\n"
           "  </Section>\n"
           "  <Applications/>\n"
           "</Configuration>\n";
}

std::string SiteConfiguration(const fs::path& site) {
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
           "<Configuration>\n"
           "  <Section name=\"GLOBAL\">\n"
           "    <Key name=\"IISVirtId\">1</Key>\n"
           "    <Key name=\"NONSECUREHOSTNAME\">localhost</Key>\n"
           "    <Key name=\"APPLICATIONDIRECTORY\">" + site.string() + "</Key>\n"
           "    <Key name=\"UncRoot\">" + (site / "unc").string() + "</Key>\n"
           "  </Section>\n"
           "  <Section name=\"MEMBERSHIP\">\n"
           "    <Key name=\"MemScriptUser\">kestrix-service</Key>\n"
           "    <Key name=\"MemScriptCode\">" + RandomCode() + "</Key>\n"
           "    <Key name=\"LDAPRoot\"></Key>\n"
           "  </Section>\n"
           "  <Section name=\"MAIL\">\n"
           "    <Key name=\"Mode\">pickup</Key>\n"
           "    <Key name=\"PickupFolder\">" + (site / "out" / "mail").string() + "</Key>\n"
           "    <Key name=\"SmtpHost\"></Key>\n"
           "    <Key name=\"SmtpPort\">25</Key>\n"
           "  </Section>\n"
           "</Configuration>\n";
}

}  // namespace

std::string DataFolder() {
    if (const char* env = std::getenv("KESTRIX_DATA"); env && *env) return env;
    return KESTRIX_DATA_DIR;
}

std::vector<std::pair<std::string, std::string>> DefaultParameters(const std::string& folder) {
    fs::path site = fs::absolute(folder).lexically_normal();
    return {
        {"AdminEmailAddress", "kestrix-admin@localhost"},
        {"AttachmentsFolder", (site / "attachments").string()},
        {"AttachmentsVirtualPath", "attachments"},
        {"EDIDelimiter", "~"},
        {"EnableAttachments", "YES"},
        {"ErrorPath", (site / "error").string()},
        {"ExcelTempFolder", (site / "temp" / "excel").string()},
        {"ExcelTemplatesPath", (site / "templates").string()},
        {"FaxServer", "fax.localhost"},
        {"HTMLXSLPath", (site / "xsl" / "html").string()},
        {"MaxDocumentSize", "104857600"},
        {"ObiPath", (site / "import" / "obi").string()},
        {"SiteLink", "http://localhost:8080/"},
        {"SiteLinkStartingPoint", "kestrix/document.asp"},
        {"TempFolder", (site / "temp").string()},
        {"TransformXSLPath", (site / "xsl").string()},
        {"XMLErrorPath", (site / "error").string()},
        {"XMLPath1", Slash(site / "import" / "in")},
        {"XMLPath2", Slash(site / "import" / "queue")},
        {"XmlUploadTempDir", (site / "upload").string()},
    };
}

size_t LoadLabels(const std::string& connectionString, const std::string& labelsFolder) {
    db::Connection connection(connectionString);
    connection.Execute("BEGIN");
    try {
        size_t rows = LoadLabelsInto(connection, labelsFolder);
        connection.Execute("COMMIT");
        return rows;
    } catch (...) {
        connection.Execute("ROLLBACK");
        throw;
    }
}

std::string InitSite(const std::string& folder, const SiteOptions& options) {
    const fs::path site = fs::absolute(folder).lexically_normal();
    for (const char* sub : {"config", "var", "var/log", "import/in", "import/queue", "import/obi",
                            "error", "upload", "attachments", "xsl/html", "templates", "temp/excel",
                            "out/mail", "unc"})
        fs::create_directories(site / sub);

    const fs::path serverConfig = site / "config" / "QelServerConfiguration.xml";
    std::string connectionString = options.database;
    if (connectionString.empty() && fs::exists(serverConfig)) {
        services::Configuration existing;
        existing.LoadFile(serverConfig.string());
        try {
            connectionString = existing.ConnectionString("Kestrix");
        } catch (const Error&) {
        }
    }
    if (connectionString.empty()) connectionString = "sqlite:" + (site / "var" / "kestrix.db").string();

    // The database first, in one transaction: schema, labels, parameters.
    {
        db::Connection connection(connectionString);
        connection.Execute("BEGIN");
        try {
            db::ApplySchema(connection, DataFolder() + "/schema");
            LoadLabelsInto(connection, DataFolder() + "/labels");
            for (const auto& [name, value] : DefaultParameters(site.string())) {
                db::Recordset rs = connection.Query(
                    "SELECT PARAMVALUE FROM COLLABORATIONPARAMETER WHERE PARAMNAME = " +
                    connection.EncodeText(name));
                if (rs.Eof())
                    connection.Execute("INSERT INTO COLLABORATIONPARAMETER (PARAMNAME, PARAMVALUE) VALUES (" +
                                       connection.EncodeText(name) + ", " +
                                       connection.EncodeText(value) + ")");
            }
            connection.Execute("COMMIT");
        } catch (...) {
            connection.Execute("ROLLBACK");
            throw;
        }
    }

    WriteFileIfMissing(serverConfig, ServerConfiguration());
    services::Configuration::SetApplication(serverConfig.string(), "Kestrix", connectionString);
    WriteFileIfMissing(site / "config" / "SiteConfiguration.xml", SiteConfiguration(site));
    WriteFileIfMissing(site / "config" / "components.xml",
                       "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                       "<!-- Plug-in classes: <Component progId=\"Acme.Orders\" library=\"lib/libacme.so\"/> -->\n"
                       "<Components/>\n");
    return connectionString;
}

}  // namespace kestrix
