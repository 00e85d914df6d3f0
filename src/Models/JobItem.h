// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "Models/JobStatus.h"

#include <QObject>
#include <QUuid>

#include <cstdint>
#include <filesystem>
#include <optional>

// One accepted file and what became of it. Lives on the main thread; the
// processor writes results into it and views observe it. Each setter signals
// only when the value really changes (an absent size differs from 0).
class JobItem : public QObject {
    Q_OBJECT
public:
    using Path = std::filesystem::path;

    explicit JobItem(Path sourceURL, QObject* parent = nullptr);

    const QUuid& id() const { return m_id; }
    // The file as listed, before symbolic links are resolved.
    const Path& sourceURL() const { return m_sourceURL; }

    const JobStatus& status() const { return m_status; }
    const std::optional<Path>& outputURL() const { return m_outputURL; }
    std::optional<std::int64_t> sourcePixelLongEdge() const { return m_sourcePixelLongEdge; }
    std::optional<std::int64_t> outputPixelLongEdge() const { return m_outputPixelLongEdge; }
    // File sizes in bytes, known once an output is written.
    std::optional<std::int64_t> sourceBytes() const { return m_sourceBytes; }
    std::optional<std::int64_t> outputBytes() const { return m_outputBytes; }

    void setStatus(const JobStatus& status);
    void setOutputURL(const std::optional<Path>& url);
    void setSourcePixelLongEdge(std::optional<std::int64_t> value);
    void setOutputPixelLongEdge(std::optional<std::int64_t> value);
    void setSourceBytes(std::optional<std::int64_t> value);
    void setOutputBytes(std::optional<std::int64_t> value);

Q_SIGNALS:
    void statusChanged();
    void outputURLChanged();
    void sourcePixelLongEdgeChanged();
    void outputPixelLongEdgeChanged();
    void sourceBytesChanged();
    void outputBytesChanged();

private:
    const QUuid m_id;
    const Path m_sourceURL;
    JobStatus m_status = JobStatus::pending();
    std::optional<Path> m_outputURL;
    std::optional<std::int64_t> m_sourcePixelLongEdge;
    std::optional<std::int64_t> m_outputPixelLongEdge;
    std::optional<std::int64_t> m_sourceBytes;
    std::optional<std::int64_t> m_outputBytes;
};
