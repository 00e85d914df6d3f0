// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QString>

namespace UpdaterSignature {

// True when the file's bytes carry a valid Ed25519 signature (base64) made
// with the 32-byte public key. Any malformed input is simply a failure.
bool verifyFile(const QString& path, const QByteArray& publicKey, const QString& base64Signature);

bool verify(const QByteArray& data, const QByteArray& publicKey, const QByteArray& signature);

} // namespace UpdaterSignature
