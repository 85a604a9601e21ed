#include "support/test_certificates.h"

#include <openssl/ec.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <functional>
#include <memory>

namespace testing_support {
namespace {

template <class T, void (*Free)(T*)>
struct Deleter {
  void operator()(T* p) const { Free(p); }
};
using Key = std::unique_ptr<EVP_PKEY, Deleter<EVP_PKEY, EVP_PKEY_free>>;
using Cert = std::unique_ptr<X509, Deleter<X509, X509_free>>;
using Bio = std::unique_ptr<BIO, Deleter<BIO, BIO_free_all>>;

Key newKey() { return Key(EVP_EC_gen("P-256")); }

void addExtension(X509* cert, X509* issuer, int nid, const char* value) {
  X509V3_CTX ctx;
  X509V3_set_ctx(&ctx, issuer, cert, nullptr, nullptr, 0);
  if (X509_EXTENSION* ext = X509V3_EXT_conf_nid(nullptr, &ctx, nid, value)) {
    X509_add_ext(cert, ext, -1);
    X509_EXTENSION_free(ext);
  }
}

Cert newCertificate(EVP_PKEY* key, const std::string& name, X509* issuer, EVP_PKEY* issuerKey, long serial,
                    bool authority) {
  Cert cert(X509_new());
  X509_set_version(cert.get(), 2);
  ASN1_INTEGER_set(X509_get_serialNumber(cert.get()), serial);
  X509_gmtime_adj(X509_getm_notBefore(cert.get()), -86400);
  X509_gmtime_adj(X509_getm_notAfter(cert.get()), 30L * 86400);
  X509_set_pubkey(cert.get(), key);
  X509_NAME* subject = X509_get_subject_name(cert.get());
  X509_NAME_add_entry_by_txt(subject, "CN", MBSTRING_UTF8,
                             reinterpret_cast<const unsigned char*>(name.c_str()), -1, -1, 0);
  X509* signer = issuer ? issuer : cert.get();
  X509_set_issuer_name(cert.get(), X509_get_subject_name(signer));
  if (authority) {
    addExtension(cert.get(), signer, NID_basic_constraints, "critical,CA:TRUE");
    addExtension(cert.get(), signer, NID_key_usage, "critical,keyCertSign,cRLSign");
    addExtension(cert.get(), signer, NID_subject_key_identifier, "hash");
  } else {
    addExtension(cert.get(), signer, NID_basic_constraints, "critical,CA:FALSE");
    addExtension(cert.get(), signer, NID_subject_alt_name, "IP:127.0.0.1,DNS:localhost");
    addExtension(cert.get(), signer, NID_ext_key_usage, "serverAuth");
    addExtension(cert.get(), signer, NID_authority_key_identifier, "keyid:always");
  }
  X509_sign(cert.get(), issuerKey ? issuerKey : key, EVP_sha256());
  return cert;
}

std::string pem(const std::function<int(BIO*)>& write) {
  Bio bio(BIO_new(BIO_s_mem()));
  if (!write(bio.get())) return {};
  char* data = nullptr;
  long size = BIO_get_mem_data(bio.get(), &data);
  return std::string(data, static_cast<size_t>(size));
}

}  // namespace

TestCertificates TestCertificates::make(const std::string& rootName) {
  TestCertificates made;
  Key rootKey = newKey();
  Key serverKey = newKey();
  if (!rootKey || !serverKey) return made;
  Cert root = newCertificate(rootKey.get(), rootName, nullptr, nullptr, 1, true);
  Cert server = newCertificate(serverKey.get(), "127.0.0.1", root.get(), rootKey.get(), 2, false);
  int size = i2d_X509(root.get(), nullptr);
  if (size <= 0) return made;
  made.rootDer.resize(static_cast<size_t>(size));
  unsigned char* out = made.rootDer.data();
  i2d_X509(root.get(), &out);
  made.serverCertificatePem = pem([&](BIO* b) { return PEM_write_bio_X509(b, server.get()); });
  made.serverKeyPem = pem([&](BIO* b) {
    return PEM_write_bio_PrivateKey(b, serverKey.get(), nullptr, nullptr, 0, nullptr, nullptr);
  });
  return made;
}

}  // namespace testing_support
