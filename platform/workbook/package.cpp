#include "platform/workbook/package.h"

#include <zip.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "platform/base/strings.h"

namespace kestrix::workbook::detail {

void Fail(int32_t number, std::string description) {
    throw Error(number, "Workbook", std::move(description));
}

namespace {

struct ZipDiscard {
    void operator()(zip_t* z) const noexcept { zip_discard(z); }
};
struct SourceFree {
    void operator()(zip_source_t* s) const noexcept { zip_source_free(s); }
};
struct FileClose {
    void operator()(zip_file_t* f) const noexcept { zip_fclose(f); }
};
using ZipPtr = std::unique_ptr<zip_t, ZipDiscard>;
using SourcePtr = std::unique_ptr<zip_source_t, SourceFree>;
using FilePtr = std::unique_ptr<zip_file_t, FileClose>;

std::string ArchiveText(zip_t* z) { return zip_error_strerror(zip_get_error(z)); }

// A name that stays inside the package: relative, no "." or ".." segment, no backslash,
// no drive, no empty segment except a trailing one (a folder entry).
bool SafeEntryName(std::string_view name) {
    if (name.empty() || name.front() == '/' || name.find('\\') != std::string_view::npos ||
        name.find('\0') != std::string_view::npos)
        return false;
    if (name.size() >= 2 && name[1] == ':') return false;
    size_t pos = 0;
    while (pos <= name.size()) {
        size_t slash = name.find('/', pos);
        if (slash == std::string_view::npos) slash = name.size();
        std::string_view segment = name.substr(pos, slash - pos);
        if (segment == "." || segment == "..") return false;
        if (segment.empty() && slash != name.size()) return false;
        pos = slash + 1;
    }
    return true;
}

// An archive over a buffer that the caller keeps alive, opened for reading or writing.
// For writing, the source is kept so that the written bytes can be read after closing.
struct OpenedArchive {
    SourcePtr source;
    ZipPtr zip;
};

// For writing, the source gets a copy of its own, which it may free when the written bytes
// replace it.
OpenedArchive OpenBuffer(const void* data, size_t size, int flags) {
    zip_error_t error;
    zip_error_init(&error);
    const bool writing = !(flags & ZIP_RDONLY);
    void* copy = nullptr;
    if (writing && size > 0) {
        copy = std::malloc(size);
        if (!copy) Fail(errnum::E_FAIL, "No memory to write the workbook package");
        std::memcpy(copy, data, size);
    }
    SourcePtr source(zip_source_buffer_create(writing ? copy : data, size, writing ? 1 : 0, &error));
    if (!source) std::free(copy);
    if (!source) {
        std::string text = zip_error_strerror(&error);
        zip_error_fini(&error);
        Fail(errnum::E_FAIL, "The package cannot be held in memory: " + text);
    }
    zip_t* z = zip_open_from_source(source.get(), flags, &error);
    if (!z) {
        int code = zip_error_code_zip(&error);
        std::string text = zip_error_strerror(&error);
        zip_error_fini(&error);
        if (code == ZIP_ER_NOZIP)
            Fail(wberr::NotAPackage, "The file is not a workbook: it is no zip package");
        Fail(wberr::DamagedPackage, "The workbook package is damaged: " + text);
    }
    zip_error_fini(&error);
    zip_source_keep(source.get());  // the archive holds one reference, we keep the other
    return {std::move(source), ZipPtr(z)};
}

// Closes an archive opened by OpenBuffer for writing and returns the bytes it wrote.
std::string CloseAndCollect(OpenedArchive& opened) {
    if (zip_close(opened.zip.get()) != 0)
        Fail(errnum::E_FAIL, "The workbook package cannot be written: " + ArchiveText(opened.zip.get()));
    opened.zip.release();  // closed and freed by zip_close
    zip_source_t* s = opened.source.get();
    auto fail = [&] {
        Fail(errnum::E_FAIL, std::string("The written workbook package cannot be read back: ") +
                                 zip_error_strerror(zip_source_error(s)));
    };
    if (zip_source_open(s) != 0) fail();
    std::string bytes;
    char buffer[65536];
    while (true) {
        zip_int64_t n = zip_source_read(s, buffer, sizeof buffer);
        if (n < 0) {
            zip_source_close(s);
            fail();
        }
        if (n == 0) break;
        bytes.append(buffer, static_cast<size_t>(n));
    }
    zip_source_close(s);
    return bytes;
}

void AddEntry(zip_t* z, const std::string& name, const std::string& bytes, bool replace,
              zip_uint64_t index) {
    zip_error_t error;
    zip_error_init(&error);
    SourcePtr source(zip_source_buffer_create(bytes.data(), bytes.size(), 0, &error));
    zip_error_fini(&error);
    if (!source) Fail(errnum::E_FAIL, "The workbook part " + name + " cannot be added");
    zip_int64_t at;
    if (replace) {
        at = zip_file_replace(z, index, source.get(), 0) == 0 ? static_cast<zip_int64_t>(index) : -1;
    } else {
        at = zip_file_add(z, name.c_str(), source.get(), ZIP_FL_ENC_UTF_8);
    }
    if (at < 0) Fail(errnum::E_FAIL, "The workbook part " + name + " cannot be written: " + ArchiveText(z));
    source.release();  // the archive owns it now
    // Level 6, not the library's default of 9, which takes four times as long for a few per
    // cent. The library keeps a method equal to the entry's old one without its level, so a
    // replaced entry asks for "the default method" (deflate) and a new one for deflate.
    zip_set_file_compression(z, static_cast<zip_uint64_t>(at), replace ? ZIP_CM_DEFAULT : ZIP_CM_DEFLATE, 6);
}

}  // namespace

struct Package::Archive {
    ZipPtr zip;
    SourcePtr source;
};

Package::Package(std::string bytes, const Limits& limits) : bytes_(std::move(bytes)), limits_(limits) {
    if (bytes_.size() > limits_.maxPackageBytes)
        Fail(wberr::LimitExceeded, "The workbook package is larger than " +
                                       std::to_string(limits_.maxPackageBytes) + " bytes");
    OpenedArchive opened = OpenBuffer(bytes_.data(), bytes_.size(), ZIP_RDONLY | ZIP_CHECKCONS);
    archive_ = std::make_unique<Archive>(Archive{std::move(opened.zip), std::move(opened.source)});
    zip_t* z = archive_->zip.get();

    zip_int64_t count = zip_get_num_entries(z, 0);
    if (count < 0) Fail(wberr::DamagedPackage, "The workbook package is damaged: no entry list");
    if (static_cast<uint64_t>(count) > limits_.maxEntries)
        Fail(wberr::LimitExceeded, "The workbook package holds " + std::to_string(count) +
                                       " entries, more than the limit of " +
                                       std::to_string(limits_.maxEntries));
    uint64_t total = 0;
    for (zip_int64_t i = 0; i < count; ++i) {
        zip_stat_t st;
        zip_stat_init(&st);
        if (zip_stat_index(z, static_cast<zip_uint64_t>(i), 0, &st) != 0 || !(st.valid & ZIP_STAT_NAME))
            Fail(wberr::DamagedPackage, "The workbook package is damaged: entry " + std::to_string(i) +
                                            " cannot be read: " + ArchiveText(z));
        std::string name = st.name;
        if (!SafeEntryName(name))
            Fail(wberr::UnsafePath, "The workbook package holds the entry \"" + Printable(name) +
                                        "\", whose path leaves the package");
        if (name.back() == '/') continue;  // a folder
        if (st.encryption_method != ZIP_EM_NONE)
            Fail(wberr::DamagedPackage, "The workbook package holds the encrypted entry " + name);
        if (st.size > limits_.maxEntryBytes)
            Fail(wberr::LimitExceeded, "The workbook entry " + name + " inflates to " +
                                           std::to_string(st.size) + " bytes, more than the limit of " +
                                           std::to_string(limits_.maxEntryBytes));
        if (st.size > limits_.ratioFromBytes &&
            st.size / std::max<uint64_t>(st.comp_size, 1) > limits_.maxRatio)
            Fail(wberr::LimitExceeded, "The workbook entry " + name + " is compressed " +
                                           std::to_string(st.size / std::max<uint64_t>(st.comp_size, 1)) +
                                           " times, more than the limit of " +
                                           std::to_string(limits_.maxRatio) + " (a zip bomb?)");
        total += st.size;
        if (total > limits_.maxTotalBytes)
            Fail(wberr::LimitExceeded, "The workbook package inflates to more than " +
                                           std::to_string(limits_.maxTotalBytes) + " bytes");
        std::string lower = ToLower(name);
        if (!folded_.emplace(lower, name).second)
            Fail(wberr::DamagedPackage, "The workbook package holds two entries named " + name);
        exact_.emplace(name, static_cast<uint64_t>(i));
        declaredSize_.emplace(name, st.size);
    }
}

Package::~Package() = default;

std::optional<std::string> Package::Find(std::string_view partName) const {
    if (!partName.empty() && partName.front() == '/') partName.remove_prefix(1);
    std::string name(partName);
    if (exact_.count(name)) return name;
    auto it = folded_.find(ToLower(name));
    if (it != folded_.end()) return it->second;
    return std::nullopt;
}

std::string Package::Read(const std::string& entryName) const {
    auto it = exact_.find(entryName);
    if (it == exact_.end()) Fail(wberr::NotAWorkbook, "The workbook package has no part " + entryName);
    zip_t* z = archive_->zip.get();
    FilePtr file(zip_fopen_index(z, it->second, 0));
    if (!file)
        Fail(wberr::DamagedPackage,
             "The workbook package is damaged: " + entryName + " cannot be opened: " + ArchiveText(z));
    const uint64_t declared = declaredSize_.at(entryName);
    std::string bytes;
    bytes.resize(static_cast<size_t>(declared));
    uint64_t have = 0;
    while (true) {
        // One byte more than declared is asked for, so that a lying size is noticed.
        char probe;
        char* into = have < declared ? bytes.data() + have : &probe;
        uint64_t want = have < declared ? declared - have : 1;
        zip_int64_t n = zip_fread(file.get(), into, want);
        if (n < 0)
            Fail(wberr::DamagedPackage, "The workbook package is damaged: " + entryName +
                                            " cannot be read: " + zip_error_strerror(zip_file_get_error(file.get())));
        if (n == 0) break;
        have += static_cast<uint64_t>(n);
        if (have > declared)
            Fail(wberr::DamagedPackage,
                 "The workbook package is damaged: " + entryName + " is larger than its entry says");
    }
    if (have != declared)
        Fail(wberr::DamagedPackage,
             "The workbook package is damaged: " + entryName + " is shorter than its entry says");
    return bytes;
}

std::string Package::Write(const std::vector<std::pair<std::string, std::string>>& replaced,
                           const std::set<std::string>& removed) const {
    OpenedArchive opened = OpenBuffer(bytes_.data(), bytes_.size(), 0);
    zip_t* z = opened.zip.get();
    for (const auto& name : removed) {
        zip_int64_t index = zip_name_locate(z, name.c_str(), 0);
        if (index >= 0 && zip_delete(z, static_cast<zip_uint64_t>(index)) != 0)
            Fail(errnum::E_FAIL, "The workbook part " + name + " cannot be removed: " + ArchiveText(z));
    }
    for (const auto& [name, bytes] : replaced) {
        zip_int64_t index = removed.count(name) ? -1 : zip_name_locate(z, name.c_str(), 0);
        AddEntry(z, name, bytes, index >= 0, static_cast<zip_uint64_t>(std::max<zip_int64_t>(index, 0)));
    }
    return CloseAndCollect(opened);
}

std::string Package::Build(const std::vector<std::pair<std::string, std::string>>& entries) {
    OpenedArchive opened = OpenBuffer(nullptr, 0, ZIP_CREATE | ZIP_TRUNCATE);
    for (const auto& [name, bytes] : entries) AddEntry(opened.zip.get(), name, bytes, false, 0);
    return CloseAndCollect(opened);
}

std::string ResolveTarget(std::string_view source, std::string_view target) {
    std::vector<std::string> parts;
    std::string_view rest = target;
    if (!rest.empty() && rest.front() == '/') {
        rest.remove_prefix(1);
    } else {
        size_t slash = source.rfind('/');
        if (slash != std::string_view::npos)
            for (auto& segment : Split(source.substr(0, slash), '/')) parts.push_back(segment);
    }
    if (rest.find('\\') != std::string_view::npos)
        Fail(wberr::UnsafePath, "The workbook relationship target \"" + Printable(target) +
                                    "\" is no package path");
    for (auto& segment : Split(rest, '/')) {
        if (segment.empty() || segment == ".") continue;
        if (segment == "..") {
            if (parts.empty())
                Fail(wberr::UnsafePath, "The workbook relationship target \"" + Printable(target) +
                                            "\" leaves the package");
            parts.pop_back();
        } else {
            parts.push_back(segment);
        }
    }
    std::string result;
    for (auto& p : parts) {
        if (!result.empty()) result += '/';
        result += p;
    }
    return result;
}

std::string RelationshipsPartOf(std::string_view part) {
    size_t slash = part.rfind('/');
    std::string folder = slash == std::string_view::npos ? "" : std::string(part.substr(0, slash + 1));
    std::string file(slash == std::string_view::npos ? part : part.substr(slash + 1));
    return folder + "_rels/" + file + ".rels";
}

std::string RelativeTarget(std::string_view source, std::string_view part) {
    size_t slash = source.rfind('/');
    std::string_view folder = slash == std::string_view::npos ? "" : source.substr(0, slash + 1);
    if (!folder.empty() && part.substr(0, folder.size()) == folder) return std::string(part.substr(folder.size()));
    return "/" + std::string(part);
}

}  // namespace kestrix::workbook::detail
