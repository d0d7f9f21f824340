#include "platform/net/curl_easy.h"

#include <mutex>

#include "platform/base/strings.h"

namespace kestrix::net::detail {

namespace {
constexpr const char* kSource = "Net";
}

void EnsureCurl() {
    // The library counts its initialisations, so other rooms that initialise it for their
    // own transfers do no harm; this is the one place the transports do it.
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

CurlEasy::CurlEasy() : errorBuffer_(new char[CURL_ERROR_SIZE]) {
    EnsureCurl();
    handle_.reset(curl_easy_init());
    if (!handle_) {
        throw TransportError(neterr::TransferErrorBase + CURLE_FAILED_INIT, kSource,
                             "Cannot start a transfer: the transfer library did not initialise.",
                             true);
    }
    errorBuffer_[0] = '\0';
    Set(CURLOPT_ERRORBUFFER, errorBuffer_.get());
    Set(CURLOPT_NOSIGNAL, 1L);
    Set(CURLOPT_NOPROGRESS, 1L);
}

std::string CurlEasy::Reason(CURLcode code) const {
    std::string text = errorBuffer_[0] ? std::string(errorBuffer_.get()) : curl_easy_strerror(code);
    return Trim(text);
}

void CurlEasy::ApplyTimeouts(const Timeouts& timeouts) {
    Set(CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(timeouts.connect.count()));
    Set(CURLOPT_TIMEOUT_MS, static_cast<long>(timeouts.transfer.count()));
}

void CurlEasy::ApplyProxy(const std::string& proxy, long port) {
    if (Trim(proxy).empty()) {
        // Deliveries go where the send method says, not where the environment points.
        Set(CURLOPT_PROXY, "");
        return;
    }
    Set(CURLOPT_PROXY, proxy.c_str());
    if (port > 0) Set(CURLOPT_PROXYPORT, port);
}

long CurlEasy::ResponseCode() const {
    long code = 0;
    curl_easy_getinfo(handle_.get(), CURLINFO_RESPONSE_CODE, &code);
    return code;
}

void CurlEasy::ThrowSetting(CURLoption option, CURLcode rc) const {
    throw TransportError(neterr::TransferErrorBase + rc, kSource,
                         "The transfer library refused setting " + std::to_string(option) + ": " +
                             curl_easy_strerror(rc),
                         false);
}

void CurlList::Append(const std::string& text) {
    curl_slist* grown = curl_slist_append(list_.get(), text.c_str());
    if (!grown) throw std::bad_alloc();
    list_.release();
    list_.reset(grown);
}

bool IsTransientCode(CURLcode code) {
    switch (code) {
        case CURLE_COULDNT_RESOLVE_PROXY:
        case CURLE_COULDNT_RESOLVE_HOST:
        case CURLE_COULDNT_CONNECT:
        case CURLE_OPERATION_TIMEDOUT:
        case CURLE_SEND_ERROR:
        case CURLE_RECV_ERROR:
        case CURLE_GOT_NOTHING:
        case CURLE_PARTIAL_FILE:
        case CURLE_FTP_ACCEPT_FAILED:
        case CURLE_FTP_ACCEPT_TIMEOUT:
        case CURLE_FTP_CANT_GET_HOST:
        case CURLE_FTP_WEIRD_PASV_REPLY:
        case CURLE_FTP_WEIRD_227_FORMAT:
        case CURLE_FTP_PORT_FAILED:
        case CURLE_HTTP2:
        case CURLE_HTTP2_STREAM:
        case CURLE_AGAIN:
        case CURLE_OUT_OF_MEMORY:
            return true;
        default:
            return false;
    }
}

std::string ConnectionStep(CURLcode code, const std::string& proxy) {
    switch (code) {
        case CURLE_COULDNT_RESOLVE_HOST:
            return "find the host";
        case CURLE_COULDNT_RESOLVE_PROXY:
            return "find the proxy '" + proxy + "'";
        case CURLE_COULDNT_CONNECT:
            return "connect";
        case CURLE_USE_SSL_FAILED:
        case CURLE_SSL_CONNECT_ERROR:
            return "secure the connection with TLS";
        case CURLE_PEER_FAILED_VERIFICATION:
        case CURLE_SSL_CACERT_BADFILE:
            return "verify the server's certificate";
        default:
            return {};
    }
}

std::string Scrub(std::string text, std::string_view secret) {
    if (secret.size() < 4) return text;
    return ReplaceAll(text, secret, "***");
}

}  // namespace kestrix::net::detail
