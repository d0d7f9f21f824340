#pragma once

#include <string>

namespace kestrix {

/// Who holds a claim: "HOST:PID:START", where START is the moment the process started (in
/// clock ticks since boot), so that a later process that happens to get the same number is
/// not taken for the first one.
std::string ThisProcessOwner();

/// True when the owner named by `owner` (as `ThisProcessOwner` writes it) ran on this host
/// and is no longer running. An owner on another host, or a text that names none, is never
/// known to be gone: its claim can only run out.
bool OwnerIsGone(const std::string& owner);

}  // namespace kestrix
