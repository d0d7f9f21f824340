// The statuses of documents and publications by name, for everything that shows them to people.
#include <utility>

#include "kestrix/foundation/enums.h"
#include "platform/base/strings.h"

namespace kestrix {

namespace {

constexpr std::pair<DOCUMENTSTATUS, std::string_view> kDocumentStatuses[] = {
    {DOCUMENTSTATUS::DOCUMENTUNKNOWNSTATUS, "unfinished"},
    {DOCUMENTSTATUS::DOCUMENTNEW, "new"},
    {DOCUMENTSTATUS::DOCUMENTPUBLISHED, "published"},
    {DOCUMENTSTATUS::DOCUMENTACCEPTED, "accepted"},
    {DOCUMENTSTATUS::DOCUMENTPARTIALLYACCEPTED, "partially accepted"},
    {DOCUMENTSTATUS::DOCUMENTDELETED, "deleted"},
    {DOCUMENTSTATUS::DOCUMENTSENT, "sent"},
};

constexpr std::pair<PUBLICATIONSTATUS, std::string_view> kPublicationStatuses[] = {
    {PUBLICATIONSTATUS::PUBLICATIONUNKNOWNSTATUS, "unknown"},
    {PUBLICATIONSTATUS::PUBLICATIONNEW, "new"},
    {PUBLICATIONSTATUS::PUBLICATIONACC, "accepted"},
    {PUBLICATIONSTATUS::PUBLICATIONNEWDEL, "new, deleted"},
    {PUBLICATIONSTATUS::PUBLICATIONACCDEL, "accepted, deleted"},
    {PUBLICATIONSTATUS::PUBLICATIONREJECTED, "rejected"},
    {PUBLICATIONSTATUS::PUBLICATIONVIEWED, "viewed"},
    {PUBLICATIONSTATUS::PUBLICATIONDOWNLOADED, "downloaded"},
    {PUBLICATIONSTATUS::PUBLICATIONREJECTEDDEL, "rejected, deleted"},
    {PUBLICATIONSTATUS::PUBLICATIONVIEWEDDEL, "viewed, deleted"},
    {PUBLICATIONSTATUS::PUBLICATIONDOWNLOADEDDEL, "downloaded, deleted"},
};

template <typename Status, size_t N>
std::string NameOf(const std::pair<Status, std::string_view> (&names)[N], int32_t status) {
    for (const auto& [value, name] : names)
        if (static_cast<int32_t>(value) == status) return std::string(name);
    return "status " + std::to_string(status);
}

}  // namespace

std::string DocumentStatusName(int32_t status) { return NameOf(kDocumentStatuses, status); }

std::string PublicationStatusName(int32_t status) { return NameOf(kPublicationStatuses, status); }

std::optional<DOCUMENTSTATUS> DocumentStatusByName(std::string_view name) {
    std::string wanted = ToLower(Trim(name));
    for (char& c : wanted)
        if (c == '-' || c == '_') c = ' ';
    for (const auto& [value, known] : kDocumentStatuses)
        if (wanted == known) return value;
    return std::nullopt;
}

}  // namespace kestrix
