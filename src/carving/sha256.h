#pragma once

#include <QByteArray>
#include <QByteArrayView>

#include <memory>

// SHA-256 of saved files, for the report that lets a recovery be checked
// with sha256sum. Qt's own implementation manages about 60 MB/s, slower than
// the disks files are saved to; the system's crypto library (OpenSSL, or
// CommonCrypto on macOS) uses the processor's SHA instructions where it has
// them, and Qt's is the fallback.
class Sha256
{
public:
    Sha256();
    ~Sha256();
    Sha256(const Sha256 &) = delete;
    Sha256 &operator=(const Sha256 &) = delete;

    void add(QByteArrayView bytes);
    // The 32-byte digest of everything added; call once.
    QByteArray result();

    static QByteArray of(QByteArrayView bytes);

private:
    struct State;
    std::unique_ptr<State> m_state;
};
