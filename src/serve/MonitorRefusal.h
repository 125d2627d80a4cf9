#pragma once

// Why a monitor client was turned away in the TLS handshake.
enum class MonitorRefusal { ClientKey, Handshake };
