// Signing a launcher for tests with a throwaway certificate: openssl makes a
// self-signed one, osslsigncode signs and verifies. Host only; runs programs.
#pragma once

#include <cstdlib>
#include <filesystem>
#include <string>

namespace quorin::test_signing {

namespace fs = std::filesystem;

inline bool run_quietly(const std::string& command) { return std::system((command + " >/dev/null 2>&1").c_str()) == 0; }

inline std::string quoted(const fs::path& path) { return "'" + path.string() + "'"; }

// key.pem and cert.pem in dir, made once.
inline bool make_certificate(const fs::path& dir) {
  if (fs::exists(dir / "cert.pem") && fs::exists(dir / "key.pem")) return true;
  fs::create_directories(dir);
  return run_quietly("openssl req -x509 -newkey rsa:2048 -nodes -days 30 -subj /CN=quorin-tests -keyout " +
                     quoted(dir / "key.pem") + " -out " + quoted(dir / "cert.pem"));
}

inline bool sign(const fs::path& dir, const fs::path& in, const fs::path& out) {
  fs::remove(out);
  return make_certificate(dir) && run_quietly("osslsigncode sign -certs " + quoted(dir / "cert.pem") + " -key " +
                                              quoted(dir / "key.pem") + " -n quorin-tests -in " + quoted(in) +
                                              " -out " + quoted(out));
}

inline bool verify(const fs::path& dir, const fs::path& signed_file) {
  return run_quietly("osslsigncode verify -CAfile " + quoted(dir / "cert.pem") + " -in " + quoted(signed_file));
}

}  // namespace quorin::test_signing
