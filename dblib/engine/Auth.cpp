// PBKDF2-HMAC-SHA256 password hashing over OpenSSL libcrypto.
#include "dblib/engine/Auth.h"

#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/rand.h>

#include <cstdio>
#include <cstring>
#include <vector>

#include "dblib/sql/Errors.h"

namespace dbl::auth {
namespace {

constexpr int kIterations = 20000;
constexpr size_t kSaltBytes = 16;
constexpr size_t kHashBytes = 32;

std::string Hex(const unsigned char* p, size_t n) {
  static const char* d = "0123456789abcdef";
  std::string s;
  for (size_t i = 0; i < n; ++i) {
    s += d[p[i] >> 4];
    s += d[p[i] & 15];
  }
  return s;
}

bool Unhex(std::string_view s, std::vector<unsigned char>& out) {
  if (s.size() % 2) return false;
  out.clear();
  for (size_t i = 0; i < s.size(); i += 2) {
    auto v = [](char c) -> int {
      if (c >= '0' && c <= '9') return c - '0';
      if (c >= 'a' && c <= 'f') return c - 'a' + 10;
      return -1;
    };
    int hi = v(s[i]), lo = v(s[i + 1]);
    if (hi < 0 || lo < 0) return false;
    out.push_back(static_cast<unsigned char>(hi * 16 + lo));
  }
  return true;
}

bool Derive(std::string_view password, const unsigned char* salt, size_t saltLen, int iterations,
            unsigned char* out) {
  return PKCS5_PBKDF2_HMAC(password.data(), int(password.size()), salt, int(saltLen), iterations, EVP_sha256(),
                           int(kHashBytes), out) == 1;
}

}  // namespace

std::string HashPassword(std::string_view password) {
  unsigned char salt[kSaltBytes], hash[kHashBytes];
  if (RAND_bytes(salt, sizeof salt) != 1 || !Derive(password, salt, sizeof salt, kIterations, hash))
    throw SqlError(SQLE_DYNAMIC_MEMORY_EXHAUSTED);
  return "pbkdf2-sha256$" + std::to_string(kIterations) + "$" + Hex(salt, sizeof salt) + "$" + Hex(hash, sizeof hash);
}

bool VerifyPassword(std::string_view password, std::string_view stored) {
  constexpr std::string_view kTag = "pbkdf2-sha256$";
  if (stored.substr(0, kTag.size()) != kTag) return false;
  stored.remove_prefix(kTag.size());
  auto d1 = stored.find('$');
  if (d1 == std::string_view::npos) return false;
  auto d2 = stored.find('$', d1 + 1);
  if (d2 == std::string_view::npos) return false;
  int iterations = 0;
  for (char c : stored.substr(0, d1)) {
    if (c < '0' || c > '9' || iterations > 10000000) return false;
    iterations = iterations * 10 + (c - '0');
  }
  std::vector<unsigned char> salt, want;
  if (iterations <= 0 || !Unhex(stored.substr(d1 + 1, d2 - d1 - 1), salt) || !Unhex(stored.substr(d2 + 1), want) ||
      want.size() != kHashBytes)
    return false;
  unsigned char got[kHashBytes];
  if (!Derive(password, salt.data(), salt.size(), iterations, got)) return false;
  return CRYPTO_memcmp(got, want.data(), kHashBytes) == 0;
}

void DummyVerify(std::string_view password) {
  unsigned char salt[kSaltBytes] = {0}, out[kHashBytes];
  Derive(password, salt, sizeof salt, kIterations, out);
}

}  // namespace dbl::auth
