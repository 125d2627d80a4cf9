#pragma once
// The parts of start-up that concern the monitor link's identities, run
// before any window exists: `vgl --identity`, and the pins that --trust
// provisions for the tls:// hosts of the command line.

#include <QString>

struct VGLCommandLine;

class IdentityCommand {
public:
    // The client's fingerprint (its identity made on first use); false with
    // the message when the identity cannot be made or is not private.
    static bool Fingerprint(QString& fingerprint, QString& message);
    // Pins --trust's fingerprint for each tls:// host given; false with the
    // message when the known monitors cannot be written.
    static bool PinTrusted(const VGLCommandLine& commandLine, QString& message);
};
