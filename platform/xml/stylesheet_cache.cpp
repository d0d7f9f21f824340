#include "platform/xml/stylesheet_cache.h"

#include <sys/stat.h>

#include <unordered_map>

namespace kestrix::xml {

namespace {

/// Sheets kept per thread; past this many the thread starts afresh.
constexpr size_t kKeptSheets = 64;

struct KeptSheet {
    FileSignature signature;
    std::shared_ptr<XslStyleSheet> sheet;
};

std::unordered_map<std::string, KeptSheet>& ThreadSheets() {
    thread_local std::unordered_map<std::string, KeptSheet> sheets;
    return sheets;
}

}  // namespace

std::optional<FileSignature> SignatureOf(const std::string& path) {
    // Addresses and shares answer for files that may change without their signature
    // changing here.
    if (path.empty() || IsHttpAddress(path) || path.starts_with("\\\\") || path.starts_with("//"))
        return std::nullopt;
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return std::nullopt;
    FileSignature signature;
    signature.device = static_cast<unsigned long long>(st.st_dev);
    signature.inode = static_cast<unsigned long long>(st.st_ino);
    signature.size = static_cast<long long>(st.st_size);
    signature.modifiedNs =
        static_cast<long long>(st.st_mtim.tv_sec) * 1000000000LL + st.st_mtim.tv_nsec;
    return signature;
}

std::shared_ptr<XslStyleSheet> FindThreadStyleSheet(const std::string& path,
                                                    const FileSignature& signature) {
    auto& sheets = ThreadSheets();
    auto found = sheets.find(path);
    if (found == sheets.end()) return nullptr;
    if (found->second.signature != signature) {
        sheets.erase(found);
        return nullptr;
    }
    return found->second.sheet;
}

void KeepThreadStyleSheet(const std::string& path, const FileSignature& signature,
                          std::shared_ptr<XslStyleSheet> sheet) {
    if (!sheet || !sheet->IsLoaded()) return;
    auto& sheets = ThreadSheets();
    if (sheets.size() >= kKeptSheets && sheets.count(path) == 0) sheets.clear();
    sheets[path] = KeptSheet{signature, std::move(sheet)};
}

void ClearThreadStyleSheets() { ThreadSheets().clear(); }

}  // namespace kestrix::xml
