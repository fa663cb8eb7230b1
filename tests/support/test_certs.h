// Certificates for the HTTPS tests, made at test time with the openssl
// command in a folder of the test's own: a test CA, a server certificate
// from it for 127.0.0.1 and localhost, and the faulty ones a client must
// refuse (another host's, an expired one, one from a CA nobody trusts).
//
// A test points OpenSSL at the test CA with SSL_CERT_FILE=ca_file() before
// the engine builds its TLS context.
#pragma once

#include <string>

namespace torvane::test {

class TestCerts {
 public:
  // The certificate kinds a server can present.
  enum Kind { kGood, kWrongHost, kExpired, kUnknownCa };

  // Makes every certificate in `dir`; ok() says whether that worked.
  explicit TestCerts(const std::string& dir);

  // The openssl program's path, or "" when it is not installed.
  static std::string program();

  bool ok() const { return ok_; }
  // The openssl output when !ok().
  const std::string& error() const { return error_; }
  // The test CA's certificate (PEM): the only trusted root.
  std::string ca_file() const { return dir_ + "/ca.crt"; }
  // The certificate (with nothing else) and key files of `kind`.
  std::string cert_file(Kind kind) const { return dir_ + "/" + name(kind) + ".crt"; }
  std::string key_file(Kind kind) const { return dir_ + "/" + name(kind) + ".key"; }

 private:
  static std::string name(Kind kind);

  std::string dir_;
  bool ok_ = false;
  std::string error_;
};

}  // namespace torvane::test
