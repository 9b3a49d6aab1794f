// Password hashes kept in a database's user table: salted PBKDF2-HMAC-SHA256 (OpenSSL), stored
// as text "pbkdf2-sha256$<iterations>$<salt hex>$<hash hex>". Verification compares in
// constant time, so a wrong password and an unknown user look the same from outside.
#pragma once

#include <string>
#include <string_view>

namespace dbl::auth {

// A fresh random salt each call. Throws SqlError(-78) when the system cannot provide one.
std::string HashPassword(std::string_view password);
// False for a wrong password and for a stored value that is not one of our hashes.
bool VerifyPassword(std::string_view password, std::string_view stored);
// Burns the time of one verification, for unknown users (no timing tell).
void DummyVerify(std::string_view password);

}  // namespace dbl::auth
