// The fetchora side of the https benchmark: THttpClient::Get of one address into a file,
// or of every address of a list into files of a folder, the body written piece by piece
// as OnDocData delivers it (no stream in memory), as a download would. scripts/bench-tls.sh
// runs it against curl and wget; the certificate authority comes from SSL_CERT_FILE.
//
//     tls_bench get URL FILE
//     tls_bench list LIST_FILE FOLDER
#include "http/http_client.h"

#include <QCoreApplication>

#include <cstdio>
#include <fstream>
#include <string>

namespace {

// Downloads url into path; false (with a line on stderr) when it fails.
bool fetch(fetchora::THttpClient& client, const std::string& url, const std::string& path) {
    std::FILE* out = std::fopen(path.c_str(), "wb");
    if (out == nullptr) {
        std::fprintf(stderr, "tls_bench: cannot write %s\n", path.c_str());
        return false;
    }
    bool written = true;
    client.OnDocData = [&](fetchora::THttpClient*, const char* buffer, int len) {
        written = written &&
                  std::fwrite(buffer, 1, static_cast<size_t>(len), out) == static_cast<size_t>(len);
    };
    client.URL = url;
    bool ok = true;
    try {
        client.Get();
        ok = client.StatusCode() == 200 && written;
    } catch (const std::exception& error) {
        std::fprintf(stderr, "tls_bench: %s: %s\n", url.c_str(), error.what());
        ok = false;
    }
    ok = std::fclose(out) == 0 && ok;
    if (!ok)
        std::fprintf(stderr, "tls_bench: %s failed (%d %s)\n", url.c_str(), client.StatusCode(),
                     client.ReasonPhrase().c_str());
    return ok;
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 4) {
        std::fprintf(stderr, "usage: tls_bench get URL FILE | tls_bench list LIST FOLDER\n");
        return 2;
    }
    const std::string mode = argv[1];
    QCoreApplication app(argc, argv);
    fetchora::THttpClient client("BenchClient");
    if (mode == "get")
        return fetch(client, argv[2], argv[3]) ? 0 : 1;
    std::ifstream list(argv[2]);
    std::string url;
    const std::string folder = argv[3];
    while (std::getline(list, url)) {
        if (url.empty())
            continue;
        if (!fetch(client, url, folder + "/" + url.substr(url.rfind('/') + 1)))
            return 1;
    }
    return 0;
}
