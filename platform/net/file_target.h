#pragma once

#include <filesystem>
#include <string_view>

namespace kestrix::net {

/// What happens when the folder already holds a file of the name being delivered.
enum class ExistingFile {
    /// The delivery fails (`neterr::TargetExists`, not transient) and the file stays.
    Keep,
    /// The new file takes its place in one step: a reader sees the old or the new, whole.
    Replace,
};

/// Writes `data` as the file `name` in `folder` so that a partner polling the folder never
/// reads half a file: the bytes go to ".NAME.part" in the same folder, are flushed to disk,
/// and only then is the file moved to NAME (with `ExistingFile::Keep` by a rename that
/// refuses to replace, or a hard link and unlink where the file system lacks it). On any
/// failure the part file is removed and `TransportError` says what failed: a missing
/// folder, a folder that is read-only or not writable, a full disk (transient), an
/// existing target.
void WriteFileInFolder(const std::filesystem::path& folder, std::string_view name,
                       std::string_view data, ExistingFile existing);

}  // namespace kestrix::net
