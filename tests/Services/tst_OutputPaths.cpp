// SPDX-License-Identifier: GPL-3.0-or-later
// Output folders that cannot be written or were swapped for links or files
// are in tst_Pipeline, where the whole pipeline meets them.
#include "Models/Characters.h"
#include "Services/Errors.h"
#include "Services/OutputPathResolver.h"
#include "Support/TestSupport.h"

#include <QTest>

#include <fcntl.h>
#include <unistd.h>

using namespace TestSupport;
namespace OPR = OutputPathResolver;

namespace {

void row(const char* tag, const QString& input, const QString& expected) {
    QTest::newRow(tag) << input << expected;
}

} // namespace

class OutputPathsTest : public QObject {
    Q_OBJECT
    QTemporaryDir m_dir;

    fs::path touch(const std::string& name) {
        const fs::path file = path(m_dir) / name;
        fs::create_directories(file.parent_path());
        ::close(::open(file.c_str(), O_WRONLY | O_CREAT, 0644));
        return file;
    }

private Q_SLOTS:
    void sanitizing_data() {
        QTest::addColumn<QString>("input");
        QTest::addColumn<QString>("expected");
        const QString flags = QString(60, QChar()).replace(QChar(), QStringLiteral("🇯🇵"));
        // Folder names (default "Resized") and, after "prefix:", file-name prefixes.
        const char* blanks[][2] = {{"empty", ""},
                                   {"spaces", "   "},
                                   {"dot", "."},
                                   {"dot dot", ".."},
                                   {"dot dot padded", " \n..\t "},
                                   {"only controls", "\1\2"}};
        for (const auto& [tag, blank] : blanks)
            row(tag, QString::fromUtf8(blank), QStringLiteral("Resized"));
        row("ideographic space", QStringLiteral("\u3000out\u3000"), "out");
        row("three dots", "...", "...");
        row("dot name", ".thumbs", ".thumbs");
        row("separators", "a/b:c\\d", "a_b_c_d");
        row("inner tab", "a\tb", "ab");
        row("NUL", QString::fromUtf16(u"a\u0000b", 3), "a_b");
        row("zero width edges", QStringLiteral("\u200Bout\u200B"), "out");
        row("150 characters", QString(150, u'x'), QString(100, u'x'));
        row("prefix padded", "prefix:  web_  ", "web_");
        row("prefix empty", "prefix:", "");
        row("prefix spaces", "prefix:    ", "");
        row("prefix dot kept", "prefix:.", ".");
        row("prefix slash", "prefix:a/", "a_");
        row("prefix 60", "prefix:" + QString(60, u'p'), QString(50, u'p'));
        row("prefix flags count once", "prefix:" + flags, flags.left(200));
    }
    void sanitizing() {
        QFETCH(QString, input);
        QFETCH(QString, expected);
        if (input.startsWith(u"prefix:"))
            QCOMPARE(OPR::sanitizeFilenamePrefix(input.mid(7)), expected);
        else
            QCOMPARE(OPR::sanitizedFolderName(input), expected);
    }

    void collisionsAreNumberedAndLongNamesCut() {
        const fs::path source = touch("photos/IMG_0001.HEIC");
        const fs::path folder = path(m_dir) / "photos" / "Resized";
        for (const char* name : {"s_IMG_0001.heic", "s_IMG_0001-1.heic", "s_IMG_0001-2.heic"})
            QCOMPARE(OPR::resolve(source, OutputType::heic, QStringLiteral("Resized"),
                                  QStringLiteral("s_")),
                     folder / name);
        QCOMPARE(fs::file_size(folder / "s_IMG_0001-2.heic"), 0u); // claimed
        // Only the last extension goes.
        QCOMPARE(OPR::resolve(touch("photos/a.b.jpg"), OutputType::png, {}, {}).filename(),
                 fs::path("a.b.png"));
        // Cut to the byte budget by whole characters: 78 of three bytes, a
        // letter and its combining accent, fill 234 of the 236.
        const QString accented = QStringLiteral("e\u0301").repeated(100);
        const fs::path out = OPR::resolve(touch("long/" + accented.toStdString() + ".jpg"),
                                          OutputType::jpeg, {}, {});
        QCOMPARE(QString::fromStdString(out.filename().native()), accented.left(156) + u".jpg");
        // A character beyond the budget on its own stays whole.
        QCOMPARE(Characters::truncateToUTF8Bytes(QStringLiteral("あい"), 2), QStringLiteral("あ"));
    }

    // The output folder must be the source's folder or below it: a link back
    // to it is fine, "/" holds "/Resized", a sibling sharing the name's start
    // is elsewhere (links elsewhere are in tst_Pipeline).
    void containment() {
        const fs::path source = touch("linked/a.jpg");
        fs::create_directory_symlink(source.parent_path(), source.parent_path() / "Here");
        const fs::path out = OPR::resolve(source, OutputType::png, QStringLiteral("Here"), {});
        QVERIFY(fs::equivalent(out, source.parent_path() / "a.png"));
        QVERIFY(OPR::isContained("/", "/Resized"));
        QVERIFY(!OPR::isContained("/home/u", "/home/user/Resized"));
    }

    void tooManyCollisions() {
        const fs::path source = touch("full/p.jpg");
        touch("full/Resized/p.jpg");
        for (int n = 1; n <= 9998; ++n)
            touch("full/Resized/p-" + std::to_string(n) + ".jpg");
        QString message;
        try {
            OPR::resolve(source, OutputType::jpeg, {}, {});
        } catch (const LocalizedError& error) {
            message = error.errorDescription();
        }
        QCOMPARE(message, QStringLiteral("同名ファイルが多すぎます"));
        fs::remove(path(m_dir) / "full" / "Resized" / "p-9998.jpg");
        QCOMPARE(OPR::resolve(source, OutputType::jpeg, {}, {}).filename(), fs::path("p-9998.jpg"));
    }
};

QTEST_GUILESS_MAIN(OutputPathsTest)
#include "tst_OutputPaths.moc"
