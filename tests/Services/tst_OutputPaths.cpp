// SPDX-License-Identifier: GPL-3.0-or-later
#include "Models/Characters.h"
#include "Services/Errors.h"
#include "Services/OutputPathResolver.h"
#include "Support/TestSupport.h"

#include <QTest>

#include <fcntl.h>
#include <unistd.h>

using namespace TestSupport;
namespace OPR = OutputPathResolver;

class OutputPathsTest : public QObject {
    Q_OBJECT
    QTemporaryDir m_dir;

    fs::path touch(const fs::path& file) {
        fs::create_directories(file.parent_path());
        ::close(::open(file.c_str(), O_WRONLY | O_CREAT, 0644));
        return file;
    }
    static QString errorOf(const std::function<void()>& call) {
        try {
            call();
        } catch (const LocalizedError& error) {
            return error.errorDescription();
        }
        return {};
    }

private Q_SLOTS:
    void folderName_data() {
        QTest::addColumn<QString>("input");
        QTest::addColumn<QString>("expected");
        QTest::newRow("empty") << ""
                               << "Resized";
        QTest::newRow("spaces") << "   "
                                << "Resized";
        QTest::newRow("dot") << "."
                             << "Resized";
        QTest::newRow("dot dot") << ".."
                                 << "Resized";
        QTest::newRow("dot dot padded") << " \n..\t "
                                        << "Resized";
        QTest::newRow("ideographic space") << QStringLiteral("\u3000out\u3000") << "out";
        QTest::newRow("three dots") << "..."
                                    << "...";
        QTest::newRow("dot name") << ".thumbs"
                                  << ".thumbs";
        QTest::newRow("separators") << "a/b:c\\d"
                                    << "a_b_c_d";
        QTest::newRow("inner tab") << "a\tb"
                                   << "ab";
        QTest::newRow("NUL") << QString::fromUtf16(u"a\u0000b", 3) << "a_b";
        QTest::newRow("zero width edges") << QStringLiteral("\u200Bout\u200B") << "out";
        QTest::newRow("only controls") << QStringLiteral("\u0001\u0002") << "Resized";
        QTest::newRow("150 characters") << QString(150, u'x') << QString(100, u'x');
    }
    void folderName() {
        QFETCH(QString, input);
        QFETCH(QString, expected);
        QCOMPARE(OPR::sanitizedFolderName(input), expected);
    }

    void prefix_data() {
        QTest::addColumn<QString>("input");
        QTest::addColumn<QString>("expected");
        QTest::newRow("padded") << "  web_  "
                                << "web_";
        QTest::newRow("empty") << ""
                               << "";
        QTest::newRow("spaces") << "    "
                                << "";
        QTest::newRow("dot kept") << "."
                                  << ".";
        QTest::newRow("slash") << "a/"
                               << "a_";
        QTest::newRow("60") << QString(60, u'p') << QString(50, u'p');
        QTest::newRow("flags count once")
            << QString(60, QChar()).replace(QChar(), QStringLiteral("🇯🇵"))
            << QString(50, QChar()).replace(QChar(), QStringLiteral("🇯🇵"));
    }
    void prefix() {
        QFETCH(QString, input);
        QFETCH(QString, expected);
        QCOMPARE(OPR::sanitizeFilenamePrefix(input), expected);
    }

    void byteBudget_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<qint64>("budget");
        QTest::addColumn<QString>("expected");
        const QString kana = QString(100, u'あ');
        QTest::newRow("78 of 100 kana") << kana << qint64(236) << QString(78, u'あ');
        QTest::newRow("first does not fit")
            << QStringLiteral("あい") << qint64(2) << QStringLiteral("あ");
        QTest::newRow("zero") << QStringLiteral("abc") << qint64(0) << QString();
        QTest::newRow("fits") << QStringLiteral("abc") << qint64(3) << QStringLiteral("abc");
        QTest::newRow("combining mark whole")
            << QStringLiteral("ae\u0301") << qint64(2) << QStringLiteral("a");
    }
    void byteBudget() {
        QFETCH(QString, text);
        QFETCH(qint64, budget);
        QFETCH(QString, expected);
        QCOMPARE(Characters::truncateToUTF8Bytes(text, budget), expected);
    }

    void collisionsAreNumbered() {
        const fs::path source = touch(path(m_dir) / "photos" / "IMG_0001.HEIC");
        const auto resolve = [&] {
            return OPR::resolve(source, OutputType::heic, QStringLiteral("Resized"),
                                QStringLiteral("s_"));
        };
        QCOMPARE(resolve(), path(m_dir) / "photos" / "Resized" / "s_IMG_0001.heic");
        QCOMPARE(resolve(), path(m_dir) / "photos" / "Resized" / "s_IMG_0001-1.heic");
        QCOMPARE(resolve(), path(m_dir) / "photos" / "Resized" / "s_IMG_0001-2.heic");
        QCOMPARE(fs::file_size(path(m_dir) / "photos" / "Resized" / "s_IMG_0001-2.heic"), 0u);
        // Only the last extension goes.
        const fs::path dotted = touch(path(m_dir) / "photos" / "a.b.jpg");
        QCOMPARE(OPR::resolve(dotted, OutputType::png, QString(), QString()).filename(),
                 fs::path("a.b.png"));
    }

    void longNamesAreCut() {
        const QString kana(100, u'あ');
        const fs::path source = touch(path(m_dir) / "long" / (kana.toStdString() + ".jpg"));
        const fs::path out = OPR::resolve(source, OutputType::jpeg, QString(), QString());
        QCOMPARE(QString::fromStdString(out.filename().native()),
                 QString(78, u'あ') + QStringLiteral(".jpg"));
    }

    void linksOutOfTheFolderAreRefused() {
        const fs::path folder = path(m_dir) / "linked";
        const fs::path source = touch(folder / "a.jpg");
        fs::create_directories(path(m_dir) / "elsewhere");
        fs::create_directory_symlink(path(m_dir) / "elsewhere", folder / "Out");
        QCOMPARE(
            errorOf([&] { OPR::resolve(source, OutputType::jpeg, QStringLiteral("Out"), {}); }),
            QStringLiteral("出力フォルダが想定外の場所を指しています"));
        QVERIFY(fs::is_empty(path(m_dir) / "elsewhere"));
        // A link back to the source's own folder is fine: the output lands beside it.
        fs::create_directory_symlink(folder, folder / "Here");
        const fs::path out = OPR::resolve(source, OutputType::png, QStringLiteral("Here"), {});
        QVERIFY(fs::equivalent(out, folder / "a.png"));
    }

    void containment_data() {
        QTest::addColumn<QString>("parent");
        QTest::addColumn<QString>("output");
        QTest::addColumn<bool>("contained");
        QTest::newRow("root") << "/"
                              << "/Resized" << true;
        QTest::newRow("below") << "/home/u"
                               << "/home/u/Resized" << true;
        QTest::newRow("itself") << "/home/u"
                                << "/home/u" << true;
        QTest::newRow("sibling with same start") << "/home/u"
                                                 << "/home/user/Resized" << false;
        QTest::newRow("elsewhere") << "/home/u"
                                   << "/tmp/Resized" << false;
    }
    void containment() {
        QFETCH(QString, parent);
        QFETCH(QString, output);
        QFETCH(bool, contained);
        QCOMPARE(OPR::isContained(parent.toStdString(), output.toStdString()), contained);
    }

    void tooManyCollisions() {
        const fs::path source = touch(path(m_dir) / "full" / "p.jpg");
        touch(path(m_dir) / "full" / "Resized" / "p.jpg");
        for (int n = 1; n <= 9998; ++n)
            touch(path(m_dir) / "full" / "Resized" / ("p-" + std::to_string(n) + ".jpg"));
        QCOMPARE(errorOf([&] { OPR::resolve(source, OutputType::jpeg, {}, {}); }),
                 QStringLiteral("同名ファイルが多すぎます"));
        fs::remove(path(m_dir) / "full" / "Resized" / "p-9998.jpg");
        QCOMPARE(OPR::resolve(source, OutputType::jpeg, {}, {}).filename(), fs::path("p-9998.jpg"));
    }

    void folderInTheWay() {
        const fs::path source = touch(path(m_dir) / "blocked" / "a.jpg");
        touch(path(m_dir) / "blocked" / "Resized"); // a file where the folder should be
        QVERIFY(!errorOf([&] { OPR::resolve(source, OutputType::jpeg, {}, {}); }).isEmpty());
    }

    void readOnlyFolder() {
        if (runningAsRoot())
            QSKIP("root may write anywhere");
        const fs::path source = touch(path(m_dir) / "ro" / "a.jpg");
        fs::create_directories(path(m_dir) / "ro" / "Resized");
        fs::permissions(path(m_dir) / "ro" / "Resized",
                        fs::perms::owner_read | fs::perms::owner_exec);
        QCOMPARE(errorOf([&] { OPR::resolve(source, OutputType::jpeg, {}, {}); }),
                 QStringLiteral("出力ファイルを作成できませんでした"));
        fs::permissions(path(m_dir) / "ro" / "Resized", fs::perms::owner_all);
    }
};

QTEST_GUILESS_MAIN(OutputPathsTest)
#include "tst_OutputPaths.moc"
