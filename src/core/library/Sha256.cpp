#include "core/library/Sha256.h"

#include <QByteArray>

#include <stdexcept>

#ifdef KORVEL_HAVE_OPENSSL
#include <openssl/evp.h>
#else
#include <QCryptographicHash>
#endif

namespace korvel {

#ifdef KORVEL_HAVE_OPENSSL

struct Sha256::State {
    EVP_MD_CTX *context = EVP_MD_CTX_new();
    ~State() { EVP_MD_CTX_free(context); }
    void start()
    {
        if (!context || EVP_DigestInit_ex(context, EVP_sha256(), nullptr) != 1)
            throw std::runtime_error("the SHA-256 digest cannot be started");
    }
};

Sha256::Sha256() : m_state(std::make_unique<State>())
{
    m_state->start();
}

void Sha256::add(const char *bytes, std::size_t size)
{
    EVP_DigestUpdate(m_state->context, bytes, size);
}

QString Sha256::hex()
{
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    EVP_DigestFinal_ex(m_state->context, digest, &length);
    m_state->start();
    return QString::fromLatin1(QByteArray(reinterpret_cast<const char *>(digest), int(length)).toHex());
}

#else

struct Sha256::State {
    QCryptographicHash hash{QCryptographicHash::Sha256};
};

Sha256::Sha256() : m_state(std::make_unique<State>()) {}

void Sha256::add(const char *bytes, std::size_t size)
{
    m_state->hash.addData(QByteArrayView(bytes, qsizetype(size)));
}

QString Sha256::hex()
{
    const QString text = QString::fromLatin1(m_state->hash.result().toHex());
    m_state->hash.reset();
    return text;
}

#endif

Sha256::~Sha256() = default;

} // namespace korvel
