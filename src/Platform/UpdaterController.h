// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "Platform/Updater.h"

#include <QObject>
#include <QVariantMap>

#include <memory>
#include <optional>

// Created once at launch when the information dictionary configures updates;
// it owns the updater for the life of the process.
class UpdaterController : public QObject {
    Q_OBJECT
public:
    UpdaterController(const QVariantMap& dictionary, bool startingUpdater,
                      QObject* parent = nullptr);

    // A started controller when the dictionary is valid, else nothing.
    static std::unique_ptr<UpdaterController>
    createIfConfigured(const std::optional<QVariantMap>& dictionary);
    // The same for the compiled-in dictionary.
    static std::unique_ptr<UpdaterController> createIfConfigured();

    Updater* updater() { return &m_updater; }
    void startUpdater() { m_updater.start(); }

private:
    Updater m_updater;
};
