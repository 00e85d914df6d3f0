// SPDX-License-Identifier: GPL-3.0-or-later
#include "Models/JobItem.h"

namespace {

template <typename T> bool store(T& field, const T& value) {
    if (field == value) {
        field = value;
        return false;
    }
    field = value;
    return true;
}

} // namespace

JobItem::JobItem(Path sourceURL, QObject* parent)
    : QObject(parent), m_id(QUuid::createUuid()), m_sourceURL(std::move(sourceURL)) {}

void JobItem::setStatus(const JobStatus& status) {
    if (store(m_status, status))
        Q_EMIT statusChanged();
}

void JobItem::setOutputURL(const std::optional<Path>& url) {
    if (store(m_outputURL, url))
        Q_EMIT outputURLChanged();
}

void JobItem::setSourcePixelLongEdge(std::optional<std::int64_t> value) {
    if (store(m_sourcePixelLongEdge, value))
        Q_EMIT sourcePixelLongEdgeChanged();
}

void JobItem::setOutputPixelLongEdge(std::optional<std::int64_t> value) {
    if (store(m_outputPixelLongEdge, value))
        Q_EMIT outputPixelLongEdgeChanged();
}

void JobItem::setSourceBytes(std::optional<std::int64_t> value) {
    if (store(m_sourceBytes, value))
        Q_EMIT sourceBytesChanged();
}

void JobItem::setOutputBytes(std::optional<std::int64_t> value) {
    if (store(m_outputBytes, value))
        Q_EMIT outputBytesChanged();
}
