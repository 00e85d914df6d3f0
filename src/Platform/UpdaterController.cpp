// SPDX-License-Identifier: GPL-3.0-or-later
#include "Platform/UpdaterController.h"

#include "Platform/UpdateConfiguration.h"

UpdaterController::UpdaterController(const QVariantMap& dictionary, bool startingUpdater,
                                     QObject* parent)
    : QObject(parent),
      m_updater(QUrl(UpdateConfiguration::text(dictionary, UpdateConfiguration::feedURLKey)
                         .value_or(QString())
                         .trimmed()),
                UpdateConfiguration::decodedPublicEDKey(
                    UpdateConfiguration::text(dictionary, UpdateConfiguration::publicEDKeyKey)
                        .value_or(QString()))
                    .value_or(QByteArray()),
                UpdateConfiguration::programVersion(dictionary)) {
    if (startingUpdater)
        startUpdater();
}

std::unique_ptr<UpdaterController>
UpdaterController::createIfConfigured(const std::optional<QVariantMap>& dictionary) {
    if (!UpdateConfiguration::hasSparkleConfiguration(dictionary))
        return nullptr;
    return std::make_unique<UpdaterController>(*dictionary, true);
}

std::unique_ptr<UpdaterController> UpdaterController::createIfConfigured() {
    return createIfConfigured(UpdateConfiguration::informationDictionary());
}
