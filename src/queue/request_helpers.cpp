// The request helpers: one request sequence with the proxy of the settings, the
// remembered credentials, the prompt after a 401 and the error list, shared by the page
// fetch, the file fetch and the size probe.
#include "queue/request_helpers.h"

#include "http/http_client.h"
#include "http/http_url.h"
#include "http/stream.h"
#include "queue/credentials.h"
#include "queue/download_list.h"
#include "queue/exception_list.h"
#include "queue/parse_url.h"
#include "util/settings.h"

namespace fetchora {

namespace {

enum class Method { Get, Head };

// Lends the helper's stream to the client for one request and takes it back however the
// request is left, an error from the credential store or the prompt included: the client
// never keeps a stream that is freed after the helper returns. A client that is somehow
// still busy when the stream is taken back has its request aborted first.
class ReceiveStreamLease final {
public:
    ReceiveStreamLease(THttpClient& client, TStream* stream) : client_(client), stream_(stream) {
        if (stream_ != nullptr)
            client_.ReceiveStream = stream_;
    }
    ~ReceiveStreamLease() {
        if (stream_ == nullptr || client_.ReceiveStream != stream_)
            return;
        if (client_.State() != httpReady) {
            try {
                client_.Abort();
            } catch (...) {
                // The stream is taken back all the same.
            }
        }
        client_.ReceiveStream = nullptr;
    }
    ReceiveStreamLease(const ReceiveStreamLease&) = delete;
    ReceiveStreamLease& operator=(const ReceiveStreamLease&) = delete;

private:
    THttpClient& client_;
    TStream* stream_;
};

// One request with the shared preparation and error policy; the body (GET) stays in
// body, the client holds the rest. False when the client was busy with another request,
// so that its results describe that one.
bool request(const std::string& url, THttpClient& client, Method method, TStream* body) {
    TAuthURL authURL(url);
    if (!authURL.UserName.empty())
        StoreCredentials(authURL);
    else
        ApplyCredentials(authURL, true);

    // A client serves one request at a time. One that is busy with another request is
    // left alone (its URL, proxy and stream belong to that request); its busy error is
    // recorded against the address asked for.
    if (client.State() != httpReady) {
        try {
            if (method == Method::Get)
                client.Get();
            else
                client.Head();
        } catch (const EHttpException& error) {
            AddException(error.what(), requestURL(authURL.URL));
        }
        return false;
    }

    client.Proxy = readSettingText(settings::kProxyServer, "");
    client.ProxyPort = readSettingText(settings::kProxyPort, "");

    TStream* stream = method == Method::Get ? body : nullptr;
    const ReceiveStreamLease lease(client, stream);

    for (;;) {
        if (method == Method::Head) {
            client.ContentRangeBegin.clear();
            client.ContentRangeEnd.clear();
        }
        client.URL = requestURL(authURL.URL);
        bool raised = false;
        try {
            if (method == Method::Get)
                client.Get();
            else
                client.Head();
        } catch (const EHttpException&) {
            raised = true;
        }
        if (client.StatusCode() == 401) {
            ForgetCredentials(authURL.Server);
            if (!ApplyCredentials(authURL, false))
                break;
            if (stream) {
                stream->SetSize(0);
                stream->Seek(0, TSeekOrigin::soBeginning);
            }
            continue;
        }
        if (raised)
            AddException(client.ReasonPhrase(), client.URL);
        break;
    }

    if (stream != nullptr)
        stream->Seek(0, TSeekOrigin::soBeginning);
    return true;
}

} // namespace

std::string requestURL(const std::string& url) {
    return lowerSchemeAndHost(url);
}

bool ApplyCredentials(TAuthURL& authURL, bool noPrompt) {
    std::string user;
    std::string password;
    if (!LookupCredentials(authURL.Server, noPrompt, user, password))
        return false;
    authURL.UserName = user;
    authURL.Password = password;
    authURL.URL = replaceCredentials(authURL.URL, user, password);
    return true;
}

std::string FetchPage(const std::string& url, THttpClient& client) {
    TStringStream body;
    request(url, client, Method::Get, &body);
    return body.TakeDataString();
}

std::string FetchFile(TDownload& entry, THttpClient& client) {
    TStringStream body;
    fetchFileInto(entry, client, body);
    return body.TakeDataString();
}

void fetchFileInto(TDownload& entry, THttpClient& client, TStream& body) {
    request(entry.URL, client, Method::Get, &body);
}

int64_t ProbeSize(const std::string& url, THttpClient& client) {
    // A busy client's length is that of its own request, not of this address.
    if (!request(url, client, Method::Head, nullptr))
        return -1;
    // Only a successful answer describes the file. The length of an error page (a 404, a
    // 401 whose prompt was cancelled, a relocation left unfollowed) would queue the page
    // as if it were the file.
    const int status = client.StatusCode();
    if (status < 200 || status > 299)
        return -1;
    // 64 bits, whatever width the client gives it: files of 2 GB and more are queued.
    return static_cast<int64_t>(client.ContentLength());
}

} // namespace fetchora
