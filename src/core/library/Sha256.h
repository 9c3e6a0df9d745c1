#pragma once
// The SHA-256 of a flight's bytes, which names its copy in the library, taken as the bytes are read.
// Where OpenSSL's library is installed its digest is used (it runs on the processor's SHA
// instructions, ten times as fast as Qt's own); elsewhere Qt's.

#include <QString>

#include <cstddef>
#include <memory>

namespace korvel {

class Sha256 {
public:
    Sha256();
    ~Sha256();
    Sha256(const Sha256 &) = delete;
    Sha256 &operator=(const Sha256 &) = delete;

    void add(const char *bytes, std::size_t size);
    // The digest in lower-case hex; the hash starts again afterwards.
    QString hex();

private:
    struct State;
    std::unique_ptr<State> m_state;
};

} // namespace korvel
