// servers.txt and the lookup, store and forget rules of the credential store. Every
// operation sees the file as it is now; its bytes are kept in memory and the file is
// read again only when its version (identity, size, times) has changed.
#include "queue/credentials.h"

#include "platform/errors.h"
#include "platform/file_version.h"
#include "platform/files.h"
#include "platform/text.h"
#include "queue/tab_fields.h"
#include "util/library_path.h"
#include "util/strings.h"

#include <functional>
#include <memory>
#include <mutex>
#include <optional>

namespace fetchora {

namespace {

// servers.txt holds passwords in plain text: only its owner may read it.
constexpr unsigned kCredentialFileMode = 0600;

DialogHook<CredentialPromptSignature>& credentialPrompt() {
    static DialogHook<CredentialPromptSignature> hook;
    return hook;
}

// Loads servers.txt into list, runs work on it and saves the list, also when work fails.
// A load that fails (a damaged line) saves nothing, so the file stays as it is.
void withSavedList(TPasswordList& list, const std::function<void()>& work) {
    const std::string path = credentialFilePath();
    list.LoadFromFile(path);
    try {
        work();
    } catch (...) {
        list.SaveToFile(path);
        throw;
    }
    list.SaveToFile(path);
}

// The bytes of a credential file as this process last read or wrote them, with the
// version of the file they came from.
struct KeptFile {
    std::string path;
    files::FileVersion version;
    std::string bytes;
};

std::mutex& keptMutex() {
    static std::mutex m;
    return m;
}

std::optional<KeptFile>& keptFile() {
    static std::optional<KeptFile> kept;
    return kept;
}

// The kept bytes of path when the file is still the version they came from.
std::optional<std::string> keptBytes(const std::string& path) {
    files::FileVersion now;
    if (files::versionOf(path, now) != 0)
        return std::nullopt;
    const std::lock_guard<std::mutex> lock(keptMutex());
    const std::optional<KeptFile>& kept = keptFile();
    if (!kept || kept->path != path || !(kept->version == now))
        return std::nullopt;
    return kept->bytes;
}

void keepBytes(const std::string& path, const files::FileVersion& version, std::string bytes) {
    const std::lock_guard<std::mutex> lock(keptMutex());
    keptFile() = KeptFile{path, version, std::move(bytes)};
}

// The file's bytes as they are now; returns 0, or the errno value of a failed read. What
// was read is kept when a later change of the file is sure to give it another version.
int currentBytes(const std::string& path, std::string& bytes) {
    if (std::optional<std::string> kept = keptBytes(path)) {
        bytes = std::move(*kept);
        return 0;
    }
    files::FileVersion version;
    const int error = files::readVersionedFile(path, bytes, version);
    if (error == 0 && files::isSettled(version))
        keepBytes(path, version, bytes);
    return error;
}

} // namespace

TAuthURL::TAuthURL(const std::string& text) : URL(text) {
    const std::string piece = field(text, "/", 2);
    Server = piece;
    if (piece.find('@') == std::string::npos)
        return;
    const std::string credentials = field(piece, "@", 0);
    // The password is the text between the first and a second ":"; an empty one after a
    // final ":" is a password too. Without any ":" there is no password field at all.
    const size_t colon = credentials.find(':');
    if (colon == std::string::npos)
        throw ListError(1);
    const size_t secondColon = credentials.find(':', colon + 1);
    Password = credentials.substr(
        colon + 1, secondColon == std::string::npos ? std::string::npos : secondColon - colon - 1);
    UserName = credentials.substr(0, colon);
    Server = field(piece, "@", 1);
}

TPassword& TPasswordList::Add() {
    return append(std::make_unique<TPassword>());
}

void TPasswordList::LoadFromFile(const std::string& path) {
    if (!files::fileExists(path))
        return;
    clear();
    std::string bytes;
    if (const int error = currentBytes(path, bytes); error != 0)
        throw StreamError(path, systemErrorMessage(error));
    for (const std::string& line : splitLines(bytes)) {
        const std::vector<std::string> fields = splitTabFields(line);
        TPassword& entry = Add();
        if (fields.empty())
            throw ListError(0);
        entry.Server = fields[0];
        if (fields.size() < 2)
            throw ListError(1);
        entry.UserName = fields[1];
        if (fields.size() < 3)
            throw ListError(2);
        entry.Password = fields[2];
    }
}

void TPasswordList::SaveToFile(const std::string& path) const {
    // "%s\t%s\t%s" of Server, UserName and Password per line.
    std::string content;
    for (const auto& entry : entries())
        content += entry->Server + '\t' + entry->UserName + '\t' + entry->Password + "\r\n";
    // Every request saves the list; a file that already holds exactly this is left as it
    // is instead of being replaced by the same bytes.
    std::string current;
    if (files::fileExists(path) && currentBytes(path, current) == 0 && current == content)
        return;
    files::replaceFile(path, content, kCredentialFileMode);
    // Another process that rewrites the file puts a new file in its place, which has
    // another version; so what was just written can be kept at once.
    files::FileVersion written;
    if (files::versionOf(path, written) == 0)
        keepBytes(path, written, content);
}

std::string credentialFilePath() {
    return pathInLibraryFolder("servers.txt");
}

bool LookupCredentials(const std::string& server, bool noPrompt, std::string& user,
                       std::string& password) {
    user.clear();
    password.clear();
    TPasswordList list;
    bool found = false;
    withSavedList(list, [&] {
        for (int i = 0; i < list.count(); ++i) {
            const TPassword& entry = list[i];
            if (text::ansiSameText(entry.Server, server)) {
                user = entry.UserName;
                password = entry.Password;
                found = true;
                return;
            }
        }
        if (noPrompt)
            return;
        std::string typedUser;
        std::string typedPassword;
        if (!credentialPrompt()(server, list, typedUser, typedPassword))
            return;
        user = typedUser;
        password = typedPassword;
        TPassword& entry = list.Add();
        entry.Server = server;
        entry.UserName = user;
        entry.Password = password;
        found = true;
    });
    return found;
}

void StoreCredentials(const TAuthURL& authURL) {
    TPasswordList list;
    withSavedList(list, [&] {
        for (int i = list.count() - 1; i >= 0; --i) {
            TPassword& entry = list[i];
            if (text::ansiSameText(entry.Server, authURL.Server)) {
                entry.UserName = authURL.UserName;
                entry.Password = authURL.Password;
                entry.Server = authURL.Server;
                return;
            }
        }
        TPassword& entry = list.Add();
        entry.Server = authURL.Server;
        entry.UserName = authURL.UserName;
        entry.Password = authURL.Password;
    });
}

void ForgetCredentials(const std::string& server) {
    TPasswordList list;
    withSavedList(list, [&] {
        for (int i = list.count() - 1; i >= 0; --i) {
            if (text::ansiSameText(list[i].Server, server))
                list.remove(i);
        }
    });
}

CredentialPrompt setCredentialPrompt(CredentialPrompt prompt) {
    return credentialPrompt().install(std::move(prompt));
}

} // namespace fetchora
