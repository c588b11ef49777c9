// The three request helpers through which every HTTP request of the system goes: a page
// fetch, a file fetch and a size probe, each with the proxy of the settings, the
// remembered credentials and the error list.
#pragma once

#include <string>

namespace fetchora {

class THttpClient;
class TDownload;

// The body of the answer to a GET of url.
std::string FetchPage(const std::string& url, THttpClient& client);

// The body of the answer to a GET of entry.URL, with the range set on the client.
std::string FetchFile(TDownload& entry, THttpClient& client);

// The client's ContentLength after a HEAD of url; -1 when the answer carries no length.
int ProbeSize(const std::string& url, THttpClient& client);

} // namespace fetchora
