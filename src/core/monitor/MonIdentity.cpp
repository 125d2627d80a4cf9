#include "core/monitor/MonIdentity.h"

#include <fcntl.h>
#include <openssl/bio.h>
#include <openssl/bn.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/rand.h>
#include <openssl/x509.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

#include "core/base/PrivateFile.h"

namespace {

struct FreeKey {
    void operator()(EVP_PKEY* key) const { EVP_PKEY_free(key); }
};
struct FreeCert {
    void operator()(X509* cert) const { X509_free(cert); }
};
struct CloseFile {
    void operator()(FILE* file) const { std::fclose(file); }
};
using KeyPtr = std::unique_ptr<EVP_PKEY, FreeKey>;
using CertPtr = std::unique_ptr<X509, FreeCert>;
using FilePtr = std::unique_ptr<FILE, CloseFile>;

constexpr long ValidSeconds = 20L * 365 * 24 * 3600;

// OpenSSL's own reason for the last failure, for the message.
std::string OpenSslReason() {
    const unsigned long code = ERR_get_error();
    ERR_clear_error();
    if (code == 0) return "unknown reason";
    char text[256];
    ERR_error_string_n(code, text, sizeof text);
    return text;
}

std::string SystemReason() {
    return std::strerror(errno);
}

// Opens `path` for writing with `mode` whatever the umask.
FilePtr CreateFile(const std::string& path, mode_t mode, std::string& error) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, mode);
    if (fd < 0 || ::fchmod(fd, mode) != 0) {
        error = "Cannot write " + path + ": " + SystemReason();
        if (fd >= 0) ::close(fd);
        return nullptr;
    }
    FILE* file = ::fdopen(fd, "w");
    if (file == nullptr) {
        error = "Cannot write " + path + ": " + SystemReason();
        ::close(fd);
    }
    return FilePtr(file);
}

// A random positive serial, so that two identities made in the same second
// never share one.
bool SetRandomSerial(X509* cert) {
    unsigned char bytes[16];
    if (RAND_bytes(bytes, sizeof bytes) != 1) return false;
    bytes[0] &= 0x7F;
    BIGNUM* number = BN_bin2bn(bytes, sizeof bytes, nullptr);
    const bool set = number != nullptr && BN_to_ASN1_INTEGER(number, X509_get_serialNumber(cert));
    BN_free(number);
    return set;
}

CertPtr SelfSign(EVP_PKEY* key, const std::string& commonName) {
    CertPtr cert(X509_new());
    if (!cert || X509_set_version(cert.get(), 2) != 1 || !SetRandomSerial(cert.get()) ||
        X509_gmtime_adj(X509_getm_notBefore(cert.get()), 0) == nullptr ||
        X509_gmtime_adj(X509_getm_notAfter(cert.get()), ValidSeconds) == nullptr ||
        X509_set_pubkey(cert.get(), key) != 1) {
        return nullptr;
    }
    X509_NAME* name = X509_get_subject_name(cert.get());
    const auto* text = reinterpret_cast<const unsigned char*>(commonName.c_str());
    if (X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_UTF8, text, -1, -1, 0) != 1 ||
        X509_set_issuer_name(cert.get(), name) != 1 ||
        X509_sign(cert.get(), key, EVP_sha256()) == 0) {
        return nullptr;
    }
    return cert;
}

struct FreeBio {
    void operator()(BIO* bio) const { BIO_free(bio); }
};

// The PEM text `write` puts into a memory BIO; false when OpenSSL fails.
template <typename Write>
bool PemText(Write write, std::string& text) {
    std::unique_ptr<BIO, FreeBio> bio(BIO_new(BIO_s_mem()));
    if (!bio || write(bio.get()) != 1) return false;
    char* data = nullptr;
    const long length = BIO_get_mem_data(bio.get(), &data);
    text.assign(data, static_cast<size_t>(length));
    return true;
}

// A certificate in a file of its own is public.
bool WriteCertificate(const std::string& path, const std::string& pem, std::string& error) {
    FilePtr file = CreateFile(path, 0644, error);
    if (!file) return false;
    if (std::fwrite(pem.data(), 1, pem.size(), file.get()) != pem.size() ||
        std::fflush(file.get()) != 0) {
        error = "Cannot write " + path + ": " + SystemReason();
        return false;
    }
    return true;
}

CertPtr ReadCertificate(const std::string& path, std::string& error) {
    FilePtr file(std::fopen(path.c_str(), "r"));
    if (!file) {
        error = "Cannot read " + path + ": " + SystemReason();
        return nullptr;
    }
    CertPtr cert(PEM_read_X509(file.get(), nullptr, nullptr, nullptr));
    if (!cert) error = path + " holds no certificate: " + OpenSslReason();
    return cert;
}

}  // namespace

std::string Mon_FingerprintOfDer(const unsigned char* der, size_t length) {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int digestLength = 0;
    if (EVP_Digest(der, length, digest, &digestLength, EVP_sha256(), nullptr) != 1) return {};
    // Base64 of 32 bytes is 44 characters with one '=' of padding, which SSH's form leaves off.
    unsigned char text[64];
    const int textLength = EVP_EncodeBlock(text, digest, static_cast<int>(digestLength));
    std::string base64(reinterpret_cast<const char*>(text), static_cast<size_t>(textLength));
    while (!base64.empty() && base64.back() == '=') base64.pop_back();
    return "SHA256:" + base64;
}

bool Mon_MakeIdentity(const std::string& keyPath, const std::string& certPath,
                      const std::string& commonName, std::string& error) {
    KeyPtr key(EVP_EC_gen("P-256"));
    if (!key) {
        error = "Cannot make a key: " + OpenSslReason();
        return false;
    }
    CertPtr cert = SelfSign(key.get(), commonName);
    if (!cert) {
        error = "Cannot make a certificate: " + OpenSslReason();
        return false;
    }
    std::string keyPem, certPem;
    const auto writeKey = [&](BIO* bio) {
        return PEM_write_bio_PrivateKey(bio, key.get(), nullptr, nullptr, 0, nullptr, nullptr);
    };
    const auto writeCert = [&](BIO* bio) { return PEM_write_bio_X509(bio, cert.get()); };
    if (!PemText(writeKey, keyPem) || !PemText(writeCert, certPem)) {
        error = "Cannot write " + keyPath + ": " + OpenSslReason();
        return false;
    }
    // In one file, key and certificate arrive together: never a key without its certificate.
    if (certPath == keyPath) return WritePrivateFile(keyPath, keyPem + certPem, error);
    return WritePrivateFile(keyPath, keyPem, error) && WriteCertificate(certPath, certPem, error);
}

bool Mon_CertificateFingerprint(const std::string& certPath, std::string& fingerprint,
                                std::string& error) {
    CertPtr cert = ReadCertificate(certPath, error);
    if (!cert) return false;
    unsigned char* der = nullptr;
    const int length = i2d_X509(cert.get(), &der);
    if (length <= 0) {
        error = "Cannot read the certificate in " + certPath + ": " + OpenSslReason();
        return false;
    }
    fingerprint = Mon_FingerprintOfDer(der, static_cast<size_t>(length));
    OPENSSL_free(der);
    return true;
}

bool Mon_LoadOrMakeClientIdentity(const std::string& path, std::string& fingerprint,
                                  std::string& error) {
    struct stat status {};
    if (::stat(path.c_str(), &status) != 0) {
        if (errno != ENOENT) {
            error = "Cannot read " + path + ": " + SystemReason();
            return false;
        }
        if (!MakePrivateFolders(path, error) || !Mon_MakeIdentity(path, path, "vgl", error)) {
            return false;
        }
    } else if ((status.st_mode & 077) != 0) {
        // As ssh does with a private key that others can read: refuse it, never repair it
        // silently, because the key may already be known to others.
        error = "The identity " + path +
                " can be read by other users, so it is not used. Make it private with: chmod 600 " +
                path;
        return false;
    }
    return Mon_CertificateFingerprint(path, fingerprint, error);
}
