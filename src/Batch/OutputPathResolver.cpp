// SPDX-License-Identifier: GPL-3.0-or-later
#include "Batch/OutputPathResolver.h"

#include "Batch/OutputClaims.h"
#include "Models/Characters.h"
#include "Models/Errors.h"
#include "Runtime/FileDescriptor.h"

#include <QList>

#include <fcntl.h>
#include <sys/stat.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <memory>

namespace {

bool isWhitespaceOrNewline(char32_t c) {
    return (c >= 0x0A && c <= 0x0D) || c == 0x85 || QChar::category(c) == QChar::Separator_Space ||
           QChar::category(c) == QChar::Separator_Line ||
           QChar::category(c) == QChar::Separator_Paragraph;
}

bool isControl(char32_t c) {
    return QChar::category(c) == QChar::Other_Control || QChar::category(c) == QChar::Other_Format;
}

template <typename Predicate> QString trimmed(const QString& text, Predicate shouldTrim) {
    const QList<uint> scalars = text.toUcs4();
    qsizetype begin = 0;
    qsizetype end = scalars.size();
    while (begin < end && shouldTrim(char32_t(scalars[begin])))
        ++begin;
    while (end > begin && shouldTrim(char32_t(scalars[end - 1])))
        --end;
    return QString::fromUcs4(reinterpret_cast<const char32_t*>(scalars.constData() + begin),
                             end - begin);
}

QString trimmedForName(const QString& text) {
    return trimmed(trimmed(text, isWhitespaceOrNewline), isControl);
}

// Separators and NUL become "_", other C0 controls go, everything else stays.
QString withSafeScalars(const QString& text) {
    QString result;
    result.reserve(text.size());
    for (const uint scalar : text.toUcs4()) {
        if (scalar == '/' || scalar == ':' || scalar == '\\' || scalar == 0)
            result.append(QLatin1Char('_'));
        else if (scalar >= 0x20) {
            const char32_t c = scalar;
            result.append(QString::fromUcs4(&c, 1));
        }
    }
    return result;
}

std::filesystem::path fromQString(const QString& text) {
    return text.toUtf8().toStdString();
}

// mkdir -p: an existing folder, or a link to one, is fine.
void createDirectories(const std::filesystem::path& folder) {
    struct stat info {};
    if (::stat(folder.c_str(), &info) == 0) {
        if (S_ISDIR(info.st_mode))
            return;
        throw SystemError(EEXIST);
    }
    if (folder.has_parent_path() && folder.parent_path() != folder)
        createDirectories(folder.parent_path());
    if (::mkdir(folder.c_str(), 0777) != 0) {
        const int error = errno;
        if (error == EEXIST && ::stat(folder.c_str(), &info) == 0 && S_ISDIR(info.st_mode))
            return; // made by a concurrent job
        throw SystemError(error);
    }
}

// Lexically normal form without "." and ".." and without a trailing slash.
std::string standardized(const std::filesystem::path& path) {
    std::string text = path.lexically_normal().native();
    while (text.size() > 1 && text.back() == '/')
        text.pop_back();
    return text;
}

} // namespace

namespace OutputPathResolver {

std::filesystem::path resolvingSymlinksInPath(const std::filesystem::path& path) {
    std::unique_ptr<char, decltype(&std::free)> real(::realpath(path.c_str(), nullptr), &std::free);
    if (real)
        return real.get();
    // The last component may be a dangling link or missing: resolve its folder only.
    if (!path.has_filename() || !path.has_parent_path())
        return path;
    std::unique_ptr<char, decltype(&std::free)> parent(
        ::realpath(path.parent_path().c_str(), nullptr), &std::free);
    if (!parent)
        return path;
    return std::filesystem::path(parent.get()) / path.filename();
}

bool isContained(const std::filesystem::path& parent, const std::filesystem::path& outputFolder) {
    const std::string parentPath = standardized(parent);
    const std::string outputPath = standardized(outputFolder);
    // A source in "/" has the output folder "/Resized": there the prefix is "/" itself.
    const std::string prefix = parentPath.ends_with('/') ? parentPath : parentPath + "/";
    return outputPath == parentPath || outputPath.starts_with(prefix);
}

QString sanitizedFolderName(const QString& name) {
    const QString trimmedName = trimmedForName(name);
    if (trimmedName.isEmpty() || trimmedName == u"." || trimmedName == u"..")
        return QString::fromLatin1(defaultFolderName);
    const QString safe = withSafeScalars(trimmedName);
    if (safe.isEmpty())
        return QString::fromLatin1(defaultFolderName);
    return Characters::prefix(safe, maximumFolderNameCharacters);
}

QString sanitizeFilenamePrefix(const QString& prefix) {
    const QString trimmedPrefix = trimmedForName(prefix);
    if (trimmedPrefix.isEmpty())
        return {};
    return Characters::prefix(withSafeScalars(trimmedPrefix), maximumPrefixCharacters);
}

std::filesystem::path resolve(const std::filesystem::path& source, OutputType outputType,
                              const QString& folderName, const QString& filenamePrefix) {
    const QString folder = sanitizedFolderName(folderName);
    const std::filesystem::path resolvedSource = resolvingSymlinksInPath(source);
    const std::filesystem::path parent = resolvingSymlinksInPath(resolvedSource.parent_path());
    const std::filesystem::path outputFolder = parent / fromQString(folder);

    createDirectories(outputFolder);

    // The folder must not lead elsewhere, e.g. through an existing link.
    if (!isContained(parent, resolvingSymlinksInPath(outputFolder)))
        throw OutputPathError(OutputPathError::escapedParent);

    // The base name keeps its bytes: it need not be valid UTF-8.
    const std::string base = resolvedSource.stem().native();
    const QString safePrefix = sanitizeFilenamePrefix(filenamePrefix);
    QString extension = OutputTypes::preferredFilenameExtension(outputType);
    if (extension.isEmpty())
        extension = QStringLiteral("jpg");
    const qint64 extensionBytes = extension.toUtf8().size();

    // Cut by characters where the name is text; a name that is not valid
    // UTF-8 is cut by bytes at a UTF-8 lead byte so no sequence is split.
    const QByteArray nameBytes = safePrefix.toUtf8() + QByteArray::fromStdString(base);
    const qint64 budget = nameByteBudget - 1 - extensionBytes;
    QByteArray stem;
    const QString nameText = QString::fromUtf8(nameBytes);
    if (nameText.toUtf8() == nameBytes) {
        stem = Characters::truncateToUTF8Bytes(nameText, budget).toUtf8();
    } else {
        stem = nameBytes.left(budget);
        while (!stem.isEmpty() && stem.size() < nameBytes.size() &&
               (uchar(nameBytes[stem.size()]) & 0xC0) == 0x80)
            stem.chop(1);
    }

    const std::string ext = extension.toStdString();
    for (int n = 0;; ++n) {
        const std::string name = n == 0 ? stem.toStdString() + "." + ext
                                        : stem.toStdString() + "-" + std::to_string(n) + "." + ext;
        if (name.find('\0') != std::string::npos)
            throw OutputPathError(OutputPathError::cannotCreateFile);
        const std::filesystem::path candidate = outputFolder / name;
        FileDescriptor fd(OutputClaims::createExclusive(candidate, O_WRONLY | O_CLOEXEC, 0644));
        if (fd.isValid())
            return candidate;
        if (errno == ENAMETOOLONG)
            throw OutputPathError(OutputPathError::filenameTooLong);
        if (errno != EEXIST)
            throw OutputPathError(OutputPathError::cannotCreateFile);
        if (n >= maximumCollisionNumber)
            throw OutputPathError(OutputPathError::tooManyCollisions);
    }
}

} // namespace OutputPathResolver
