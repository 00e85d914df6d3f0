// SPDX-License-Identifier: GPL-3.0-or-later
#include "Platform/UpdaterSignature.h"

#include "Runtime/Deleter.h"

#include <QFile>

#include <openssl/evp.h>

#include <memory>

namespace UpdaterSignature {

namespace {

constexpr qsizetype publicKeyLength = 32;
constexpr qsizetype signatureLength = 64;

bool verifyBytes(const unsigned char* data, size_t size, const QByteArray& publicKey,
                 const QByteArray& signature) {
    if (publicKey.size() != publicKeyLength || signature.size() != signatureLength)
        return false;
    const std::unique_ptr<EVP_PKEY, Deleter<EVP_PKEY_free>> key(EVP_PKEY_new_raw_public_key(
        EVP_PKEY_ED25519, nullptr, reinterpret_cast<const unsigned char*>(publicKey.constData()),
        static_cast<size_t>(publicKey.size())));
    const std::unique_ptr<EVP_MD_CTX, Deleter<EVP_MD_CTX_free>> context(EVP_MD_CTX_new());
    if (!key || !context)
        return false;
    // Ed25519 is one-shot: no digest, the whole message at once.
    if (EVP_DigestVerifyInit(context.get(), nullptr, nullptr, nullptr, key.get()) != 1)
        return false;
    return EVP_DigestVerify(context.get(),
                            reinterpret_cast<const unsigned char*>(signature.constData()),
                            static_cast<size_t>(signature.size()), data, size) == 1;
}

} // namespace

bool verify(const QByteArray& data, const QByteArray& publicKey, const QByteArray& signature) {
    // constData() of an empty array is still a valid pointer to "".
    return verifyBytes(reinterpret_cast<const unsigned char*>(data.constData()),
                       static_cast<size_t>(data.size()), publicKey, signature);
}

bool verifyFile(const QString& path, const QByteArray& publicKey, const QString& base64Signature) {
    auto signature = QByteArray::fromBase64Encoding(base64Signature.trimmed().toLatin1(),
                                                    QByteArray::AbortOnBase64DecodingErrors);
    if (!signature)
        return false;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    if (file.size() == 0)
        return verify(QByteArray(), publicKey, signature.decoded);
    // Mapped rather than read: archives can be large and are needed whole.
    const uchar* mapped = file.map(0, file.size());
    if (!mapped)
        return verify(file.readAll(), publicKey, signature.decoded);
    const bool valid =
        verifyBytes(mapped, static_cast<size_t>(file.size()), publicKey, signature.decoded);
    file.unmap(const_cast<uchar*>(mapped));
    return valid;
}

} // namespace UpdaterSignature
