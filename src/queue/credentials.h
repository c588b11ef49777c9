// The credential store: TAuthURL (a request URL split into server and credentials),
// TPassword and TPasswordList with their file servers.txt (one line per entry, "Server
// TAB UserName TAB Password", CR LF, readable by its owner only), and the three store
// operations that the request helpers call. The prompt that asks the user is installed by
// the forms library through setCredentialPrompt.
#pragma once

#include "util/dialog_hook.h"
#include "util/owning_list.h"

#include <functional>
#include <string>

namespace fetchora {

class TAuthURL final {
public:
    // Splits text: Server is the third "/"-separated piece (line breaks also separate)
    // without its credential part "user:password@". ListError for index 2 when there are
    // fewer than three pieces, for index 1 when the credential part has no ":".
    explicit TAuthURL(const std::string& text);

    std::string UserName;
    std::string Password;
    // The whole address, credential part included.
    std::string URL;
    // The host part; a port stays attached.
    std::string Server;
};

class TPassword final {
public:
    std::string Server;
    std::string UserName;
    std::string Password;
};

// The remembered entries; count, access by index, remove and clear come with the owning
// list (ListError "List index out of bounds (%d)" outside it).
class TPasswordList final : public TOwningList<TPassword> {
public:
    // A new, empty entry appended to the list.
    TPassword& Add();

    // Nothing happens when the file does not exist. Otherwise the entries are replaced by
    // the file's lines; a line of fewer than three fields stops the load with ListError,
    // its entry left half filled in the list.
    void LoadFromFile(const std::string& path);
    // Replaces the file with one line per entry; a new file is readable by its owner only.
    void SaveToFile(const std::string& path) const;
};

// The path of servers.txt, next to the library file.
std::string credentialFilePath();

// The first remembered entry for server (without regard to case) gives user and
// password. Without one, and with noPrompt false, the user is asked; OK remembers what
// was typed. servers.txt is written back in every case, errors included, except when it
// holds a damaged line (then it stays as it is and the ListError reaches the caller).
bool LookupCredentials(const std::string& server, bool noPrompt, std::string& user,
                       std::string& password);

// Remembers the credentials of authURL for its server: the last matching entry is
// updated, or a new one is added.
void StoreCredentials(const TAuthURL& authURL);

// Removes every remembered entry of server.
void ForgetCredentials(const std::string& server);

// Asks the user for the credentials of server, showing the remembered entries. True with
// user and password filled when the user accepted, false when cancelled.
using CredentialPromptSignature = bool(const std::string& server, const TPasswordList& remembered,
                                       std::string& user, std::string& password);
using CredentialPrompt = DialogHook<CredentialPromptSignature>::Function;

// Installs the prompt and returns the one before. Without a prompt every request for
// credentials counts as cancelled.
CredentialPrompt setCredentialPrompt(CredentialPrompt prompt);

} // namespace fetchora
