#include "Certificates.h"

#include <openssl/bio.h>
#include <openssl/err.h>
#include <openssl/pem.h>
#include <openssl/rand.h>
#include <openssl/x509v3.h>

namespace {

bool addExtension(X509* certificate, X509* issuer, int nid, const char* value) {
    X509V3_CTX context;
    X509V3_set_ctx_nodb(&context);
    X509V3_set_ctx(&context, issuer, certificate, nullptr, nullptr, 0);
    X509_EXTENSION* extension = X509V3_EXT_conf_nid(nullptr, &context, nid, value);
    if (!extension) return false;
    bool added = X509_add_ext(certificate, extension, -1) == 1;
    X509_EXTENSION_free(extension);
    return added;
}

X509* newCertificate(EVP_PKEY* key, const char* commonName) {
    X509* certificate = X509_new();
    X509_set_version(certificate, 2);
    unsigned char serial[16];
    RAND_bytes(serial, sizeof serial);
    serial[0] &= 0x7F;
    BIGNUM* number = BN_bin2bn(serial, sizeof serial, nullptr);
    BN_to_ASN1_INTEGER(number, X509_get_serialNumber(certificate));
    BN_free(number);
    X509_gmtime_adj(X509_getm_notBefore(certificate), -3600);
    X509_gmtime_adj(X509_getm_notAfter(certificate), 30L * 24 * 3600);
    X509_set_pubkey(certificate, key);
    X509_NAME_add_entry_by_txt(X509_get_subject_name(certificate), "CN", MBSTRING_ASC,
                               reinterpret_cast<const unsigned char*>(commonName), -1, -1, 0);
    return certificate;
}

std::string openSslError() {
    char text[256];
    ERR_error_string_n(ERR_get_error(), text, sizeof text);
    return text;
}

}  // namespace

namespace {

bool loadAuthority(Certificates& made, const std::string& keyPath) {
    FILE* keyFile = std::fopen(keyPath.c_str(), "r");
    FILE* certificateFile = std::fopen((keyPath + ".crt").c_str(), "r");
    if (keyFile) made.authorityKey.reset(PEM_read_PrivateKey(keyFile, nullptr, nullptr, nullptr));
    if (certificateFile)
        made.authority.reset(PEM_read_X509(certificateFile, nullptr, nullptr, nullptr));
    if (keyFile) std::fclose(keyFile);
    if (certificateFile) std::fclose(certificateFile);
    return made.authorityKey && made.authority;
}

void saveAuthority(const Certificates& made, const std::string& keyPath) {
    if (FILE* keyFile = std::fopen(keyPath.c_str(), "w")) {
        PEM_write_PrivateKey(keyFile, made.authorityKey.get(), nullptr, nullptr, 0, nullptr,
                             nullptr);
        std::fclose(keyFile);
    }
    if (FILE* certificateFile = std::fopen((keyPath + ".crt").c_str(), "w")) {
        PEM_write_X509(certificateFile, made.authority.get());
        std::fclose(certificateFile);
    }
}

}  // namespace

platform::Result<std::unique_ptr<Certificates>> Certificates::make(
    const std::string& subjectAltNames, const std::string& authorityKeyPath) {
    auto made = std::make_unique<Certificates>();
    made->serverKey.reset(EVP_EC_gen("P-256"));
    bool loaded = !authorityKeyPath.empty() && loadAuthority(*made, authorityKeyPath);
    if (!loaded) made->authorityKey.reset(EVP_EC_gen("P-256"));
    if (!made->authorityKey || !made->serverKey)
        return platform::unexpected("key generation failed: " + openSslError());

    bool ok = true;
    if (!loaded) {
        made->authority.reset(
            newCertificate(made->authorityKey.get(), "Kelvane substitute server CA"));
        X509* created = made->authority.get();
        X509_set_issuer_name(created, X509_get_subject_name(created));
        ok = addExtension(created, created, NID_basic_constraints, "critical,CA:TRUE") &&
             addExtension(created, created, NID_key_usage, "critical,keyCertSign,cRLSign") &&
             addExtension(created, created, NID_subject_key_identifier, "hash") &&
             X509_sign(created, made->authorityKey.get(), EVP_sha256()) > 0;
        if (ok && !authorityKeyPath.empty()) saveAuthority(*made, authorityKeyPath);
    }
    X509* authority = made->authority.get();

    made->server.reset(newCertificate(made->serverKey.get(), "localhost"));
    X509* server = made->server.get();
    X509_set_issuer_name(server, X509_get_subject_name(authority));
    ok = ok && addExtension(server, authority, NID_basic_constraints, "CA:FALSE") &&
         addExtension(server, authority, NID_key_usage, "critical,digitalSignature") &&
         addExtension(server, authority, NID_ext_key_usage, "serverAuth") &&
         addExtension(server, authority, NID_subject_alt_name, subjectAltNames.c_str()) &&
         addExtension(server, authority, NID_authority_key_identifier, "keyid:always") &&
         X509_sign(server, made->authorityKey.get(), EVP_sha256()) > 0;
    if (!ok) return platform::unexpected("certificate creation failed: " + openSslError());
    return made;
}

std::string Certificates::authorityPem() const {
    BIO* memory = BIO_new(BIO_s_mem());
    PEM_write_bio_X509(memory, authority.get());
    char* data = nullptr;
    long length = BIO_get_mem_data(memory, &data);
    std::string pem(data, static_cast<std::size_t>(length));
    BIO_free(memory);
    return pem;
}
