// The users file: only real crypt(3) hashes get in, every bad line stops the
// start with the file and line, and a check gives nothing away.

#include <crypt.h>
#include <gtest/gtest.h>

#include "ProxyPartsTest.h"
#include "UserFile.h"

namespace {
namespace users_test {

// A yescrypt hash of the cheapest cost, so that the tests stay quick.
std::string HashOf(const char* password) {
    const char* setting = crypt_gensalt("$y$", 1, nullptr, 0);
    return setting ? crypt(password, setting) : "";
}

// Why a file of `text` does not load, its name written "FILE".
std::string LoadError(const std::string& text) {
    const TempFile file(text);
    UserFile users;
    std::string error;
    EXPECT_FALSE(users.Load(file.Path(), error)) << text;
    return error.rfind(file.Path(), 0) == 0 ? "FILE" + error.substr(file.Path().size()) : error;
}

TEST(UserFileTest, PasswordsAreCheckedAgainstTheirHashesAndLockedUsersNeverGetIn) {
    const std::string hash = HashOf("secret");
    ASSERT_EQ(hash.rfind("$y$", 0), 0u);
    const TempFile file("# the proxy's users\n\nalice:" + hash + "\r\nbob:!" + hash + "\n");
    UserFile users;
    std::string error;
    ASSERT_TRUE(users.Load(file.Path(), error)) << error;
    EXPECT_TRUE(users.Check("alice", "secret"));
    EXPECT_FALSE(users.Check("alice", "Secret"));
    EXPECT_FALSE(users.Check("alice", std::string("secret\0more", 11)));  // not cut at the NUL
    EXPECT_FALSE(users.Check("alice", ""));
    EXPECT_FALSE(users.Check("bob", "secret"));
    EXPECT_FALSE(users.Check("carol", "secret"));
    ASSERT_EQ(users.Notes().size(), 1u);
    EXPECT_EQ(users.Notes()[0], file.Path() +
                                    ":4: \"bob\" is locked (its hash starts with '!'): that user "
                                    "can never log in");
}

TEST(UserFileTest, BadLinesNameTheFileAndLine) {
    const std::string hash = HashOf("secret");
    const std::string plain =
        " is not a crypt(3) hash (plain text is refused; make one with "
        "mkpasswd -m yescrypt)";
    EXPECT_EQ(LoadError("alice " + hash + "\n"), "FILE:1: expected name:HASH");
    EXPECT_EQ(LoadError("# x\n:" + hash + "\n"), "FILE:2: expected name:HASH");
    EXPECT_EQ(LoadError("carol:hunter2\n"), "FILE:1: the password of \"carol\"" + plain);
    // A setting without its hash, a cut hash, one with a letter crypt never
    // writes and an old DES hash are not hashes either.
    for (const std::string& bad :
         {std::string("$y$j9T$8aqj54dKK1pgw963UMKys1"), hash.substr(0, hash.size() - 3),
          hash.substr(0, hash.size() - 1) + "!", std::string("abJnggxhB/yWI")}) {
        EXPECT_EQ(LoadError("dave:" + bad + "\n"), "FILE:1: the password of \"dave\"" + plain);
    }
    EXPECT_EQ(LoadError("alice:" + hash + "\nalice:" + hash + "\n"),
              "FILE:2: \"alice\" is listed again (first on line 1); remove one of the two");
    EXPECT_EQ(LoadError("# nobody yet\n\n"), "FILE: no users");
}

// Hashes are checked by their form at load, so each method's form must be right.
TEST(UserFileTest, HashesOfEveryCommonMethodLoad) {
    for (const char* prefix : {"$y$", "$gy$", "$7$", "$6$", "$5$", "$1$", "$2b$"}) {
        const char* setting = crypt_gensalt(prefix, 0, nullptr, 0);
        ASSERT_NE(setting, nullptr) << prefix;
        const std::string hash = crypt("secret", setting);
        const TempFile file("alice:" + hash + "\n");
        UserFile users;
        std::string error;
        EXPECT_TRUE(users.Load(file.Path(), error)) << hash << ": " << error;
        EXPECT_TRUE(users.Check("alice", "secret")) << hash;
    }
}

}  // namespace users_test
}  // namespace
