#include "platform/net/http.h"

#include <charconv>

#include "platform/base/strings.h"
#include "platform/net/curl_easy.h"
#include "platform/net/url.h"
#include "platform/xml/xml.h"

namespace kestrix::net {

namespace {

constexpr const char* kSource = "Net.PostForm";

struct Received {
    HttpAnswer answer;
    size_t limit = 0;
    bool tooLong = false;

    static size_t Body(char* data, size_t size, size_t count, void* self) {
        auto* r = static_cast<Received*>(self);
        size_t n = size * count;
        if (r->answer.body.size() + n > r->limit) {
            r->tooLong = true;
            return 0;
        }
        r->answer.body.append(data, n);
        return n;
    }

    static size_t Header(char* data, size_t size, size_t count, void* self) {
        auto* r = static_cast<Received*>(self);
        std::string_view line(data, size * count);
        if (line.substr(0, 5) == "HTTP/") {
            // A new answer (after a redirect or "100 Continue"): its status line.
            r->answer.reason.clear();
            r->answer.contentType.clear();
            r->answer.body.clear();
            size_t code = line.find(' ');
            size_t text = code == std::string_view::npos ? code : line.find(' ', code + 1);
            if (text != std::string_view::npos) r->answer.reason = Trim(line.substr(text + 1));
        } else if (IStartsWith(line, "content-type:")) {
            r->answer.contentType = Trim(line.substr(13));
        }
        return size * count;
    }
};

std::string StepOf(CURLcode rc, const HttpOptions& options) {
    if (std::string step = detail::ConnectionStep(rc, options.proxy); !step.empty()) return step;
    switch (rc) {
        case CURLE_TOO_MANY_REDIRECTS:
            return "follow the redirects (more than " + std::to_string(options.maxRedirects) +
                   ", a redirect loop?)";
        case CURLE_UNSUPPORTED_PROTOCOL:
            return "follow a redirect to another scheme";
        case CURLE_OPERATION_TIMEDOUT:
            return "get the answer in time";
        case CURLE_WRITE_ERROR:
            return "read the answer (longer than " + std::to_string(options.maxAnswerBytes) +
                   " bytes)";
        default:
            return "post the form";
    }
}

}  // namespace

HttpAnswer PostForm(std::string_view text, std::string_view formBody, const HttpOptions& options) {
    std::optional<Address> address = ParseAddress(Trim(text));
    if (!address || (address->scheme != "http" && address->scheme != "https")) {
        throw TransportError(neterr::InvalidAddress, kSource,
                             "The web address '" + MaskAddress(text) +
                                 "' needs the scheme http:// or https:// and a host.",
                             false);
    }
    const bool secure = address->scheme == "https";
    const int port = address->port > 0  ? address->port
                     : options.port > 0 ? options.port
                     : secure           ? 443
                                        : 80;
    const std::string page = address->path.empty() ? "/" : address->path;
    const std::string url = address->scheme + "://" + HostAndPort(*address, port) + page;

    detail::CurlEasy curl;
    curl.Set(CURLOPT_URL, url.c_str());
    curl.Set(CURLOPT_PROTOCOLS_STR, secure ? "https" : "http,https");
    curl.Set(CURLOPT_REDIR_PROTOCOLS_STR, secure ? "https" : "http,https");
    curl.ApplyTimeouts(options.timeouts);
    curl.ApplyProxy(options.proxy, options.proxyPort);
    if (!address->user.empty()) {
        curl.Set(CURLOPT_USERNAME, address->user.c_str());
        curl.Set(CURLOPT_PASSWORD, address->password.c_str());
    }
    curl.Set(CURLOPT_SSL_VERIFYPEER, options.verifyPeer ? 1L : 0L);
    curl.Set(CURLOPT_SSL_VERIFYHOST, options.verifyPeer ? 2L : 0L);
    if (!options.caFile.empty()) curl.Set(CURLOPT_CAINFO, options.caFile.c_str());
    if (options.maxRedirects > 0) {
        curl.Set(CURLOPT_FOLLOWLOCATION, 1L);
        curl.Set(CURLOPT_MAXREDIRS, options.maxRedirects);
        curl.Set(CURLOPT_POSTREDIR, static_cast<long>(CURL_REDIR_POST_ALL));
    }
    curl.Set(CURLOPT_POST, 1L);
    // The size first: the body is a view, not a terminated string.
    curl.Set(CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(formBody.size()));
    curl.Set(CURLOPT_POSTFIELDS, formBody.data());
    detail::CurlList headers;
    headers.Append("Content-Type: application/x-www-form-urlencoded");
    headers.Append("Cache-Control: no-cache");
    headers.Append("Expect:");
    curl.Set(CURLOPT_HTTPHEADER, headers.get());
    Received received;
    received.limit = options.maxAnswerBytes;
    curl.Set(CURLOPT_WRITEFUNCTION, &Received::Body);
    curl.Set(CURLOPT_WRITEDATA, static_cast<void*>(&received));
    curl.Set(CURLOPT_HEADERFUNCTION, &Received::Header);
    curl.Set(CURLOPT_HEADERDATA, static_cast<void*>(&received));

    CURLcode rc = curl_easy_perform(curl.get());
    if (rc != CURLE_OK) {
        std::string reason = detail::Scrub(curl.Reason(rc), address->password);
        throw TransportError(neterr::TransferErrorBase + rc, kSource,
                             "Cannot " + StepOf(rc, options) + " for the post to " +
                                 MaskAddress(text) + " (" + HostAndPort(*address, port) +
                                 ", page " + page + "): " + reason + ".",
                             detail::IsTransientCode(rc));
    }
    received.answer.status = static_cast<int>(curl.ResponseCode());
    return std::move(received.answer);
}

bool IsTransientStatus(int status) {
    switch (status) {
        case 408:
        case 425:
        case 429:
        case 500:
        case 502:
        case 503:
        case 504:
            return true;
        default:
            return false;
    }
}

void RequireStatus200(const HttpAnswer& answer, std::string_view address,
                      const std::function<bool(int)>& isTransient) {
    if (answer.status == 200) return;
    throw TransportError(neterr::HttpStatus, kSource,
                         "Server responded with:" + std::to_string(answer.status) + " " +
                             answer.reason + " (post to " + MaskAddress(address) + ")",
                         isTransient(answer.status));
}

std::optional<ReceiverError> FindReceiverError(std::string_view answer) {
    xml::XmlDocument doc;
    if (!doc.LoadXml(answer)) return std::nullopt;
    auto textOf = [&doc](const char* expression) {
        xml::XmlNode node = doc.SelectSingleNode(expression).first();
        return node ? Trim(node.Text()) : std::string();
    };
    std::string numberText = textOf("//ERROR_NUMBER");
    if (numberText.empty()) return std::nullopt;
    int64_t number = 0;
    auto [end, ec] =
        std::from_chars(numberText.data(), numberText.data() + numberText.size(), number);
    if (ec != std::errc() || end != numberText.data() + numberText.size()) number = errnum::E_FAIL;
    if (number == 0) return std::nullopt;
    return ReceiverError{static_cast<int32_t>(number), textOf("//ERROR_SOURCE"),
                         textOf("//ERROR_DESCRIPTION")};
}

}  // namespace kestrix::net
