// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>

// Where a job stands. `skipped` and `failed` carry the text shown to the user.
class JobStatus {
public:
    enum class Kind { pending, running, succeeded, skipped, failed };

    static JobStatus pending() { return JobStatus(Kind::pending); }
    static JobStatus running() { return JobStatus(Kind::running); }
    static JobStatus succeeded() { return JobStatus(Kind::succeeded); }
    static JobStatus skipped(QString reason) { return JobStatus(Kind::skipped, std::move(reason)); }
    static JobStatus failed(QString message) { return JobStatus(Kind::failed, std::move(message)); }

    Kind kind() const { return m_kind; }
    // The reason of a skip or the message of a failure; empty otherwise.
    const QString& text() const { return m_text; }

    bool isActive() const { return m_kind == Kind::pending || m_kind == Kind::running; }
    bool isCompleted() const { return !isActive(); }

    friend bool operator==(const JobStatus&, const JobStatus&) = default;

private:
    explicit JobStatus(Kind kind, QString text = {}) : m_kind(kind), m_text(std::move(text)) {}

    Kind m_kind;
    QString m_text;
};
