#include "web/web_password.h"

#include <sodium.h>

#include <fstream>

namespace orv {

namespace {

bool SodiumReady() {
  static const bool ready = sodium_init() >= 0;
  return ready;
}

}  // namespace

bool SetWebPassword(const std::filesystem::path& workDir, const std::string& password,
                    std::string* error) {
  auto fail = [error](std::string text) {
    if (error) *error = std::move(text);
    return false;
  };
  if (password.size() < kWebPasswordMinLength) {
    return fail("the password is shorter than " + std::to_string(kWebPasswordMinLength) +
                " characters; nothing was changed");
  }
  if (!SodiumReady()) return fail("the cryptography library cannot start");
  char hash[crypto_pwhash_STRBYTES];
  if (crypto_pwhash_str(hash, password.data(), password.size(), crypto_pwhash_OPSLIMIT_INTERACTIVE,
                        crypto_pwhash_MEMLIMIT_INTERACTIVE) != 0) {
    return fail("there is not enough memory to hash the password");
  }
  const std::filesystem::path file = workDir / kWebPasswordFileName;
  std::string why;
  if (!WriteSecretFile(file, std::string(hash) + "\n", &why)) {
    return fail("cannot write " + file.string() + ": " + why);
  }
  GiveToFolderOwner(file, workDir);
  return true;
}

std::optional<std::string> ReadWebPasswordHash(const std::filesystem::path& workDir) {
  std::ifstream in(workDir / kWebPasswordFileName, std::ios::binary);
  if (!in) return std::nullopt;
  std::string hash;
  std::getline(in, hash);
  while (!hash.empty() && (hash.back() == '\r' || hash.back() == ' '))
    hash.pop_back();
  if (hash.empty() || hash.size() >= crypto_pwhash_STRBYTES) return std::nullopt;
  return hash;
}

bool VerifyWebPassword(const std::string& hash, const std::string& password) {
  if (!SodiumReady() || hash.size() >= crypto_pwhash_STRBYTES) return false;
  char stored[crypto_pwhash_STRBYTES] = {};
  hash.copy(stored, hash.size());
  return crypto_pwhash_str_verify(stored, password.data(), password.size()) == 0;
}

std::string RandomToken(std::size_t bytes) {
  SodiumReady();
  std::string raw(bytes, '\0');
  randombytes_buf(raw.data(), raw.size());
  std::string hex(bytes * 2 + 1, '\0');
  sodium_bin2hex(hex.data(), hex.size(), reinterpret_cast<const unsigned char*>(raw.data()),
                 raw.size());
  hex.pop_back();
  return hex;
}

bool SameSecret(const std::string& a, const std::string& b) {
  return a.size() == b.size() && !a.empty() && sodium_memcmp(a.data(), b.data(), a.size()) == 0;
}

}  // namespace orv
