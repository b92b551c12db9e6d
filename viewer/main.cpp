// Tovelle: a photo-to-3D relief viewer.
//
//   tovelle [photo]
//
// With a photo (a BMP or JPEG file), it is opened at start as Open... would.
#include <QApplication>
#include <QFileInfo>
#include <QMessageBox>
#include <QTimer>

#include <cstdio>
#include <exception>
#include <memory>
#include <stdexcept>

#include "smoke_grab.h"
#include "tovelle_form.h"
#include "tovelle_icon.h"

namespace {

// An exception that escapes an event handler is shown in the standard exception
// box and the program carries on.
class TovelleApplication : public QApplication {
public:
    using QApplication::QApplication;

    bool notify(QObject *receiver, QEvent *event) override {
        try {
            return QApplication::notify(receiver, event);
        } catch (const std::exception &error) {
            Report(QString::fromUtf8(error.what()));
        } catch (...) {
            Report(QString());
        }
        return false;
    }

private:
    static void Report(const QString &text) {
        QMessageBox::critical(activeWindow(), QString::fromUtf8(tovelle::kApplicationTitle), text);
    }
};

} // namespace

int main(int argc, char *argv[]) {
    TovelleApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Tovelle"));
    QApplication::setApplicationVersion(QString::fromUtf8(tovelle::kVersion));
    QApplication::setDesktopFileName(QStringLiteral("tovelle"));
    QApplication::setWindowIcon(tovelle::TovelleIcon());

    const QStringList arguments = QApplication::arguments();
    if (arguments.size() > 2) {
        std::fprintf(stderr, "usage: tovelle [photo]\n");
        return 2;
    }

    std::unique_ptr<tovelle::TTovelleForm> form;
    try {
        form = std::make_unique<tovelle::TTovelleForm>();
    } catch (const std::exception &error) {
        // Only a library without Tovelle's exports gets here.
        QMessageBox::critical(nullptr, QString::fromUtf8(tovelle::kApplicationTitle),
                              QString::fromUtf8(error.what()));
        return 1;
    }
    form->show();
    if (arguments.size() == 2) {
        const QString photo = arguments.at(1);
        QTimer::singleShot(0, form.get(), [&form, photo] {
            form->RunHandler([&] {
                // The open dialog only offers files that exist; a name typed on the
                // command line is checked here instead.
                if (!QFileInfo(photo).isFile()) {
                    throw std::runtime_error("Cannot open file \"" + photo.toStdString() + "\".");
                }
                form->PhotoChosen(form->Open1, photo);
            });
        });
    }
    tovelle::ArmSmokeGrab(*form);
    return app.exec();
}
