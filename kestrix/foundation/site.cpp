#include "kestrix/foundation/site.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
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

/// Writes a configuration file that is not there yet, readable by its owner only (it may
/// hold passwords), under a temporary name first so that a failure leaves no half file.
void WriteFileIfMissing(const fs::path& path, const std::string& content) {
    if (fs::exists(path)) return;
    fs::path temp = path;
    temp += ".tmp";
    std::error_code ignored;
    fs::remove(temp, ignored);
    const int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd < 0) throw Error(errnum::E_FAIL, "Kestrix.Site", "Cannot write " + temp.string() + ": " + std::strerror(errno));
    const char* p = content.data();
    size_t left = content.size();
    while (left > 0) {
        const ssize_t n = ::write(fd, p, left);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            const int reason = errno;
            ::close(fd);
            fs::remove(temp, ignored);
            throw Error(errnum::E_FAIL, "Kestrix.Site", "Cannot write " + temp.string() + ": " + std::strerror(reason));
        }
        p += n;
        left -= static_cast<size_t>(n);
    }
    ::close(fd);
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

/// The site configuration of a new site. Folders of the site are named relative to it; every
/// value is escaped, whatever it holds.
std::string SiteConfiguration() {
    auto key = [](std::string_view name, std::string_view value) {
        return "    <Key name=\"" + XmlEscape(name) + "\">" + XmlEscape(value) + "</Key>\n";
    };
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
           "<Configuration>\n"
           "  <Section name=\"GLOBAL\">\n" +
           key("IISVirtId", "1") + key("NONSECUREHOSTNAME", "localhost") +
           key("APPLICATIONDIRECTORY", "kestrix") + key("UncRoot", "unc") +
           "  </Section>\n"
           "  <Section name=\"MEMBERSHIP\">\n" +
           key("MemScriptUser", "kestrix-service") + key("MemScriptCode", RandomCode()) + key("LDAPRoot", "") +
           "  </Section>\n"
           "  <Section name=\"MAIL\">\n" +
           key("Mode", "pickup") + key("PickupFolder", "out/mail") + key("SmtpHost", "") + key("SmtpPort", "25") +
           "  </Section>\n"
           "  <Section name=\"SERVICE\">\n" +
           key("Workers", "1") + key("ImportInterval", "5") + key("MailboxInterval", "60") +
           key("OutboxInterval", "5") + key("CleanupInterval", "86400") + key("ClaimLease", "600") +
           key("StopTimeout", "60") + key("Listen", "127.0.0.1:8080") + key("TlsCertificate", "") +
           key("TlsKey", "") +
           "  </Section>\n"
           "  <Section name=\"MAILIMPORT\">\n" +
           key("Protocol", "folder") + key("MailFolder", "mail") + key("Server", "") + key("Port", "") +
           key("Tls", "none") + key("Login", "") + key("Password", "") +
           "  </Section>\n"
           "</Configuration>\n";
}

/// Columns that tables of a site made by an earlier version lack: added when the site is
/// completed (the schema scripts make missing tables, but cannot add a column only when it is
/// missing on both dialects).
void AddMissingColumns(db::Connection& connection) {
    struct Column {
        const char* table;
        const char* name;
        const char* type;
    };
    static constexpr Column kAdded[] = {{"OUTBOX", "CLAIMEDBY", "TEXT"}, {"OUTBOX", "CLAIMEDUNTIL", "TEXT"}};
    for (const Column& column : kAdded) {
        const std::string add = std::string("ALTER TABLE ") + column.table + " ADD COLUMN ";
        if (connection.dialect() == db::Dialect::PostgreSQL) {
            connection.Execute(add + "IF NOT EXISTS " + column.name + " " + column.type);
            continue;
        }
        bool present = false;
        for (db::Recordset rs = connection.Query(std::string("PRAGMA table_info(") + column.table + ")"); !rs.Eof();
             rs.MoveNext())
            present = present || IEquals(rs.GetString("name"), column.name);
        if (!present) connection.Execute(add + column.name + " " + column.type);
    }
}

/// The connection string as the site's configuration keeps it: a database file inside the
/// site is named relative to the site folder.
std::string StoredConnectionString(const std::string& connectionString, const fs::path& site) {
    constexpr std::string_view kSqlite = "sqlite:";
    if (!IStartsWith(connectionString, kSqlite)) return connectionString;
    const fs::path file = fs::path(connectionString.substr(kSqlite.size())).lexically_normal();
    if (!file.is_absolute()) return connectionString;
    const fs::path inside = file.lexically_relative(site);
    if (inside.empty() || *inside.begin() == "..") return connectionString;
    return std::string(kSqlite) + inside.string();
}

}  // namespace

std::string DataFolder() {
    if (const char* env = std::getenv("KESTRIX_DATA"); env && *env) return env;
    return KESTRIX_DATA_DIR;
}

std::span<const ParameterInfo> KnownParameters() {
    static constexpr ParameterInfo kParameters[] = {
        {"AdminEmailAddress", "kestrix-admin@localhost",
         "address of the administrator, who is told of documents that fail unseen"},
        {"AttachmentsFolder", "attachments", "folder under which each document's attachments lie", true},
        {"AttachmentsVirtualPath", "attachments", "address part under which attachments are served"},
        {"EDIDelimiter", "~", "segment delimiter of EDI documents; the folder import needs one"},
        {"EmailImportLocalSMTPServer", "localhost",
         "mail domain of the import mailbox; with IMAP or POP3 also its server, unless MAILIMPORT names one"},
        {"EmailImportSMTPUserID", "import",
         "user of the import mailbox, read in <site>/mail/<user>@<domain> by default; blank stops the mailbox import"},
        {"EnableAttachments", "YES", "YES: deliveries carry the document's attachments"},
        {"ErrorPath", "error", "folder into which files that could not be imported are moved", true},
        {"ExcelTempFolder", "temp/excel", "scratch folder of the spreadsheet engine", true},
        {"ExcelTemplatesPath", "templates", "folder of the spreadsheet templates of send methods", true},
        {"FaxServer", "fax.localhost", "host appended to a fax number to make the fax gateway's address"},
        {"HTMLXSLPath", "xsl/html", "folder of the style sheets that render documents as HTML pages", true},
        {"MaxDocumentSize", "104857600", "largest document taken, in bytes; a larger one is refused unread"},
        {"ObiPath", "import/obi", "import folder of OBI documents", true},
        {"SiteLink", "http://localhost:8080/", "address of the web site, the start of links in mails"},
        {"SiteLinkStartingPoint", "kestrix/document.asp", "page of a document, appended to SiteLink"},
        {"TempFolder", "temp", "scratch folder (blank: the system's temporary folder)", true},
        {"TransformXSLPath", "xsl", "folder of the receive-method and change-of-type style sheets", true},
        {"XMLErrorPath", "error", "folder of the error files written for refused documents", true},
        {"XMLPath1", "import/in/", "import folder read by the folder import; mail attachments go here", true},
        {"XMLPath2", "import/queue/", "import folder of documents published to be processed later", true},
        {"XmlUploadTempDir", "upload", "folder of uploaded files while they wait to be published", true},
    };
    return kParameters;
}

const ParameterInfo* FindKnownParameter(std::string_view name) {
    for (const ParameterInfo& parameter : KnownParameters())
        if (parameter.name == name) return &parameter;
    return nullptr;
}

std::string SiteProblem(const std::string& folder) {
    std::error_code ec;
    const fs::path site = fs::absolute(folder, ec).lexically_normal();
    if (!fs::is_directory(site, ec)) return "there is no site at " + site.string() + ": the folder does not exist";
    const fs::path serverConfig = site / "config" / "QelServerConfiguration.xml";
    if (!fs::is_regular_file(serverConfig, ec))
        return site.string() + " is not a site: it has no config/QelServerConfiguration.xml";
    std::string connectionString;
    try {
        services::Configuration configuration;
        configuration.LoadFile(serverConfig.string());
        connectionString = configuration.ConnectionString("Kestrix");
    } catch (const Error& e) {
        return "the site " + site.string() + " cannot be used: " + Trim(e.description());
    }
    constexpr std::string_view kSqlite = "sqlite:";
    if (IStartsWith(connectionString, kSqlite)) {
        const std::string file = connectionString.substr(kSqlite.size());
        if (file != ":memory:" && !fs::is_regular_file(file, ec))
            return "the database file " + file + " of the site " + site.string() + " is missing";
    }
    return {};
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
    // The local mail folder of the import mailbox that the default parameters name.
    for (const char* sub : {"cur", "new", "tmp"}) fs::create_directories(site / "mail" / "import@localhost" / sub);

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
            AddMissingColumns(connection);
            LoadLabelsInto(connection, DataFolder() + "/labels");
            for (const ParameterInfo& parameter : KnownParameters()) {
                const std::string name(parameter.name);
                db::Recordset rs = connection.Query(
                    "SELECT PARAMVALUE FROM COLLABORATIONPARAMETER WHERE PARAMNAME = " +
                    connection.EncodeText(name));
                if (rs.Eof())
                    connection.Execute("INSERT INTO COLLABORATIONPARAMETER (PARAMNAME, PARAMVALUE) VALUES (" +
                                       connection.EncodeText(name) + ", " +
                                       connection.EncodeText(parameter.defaultValue) + ")");
            }
            connection.Execute("COMMIT");
        } catch (...) {
            connection.Execute("ROLLBACK");
            throw;
        }
    }
    // The database file may hold passwords as well: its owner's only.
    if (IStartsWith(connectionString, "sqlite:")) {
        const std::string file = connectionString.substr(std::string_view("sqlite:").size());
        for (const char* suffix : {"", "-wal", "-shm"}) {
            std::error_code ignored;
            fs::permissions(file + suffix, fs::perms::owner_read | fs::perms::owner_write, ignored);
        }
    }

    WriteFileIfMissing(serverConfig, ServerConfiguration());
    services::Configuration::SetApplication(serverConfig.string(), "Kestrix",
                                            StoredConnectionString(connectionString, site));
    WriteFileIfMissing(site / "config" / "SiteConfiguration.xml", SiteConfiguration());
    WriteFileIfMissing(site / "config" / "components.xml",
                       "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                       "<!-- Plug-in classes: <Component progId=\"Acme.Orders\" library=\"lib/libacme.so\"/> -->\n"
                       "<Components/>\n");
    return connectionString;
}

}  // namespace kestrix
