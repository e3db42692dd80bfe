// The web console's password: only a salted, slow hash of it is kept (argon2id through
// libsodium), in a file of the working folder that only the server's user may read. It is
// read at each login, so a new password takes effect without a restart.
#pragma once

#include <filesystem>
#include <optional>
#include <string>

namespace orv {

inline constexpr const char* kWebPasswordFileName = "orvchatserver_web.pwhash";
inline constexpr std::size_t kWebPasswordMinLength = 8;

// Stores the hash of password in workDir (replacing an older one). false, with error set to
// a sentence, when the password is too short or the file cannot be written.
bool SetWebPassword(const std::filesystem::path& workDir, const std::string& password,
                    std::string* error);

// The stored hash, or nothing when no password was set (or the file cannot be read).
std::optional<std::string> ReadWebPasswordHash(const std::filesystem::path& workDir);

// Whether password matches hash; takes about a tenth of a second on purpose.
bool VerifyWebPassword(const std::string& hash, const std::string& password);

// Random bytes, written as hex (session ids and CSRF tokens).
std::string RandomToken(std::size_t bytes = 32);

// Comparison that takes the same time wherever the texts differ.
bool SameSecret(const std::string& a, const std::string& b);

// A new password from standard input: one line, without its line break. At a terminal it is
// asked for twice and not shown. Nothing, with error set, when none came or the two differ.
std::optional<std::string> ReadNewPassword(std::string* error);

// Replaces file with content, readable by its owner only from the first byte on, through a
// new file moved over the old one. false, with why, when it cannot.
bool WriteSecretFile(const std::filesystem::path& file, const std::string& content,
                     std::string* why);

// After root wrote the file into a folder that belongs to another user (the service's),
// the file is given to that user, so that the server running as it can read it.
void GiveToFolderOwner(const std::filesystem::path& file, const std::filesystem::path& folder);

}  // namespace orv
