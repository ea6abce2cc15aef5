#include "sha256.h"

#if defined(QUORVEL_HAVE_OPENSSL)
#include <openssl/evp.h>
#elif defined(Q_OS_MACOS)
#include <CommonCrypto/CommonDigest.h>
#else
#include <QCryptographicHash>
#endif

#if defined(QUORVEL_HAVE_OPENSSL)
struct Sha256::State {
    EVP_MD_CTX *context = EVP_MD_CTX_new();
    State() { EVP_DigestInit_ex(context, EVP_sha256(), nullptr); }
    ~State() { EVP_MD_CTX_free(context); }
};
#elif defined(Q_OS_MACOS)
struct Sha256::State {
    CC_SHA256_CTX context;
    State() { CC_SHA256_Init(&context); }
};
#else
struct Sha256::State {
    QCryptographicHash hash{QCryptographicHash::Sha256};
};
#endif

Sha256::Sha256()
    : m_state(std::make_unique<State>())
{
}

Sha256::~Sha256() = default;

void Sha256::add(QByteArrayView bytes)
{
#if defined(QUORVEL_HAVE_OPENSSL)
    EVP_DigestUpdate(m_state->context, bytes.data(), std::size_t(bytes.size()));
#elif defined(Q_OS_MACOS)
    // CC_LONG is 32 bits wide.
    for (qsizetype done = 0; done < bytes.size();) {
        const qsizetype step = std::min<qsizetype>(bytes.size() - done, 1 << 30);
        CC_SHA256_Update(&m_state->context, bytes.data() + done, CC_LONG(step));
        done += step;
    }
#else
    m_state->hash.addData(bytes);
#endif
}

QByteArray Sha256::result()
{
#if defined(QUORVEL_HAVE_OPENSSL)
    QByteArray digest(EVP_MAX_MD_SIZE, '\0');
    unsigned int length = 0;
    EVP_DigestFinal_ex(m_state->context, reinterpret_cast<unsigned char *>(digest.data()), &length);
    digest.resize(qsizetype(length));
    return digest;
#elif defined(Q_OS_MACOS)
    QByteArray digest(CC_SHA256_DIGEST_LENGTH, '\0');
    CC_SHA256_Final(reinterpret_cast<unsigned char *>(digest.data()), &m_state->context);
    return digest;
#else
    return m_state->hash.result();
#endif
}

QByteArray Sha256::of(QByteArrayView bytes)
{
    Sha256 hash;
    hash.add(bytes);
    return hash.result();
}
