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
    // Any list of URLs is taken and handed over once, unfiltered; text is not.
    void drop_data() {
        QTest::addColumn<QList<QUrl>>("urls"); // empty: text only
        QTest::addColumn<bool>("dropped");     // false: the drag leaves
        const QList<QUrl> files{QUrl::fromLocalFile(QStringLiteral("/photos/b.JPG")),
                                QUrl::fromLocalFile(QStringLiteral("/photos/trip")),
                                QUrl::fromLocalFile(QStringLiteral("/photos/a.png"))};
        QTest::newRow("files and folders") << files << true;
        QTest::newRow("nothing usable, still accepted")
            << QList<QUrl>{QUrl(QStringLiteral("https://example.org/picture.jpg")),
                           QUrl::fromLocalFile(QStringLiteral("/notes.txt")),
                           QUrl::fromLocalFile(QStringLiteral("/notes.txt"))}
            << true;
        QTest::newRow("leaving") << files << false;
        QTest::newRow("text refused") << QList<QUrl>{} << false;
    }
    void drop() {
        QFETCH(QList<QUrl>, urls);
        QFETCH(bool, dropped);
        QList<QList<QUrl>> calls;
        DropZoneView zone([&](const QList<QUrl>& list) { calls.append(list); });
        zone.resize(480, 260);
        zone.show();
        QVERIFY(QTest::qWaitForWindowExposed(&zone));
        QCOMPARE(zone.findChild<QLabel*>(QStringLiteral("title"))->text(),
                 QStringLiteral("ここに画像をドロップ"));

        QMimeData data;
        if (urls.isEmpty())
            data.setText(QStringLiteral("just words"));
        else
            data.setUrls(urls);
        const QPoint at = zone.rect().center();
        QDragEnterEvent enter(at, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QCOMPARE(send(zone, enter), !urls.isEmpty());
        QCOMPARE(zone.isTargeted(), !urls.isEmpty());
        if (urls.isEmpty())
            return;
        // The colours move to the accent over 0.15 s, not at once.
        QVERIFY(zone.highlight() < 1.0);
        QTRY_COMPARE_WITH_TIMEOUT(zone.highlight(), 1.0, 1000);
        QDragMoveEvent move(at, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QVERIFY(send(zone, move));
        QDropEvent drop(at, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QDragLeaveEvent leave;
        if (dropped)
            QVERIFY(send(zone, drop));
        else
            send(zone, leave);

        QCOMPARE(calls, dropped ? QList<QList<QUrl>>{urls} : QList<QList<QUrl>>{});
        QVERIFY(!zone.isTargeted());
        QTRY_COMPARE_WITH_TIMEOUT(zone.highlight(), 0.0, 1000);
    }
};

QTEST_MAIN(DropZoneViewTest)
#include "tst_DropZoneView.moc"
