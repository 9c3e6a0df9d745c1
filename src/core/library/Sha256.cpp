#include "core/library/Sha256.h"

#include "core/platform/Processes.h"

#include <QByteArray>
#include <QCryptographicHash>
#include <QLibrary>

namespace korvel {

namespace {

// OpenSSL's digest, loaded the first time a flight is hashed: linked in, its library would cost
// every start of the program a few milliseconds. These calls keep their form from OpenSSL 1.1 on.
struct Crypto {
    using NewContext = void *(*)();
    using FreeContext = void (*)(void *);
    using Method = const void *(*)();
    using Init = int (*)(void *, const void *, void *);
    using Update = int (*)(void *, const void *, std::size_t);
    using Final = int (*)(void *, unsigned char *, unsigned int *);

    NewContext newContext = nullptr;
    FreeContext freeContext = nullptr;
    Method sha256 = nullptr;
    Init init = nullptr;
    Update update = nullptr;
    Final final = nullptr;

    static const Crypto *get()
    {
        static const Crypto crypto = load();
        return crypto.final ? &crypto : nullptr;
    }

private:
    static Crypto load()
    {
        Crypto c;
        const QStringList names = platform::CryptoLibraryNames();
        for (const QString &name : names)
            for (const char *version : {"3", "1.1", ""}) {
                QLibrary library(name, QLatin1String(version));
                if (!library.load())
                    continue;
                c.newContext = reinterpret_cast<NewContext>(library.resolve("EVP_MD_CTX_new"));
                c.freeContext = reinterpret_cast<FreeContext>(library.resolve("EVP_MD_CTX_free"));
                c.sha256 = reinterpret_cast<Method>(library.resolve("EVP_sha256"));
                c.init = reinterpret_cast<Init>(library.resolve("EVP_DigestInit_ex"));
                c.update = reinterpret_cast<Update>(library.resolve("EVP_DigestUpdate"));
                c.final = reinterpret_cast<Final>(library.resolve("EVP_DigestFinal_ex"));
                if (c.newContext && c.freeContext && c.sha256 && c.init && c.update && c.final)
                    return c; // stays loaded for the program's life
                c = Crypto();
            }
        return c;
    }
};

} // namespace

struct Sha256::State {
    const Crypto *crypto = Crypto::get();
    void *context = nullptr;
    QCryptographicHash fallback{QCryptographicHash::Sha256};

    State()
    {
        if (crypto)
            context = crypto->newContext();
        if (context && crypto->init(context, crypto->sha256(), nullptr) != 1) {
            crypto->freeContext(context);
            context = nullptr;
        }
    }
    ~State()
    {
        if (context)
            crypto->freeContext(context);
    }
};

Sha256::Sha256() : m_state(std::make_unique<State>()) {}

Sha256::~Sha256() = default;

void Sha256::add(const char *bytes, std::size_t size)
{
    if (m_state->context)
        m_state->crypto->update(m_state->context, bytes, size);
    else
        m_state->fallback.addData(QByteArrayView(bytes, qsizetype(size)));
}

QString Sha256::hex()
{
    QByteArray digest;
    if (m_state->context) {
        unsigned char out[64];
        unsigned int length = 0;
        m_state->crypto->final(m_state->context, out, &length);
        m_state->crypto->init(m_state->context, m_state->crypto->sha256(), nullptr);
        digest = QByteArray(reinterpret_cast<const char *>(out), int(length));
    } else {
        digest = m_state->fallback.result();
        m_state->fallback.reset();
    }
    return QString::fromLatin1(digest.toHex());
}

} // namespace korvel
