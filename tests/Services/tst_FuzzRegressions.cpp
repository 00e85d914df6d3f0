// SPDX-License-Identifier: GPL-3.0-or-later
// Replays every input the fuzzer found a fault with (tests/fuzz-regressions/)
// through the pipeline under each accepted extension. The sanitizer build
// runs this too, so a leak or memory error that comes back fails there.
#include "Services/ImagePipeline.h"
#include "Services/ImageProcessor.h"
#include "Support/TestSupport.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QTest>

using namespace TestSupport;

class FuzzRegressionsTest : public QObject {
    Q_OBJECT
    QTemporaryDir m_dir;

private Q_SLOTS:
    void initTestCase() {
        initialize();
        QVERIFY(m_dir.isValid());
    }

    void replay_data() {
        QTest::addColumn<QString>("input");
        QTest::addColumn<QString>("extension");
        // From the environment rather than __FILE__, which a compiler cache may make relative.
        const QString folder = qEnvironmentVariable("BURISORA_TEST_DATA") + "/fuzz-regressions";
        QVERIFY2(QFileInfo(folder).isDir(), "tests/fuzz-regressions not found");
        const QStringList inputs = QDir(folder).entryList(QDir::Files, QDir::Name);
        QVERIFY(!inputs.isEmpty());
        for (const QString& name : inputs) {
            for (const QString& extension : ImageProcessor::acceptedExtensions())
                QTest::addRow("%s.%s", qPrintable(name), qPrintable(extension))
                    << QDir(folder).filePath(name) << extension;
        }
    }
    void replay() {
        QFETCH(QString, input);
        QFETCH(QString, extension);
        const fs::path folder =
            path(m_dir) / QString::number(qHash(input + extension)).toStdString();
        fs::create_directories(folder);
        const fs::path source = folder / ("input." + extension.toStdString());
        const QByteArray bytes = readBytes(input.toStdString());
        writeBytes(source, bytes);

        ResizeSettingsSnapshot settings;
        settings.longEdgePx = 48;
        QElapsedTimer clock;
        clock.start();
        const ImageProcessingOutcome outcome = ImagePipeline::process(source, settings);
        QVERIFY2(clock.elapsed() < 10000, qPrintable(QString::number(clock.elapsed())));

        QCOMPARE(readBytes(source), bytes);
        QVERIFY(temporaryFilesBelow(folder).isEmpty());
        if (outcome.status == JobStatus::succeeded()) {
            QCOMPARE(std::max(decode(*outcome.outputURL).width, decode(*outcome.outputURL).height),
                     int(*outcome.outputPixelLongEdge));
        } else {
            QVERIFY(!outcome.status.text().isEmpty());
            QVERIFY(!fs::exists(folder / "Resized") || fs::is_empty(folder / "Resized"));
        }
    }
};

QTEST_GUILESS_MAIN(FuzzRegressionsTest)
#include "tst_FuzzRegressions.moc"
