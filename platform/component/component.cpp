#include "platform/component/component.h"

#include <dlfcn.h>
#include <link.h>

#include <filesystem>
#include <map>
#include <system_error>

#include "platform/base/error.h"
#include "platform/base/strings.h"
#include "platform/membership/business_partner.h"
#include "platform/membership/members.h"
#include "platform/membership/user.h"
#include "platform/membership/validator.h"
#include "platform/services/configuration.h"
#include "platform/services/log.h"
#include "platform/services/xml_file.h"

namespace kestrix::component {

namespace fs = std::filesystem;

namespace {

constexpr int32_t kInvalidClassString = static_cast<int32_t>(0x800401F3u);
constexpr const char* kSource = "CreateObject";
constexpr const char* kQelFilePrefix = "QelFile.";
constexpr const char* kQelFileLibrary = "libqelfile.so";

template <class T>
ObjectPtr Make() {
    return std::make_shared<T>();
}

constexpr ClassEntry kPlatformClasses[] = {
    {"Tavrel.Log", &Make<services::Log>},
    {"Tavrel.Configuration", &Make<services::Configuration>},
    {"Ulmara.User", &Make<membership::User>},
    {"Ulmara.Members", &Make<membership::Members>},
    {"Ulmara.Validator", &Make<membership::Validator>},
    {"Brenlow.BusinessPartner", &Make<membership::BusinessPartner>},
};

/// The entry of `progId` (compared ignoring case) in `table`, or nullptr.
const ClassEntry* Find(std::span<const ClassEntry> table, std::string_view progId) {
    for (const ClassEntry& entry : table) {
        if (entry.progId && entry.create && IEquals(entry.progId, progId)) return &entry;
    }
    return nullptr;
}

ObjectPtr Create(const ClassEntry& entry, std::string_view progId) {
    ObjectPtr object = entry.create();
    if (!object) {
        throw Error(errnum::E_FAIL, kSource,
                    "The factory of the class '" + std::string(progId) + "' made no object.");
    }
    return object;
}

/// The class tables of the libraries this thread has loaded, by path. Libraries are never
/// unloaded: objects they made may outlive any caller.
thread_local std::map<std::string, std::span<const ClassEntry>> t_tables;

std::span<const ClassEntry> LoadClassTable(const std::string& path) {
    auto it = t_tables.find(path);
    if (it != t_tables.end()) return it->second;
    void* handle = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!handle) {
        const char* reason = ::dlerror();
        throw Error(errnum::E_FAIL, kSource,
                    "Cannot load the library '" + path + "': " + (reason ? reason : "unknown reason"));
    }
    auto function = reinterpret_cast<ClassTableFunction>(::dlsym(handle, kClassTableSymbol));
    if (!function) {
        throw Error(errnum::E_FAIL, kSource,
                    "The library '" + path + "' has no class table (" + kClassTableSymbol + ").");
    }
    size_t count = 0;
    const ClassEntry* entries = function(&count);
    std::span<const ClassEntry> table(entries, entries ? count : 0);
    t_tables.emplace(path, table);
    return table;
}

/// libqelfile beside this library, or in the lib folder beside a program's bin folder, or
/// wherever the loader finds it.
std::string QelFilePath() {
    fs::path folder(ModuleFolder());
    std::error_code ec;
    for (const fs::path& candidate :
         {folder / kQelFileLibrary, folder.parent_path() / "lib" / kQelFileLibrary}) {
        if (fs::exists(candidate, ec)) return fs::weakly_canonical(candidate, ec).string();
    }
    return kQelFileLibrary;
}

/// The plug-in library that the site's components file names for `progId`, or "".
std::string PluginLibrary(std::string_view progId) {
    fs::path file = fs::path(services::SiteHome()) / "config" / "components.xml";
    std::error_code ec;
    if (!fs::exists(file, ec)) return {};
    services::XmlElement root = services::ReadXmlFile(file.string(), kSource);
    for (const services::XmlElement& component : root.children) {
        if (!IEquals(component.name, "Component")) continue;
        const std::string* name = component.Attribute("progId");
        const std::string* library = component.Attribute("library");
        if (!name || !IEquals(*name, progId)) continue;
        if (!library || Trim(*library).empty()) {
            throw Error(errnum::E_FAIL, kSource,
                        "The components file '" + file.string() + "' names no library for '" +
                            std::string(progId) + "'.");
        }
        fs::path path(Trim(*library));
        if (path.is_relative()) path = file.parent_path() / path;
        return fs::weakly_canonical(path, ec).string();
    }
    return {};
}

}  // namespace

ObjectPtr CreateObject(std::string_view progId, std::span<const ClassEntry> ownClasses) {
    if (const ClassEntry* entry = Find(ownClasses, progId)) return Create(*entry, progId);
    if (const ClassEntry* entry = Find(kPlatformClasses, progId)) return Create(*entry, progId);
    if (IStartsWith(progId, kQelFilePrefix)) {
        if (const ClassEntry* entry = Find(LoadClassTable(QelFilePath()), progId)) {
            return Create(*entry, progId);
        }
    }
    std::string library = PluginLibrary(progId);
    if (!library.empty()) {
        if (const ClassEntry* entry = Find(LoadClassTable(library), progId)) {
            return Create(*entry, progId);
        }
        throw Error(kInvalidClassString, kSource,
                    "Invalid class string: the library '" + library + "' has no class '" +
                        std::string(progId) + "'.");
    }
    throw Error(kInvalidClassString, kSource, "Invalid class string: '" + std::string(progId) + "'.");
}

std::string ModuleFolder() {
    Dl_info info{};
    link_map* map = nullptr;
    if (::dladdr1(reinterpret_cast<void*>(&ModuleFolder), &info, reinterpret_cast<void**>(&map),
                  RTLD_DL_LINKMAP) != 0 &&
        map && map->l_name && map->l_name[0] != '\0') {
        std::error_code ec;
        return fs::weakly_canonical(fs::path(map->l_name), ec).parent_path().string();
    }
    // The code is part of the program itself.
    std::error_code ec;
    fs::path exe = fs::read_symlink("/proc/self/exe", ec);
    return ec ? fs::current_path(ec).string() : exe.parent_path().string();
}

}  // namespace kestrix::component
