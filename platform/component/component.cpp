#include "platform/component/component.h"

#include <dlfcn.h>
#include <link.h>
#include <sys/stat.h>

#include <filesystem>
#include <map>
#include <optional>
#include <system_error>
#include <vector>

#include "platform/base/error.h"
#include "platform/base/strings.h"
#include "platform/component/plugin_entry.h"
#include "platform/component/plugin_values.h"
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

/// A library loaded with dlopen, closed again when the object goes, unless it is kept.
class LibraryHandle {
  public:
    explicit LibraryHandle(const std::string& path)
        : handle_(::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL)) {
        if (!handle_) {
            const char* reason = ::dlerror();
            throw Error(
                errnum::E_FAIL, kSource,
                "Cannot load the library '" + path + "': " + (reason ? reason : "unknown reason"));
        }
    }
    ~LibraryHandle() {
        if (handle_) ::dlclose(handle_);
    }
    LibraryHandle(const LibraryHandle&) = delete;
    LibraryHandle& operator=(const LibraryHandle&) = delete;

    /// The address of the exported symbol, or nullptr.
    void* Symbol(const char* name) const { return ::dlsym(handle_, name); }
    /// Leaves the library loaded for the rest of the process.
    void Keep() { handle_ = nullptr; }

  private:
    void* handle_;
};

/// The class tables of the libraries of the platform's own vocabulary (libqelfile) this
/// thread has loaded, by path. These libraries are never unloaded: objects they made may
/// outlive any caller.
thread_local std::map<std::string, std::span<const ClassEntry>> t_tables;

std::span<const ClassEntry> LoadClassTable(const std::string& path) {
    auto it = t_tables.find(path);
    if (it != t_tables.end()) return it->second;
    LibraryHandle library(path);
    auto function = reinterpret_cast<ClassTableFunction>(library.Symbol(kClassTableSymbol));
    if (!function) {
        throw Error(errnum::E_FAIL, kSource,
                    "The library '" + path + "' has no class table (" + kClassTableSymbol + ").");
    }
    size_t count = 0;
    const ClassEntry* entries = function(&count);
    std::span<const ClassEntry> table(entries, entries ? count : 0);
    t_tables.emplace(path, table);
    library.Keep();
    return table;
}

// ---- plug-in libraries: only the C entry crosses ------------------------------------------

/// A plug-in library and its entry. It stays loaded while this thread keeps it or an object
/// it made lives.
class PluginLibrary {
  public:
    explicit PluginLibrary(const std::string& path) : path_(path), handle_(path) {
        auto function =
            reinterpret_cast<KxPluginEntryFunction>(handle_.Symbol(KESTRIX_PLUGIN_ENTRY_SYMBOL));
        if (!function) {
            throw Error(errnum::E_FAIL, kSource,
                        "The library '" + path + "' is no plug-in: it exports no " +
                            KESTRIX_PLUGIN_ENTRY_SYMBOL + " function.");
        }
        entry_ = function();
        if (!entry_) {
            throw Error(errnum::E_FAIL, kSource,
                        "The plug-in library '" + path + "' answered no entry.");
        }
        if (entry_->version != KESTRIX_PLUGIN_ENTRY_VERSION) {
            throw Error(errnum::E_FAIL, kSource,
                        "The plug-in library '" + path + "' has entry version " +
                            std::to_string(entry_->version) + "; this host knows version " +
                            std::to_string(KESTRIX_PLUGIN_ENTRY_VERSION) + " only.");
        }
        if (!entry_->create || !entry_->call || !entry_->destroy) {
            throw Error(errnum::E_FAIL, kSource,
                        "The entry of the plug-in library '" + path + "' lacks a function.");
        }
    }

    const std::string& path() const { return path_; }
    const KxPluginEntry& entry() const { return *entry_; }

  private:
    std::string path_;
    LibraryHandle handle_;
    const KxPluginEntry* entry_ = nullptr;
};

/// The host's side of one call through the entry: collects the answer, the changed
/// arguments and the failure. Its functions never throw into the plug-in: a value that
/// cannot be taken (out of memory) becomes the failure of the call.
class HostCall {
  public:
    explicit HostCall(size_t arguments) : changed_(arguments) {
        host_.context = this;
        host_.answer = &Answer;
        host_.change_argument = &ChangeArgument;
        host_.fail = &Fail;
    }

    const KxHost* host() const { return &host_; }

    /// Raises the failure of the call; else hands the changed arguments back and returns
    /// the answer.
    Variant Finish(KxStatus status, std::span<Variant> args, std::string_view what) {
        if (failure_) throw *failure_;
        if (status != KX_OK) {
            throw Error(errnum::E_FAIL, kSource,
                        std::string(what) + " failed (status " + std::to_string(status) +
                            ") without a reason.");
        }
        for (size_t i = 0; i < args.size() && i < changed_.size(); ++i)
            if (changed_[i]) args[i] = std::move(*changed_[i]);
        return std::move(answer_);
    }

  private:
    static HostCall& Of(void* context) { return *static_cast<HostCall*>(context); }

    /// Keeps the first failure: the one that ended the call.
    void Record(Error error) noexcept {
        if (!failure_) failure_.emplace(std::move(error));
    }

    static void Answer(void* context, const KxValue* value) noexcept {
        try {
            Of(context).answer_ = value ? VariantOf(*value) : Variant();
        } catch (...) {
            Of(context).Record(CurrentError());
        }
    }
    static void ChangeArgument(void* context, size_t index, const KxValue* value) noexcept {
        try {
            HostCall& call = Of(context);
            if (index < call.changed_.size() && value) call.changed_[index] = VariantOf(*value);
        } catch (...) {
            Of(context).Record(CurrentError());
        }
    }
    static void Fail(void* context, int32_t number, const char* source,
                     const char* description) noexcept {
        try {
            Of(context).Record(Error(number, source ? source : "", description ? description : ""));
        } catch (...) {
            Of(context).Record(Error(errnum::E_FAIL, {}, {}));
        }
    }

    KxHost host_{};
    Variant answer_;
    std::vector<std::optional<Variant>> changed_;
    std::optional<Error> failure_;
};

/// An object of a plug-in class, seen by the host as any other object: its late-bound
/// calls go through the entry.
class PluginObject final : public Object {
  public:
    PluginObject(std::shared_ptr<const PluginLibrary> library, void* object)
        : library_(std::move(library)), object_(object) {}
    ~PluginObject() override { library_->entry().destroy(object_); }
    PluginObject(const PluginObject&) = delete;
    PluginObject& operator=(const PluginObject&) = delete;

    Variant Invoke(std::string_view method, std::span<Variant> args) override {
        PluginValues values;
        std::vector<KxValue> in;
        in.reserve(args.size());
        for (const Variant& arg : args) in.push_back(values.Of(arg));
        HostCall call(args.size());
        const std::string name(method);
        const KxStatus status =
            library_->entry().call(object_, name.c_str(), in.data(), in.size(), call.host());
        return call.Finish(status, args,
                           "The call of '" + name + "' in '" + library_->path() + "'");
    }

  private:
    std::shared_ptr<const PluginLibrary> library_;
    void* object_;
};

/// The plug-in libraries this thread has loaded, by path.
thread_local std::map<std::string, std::shared_ptr<const PluginLibrary>> t_plugins;

std::shared_ptr<const PluginLibrary> LoadPlugin(const std::string& path) {
    auto it = t_plugins.find(path);
    if (it != t_plugins.end()) return it->second;
    auto library = std::make_shared<const PluginLibrary>(path);
    t_plugins.emplace(path, library);
    return library;
}

/// A new object of the plug-in class `progId`, or nullptr when the library has no such class.
ObjectPtr CreatePluginObject(const std::string& libraryPath, std::string_view progId) {
    std::shared_ptr<const PluginLibrary> library = LoadPlugin(libraryPath);
    HostCall call(0);
    void* object = nullptr;
    const std::string name(progId);
    const KxStatus status = library->entry().create(name.c_str(), &object, call.host());
    if (status == KX_NO_SUCH_CLASS) return nullptr;
    if (status == KX_OK && object) {
        try {
            return std::make_shared<PluginObject>(library, object);
        } catch (...) {
            library->entry().destroy(object);
            throw;
        }
    }
    call.Finish(status == KX_OK ? KX_FAILED : status, {},
                "Creating '" + name + "' in '" + libraryPath + "'");
    throw Error(errnum::E_FAIL, kSource,
                "Creating '" + name + "' in '" + libraryPath + "' made no object.");
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

/// The site's components file as read once: each registered name (in lower case) with its
/// library's path ("" when the entry names none), and the identity of the file it was read
/// from.
struct ComponentsFile {
    uintmax_t size = 0;
    int64_t modifiedNanoseconds = 0;
    dev_t device = 0;
    ino_t inode = 0;
    std::map<std::string, std::string> libraries;
};

/// The components files this thread has read, by path. An entry is used while the file's
/// size, modification time, device and inode stay the same; any change reads it again.
thread_local std::map<std::string, ComponentsFile> t_componentsFiles;

const ComponentsFile* ReadComponentsFile(const fs::path& file) {
    struct stat st {};
    if (::stat(file.c_str(), &st) != 0) {
        t_componentsFiles.erase(file.string());
        return nullptr;
    }
    const int64_t modified =
        static_cast<int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
    auto it = t_componentsFiles.find(file.string());
    if (it != t_componentsFiles.end() && it->second.size == static_cast<uintmax_t>(st.st_size) &&
        it->second.modifiedNanoseconds == modified && it->second.device == st.st_dev &&
        it->second.inode == st.st_ino)
        return &it->second;

    ComponentsFile read;
    read.size = static_cast<uintmax_t>(st.st_size);
    read.modifiedNanoseconds = modified;
    read.device = st.st_dev;
    read.inode = st.st_ino;
    services::XmlElement root = services::ReadXmlFile(file.string(), kSource);
    for (const services::XmlElement& component : root.children) {
        if (!IEquals(component.name, "Component")) continue;
        const std::string* name = component.Attribute("progId");
        const std::string* library = component.Attribute("library");
        if (!name) continue;
        std::string path;
        if (library && !Trim(*library).empty()) {
            fs::path p(Trim(*library));
            if (p.is_relative()) p = file.parent_path() / p;
            std::error_code ec;
            path = fs::weakly_canonical(p, ec).string();
            if (path.empty()) path = p.string();
        }
        read.libraries.emplace(ToLower(*name), std::move(path));  // the first entry wins
    }
    return &(t_componentsFiles[file.string()] = std::move(read));
}

/// The plug-in library that the site's components file names for `progId`, or "".
std::string PluginLibraryPath(std::string_view progId) {
    const fs::path file = fs::path(services::SiteHome()) / "config" / "components.xml";
    const ComponentsFile* components = ReadComponentsFile(file);
    if (!components) return {};
    auto it = components->libraries.find(ToLower(progId));
    if (it == components->libraries.end()) return {};
    if (it->second.empty()) {
        throw Error(errnum::E_FAIL, kSource,
                    "The components file '" + file.string() + "' names no library for '" +
                        std::string(progId) + "'.");
    }
    return it->second;
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
    std::string library = PluginLibraryPath(progId);
    if (!library.empty()) {
        if (ObjectPtr object = CreatePluginObject(library, progId)) return object;
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
