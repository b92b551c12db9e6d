#include "smoke_grab.h"

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFontDatabase>
#include <QFontInfo>
#include <QFontMetrics>
#include <QMenu>
#include <QMenuBar>
#include <QPainter>
#include <QScreen>
#include <QTextStream>
#include <QTimer>
#include <QWindow>

#include <memory>

#include "relief_pane.h"
#include "tovelle_form.h"

namespace tovelle {

namespace {

void WriteReport(TTovelleForm &form, const QString &folder) {
    QDir().mkpath(folder);
    QScreen *screen = form.screen();
    // What the X server shows of the window, not what Qt believes it drew.
    const QPixmap shot = screen ? screen->grabWindow(form.winId()) : QPixmap();
    shot.save(QDir(folder).filePath(QStringLiteral("window.png")));

    QFile file(QDir(folder).filePath(QStringLiteral("report.txt")));
    if (!file.open(QIODevice::WriteOnly | QIODevice::Text)) return;
    QTextStream out(&file);
    out.setEncoding(QStringConverter::Utf8);
    const qreal ratio = shot.isNull() ? 1.0 : shot.devicePixelRatio();
    out << "platform " << QGuiApplication::platformName() << '\n';
    out << "title " << form.windowTitle() << '\n';
    out << "window " << form.width() << ' ' << form.height() << '\n';
    out << "ratio " << ratio << '\n';
    const QRect bar = form.MainMenu1->geometry();
    out << "menubar " << bar.x() << ' ' << bar.y() << ' ' << bar.width() << ' ' << bar.height() << ' '
        << (form.MainMenu1->isVisible() ? "visible" : "hidden") << '\n';
    const QFontMetrics metrics(form.MainMenu1->font());
    out << "font " << QFontInfo(form.MainMenu1->font()).family() << '\n';
    for (QAction *action : form.MainMenu1->actions()) {
        const QRect r = form.MainMenu1->actionGeometry(action).translated(bar.topLeft());
        QString missing;
        for (const QChar c : action->text()) {
            if (c != '&' && !metrics.inFont(c)) missing += c;
        }
        out << "menu " << r.x() << ' ' << r.y() << ' ' << r.width() << ' ' << r.height() << ' '
            << (missing.isEmpty() ? QStringLiteral("glyphs") : QStringLiteral("missing:") + missing) << ' '
            << action->text() << '\n';
    }
    // A code point no font has: its box must count as missing, and every caption
    // must draw differently from a row of such boxes.
    const QChar absent(0x0378);
    out << "control " << (metrics.inFont(absent) ? "found" : "missing") << '\n';
    for (QAction *action : form.MainMenu1->actions()) {
        QString glyphs; // the caption's Japanese characters
        for (const QChar c : action->text()) {
            if (c.unicode() > 0x7F) glyphs += c;
        }
        const QString boxes(glyphs.size(), absent);
        auto draw = [&](const QString &text) {
            QImage image(metrics.horizontalAdvance(glyphs) * 2 + 8, metrics.height() + 8, QImage::Format_RGB32);
            image.fill(Qt::white);
            QPainter painter(&image);
            painter.setFont(form.MainMenu1->font());
            painter.setPen(Qt::black);
            painter.drawText(4, 4 + metrics.ascent(), text);
            return image;
        };
        out << "distinct " << (draw(glyphs) != draw(boxes) ? "yes" : "no") << ' ' << glyphs << '\n';
    }
    out << "japanese-fonts " << QFontDatabase::families(QFontDatabase::Japanese).join(';') << '\n';
    const QString manual = QDir(form.seams.programFolder).filePath(QStringLiteral("readme.txt"));
    out << "manual " << (QFile::exists(manual) ? "found " : "missing ") << manual << '\n';
    out << "frames " << form.ClientArea->framesPresented() << '\n';
    out << "done\n";
}

} // namespace

void ArmSmokeGrab(TTovelleForm &form) {
    const QString folder = qEnvironmentVariable("TOVELLE_SMOKE_GRAB");
    if (folder.isEmpty()) return;
    // Without a window manager nothing activates the window for us.
    form.activateWindow();
    auto *poll = new QTimer(&form);
    auto clock = std::make_shared<QElapsedTimer>();
    clock->start();
    auto settled = std::make_shared<int>(0);
    QObject::connect(poll, &QTimer::timeout, &form, [&form, folder, poll, clock, settled] {
        QWindow *window = form.windowHandle();
        const bool ready = window && window->isExposed();
        // A few quiet rounds after exposure let the first paints reach the server.
        if (ready) ++*settled;
        if ((ready && *settled >= 5) || clock->elapsed() > 20000) {
            poll->stop();
            WriteReport(form, folder);
            QCoreApplication::exit(ready ? 0 : 3);
        }
    });
    poll->start(100);
}

} // namespace tovelle
