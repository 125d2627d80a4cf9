#pragma once
// The service name the monitor reports for a destination port: the names
// VGL's graph uses for its well-known services, then the system's services
// database, then the port number as text.

#include <cstdint>
#include <string>

std::string ServiceName(uint16_t port);
