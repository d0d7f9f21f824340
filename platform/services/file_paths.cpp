#include "platform/services/file_paths.h"

#include <cstdlib>
#include <filesystem>
#include <random>

#include "platform/base/strings.h"

namespace kestrix::services {

namespace fs = std::filesystem;

std::string NormalizeSeparators(std::string_view path) {
    std::string out(path);
    for (char& c : out)
        if (c == '\\') c = '/';
    return out;
}

bool IsNetworkPath(std::string_view path) {
    return path.size() >= 2 && path[0] == '\\' && path[1] == '\\';
}

bool HasDrive(std::string_view path) {
    if (path.empty() || IsNetworkPath(path)) return false;
    if (path[0] == '/' || path[0] == '\\') return true;
    const bool letter = (path[0] >= 'A' && path[0] <= 'Z') || (path[0] >= 'a' && path[0] <= 'z');
    return path.size() >= 2 && letter && path[1] == ':';
}

std::string MapNetworkPath(std::string_view path, std::string_view uncRoot) {
    if (!IsNetworkPath(path)) return NormalizeSeparators(path);
    std::string rest = NormalizeSeparators(path.substr(2));
    for (const std::string& part : Split(rest, '/')) {
        if (part == "." || part == "..") {
            throw Error(
                fserr::PathNotFound, "Paths.MapNetworkPath",
                "Path not found: the network path '" + std::string(path) + "' leaves its share.");
        }
    }
    return JoinPath(NormalizeSeparators(uncRoot), rest);
}

std::string JoinPath(std::string_view folder, std::string_view name) {
    if (folder.empty()) return std::string(name);
    std::string out(folder);
    while (!name.empty() && (name.front() == '/' || name.front() == '\\')) name.remove_prefix(1);
    if (out.back() != '/' && out.back() != '\\') out += '/';
    out += name;
    return out;
}

std::string InSite(std::string_view path, std::string_view site) {
    // An address ("http://...", "ftp://...") is no path of the site either.
    if (path.empty() || HasDrive(path) || IsNetworkPath(path) || path.find("://") != std::string_view::npos)
        return std::string(path);
    std::string_view rest = path;
    while (rest.size() >= 2 && rest[0] == '.' && (rest[1] == '/' || rest[1] == '\\')) rest.remove_prefix(2);
    if (rest == ".") return std::string(site);
    return JoinPath(site, NormalizeSeparators(rest));
}

std::string WithTrailingSeparator(std::string_view folder) {
    std::string out(folder);
    if (out.empty() || (out.back() != '/' && out.back() != '\\')) out += '/';
    return out;
}

std::string SystemTempFolder() {
    std::error_code ec;
    fs::path temp = fs::temp_directory_path(ec);
    std::string out = ec ? std::string("/tmp") : temp.string();
    while (out.size() > 1 && out.back() == '/') out.pop_back();
    return out;
}

std::string TempFileName() {
    static constexpr char kChars[] = "abcdefghijklmnopqrstuvwxyz0123456789";
    thread_local std::mt19937_64 engine{std::random_device{}()};
    std::uniform_int_distribution<size_t> pick(0, sizeof kChars - 2);
    std::string name = "kx";
    for (int i = 0; i < 8; ++i) name += kChars[pick(engine)];
    return name + ".tmp";
}

Error FileSystemError(const std::error_code& code, std::string source, std::string_view path) {
    int32_t number = fserr::PathFileAccessError;
    if (code == std::errc::no_such_file_or_directory)
        number = fserr::FileNotFound;
    else if (code == std::errc::file_exists)
        number = fserr::FileAlreadyExists;
    else if (code == std::errc::permission_denied || code == std::errc::operation_not_permitted ||
             code == std::errc::device_or_resource_busy || code == std::errc::read_only_file_system)
        number = fserr::PermissionDenied;
    else if (code == std::errc::not_a_directory)
        number = fserr::PathNotFound;
    return Error(number, std::move(source), code.message() + ": '" + std::string(path) + "'");
}

}  // namespace kestrix::services
