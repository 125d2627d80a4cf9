#pragma once
// TLS identities of the monitor link: a private key and a self-signed
// certificate, and the fingerprint each side pins the other by:
// "SHA256:" and the unpadded base64 of the SHA-256 of the certificate's DER
// form (openssl x509 -outform der | openssl dgst -sha256 -binary | base64).

#include <cstddef>
#include <string>

// The fingerprint of a certificate in DER form.
std::string Mon_FingerprintOfDer(const unsigned char* der, size_t length);

// Writes a new P-256 key and a self-signed certificate for `commonName`
// (valid for 20 years). With keyPath == certPath both go into one PEM file.
// The key's file is made 0600 whatever the umask. False with a message.
bool Mon_MakeIdentity(const std::string& keyPath, const std::string& certPath,
                      const std::string& commonName, std::string& error);

// The fingerprint of the (first) certificate in a PEM file.
bool Mon_CertificateFingerprint(const std::string& certPath, std::string& fingerprint,
                                std::string& error);

// The client's own identity (key and certificate in one PEM file): made on
// first use, with its folder 0700; refused with a message when the file can
// be read by others than its owner.
bool Mon_LoadOrMakeClientIdentity(const std::string& path, std::string& fingerprint,
                                  std::string& error);
