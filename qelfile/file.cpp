#include "qelfile/file.h"

#include <filesystem>
#include <fstream>

#include "platform/base/error.h"
#include "platform/base/strings.h"
#include "platform/services/configuration.h"
#include "platform/services/file_paths.h"
#include "platform/text/code_page.h"
#include "qelfile/error_reporter.h"

namespace kestrix::qelfile {

namespace fs = std::filesystem;
using services::FileSystemError;
namespace fserr = services::fserr;

namespace {

constexpr const char* kSiteConfigurationFile = "SiteConfiguration.xml";

/// The last part of a path (after the last "/" or "\").
std::string_view LastPart(std::string_view path) {
    size_t slash = path.find_last_of("/\\");
    return slash == std::string_view::npos ? path : path.substr(slash + 1);
}

void WriteBytes(const std::string& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    if (!out) {
        std::error_code ec(errno, std::generic_category());
        throw FileSystemError(ec, "QelFile.File.WriteXMLFileToDiskAsciiOrUnicode", path);
    }
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    out.close();
    if (!out) {
        throw Error(fserr::PathFileAccessError, "QelFile.File.WriteXMLFileToDiskAsciiOrUnicode",
                    "The file '" + path + "' could not be written.");
    }
}

}  // namespace

std::string UncRoot() {
    std::string folder;
    auto products = services::Configuration::InstalledProducts("QelServer");
    if (!products.empty()) folder = products.front().siteConfigFolder;
    if (folder.empty()) folder = services::JoinPath(services::SiteHome(), "config");
    services::Configuration configuration;
    configuration.LoadFile(services::JoinPath(folder, kSiteConfigurationFile));
    std::string root = Trim(configuration.GetValue("GLOBAL", "UncRoot").ToString());
    if (root.empty()) {
        throw Error(fserr::PathNotFound, "QelFile.File.UncRoot",
                    "Path not found: the site configuration names no root for network paths "
                    "(GLOBAL UncRoot).");
    }
    // A root inside the site is named relative to the site folder.
    return services::InSite(root, fs::path(folder).parent_path().string());
}

std::string LocalPath(std::string_view path) {
    if (services::IsNetworkPath(path)) return services::MapNetworkPath(path, UncRoot());
    return services::NormalizeSeparators(path);
}

Variant File::WriteXMLFileToDiskAsciiOrUnicode(std::string& i_sXMLStr, std::string& i_sFileName,
                                               bool& i_bUnicode) {
    try {
        if (Trim(i_sFileName).empty()) i_sFileName = services::TempFileName();
        std::string name = AddTempPathIfNoDriveFound(i_sFileName);
        std::string path = LocalPath(name);
        if (i_bUnicode) {
            WriteBytes(path, text::Utf8ToUtf16LE(i_sXMLStr, text::ByteOrderMark::Write));
        } else {
            WriteBytes(path, text::Utf8ToCp1252(i_sXMLStr).bytes);
        }
        return Variant(name);
    } catch (...) {
        // The text's first characters and the file name tell one failed write from another.
        Reraise("(File.WriteXMLFileToDiskAsciiOrUnicode" + i_sXMLStr.substr(0, 6) + ", " +
                i_sFileName + ")");
    }
}

std::string File::AddTempPathIfNoDriveFound(const std::string& i_sPath) {
    try {
        if (services::HasDrive(i_sPath)) return i_sPath;
        return services::JoinPath(services::SystemTempFolder(),
                                  services::NormalizeSeparators(i_sPath));
    } catch (...) {
        // This one answers "" instead of raising; the log keeps the reason.
        LogError("QelFile.File.AddTempPathIfNoDriveFound");
        return {};
    }
}

bool File::DirExist(const std::string& iDir) {
    try {
        std::error_code ec;
        return fs::is_directory(LocalPath(iDir), ec);
    } catch (...) {
        Reraise("QelFile.File.DirExist");
    }
}

bool File::FileExist(const std::string& iFile) {
    try {
        std::error_code ec;
        return fs::is_regular_file(LocalPath(iFile), ec);
    } catch (...) {
        Reraise("QelFile.file.FileExist");
    }
}

void File::CopyFile(const std::string& i_sFromFile, const std::string& i_sToFile,
                    bool i_bOverwiteFiles) {
    try {
        const std::string from = LocalPath(i_sFromFile);
        std::string to = LocalPath(i_sToFile);
        std::error_code ec;
        if (!fs::is_regular_file(from, ec)) {
            throw FileSystemError(std::make_error_code(std::errc::no_such_file_or_directory),
                                  "QelFile.File.CopyFile", i_sFromFile);
        }
        if (to.ends_with('/') || fs::is_directory(to, ec))
            to = services::JoinPath(to, std::string(LastPart(from)));
        if (fs::exists(to, ec) && !i_bOverwiteFiles) {
            throw FileSystemError(std::make_error_code(std::errc::file_exists),
                                  "QelFile.File.CopyFile", i_sToFile);
        }
        fs::copy_file(
            from, to,
            i_bOverwiteFiles ? fs::copy_options::overwrite_existing : fs::copy_options::none, ec);
        if (ec) throw FileSystemError(ec, "QelFile.File.CopyFile", i_sToFile);
    } catch (...) {
        Reraise("QelFile.File.CopyFile");
    }
}

std::string File::BuildPath(const std::string& i_sFilePath, const Variant& i_sName) {
    try {
        std::string name = i_sName.ToString();
        if (i_sFilePath.empty()) return name;
        const char separator = services::IsNetworkPath(i_sFilePath) ? '\\' : '/';
        std::string path = i_sFilePath;
        while (!name.empty() && (name.front() == '/' || name.front() == '\\')) name.erase(0, 1);
        if (path.back() != '/' && path.back() != '\\') path += separator;
        return path + name;
    } catch (...) {
        Reraise("QelFile.File.BuildPath");
    }
}

void File::CreateFolder(const std::string& i_sFilePath) {
    try {
        const std::string path = LocalPath(i_sFilePath);
        std::error_code ec;
        if (fs::exists(path, ec)) {
            throw FileSystemError(std::make_error_code(std::errc::file_exists),
                                  "QelFile.File.CreateFolder", i_sFilePath);
        }
        // One level only: create_directory fails when the parent is missing.
        if (!fs::create_directory(path, ec) || ec) {
            if (!ec) ec = std::make_error_code(std::errc::file_exists);
            throw FileSystemError(ec == std::errc::no_such_file_or_directory
                                      ? std::make_error_code(std::errc::not_a_directory)
                                      : ec,
                                  "QelFile.File.CreateFolder", i_sFilePath);
        }
    } catch (...) {
        Reraise("QelFile.File.CreateFolder");
    }
}

std::string File::GetBaseName(const std::string& i_sFilePath) {
    try {
        std::string_view name = LastPart(i_sFilePath);
        size_t dot = name.rfind('.');
        return std::string(dot == std::string_view::npos ? name : name.substr(0, dot));
    } catch (...) {
        Reraise("QelFile.File.GetBaseName");
    }
}

std::string File::GetExtensionName(const std::string& i_sFilePath) {
    try {
        std::string_view name = LastPart(i_sFilePath);
        size_t dot = name.rfind('.');
        return dot == std::string_view::npos ? std::string() : std::string(name.substr(dot + 1));
    } catch (...) {
        Reraise("QelFile.File.GetExtensionName");
    }
}

Variant File::Invoke(std::string_view method, std::span<Variant> args) {
    auto text = [&](size_t i) { return i < args.size() ? args[i].ToString() : std::string(); };
    const size_t n = args.size();
    if (IEquals(method, "WriteXMLFileToDiskAsciiOrUnicode") && n >= 1 && n <= 3) {
        std::string xml = text(0), name = text(1);
        bool unicode = n < 3 || args[2].IsEmpty() ? true : args[2].ToBool();
        Variant result = WriteXMLFileToDiskAsciiOrUnicode(xml, name, unicode);
        if (n >= 2) args[1] = Variant(name);
        return result;
    }
    if (IEquals(method, "AddTempPathIfNoDriveFound") && n == 1)
        return AddTempPathIfNoDriveFound(text(0));
    if (IEquals(method, "DirExist") && n == 1) return DirExist(text(0));
    if (IEquals(method, "FileExist") && n == 1) return FileExist(text(0));
    if (IEquals(method, "CopyFile") && (n == 2 || n == 3)) {
        CopyFile(text(0), text(1), n == 3 && args[2].ToBool());
        return {};
    }
    if (IEquals(method, "BuildPath") && n == 2) return BuildPath(text(0), args[1]);
    if (IEquals(method, "CreateFolder") && n == 1) {
        CreateFolder(text(0));
        return {};
    }
    if (IEquals(method, "GetBaseName") && n == 1) return GetBaseName(text(0));
    if (IEquals(method, "GetExtensionName") && n == 1) return GetExtensionName(text(0));
    return Object::Invoke(method, args);
}

}  // namespace kestrix::qelfile
