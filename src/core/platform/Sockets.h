#pragma once
// What a connection's socket needs of the system beyond what its client library does itself;
// Posix.cpp and Windows.cpp hold the two ways.

#include <cstdint>

namespace korvel::platform {

// Ends a connection from this side, both ways, without closing the socket: a call blocked reading
// or writing it returns at once with an error, and its owner still closes it as usual. False when
// the system refused (no such socket, or one already closed).
bool ShutDownSocket(std::int64_t socket);

} // namespace korvel::platform
