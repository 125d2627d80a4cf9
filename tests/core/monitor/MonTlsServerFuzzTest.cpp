// Mutated client handshakes against the monitor's side of TLS: a real client
// (OpenSSL) and the monitor's context talk through memory, and one byte of
// one of the client's flights is changed. Whatever arrives, the monitor ends
// the handshake or goes on with it, never faults, and never admits a client
// whose certificate is not listed. Deterministic: no sockets, no clock.

#include <gtest/gtest.h>
#include <openssl/bio.h>
#include <openssl/ssl.h>
#include <stdlib.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "core/monitor/MonIdentity.h"
#include "core/monitor/MonTls.h"
#include "core/monitor/MonTlsServer.h"
#include "support/TempFolder.h"

namespace {

// Moves what `from` wrote to its output into `to`'s input, changing the byte
// at `position` (modulo the length) when `mutate` is set.
void Carry(BIO* from, BIO* to, bool mutate, size_t position, uint8_t mask) {
    std::vector<uint8_t> bytes(static_cast<size_t>(BIO_ctrl_pending(from)));
    if (bytes.empty()) return;
    BIO_read(from, bytes.data(), static_cast<int>(bytes.size()));
    if (mutate) bytes[position % bytes.size()] ^= mask;
    BIO_write(to, bytes.data(), static_cast<int>(bytes.size()));
}

struct Outcome {
    bool m_bServerDone = false;
    int m_Version = 0;
    MonTlsPeer m_Peer;
};

// One handshake through memory; the client's flight number `mutatedFlight`
// (0: none) is changed.
Outcome Handshake(SSL_CTX* server, SSL_CTX* client, int mutatedFlight, size_t position,
                  uint8_t mask) {
    Outcome outcome;
    SSL* s = SSL_new(server);
    SSL* c = SSL_new(client);
    BIO* toServer = BIO_new(BIO_s_mem());
    BIO* fromServer = BIO_new(BIO_s_mem());
    BIO* toClient = BIO_new(BIO_s_mem());
    BIO* fromClient = BIO_new(BIO_s_mem());
    SSL_set_bio(s, toServer, fromServer);
    SSL_set_bio(c, toClient, fromClient);
    SSL_set_accept_state(s);
    SSL_set_connect_state(c);
    MonTlsServer::Watch(s, &outcome.m_Peer);
    for (int flight = 1; flight <= 4; ++flight) {
        SSL_do_handshake(c);
        Carry(fromClient, toServer, flight == mutatedFlight, position, mask);
        if (SSL_do_handshake(s) == 1) outcome.m_bServerDone = true;
        Carry(fromServer, toClient, false, 0, 0);
    }
    if (outcome.m_bServerDone) outcome.m_Version = MonTlsServer::Version(s);
    SSL_free(c);
    SSL_free(s);
    return outcome;
}

SSL_CTX* ClientContext(const std::string& identity) {
    SSL_CTX* context = SSL_CTX_new(TLS_client_method());
    SSL_CTX_use_certificate_chain_file(context, identity.c_str());
    SSL_CTX_use_PrivateKey_file(context, identity.c_str(), SSL_FILETYPE_PEM);
    static const unsigned char offer[] = "\x0dvgl-monitor/2\x0dvgl-monitor/1";
    SSL_CTX_set_alpn_protos(context, offer, sizeof offer - 1);
    return context;
}

}  // namespace

TEST(MonTlsServerFuzz, MutatedClientHandshakesNeverFaultOrAdmitAStranger) {
    TempFolder folder;
    std::string error, listed, stranger;
    ASSERT_TRUE(Mon_MakeIdentity(folder.File("m.key"), folder.File("m.crt"), "monitor", error));
    ASSERT_TRUE(Mon_LoadOrMakeClientIdentity(folder.File("listed.pem"), listed, error)) << error;
    ASSERT_TRUE(Mon_LoadOrMakeClientIdentity(folder.File("stranger.pem"), stranger, error));
    std::ofstream(folder.File("clients")) << listed << " listed-laptop\n";
    MonTlsServer server;
    ASSERT_TRUE(
        server.Load(folder.File("m.crt"), folder.File("m.key"), folder.File("clients"), error))
        << error;
    SSL_CTX* listedClient = ClientContext(folder.File("listed.pem"));
    SSL_CTX* strangerClient = ClientContext(folder.File("stranger.pem"));

    const Outcome clean = Handshake(server.Context(), listedClient, 0, 0, 0);
    EXPECT_TRUE(clean.m_bServerDone);
    EXPECT_EQ(clean.m_Version, 2);
    EXPECT_EQ(clean.m_Peer.m_Name, "listed-laptop");

    const char* rounds = std::getenv("VGL_FUZZ_ROUNDS");
    const int roundCount = rounds != nullptr ? std::atoi(rounds) : 1500;
    std::mt19937 random(9122026);
    for (int round = 0; round < roundCount; ++round) {
        const bool strangerRound = round % 4 == 0;
        const Outcome outcome =
            Handshake(server.Context(), strangerRound ? strangerClient : listedClient,
                      1 + static_cast<int>(random() % 2), random(),
                      static_cast<uint8_t>(1u << (random() % 8)));
        if (strangerRound) {
            EXPECT_FALSE(outcome.m_bServerDone) << "round " << round;
        }
    }
    SSL_CTX_free(listedClient);
    SSL_CTX_free(strangerClient);
}
