#pragma once

#include <memory>
#include <optional>
#include <string>

#include "platform/xml/xml.h"

namespace kestrix::xml {

/// The state of a local file when its style sheet was compiled: a file replaced, rewritten
/// or touched since then differs in one of these.
struct FileSignature {
    unsigned long long device = 0;
    unsigned long long inode = 0;
    long long size = 0;
    long long modifiedNs = 0;

    bool operator==(const FileSignature&) const = default;
};

/// The signature of the file at `path`; nothing when it cannot be read, or when the name is
/// an address or a network path (their sheets are never kept).
std::optional<FileSignature> SignatureOf(const std::string& path);

/// Compiled style sheets of local files, kept by the calling thread by path and file
/// signature, so that the same sheet is not read and compiled again for every document. A
/// sheet whose file changed since is no longer found. The included sheets of a kept sheet
/// are not watched: changing only an include takes effect after `ClearThreadStyleSheets`.
/// A thread keeps at most a few dozen sheets.
///
/// The sheet found with `signature` taken before the file is read, or null.
std::shared_ptr<XslStyleSheet> FindThreadStyleSheet(const std::string& path,
                                                    const FileSignature& signature);
/// Keeps `sheet`, compiled from the file at `path` whose signature was `signature` before it
/// was read.
void KeepThreadStyleSheet(const std::string& path, const FileSignature& signature,
                          std::shared_ptr<XslStyleSheet> sheet);
/// Forgets every sheet the calling thread keeps.
void ClearThreadStyleSheets();

}  // namespace kestrix::xml
