// Starts the real program under Xvfb on the xcb platform with a photo named on its
// command line: its window and menu bar must come up, with the Japanese captions
// drawn in a font that has their glyphs, and the relief in the client area.
#include <QDir>
#include <QFile>
#include <QImage>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <map>

namespace {

struct Report {
    std::map<QString, QStringList> lines; // first word -> the rest, of the last such line
    std::vector<QStringList> menus;       // x y w h glyphs caption
    std::vector<QStringList> distinct;    // yes|no glyphs
};

Report ReadReport(const QString &path) {
    Report report;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text)) return report;
    for (const QString &line : QString::fromUtf8(file.readAll()).split('\n', Qt::SkipEmptyParts)) {
        QStringList words = line.split(' ');
        const QString key = words.takeFirst();
        if (key == "menu") report.menus.push_back(words);
        else if (key == "distinct") report.distinct.push_back(words);
        else report.lines[key] = words;
    }
    return report;
}

TEST(ViewerSmoke, WindowAndJapaneseMenuBarAppearUnderXvfb) {
    const QString xvfbRun = QStandardPaths::findExecutable("xvfb-run");
    if (xvfbRun.isEmpty()) GTEST_SKIP() << "xvfb-run is not installed";
    QTemporaryDir out;
    ASSERT_TRUE(out.isValid());

    QProcess program;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("QT_QPA_PLATFORM", "xcb");
    env.insert("TOVELLE_SMOKE_GRAB", out.path());
    env.insert("XDG_RUNTIME_DIR", out.path());
    // In a sanitizer build, leaks of the system's D-Bus library are not ours.
    QString lsan = env.value("LSAN_OPTIONS");
    env.insert("LSAN_OPTIONS", (lsan.isEmpty() ? QString() : lsan + ":") +
                                   "suppressions=" TOVELLE_LSAN_SUPPRESSIONS);
    env.remove("DISPLAY");
    env.remove("WAYLAND_DISPLAY");
    program.setProcessEnvironment(env);
    program.setProcessChannelMode(QProcess::MergedChannels);
    // A photo of plain red: the relief shows as red on the engine's blue.
    QImage photo(64, 48, QImage::Format_RGB32);
    photo.fill(qRgb(220, 30, 30));
    const QString photoPath = QDir(out.path()).filePath("red.jpg");
    ASSERT_TRUE(photo.save(photoPath, "JPEG", 95));
    program.start(xvfbRun, {"-a", "-s", "-screen 0 800x600x24", TOVELLE_PROGRAM, photoPath});
    ASSERT_TRUE(program.waitForFinished(60000)) << "tovelle did not finish";
    const QString output = QString::fromLocal8Bit(program.readAll());
    ASSERT_EQ(program.exitCode(), 0) << output.toStdString();

    const Report report = ReadReport(QDir(out.path()).filePath("report.txt"));
    ASSERT_TRUE(report.lines.count("done")) << output.toStdString();
    EXPECT_EQ(report.lines.at("platform"), QStringList{"xcb"});
    EXPECT_EQ(report.lines.at("title"), QStringList{"Tovelle"});
    const QStringList bar = report.lines.at("menubar");
    ASSERT_EQ(bar.size(), 5);
    EXPECT_EQ(bar[4], "visible");
    EXPECT_GT(bar[3].toInt(), 8);

    // The three menus with their captions, each drawn with real glyphs.
    ASSERT_EQ(report.menus.size(), 3u);
    const QStringList captions = {"ファイル(&F)", "編集(&E)", "ヘルプ(&H)"};
    EXPECT_EQ(report.lines.at("control"), QStringList{"missing"}); // the glyph test can fail
    for (size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(report.menus[i].value(5), captions[int(i)]);
        EXPECT_EQ(report.menus[i].value(4), "glyphs");
        EXPECT_EQ(report.distinct.at(i).value(0), "yes") << captions[int(i)].toStdString();
    }
    EXPECT_FALSE(report.lines.at("japanese-fonts").join(' ').isEmpty());
    EXPECT_EQ(report.lines.at("manual").value(0), "found"); // readme.txt beside the program

    // What the X server shows: the window at its size, with ink in every caption's
    // box of the menu bar and a plain client area below it.
    const QImage shot = QImage(QDir(out.path()).filePath("window.png")).convertToFormat(QImage::Format_RGB32);
    ASSERT_FALSE(shot.isNull());
    const QStringList window = report.lines.at("window");
    EXPECT_EQ(shot.width(), window[0].toInt());
    EXPECT_EQ(shot.height(), window[1].toInt());
    const QRgb background = shot.pixel(shot.width() - 1, 1); // the menu bar's own colour
    for (const QStringList &menu : report.menus) {
        const QRect box(menu[0].toInt(), menu[1].toInt(), menu[2].toInt(), menu[3].toInt());
        int ink = 0;
        for (int y = box.top(); y <= box.bottom(); ++y) {
            for (int x = box.left(); x <= box.right(); ++x) ink += qGray(shot.pixel(x, y)) < qGray(background) - 30;
        }
        EXPECT_GT(ink, box.width() * box.height() / 30) << menu.value(5).toStdString();
    }

    // The photo was opened at start and its frame reached the screen: blue around,
    // red in the middle of the client area.
    EXPECT_GE(report.lines.at("frames").value(0).toInt(), 1);
    const int clientTop = bar[1].toInt() + bar[3].toInt();
    const QRgb corner = shot.pixel(2, clientTop + 2);
    const QRgb middle = shot.pixel(shot.width() / 2, (clientTop + shot.height()) / 2);
    EXPECT_TRUE(qBlue(corner) > 200 && qRed(corner) < 50) << std::hex << corner;
    EXPECT_TRUE(qRed(middle) > 150 && qBlue(middle) < 100) << std::hex << middle;
}

} // namespace
