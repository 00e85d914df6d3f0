// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>

#include <cstdint>

#include <exception>

// An error the pipeline can show as it stands: every failure below the
// pipeline is one of these, carrying the text the user will read, in the
// language of the installed translation tables.
// For a failure that has no text of its own.
QString unexpectedErrorDescription();

class LocalizedError : public std::exception {
public:
    virtual QString errorDescription() const = 0;
    const char* what() const noexcept override { return "LocalizedError"; }
};

// A failed system call, described in the system's own words (strerror in the
// user's locale).
class SystemError : public LocalizedError {
public:
    explicit SystemError(int errorNumber) : m_errorNumber(errorNumber) {}
    int errorNumber() const { return m_errorNumber; }
    QString errorDescription() const override;

private:
    int m_errorNumber;
};

class ResizeError : public LocalizedError {
public:
    enum Case {
        cannotOpenSource,
        cannotReadProperties,
        cannotCreateThumbnail,
        damagedImageData, // cut short or desynchronised: the decoder would make up the rest
        unsupportedKind,  // a variant of a known type that our decoders are not built for
    };
    explicit ResizeError(Case errorCase) : m_case(errorCase) {}
    Case errorCase() const { return m_case; }
    QString errorDescription() const override;
    friend bool operator==(const ResizeError& a, const ResizeError& b) {
        return a.m_case == b.m_case;
    }

private:
    Case m_case;
};

class EncoderError : public LocalizedError {
public:
    enum Case {
        cannotCreateDestination,
        finalizeFailed,
        tooLargeForHeic,
        metadataUnreadable, // kept metadata: the source's could not be read
        metadataNotWritten, // kept metadata: the output cannot hold what was read
        tooLargeForAvif,
        tooLargeForWebp,
    };
    explicit EncoderError(Case errorCase) : m_case(errorCase) {}
    Case errorCase() const { return m_case; }
    QString errorDescription() const override;
    friend bool operator==(const EncoderError& a, const EncoderError& b) {
        return a.m_case == b.m_case;
    }

private:
    Case m_case;
};

// The output cannot be made to fit the file-size limit at any quality and
// size tried. A skip, not a failure: nothing is wrong with the file.
class SizeLimitError : public LocalizedError {
public:
    explicit SizeLimitError(std::int64_t limit) : m_limit(limit) {}
    std::int64_t limit() const { return m_limit; }
    QString errorDescription() const override;

private:
    std::int64_t m_limit;
};

class OutputPathError : public LocalizedError {
public:
    enum Case { escapedParent, tooManyCollisions, cannotCreateFile, filenameTooLong };
    explicit OutputPathError(Case errorCase) : m_case(errorCase) {}
    Case errorCase() const { return m_case; }
    QString errorDescription() const override;
    friend bool operator==(const OutputPathError& a, const OutputPathError& b) {
        return a.m_case == b.m_case;
    }

private:
    Case m_case;
};
