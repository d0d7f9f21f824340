#include "platform/base/process_owner.h"

#include <unistd.h>

#include <charconv>
#include <fstream>
#include <sstream>
#include <string_view>

namespace kestrix {

namespace {

std::string HostName() {
    char name[256] = {};
    if (::gethostname(name, sizeof name - 1) != 0 || name[0] == '\0') return "localhost";
    return name;
}

/// The start time of a process in clock ticks since boot ("" when there is no such process).
std::string StartTicks(long pid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
    std::string stat;
    if (!in || !std::getline(in, stat)) return {};
    // The command name in parentheses may hold blanks: the fields count from its end.
    const size_t close = stat.rfind(')');
    if (close == std::string::npos) return {};
    std::istringstream fields(stat.substr(close + 1));
    std::string field;
    // After the name: state (3), ..., starttime is field 22.
    for (int i = 3; i <= 22; ++i)
        if (!(fields >> field)) return {};
    return field;
}

}  // namespace

std::string ThisProcessOwner() {
    auto owner = [](long pid) { return HostName() + ":" + std::to_string(pid) + ":" + StartTicks(pid); };
    // Worked out once: host and start do not change while the process runs (a forked child
    // has a number of its own and works its own out).
    static const long firstPid = static_cast<long>(::getpid());
    static const std::string first = owner(firstPid);
    const long pid = static_cast<long>(::getpid());
    return pid == firstPid ? first : owner(pid);
}

bool OwnerIsGone(const std::string& owner) {
    // HOST:PID:START, the host name itself without colons.
    const size_t first = owner.find(':');
    const size_t second = first == std::string::npos ? std::string::npos : owner.find(':', first + 1);
    if (second == std::string::npos) return false;
    if (std::string_view(owner).substr(0, first) != HostName()) return false;
    long pid = 0;
    const char* begin = owner.data() + first + 1;
    const char* end = owner.data() + second;
    if (std::from_chars(begin, end, pid).ec != std::errc() || pid <= 0) return false;
    const std::string start = StartTicks(pid);
    return start.empty() || start != owner.substr(second + 1);
}

}  // namespace kestrix
