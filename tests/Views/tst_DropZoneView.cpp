// SPDX-License-Identifier: GPL-3.0-or-later
#include "Views/DropZoneView.h"

#include <QLabel>
#include <QMimeData>
#include <QTest>

class DropZoneViewTest : public QObject {
    Q_OBJECT

    static bool send(QWidget& target, QEvent& event) {
        QCoreApplication::sendEvent(&target, &event);
        return event.isAccepted();
    }

private Q_SLOTS:
    void dropHandsOverEverythingOnce_data() {
        QTest::addColumn<QList<QUrl>>("urls");
        QTest::newRow("files and folders")
            << QList<QUrl>{QUrl::fromLocalFile(QStringLiteral("/photos/b.JPG")),
                           QUrl::fromLocalFile(QStringLiteral("/photos/trip")),
                           QUrl::fromLocalFile(QStringLiteral("/photos/a.png"))};
        QTest::newRow("nothing usable, still accepted")
            << QList<QUrl>{QUrl(QStringLiteral("https://example.org/picture.jpg")),
                           QUrl::fromLocalFile(QStringLiteral("/notes.txt")),
                           QUrl::fromLocalFile(QStringLiteral("/notes.txt"))};
    }

    void dropHandsOverEverythingOnce() {
        QFETCH(QList<QUrl>, urls);
        QList<QList<QUrl>> calls;
        DropZoneView zone([&](const QList<QUrl>& dropped) { calls.append(dropped); });
        zone.resize(480, 260);
        zone.show();
        QVERIFY(QTest::qWaitForWindowExposed(&zone));
        QCOMPARE(zone.findChild<QLabel*>(QStringLiteral("title"))->text(),
                 QStringLiteral("ここに画像をドロップ"));

        QMimeData data;
        data.setUrls(urls);
        const QPoint at = zone.rect().center();
        QDragEnterEvent enter(at, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QVERIFY(send(zone, enter));
        QVERIFY(zone.isTargeted());
        // The colours move to the accent over 0.15 s, not at once.
        QVERIFY(zone.highlight() < 1.0);
        QTRY_COMPARE_WITH_TIMEOUT(zone.highlight(), 1.0, 1000);
        QDragMoveEvent move(at, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QVERIFY(send(zone, move));
        QDropEvent drop(at, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QVERIFY(send(zone, drop));

        QCOMPARE(calls.size(), 1);
        QCOMPARE(calls.front(), urls);
        QVERIFY(!zone.isTargeted());
        QTRY_COMPARE_WITH_TIMEOUT(zone.highlight(), 0.0, 1000);
    }

    void leavingEndsTheHighlightAndTextIsRefused() {
        int calls = 0;
        DropZoneView zone([&](const QList<QUrl>&) { ++calls; });
        QMimeData text;
        text.setText(QStringLiteral("just words"));
        QDragEnterEvent refused({}, Qt::CopyAction, &text, Qt::LeftButton, Qt::NoModifier);
        QVERIFY(!send(zone, refused));
        QVERIFY(!zone.isTargeted());

        QMimeData data;
        data.setUrls({QUrl::fromLocalFile(QStringLiteral("/a.jpg"))});
        QDragEnterEvent enter({}, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        send(zone, enter);
        QDragLeaveEvent leave;
        send(zone, leave);
        QVERIFY(!zone.isTargeted());
        QTRY_COMPARE_WITH_TIMEOUT(zone.highlight(), 0.0, 1000);
        QCOMPARE(calls, 0);
    }
};

QTEST_MAIN(DropZoneViewTest)
#include "tst_DropZoneView.moc"
