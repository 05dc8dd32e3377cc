#pragma once
// Throwaway certificates for the TLS tests, made at test time with the
// openssl program: a CA, and a server certificate for 127.0.0.1 and
// localhost (also good as a client certificate) signed by it.  EC keys, so
// that making them takes a few milliseconds.
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

namespace zv::test {

struct TestCerts {
  std::string ca, caKey, cert, key;
  std::string error;  // empty when made
};

inline TestCerts MakeTestCerts(const std::filesystem::path& dir) {
  TestCerts c;
  const auto at = [&](const char* name) { return (dir / name).string(); };
  c.ca = at("ca.pem");
  c.caKey = at("ca.key");
  c.cert = at("server.pem");
  c.key = at("server.key");
  {
    std::ofstream ext(at("server.ext"));
    ext << "subjectAltName=IP:127.0.0.1,DNS:localhost\n"
        << "basicConstraints=CA:FALSE\n"
        << "keyUsage=digitalSignature,keyEncipherment\n"
        << "extendedKeyUsage=serverAuth,clientAuth\n";
  }
  const std::string q = "'";
  const std::string log = at("openssl.log");
  const std::string ec = " -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes";
  const std::string cmds[] = {
      "openssl req -x509" + ec + " -keyout " + q + c.caKey + q + " -out " + q + c.ca + q +
          " -days 2 -subj /CN=Zorvenix-test-CA",
      "openssl req" + ec + " -keyout " + q + c.key + q + " -out " + q + at("server.csr") + q +
          " -subj /CN=127.0.0.1",
      "openssl x509 -req -in " + q + at("server.csr") + q + " -CA " + q + c.ca + q + " -CAkey " +
          q + c.caKey + q + " -CAcreateserial -out " + q + c.cert + q + " -days 2 -extfile " + q +
          at("server.ext") + q,
  };
  for (const auto& cmd : cmds) {
    if (std::system((cmd + " >>" + q + log + q + " 2>&1").c_str()) != 0) {
      c.error = "openssl failed (scripts/install-deps installs it): " + cmd;
      return c;
    }
  }
  return c;
}

}  // namespace zv::test
