#include "core/monitor/MonIdentity.h"
#include "support/TempFolder.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <cstdio>
#include <filesystem>
#include <string>

namespace {

mode_t ModeOf(const std::string& path) {
    struct stat status {};
    return ::stat(path.c_str(), &status) == 0 ? status.st_mode & 0777 : 0;
}

// What the openssl command line makes of the certificate: the fingerprint as an
// operator would check it by hand.
std::string FingerprintByOpenSsl(const std::string& certPath) {
    const std::string command =
        "openssl x509 -in '" + certPath +
        "' -outform der | openssl dgst -sha256 -binary | base64 | tr -d '=\\n'";
    FILE* pipe = ::popen(command.c_str(), "r");
    std::string text;
    char buffer[128];
    while (pipe != nullptr && std::fgets(buffer, sizeof buffer, pipe) != nullptr) text += buffer;
    if (pipe != nullptr) ::pclose(pipe);
    return "SHA256:" + text;
}

}  // namespace

TEST(MonIdentity, ClientIdentityIsMadePrivateAndItsFingerprintIsOpenSsls) {
    TempFolder folder;
    const std::string path = folder.File("config/VGL/identity.pem");
    const mode_t oldMask = ::umask(0);  // the key stays private whatever the umask
    std::string fingerprint, error;
    const bool made = Mon_LoadOrMakeClientIdentity(path, fingerprint, error);
    ::umask(oldMask);
    ASSERT_TRUE(made) << error;
    EXPECT_EQ(ModeOf(path), 0600u);
    EXPECT_EQ(ModeOf(folder.File("config/VGL")), 0700u);
    EXPECT_EQ(fingerprint, FingerprintByOpenSsl(path));

    std::string again;
    ASSERT_TRUE(Mon_LoadOrMakeClientIdentity(path, again, error)) << error;
    EXPECT_EQ(again, fingerprint) << "a second start keeps the identity";

    ::chmod(path.c_str(), 0644);
    EXPECT_FALSE(Mon_LoadOrMakeClientIdentity(path, again, error));
    EXPECT_NE(error.find("chmod 600 " + path), std::string::npos) << error;
}

TEST(MonIdentity, ServerIdentityInTwoFilesMakesDistinctCertificates) {
    TempFolder folder;
    std::string error, first, second;
    ASSERT_TRUE(Mon_MakeIdentity(folder.File("a.key"), folder.File("a.crt"), "monitor", error))
        << error;
    ASSERT_TRUE(Mon_MakeIdentity(folder.File("b.key"), folder.File("b.crt"), "monitor", error))
        << error;
    EXPECT_EQ(ModeOf(folder.File("a.key")), 0600u);
    ASSERT_TRUE(Mon_CertificateFingerprint(folder.File("a.crt"), first, error)) << error;
    ASSERT_TRUE(Mon_CertificateFingerprint(folder.File("b.crt"), second, error)) << error;
    EXPECT_EQ(first, FingerprintByOpenSsl(folder.File("a.crt")));
    EXPECT_NE(first, second);
    EXPECT_FALSE(Mon_CertificateFingerprint(folder.File("a.key"), first, error));
}
