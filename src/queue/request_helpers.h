// The three request helpers through which every HTTP request of the system goes: a page
// fetch, a file fetch and a size probe, each with the proxy of the settings, the
// remembered credentials, the prompt after a 401 and the error list. Request failures
// are recorded in the error list and never raised; errors before the request (a URL that
// cannot be split, a damaged servers.txt, the registry) reach the caller.
#pragma once

#include <cstdint>
#include <string>

namespace fetchora {

class TAuthURL;
class THttpClient;
class TDownload;
class TStream;

// The body of the answer to a GET of url.
std::string FetchPage(const std::string& url, THttpClient& client);

// The body of the answer to a GET of entry.URL, with the range set on the client.
std::string FetchFile(TDownload& entry, THttpClient& client);

// FetchFile with the body left in the caller's stream (rewound), so that a large file
// can go to disk as it arrives.
void fetchFileInto(TDownload& entry, THttpClient& client, TStream& body);

// The client's ContentLength after a HEAD of url; -1 when the answer carries no length.
int64_t ProbeSize(const std::string& url, THttpClient& client);

// Looks up the credentials of authURL's server (asking the user unless noPrompt) and
// writes them into its URL after the first "//", replacing any credential part there.
// False, with the URL unchanged, when there are none or the user cancelled.
bool ApplyCredentials(TAuthURL& authURL, bool noPrompt);

// The address as it is requested: its scheme and host lower-cased, everything else
// (credentials, path, query) as written.
std::string requestURL(const std::string& url);

} // namespace fetchora
