// Links to a document's page and the recipient list shown in mails.
#include "kestrix/foundation/users.h"
#include "kestrix/documents/recipients_query.h"
#include "kestrix/foundation/dbutils.h"
#include "kestrix/foundation/error_reporting.h"
#include "kestrix/foundation/general.h"
#include "kestrix/documents/links.h"
#include "platform/base/strings.h"
#include "platform/net/url.h"
#include "platform/services/configuration.h"

namespace kestrix {

std::string links::URLEncode(const std::string& iStr) {
    try {
        return ReplaceAll(net::EscapeQueryValue(iStr), "=", "%3D");
    } catch (...) {
        Reraise("Kestrix.PushDocUtils.EncodeURL");
    }
}

Variant links::getPagePath() {
    try {
        std::string link = GetParameter("SiteLink");
        if (link.empty() || link.back() != '/') link += "/";
        return link;
    } catch (...) {
        Reraise("Kestrix.Utility.getPagePath");
    }
}

std::string links::getKestrixPath() {
    try {
        std::string path = GetParameter("SiteLinkStartingPoint");
        if (!path.empty() && (path.back() == '/' || path.back() == '\\')) path.pop_back();
        return path;
    } catch (...) {
        Reraise("Kestrix.Utility.getKestrixPath");
    }
}

std::string links::getReceiveUrl() {
    try {
        auto configuration = CreateAs<services::Configuration>("Tavrel.Configuration");
        configuration->LoadFile(GetQelConfigFile());
        return configuration->GetValue("GLOBAL", "ReceiveUrl").ToString();
    } catch (...) {
        Reraise("Kestrix.Utility.getReceiveUrl");
    }
}

std::string links::getDocumentHyperlinkBySenderMode(int32_t iDocID, const std::string& iDocTypeID,
                                                      int32_t iSenderMode) {
    try {
        return getPagePath().ToString() + getKestrixPath() + "?DocID=" + std::to_string(iDocID) +
               "&DocTypeID=" + URLEncode(Trim(iDocTypeID)) + "&SenderMode=" + std::to_string(iSenderMode);
    } catch (...) {
        Reraise("Kestrix.Utility.getDocumentHyperlinkBySenderMode");
    }
}

std::string links::GetToRecipientList(int32_t iDocID, const std::string& iDocTypeID) {
    try {
        db::Recordset recipients = recipients::GetRecipientsFromPublicationTable(iDocID, iDocTypeID, false);
        // "x;" CR LF "y;z": the separators go between the addresses, with a line break after
        // the first, so that a single recipient is just his address.
        std::string list;
        size_t count = 0;
        for (; !recipients.Eof(); recipients.MoveNext()) {
            std::string user = recipients.GetString("USERID");
            if (count == 1) list += ";\r\n";
            else if (count > 1) list += ";";
            list += users::GetAUEmailAddress(user);
            ++count;
        }
        if (count == 0)
            throw Error(errnum::E_FAIL, "Kestrix.Utility.GetToRecipientList",
                        "The document " + std::to_string(iDocID) + " has no recipients.");
        return list;
    } catch (...) {
        Reraise("Kestrix.Utility.GetToRecipientList");
    }
}

}  // namespace kestrix
