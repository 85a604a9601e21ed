#pragma once
// A certificate authority and a server certificate made at run time for test servers on
// 127.0.0.1, so that no private key is ever kept in the tree. Keys are P-256, certificates valid
// from a day ago for thirty days.

#include <string>

#include "platform/foundation/value.h"

namespace testing_support {

struct TestCertificates {
  // The root, DER-encoded: what a client is given as its anchor.
  foundation::Bytes rootDer;
  // The server's certificate (for "127.0.0.1" and "localhost", signed by the root) and its key.
  std::string serverCertificatePem;
  std::string serverKeyPem;

  // A fresh root named `rootName` and a server certificate under it. Empty on failure.
  static TestCertificates make(const std::string& rootName);
};

}  // namespace testing_support
