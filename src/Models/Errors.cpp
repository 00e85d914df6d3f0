// SPDX-License-Identifier: GPL-3.0-or-later
#include "Models/Errors.h"

#include "Models/ByteSizes.h"

#include <QCoreApplication>

#include <cstring>

QString unexpectedErrorDescription() {
    return QCoreApplication::translate("ImagePipeline", "予期しないエラーが発生しました");
}

QString SystemError::errorDescription() const {
    char buffer[256];
    // GNU strerror_r: thread-safe, translated by the C library for the locale.
    return QString::fromLocal8Bit(strerror_r(m_errorNumber, buffer, sizeof buffer));
}

QString ResizeError::errorDescription() const {
    switch (m_case) {
    case cannotOpenSource:
        return QCoreApplication::translate("Errors", "画像ファイルを開けませんでした");
    case cannotReadProperties:
        return QCoreApplication::translate("Errors", "画像のメタデータを読み取れませんでした");
    case cannotCreateThumbnail:
        return QCoreApplication::translate("Errors", "リサイズに失敗しました");
    case damagedImageData:
        return QCoreApplication::translate("Errors",
                                           "画像データが壊れているか、途中で切れています");
    case unsupportedKind:
        return QCoreApplication::translate("Errors", "この種類の画像には対応していません");
    }
    // A case number from a worker that is not one of ours.
    return unexpectedErrorDescription();
}

QString EncoderError::errorDescription() const {
    switch (m_case) {
    case cannotCreateDestination:
        return QCoreApplication::translate("Errors", "出力ファイルを作成できませんでした");
    case finalizeFailed:
        return QCoreApplication::translate("Errors", "画像の書き出しに失敗しました");
    case tooLargeForHeic:
        return QCoreApplication::translate("Errors", "HEIC で書き出すには画像が大きすぎます");
    case metadataUnreadable:
        return QCoreApplication::translate("Errors", "元の画像のメタデータを読み取れませんでした");
    case metadataNotWritten:
        return QCoreApplication::translate("Errors", "メタデータを出力に書き込めませんでした");
    case tooLargeForAvif:
        return QCoreApplication::translate("Errors", "AVIF で書き出すには画像が大きすぎます");
    case tooLargeForWebp:
        return QCoreApplication::translate("Errors", "WebP で書き出すには画像が大きすぎます");
    }
    return unexpectedErrorDescription();
}

QString SizeLimitError::errorDescription() const {
    return QCoreApplication::translate("Errors", "%1 に収まりませんでした")
        .arg(ByteSizes::text(m_limit));
}

QString OutputPathError::errorDescription() const {
    switch (m_case) {
    case escapedParent:
        return QCoreApplication::translate("Errors", "出力フォルダが想定外の場所を指しています");
    case tooManyCollisions:
        return QCoreApplication::translate("Errors", "同名ファイルが多すぎます");
    case cannotCreateFile:
        return QCoreApplication::translate("Errors", "出力ファイルを作成できませんでした");
    case filenameTooLong:
        return QCoreApplication::translate("Errors", "ファイル名が長すぎます");
    }
    Q_UNREACHABLE();
}
