// Delivery benchmark: N orders processed on a two-partner site, then pushed to the receiving
// partner by file path, by FTP and by HTTP to peers on loopback, one protocol at a time, on
// one thread. Prints documents processed per second and deliveries per second per protocol.
//
//   delivery_bench [N]            (default 200)
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "kestrix/api/document.h"
#include "kestrix/delivery/push_doc_utils.h"
#include "kestrix/delivery/send_method.h"
#include "platform/base/error.h"
#include "tests/peers/http_server.h"
#include "tests/peers/transfer_peers.h"
#include "tests/support/site/test_site.h"

namespace fs = std::filesystem;
using namespace kestrix;

namespace {

using Clock = std::chrono::steady_clock;

double Seconds(Clock::time_point since) {
    return std::chrono::duration<double>(Clock::now() - since).count();
}

}  // namespace

int main(int argc, char** argv) {
    const int count = argc > 1 ? std::atoi(argv[1]) : 200;
    if (count <= 0) {
        std::fprintf(stderr, "usage: delivery_bench [N]\n");
        return 2;
    }
    try {
        test::TwoPartnerSite site("sqlite");
        std::vector<int32_t> documents;
        const auto processing = Clock::now();
        for (int i = 0; i < count; ++i) {
            Document document;
            std::string type, recipient, outType, sender, defRecipient;
            int32_t docId = 0, bp = 0;
            int16_t status = 0;
            // Interactive: stored and published, no mails, no push yet.
            document.ProcessDocument(-1,
                                     "<ORDER><SENDER>alice</SENDER><DOCTYPE-ID>ORDER</DOCTYPE-ID><RECEIVER>bob</RECEIVER>"
                                     "<NUMBER>" + std::to_string(i) + "</NUMBER><LINE qty='2'>Bolts M8</LINE></ORDER>",
                                     type, recipient, docId, bp, outType, sender, defRecipient, status);
            documents.push_back(docId);
        }
        const double processed = count / Seconds(processing);
        std::printf("processing: %d documents, %.0f documents/s\n", count, processed);

        test::FtpServer ftp;
        test::HttpServer web;
        web.SetResponse("/receive", {200, "<OK/>", "text/xml", {}});
        const fs::path folder = site.root() / "out" / "partner";
        fs::create_directories(folder);

        struct Protocol {
            const char* name;
            TSendMethodProperties properties;
        };
        std::vector<Protocol> protocols(3);
        protocols[0].name = "file path";
        protocols[0].properties.nProtocol = ESendMethodProtocol::FilePath;
        protocols[0].properties.sAddress = folder.string();
        protocols[1].name = "FTP";
        protocols[1].properties.nProtocol = ESendMethodProtocol::Ftp;
        protocols[1].properties.sAddress = ftp.Url("ftp", "/");
        protocols[1].properties.sUser = test::FtpServer::kUser;
        protocols[1].properties.sPassword = test::FtpServer::kPassword;
        protocols[1].properties.nFTPTransferType = ESendMethodFTPTransferType::Binary;
        protocols[2].name = "HTTP";
        protocols[2].properties.nProtocol = ESendMethodProtocol::Http;
        protocols[2].properties.sAddress = web.Url("/receive");

        SendMethod methods;
        PushDocUtils push;
        for (Protocol& protocol : protocols) {
            TSendMethodProperties& p = protocol.properties;
            p.nFormat = ESendMethodFormat::XML;
            p.bAutoPush = true;
            p.sFileExtension = "xml";
            p.nSuffix = ESendMethodSuffix::None;
            site.Exec("DELETE FROM SENDMETHOD");
            int32_t id = methods.AddSendMethodProperties2(p);
            int32_t bp = site.bolt(), rule = -1;
            std::string type = "ORDER";
            methods.AddSendMethod2(id, bp, type, rule);
            const int64_t sentBefore = site.Count("SENDMETHODHISTORY WHERE STATUS = 1");
            const auto started = Clock::now();
            for (int32_t docId : documents) push.PushDocumentToReceivers(docId, "ORDER");
            const double elapsed = Seconds(started);
            const int64_t sent = site.Count("SENDMETHODHISTORY WHERE STATUS = 1") - sentBefore;
            std::printf("%-9s: %lld of %d delivered, %.0f deliveries/s\n", protocol.name,
                        static_cast<long long>(sent), count, sent / elapsed);
        }
        return 0;
    } catch (const Error& e) {
        std::fprintf(stderr, "delivery_bench: %s\n", e.description().c_str());
        return 1;
    }
}
