#include "platform/services/configuration.h"

#include <fcntl.h>
#include <libxml/parser.h>
#include <libxml/tree.h>
#include <sys/stat.h>
#include <unistd.h>

#include <charconv>
#include <ctime>
#include <cstdlib>
#include <filesystem>
#include <system_error>
#include <thread>

#include "platform/base/error.h"
#include "platform/base/strings.h"
#include "platform/services/file_paths.h"
#include "platform/services/xml_doc_internal.h"
#include "platform/services/xml_file.h"

namespace kestrix::services {

namespace fs = std::filesystem;

namespace {

constexpr const char* kProduct = "QelServer";
/// "Wrong number of arguments or invalid property assignment".
constexpr int32_t kWrongArguments = 450;

const xmlChar* X(const char* s) { return reinterpret_cast<const xmlChar*>(s); }

std::string AttributeOf(xmlNode* node, const char* name) {
    xmlChar* value = xmlGetProp(node, X(name));
    std::string result = value ? reinterpret_cast<const char*>(value) : "";
    xmlFree(value);
    return result;
}

/// The first child element named `element` whose "name" attribute equals `name` ignoring
/// case, or nullptr.
xmlNode* FindNamedChild(xmlNode* parent, const char* element, std::string_view name) {
    for (xmlNode* child = parent->children; child; child = child->next) {
        if (child->type != XML_ELEMENT_NODE) continue;
        if (!IEquals(reinterpret_cast<const char*>(child->name), element)) continue;
        if (IEquals(AttributeOf(child, "name"), name)) return child;
    }
    return nullptr;
}

xmlNode* FindChild(xmlNode* parent, const char* element) {
    for (xmlNode* child = parent->children; child; child = child->next) {
        if (child->type == XML_ELEMENT_NODE &&
            IEquals(reinterpret_cast<const char*>(child->name), element)) {
            return child;
        }
    }
    return nullptr;
}

xmlNode* AddNamedChild(xmlNode* parent, const char* element, std::string_view name) {
    xmlNode* node = xmlNewChild(parent, nullptr, X(element), nullptr);
    xmlNewProp(node, X("name"), X(std::string(name).c_str()));
    return node;
}

std::optional<int32_t> ParseId(std::string_view text) {
    std::string trimmed = Trim(text);
    int32_t value = 0;
    auto [end, ec] = std::from_chars(trimmed.data(), trimmed.data() + trimmed.size(), value);
    if (trimmed.empty() || ec != std::errc() || end != trimmed.data() + trimmed.size()) {
        return std::nullopt;
    }
    return value;
}

/// The configuration file to change: the existing one, or a new empty <Configuration>.
detail::XmlDocHandle OpenForChange(const std::string& path, const char* source) {
    std::error_code ec;
    if (fs::exists(path, ec)) return detail::ParseXmlFile(path, source);
    detail::XmlDocHandle doc(xmlNewDoc(X("1.0")));
    xmlDocSetRootElement(doc.get(), xmlNewNode(nullptr, X("Configuration")));
    return doc;
}

/// Writes the document next to `path` under a temporary name and renames it over `path`, so
/// that a reader sees either the old file or the new one, never half of it.
void SaveAtomically(xmlDoc* doc, const std::string& path, const char* source) {
    thread_local unsigned counter = 0;
    fs::path target(path);
    std::error_code ec;
    if (target.has_parent_path()) fs::create_directories(target.parent_path(), ec);
    std::string temp = path + ".tmp-" + std::to_string(::getpid()) + "-" +
                       std::to_string(std::hash<std::thread::id>{}(std::this_thread::get_id())) +
                       "-" + std::to_string(counter++);
    // Made first with the owner's permissions only, so that it is never readable by others.
    if (int made = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600); made >= 0) ::close(made);
    if (xmlSaveFormatFileEnc(temp.c_str(), doc, "UTF-8", 1) < 0) {
        fs::remove(temp, ec);
        throw Error(errnum::E_FAIL, source, "Cannot write the configuration file '" + temp + "'.");
    }
    // A configuration file may hold passwords: it keeps the permissions it had, and a new one
    // is readable by its owner only.
    struct stat existing {};
    ::chmod(temp.c_str(), ::stat(path.c_str(), &existing) == 0 ? (existing.st_mode & 07777) : 0600);
    int fd = ::open(temp.c_str(), O_RDONLY);
    if (fd >= 0) {
        ::fsync(fd);
        ::close(fd);
    }
    fs::rename(temp, target, ec);
    if (ec) {
        std::error_code ignored;
        fs::remove(temp, ignored);
        throw Error(errnum::E_FAIL, source,
                    "Cannot replace the configuration file '" + path + "': " + ec.message());
    }
}

const Variant& Arg(std::span<Variant> args, size_t index, std::string_view method) {
    if (index >= args.size()) {
        throw Error(kWrongArguments, "Tavrel.Configuration." + std::string(method),
                    "Wrong number of arguments or invalid property assignment");
    }
    return args[index];
}

}  // namespace

namespace {

/// What identifies one version of a file on disk: a file replaced by rename (as SetValue
/// does) has another inode, a file written in place another time stamp or size.
struct FileVersion {
    static constexpr time_t kSettleSeconds = 1;

    dev_t device = 0;
    ino_t inode = 0;
    off_t size = 0;
    timespec modified{};
    timespec changed{};

    static std::optional<FileVersion> Of(const std::string& path) {
        struct stat st {};
        if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return std::nullopt;
        return FileVersion{st.st_dev, st.st_ino, st.st_size, st.st_mtim, st.st_ctim};
    }
    /// True when the file was last written long enough ago that a later write shows as
    /// another time stamp: file systems keep coarse time stamps, so two writes of the same
    /// size within one tick would otherwise look alike.
    bool Settled() const {
        timespec now{};
        clock_gettime(CLOCK_REALTIME, &now);
        return now.tv_sec - modified.tv_sec > kSettleSeconds && now.tv_sec - changed.tv_sec > kSettleSeconds;
    }
    bool operator==(const FileVersion& o) const {
        return device == o.device && inode == o.inode && size == o.size &&
               modified.tv_sec == o.modified.tv_sec && modified.tv_nsec == o.modified.tv_nsec &&
               changed.tv_sec == o.changed.tv_sec && changed.tv_nsec == o.changed.tv_nsec;
    }
};

/// The files this thread has read lately, by path, with the version they were read from.
/// Every method reads the site's configuration afresh, so one request reads the same two
/// files dozens of times; a version check costs one stat instead of a parse.
struct LoadedFiles {
    /// Few files are ever read; a thread that works on many sites in turn starts over.
    static constexpr size_t kLimit = 16;
    struct Entry {
        FileVersion version;
        std::shared_ptr<const Configuration::Contents> contents;
    };
    std::map<std::string, Entry> entries;
};

LoadedFiles& ThreadLoadedFiles() {
    thread_local LoadedFiles files;
    return files;
}

}  // namespace

void Configuration::LoadFile(const std::string& path) {
    LoadedFiles& cache = ThreadLoadedFiles();
    const std::optional<FileVersion> version = FileVersion::Of(path);
    if (version) {
        auto found = cache.entries.find(path);
        if (found != cache.entries.end() && found->second.version == *version) {
            path_ = path;
            contents_ = found->second.contents;
            return;
        }
    }
    std::shared_ptr<const Contents> contents = ParseFile(path);
    path_ = path;
    contents_ = contents;
    // A file written just now, or while it was read, is read again next time.
    if (version && version->Settled() && FileVersion::Of(path) == version) {
        if (cache.entries.size() >= LoadedFiles::kLimit && cache.entries.count(path) == 0) cache.entries.clear();
        cache.entries[path] = LoadedFiles::Entry{*version, std::move(contents)};
    } else {
        cache.entries.erase(path);
    }
}

std::shared_ptr<const Configuration::Contents> Configuration::ParseFile(const std::string& path) const {
    XmlElement root = ReadXmlFile(path, "Tavrel.Configuration.LoadFile");
    std::map<std::string, std::map<std::string, std::string>> values;
    std::vector<AppEntry> apps;
    for (const XmlElement& child : root.children) {
        if (IEquals(child.name, "Section")) {
            const std::string* name = child.Attribute("name");
            if (!name) continue;
            auto& section = values[ToUpper(*name)];
            for (const XmlElement& key : child.children) {
                const std::string* keyName = key.Attribute("name");
                if (IEquals(key.name, "Key") && keyName) section[ToUpper(*keyName)] = Trim(key.text);
            }
        } else if (IEquals(child.name, "Applications")) {
            for (const XmlElement& app : child.children) {
                if (!IEquals(app.name, "Application")) continue;
                const std::string* name = app.Attribute("name");
                const std::string* id = app.Attribute("id");
                const std::string* cs = app.Attribute("connectionString");
                std::optional<int32_t> number = id ? ParseId(*id) : std::nullopt;
                if (!name || !number) {
                    throw Error(errnum::E_FAIL, "Tavrel.Configuration.LoadFile",
                                "Cannot read the XML file '" + path +
                                    "': an application needs a name and a numeric id.");
                }
                apps.push_back(AppEntry{*name, *number, cs ? *cs : std::string()});
            }
        }
    }
    auto contents = std::make_shared<Contents>();
    contents->values = std::move(values);
    contents->apps = std::move(apps);
    return contents;
}

Variant Configuration::GetValue(std::string_view section, std::string_view key) const {
    auto s = contents_->values.find(ToUpper(section));
    if (s == contents_->values.end()) return {};
    auto k = s->second.find(ToUpper(key));
    if (k == s->second.end()) return {};
    return Variant(k->second);
}

std::string Configuration::ConnectionString(std::string_view application) const {
    for (const AppEntry& app : contents_->apps) {
        if (IEquals(app.name, application) && !Trim(app.connectionString).empty()) {
            // A database file inside the site is named relative to the site folder, the
            // parent of the configuration file's folder.
            constexpr std::string_view kSqlite = "sqlite:";
            if (!IStartsWith(app.connectionString, kSqlite) || path_.empty()) return app.connectionString;
            const std::string file = app.connectionString.substr(kSqlite.size());
            if (file == ":memory:") return app.connectionString;
            return std::string(kSqlite) + InSite(file, fs::path(path_).parent_path().parent_path().string());
        }
    }
    throw Error(errnum::E_FAIL, "Tavrel.Configuration.ConnectionString",
                "The configuration file '" + path_ + "' holds no connection string for the application '" +
                    std::string(application) + "'.");
}

int32_t Configuration::ApplicationId(std::string_view application) const {
    for (const AppEntry& app : contents_->apps) {
        if (IEquals(app.name, application)) return app.id;
    }
    throw Error(errnum::E_FAIL, "Tavrel.Configuration.ApplicationId",
                "The configuration file '" + path_ + "' knows no application '" +
                    std::string(application) + "'.");
}

std::map<std::string, int32_t> Configuration::Applications() const {
    std::map<std::string, int32_t> result;
    for (const AppEntry& app : contents_->apps) result.emplace(app.name, app.id);
    return result;
}

std::vector<InstalledProduct> Configuration::InstalledProducts(std::string_view product) {
    if (!IEquals(product, kProduct)) return {};
    fs::path site(SiteHome());
    std::string config = (site / "config").string();
    return {InstalledProduct{kProduct, config, config, site.string()}};
}

std::string Configuration::RootFolder() {
    fs::path site(SiteHome());
    fs::path siteConfig = site / "config" / "SiteConfiguration.xml";
    std::error_code ec;
    if (fs::exists(siteConfig, ec)) {
        Configuration config;
        config.LoadFile(siteConfig.string());
        std::string root = Trim(config.GetValue("GLOBAL", "AttachmentsRoot").ToString());
        if (!root.empty()) return InSite(root, site.string());
    }
    return site.string();
}

void Configuration::SetValue(const std::string& path, std::string_view section,
                             std::string_view key, std::string_view value) {
    const char* source = "Tavrel.Configuration.SetValue";
    detail::XmlDocHandle doc = OpenForChange(path, source);
    xmlNode* root = xmlDocGetRootElement(doc.get());
    xmlNode* sectionNode = FindNamedChild(root, "Section", section);
    if (!sectionNode) sectionNode = AddNamedChild(root, "Section", section);
    xmlNode* keyNode = FindNamedChild(sectionNode, "Key", key);
    if (!keyNode) keyNode = AddNamedChild(sectionNode, "Key", key);
    xmlNodeSetContent(keyNode, nullptr);
    // Added as text, so that "&" or "<" in the value are escaped when written.
    xmlNodeAddContentLen(keyNode, X(std::string(value).c_str()), static_cast<int>(value.size()));
    SaveAtomically(doc.get(), path, source);
}

int32_t Configuration::SetApplication(const std::string& path, std::string_view application,
                                      std::optional<std::string> connectionString) {
    const char* source = "Tavrel.Configuration.SetApplication";
    if (Trim(application).empty() || HasControlCharacter(application)) {
        throw Error(errnum::E_FAIL, source,
                    "An application needs a name without control characters, not '" +
                        Printable(application) + "'.");
    }
    detail::XmlDocHandle doc = OpenForChange(path, source);
    xmlNode* root = xmlDocGetRootElement(doc.get());
    xmlNode* apps = FindChild(root, "Applications");
    if (!apps) apps = xmlNewChild(root, nullptr, X("Applications"), nullptr);
    int32_t highest = 0;
    xmlNode* found = nullptr;
    for (xmlNode* child = apps->children; child; child = child->next) {
        if (child->type != XML_ELEMENT_NODE ||
            !IEquals(reinterpret_cast<const char*>(child->name), "Application")) {
            continue;
        }
        std::optional<int32_t> id = ParseId(AttributeOf(child, "id"));
        if (id && *id > highest) highest = *id;
        if (!found && IEquals(AttributeOf(child, "name"), application)) found = child;
    }
    int32_t id = 0;
    if (found) {
        std::optional<int32_t> existing = ParseId(AttributeOf(found, "id"));
        if (!existing) {
            throw Error(errnum::E_FAIL, source,
                        "The application '" + std::string(application) + "' in '" + path +
                            "' has no numeric id.");
        }
        id = *existing;
    } else {
        id = highest + 1;
        found = AddNamedChild(apps, "Application", application);
        xmlSetProp(found, X("id"), X(std::to_string(id).c_str()));
    }
    if (connectionString) xmlSetProp(found, X("connectionString"), X(connectionString->c_str()));
    SaveAtomically(doc.get(), path, source);
    return id;
}

Variant Configuration::Invoke(std::string_view method, std::span<Variant> args) {
    if (IEquals(method, "LoadFile")) {
        LoadFile(Arg(args, 0, method).ToString());
        return {};
    }
    if (IEquals(method, "GetValue")) {
        return GetValue(Arg(args, 0, method).ToString(), Arg(args, 1, method).ToString());
    }
    if (IEquals(method, "ConnectionString")) {
        return Variant(ConnectionString(Arg(args, 0, method).ToString()));
    }
    if (IEquals(method, "ApplicationId")) {
        return Variant(ApplicationId(Arg(args, 0, method).ToString()));
    }
    if (IEquals(method, "RootFolder")) return Variant(RootFolder());
    return Object::Invoke(method, args);
}

std::string SiteHome() {
    const char* home = std::getenv("KESTRIX_HOME");
    if (home && *home) return home;
    std::error_code ec;
    return fs::current_path(ec).string();
}

}  // namespace kestrix::services
