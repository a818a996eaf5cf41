#pragma once

#include <openssl/evp.h>
#include <openssl/x509.h>

#include <memory>
#include <string>

#include "platform/Status.h"

// A certificate authority made for one run of the server, and a server certificate it signs.
struct Certificates {
    std::unique_ptr<EVP_PKEY, decltype(&EVP_PKEY_free)> authorityKey{nullptr, EVP_PKEY_free};
    std::unique_ptr<X509, decltype(&X509_free)> authority{nullptr, X509_free};
    std::unique_ptr<EVP_PKEY, decltype(&EVP_PKEY_free)> serverKey{nullptr, EVP_PKEY_free};
    std::unique_ptr<X509, decltype(&X509_free)> server{nullptr, X509_free};

    // `subjectAltNames` in OpenSSL's form, e.g. "IP:127.0.0.1,DNS:localhost". With
    // `authorityKeyPath` the authority is kept across runs: read from that key file and the
    // certificate file beside it ("<key>.crt") when they exist, written there otherwise.
    static platform::Result<std::unique_ptr<Certificates>> make(
        const std::string& subjectAltNames, const std::string& authorityKeyPath);

    std::string authorityPem() const;
};
