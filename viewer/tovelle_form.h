// TTovelleForm: Tovelle's main window. It owns one ReliefView bound to its client
// area and turns menu commands, keys and the ticks of a 100 ms timer into calls of
// the engine: open a photo as a relief, move the eye, switch the wire frame, let
// the relief turn, play the pop-up picture book, make a depth-image template.
#pragma once

#include <QImage>
#include <QMainWindow>

#include <exception>
#include <functional>
#include <string>

#include "qrv_imports.h"

class QAction;
class QFileDialog;
class QMenu;
class QMenuBar;
class QPlainTextEdit;
class QTimer;

namespace tovelle {

class ReliefPane;

// The program's title, shown on its message boxes.
inline constexpr char kApplicationTitle[] = "Tovelle V1.0";
inline constexpr char kVersion[] = "1.0.0.0";

// A hidden picture holder: keeps the photo while a template is made from it.
class PictureHolder : public QWidget {
    Q_OBJECT

public:
    using QWidget::QWidget;
    QImage Picture;
};

class TTovelleForm : public QMainWindow {
    Q_OBJECT

public:
    // imports: the engine functions to call; by default the library's own.
    explicit TTovelleForm(const QrvImports &imports = QrvImports::ByOrdinal(),
                          QWidget *parent = nullptr);
    ~TTovelleForm() override;

    // ---- Where the program meets the user's desktop ----------------------------
    // Each has a default that does the real thing; tests put recorders in place.
    struct Seams {
        // Runs the open dialog; the chosen file's full path, or empty on cancel.
        std::function<QString(QFileDialog &dialog)> runOpenDialog;
        // A modal message box with a caption (the manual and the version box).
        std::function<void(const QString &caption, const QString &text)> showMessage;
        // The standard exception box: an error that escaped a handler.
        std::function<void(const QString &text)> showException;
        // Opens a file in the user's image editor without waiting for it.
        std::function<void(const QString &path)> openInEditor;
        // The folder of the program's executable (where readme.txt lives).
        QString programFolder;
    };
    Seams seams;

    // ---- Tags ------------------------------------------------------------------
    // The form's Tag: 1 once a relief is ready to draw.
    int Tag = 0;
    // The Tag of a menu item (kept as the action's data).
    static int TagOf(const QObject *item);
    static void SetTag(QAction *item, int tag);

    // ---- Components --------------------------------------------------------------
    PictureHolder *Image1;
    QPlainTextEdit *Memo1;
    QMenuBar *MainMenu1;
    QFileDialog *OpenPictureDialog1;
    QTimer *Timer1;
    QMenu *File1;
    QAction *Open1, *P1, *N3DS1, *Exit1;
    QMenu *Edit1;
    QAction *Close1, *Z1, *U1, *D1, *L1, *R1, *N1, *T1, *K1;
    QMenu *H1;
    QAction *M1, *V1;
    ReliefPane *ClientArea;

    // ---- Handlers ----------------------------------------------------------------
    void FormCreate(QObject *Sender);
    void FormDestroy(QObject *Sender);
    void FormPaint(QObject *Sender);
    // Key is a virtual-key code; the shift state is not used.
    void FormKeyDown(QObject *Sender, uint16_t &Key, Qt::KeyboardModifiers Shift);
    void Edit1Click(QObject *Sender);
    void Open1Click(QObject *Sender);
    void P1Click(QObject *Sender);
    void Timer1Timer(QObject *Sender);
    void N3DS1Click(QObject *Sender);
    void M1Click(QObject *Sender);
    void V1Click(QObject *Sender);
    void Exit1Click(QObject *Sender);

    // Steps 2 to 6 of Open...: what the form does with the photo the user chose
    // (also used for a photo named on the command line).
    void PhotoChosen(QObject *Sender, const QString &fileName);

    // Runs a handler as the event loop would: an exception that escapes it is shown
    // in the standard exception box, and the program carries on.
    template <typename Handler>
    void RunHandler(Handler &&handler) {
        try {
            handler();
        } catch (const std::exception &error) {
            ShowException(QString::fromUtf8(error.what()));
        } catch (...) {
            ShowException(QString());
        }
    }
    void ShowException(const QString &text);

    // ---- State -------------------------------------------------------------------
    std::string photoPath; // UTF-8 path of the photo last chosen; empty at start
    std::string depthPath; // its depth image's path; empty at start
    ViewHandle viewHandle = 0;

protected:
    void keyPressEvent(QKeyEvent *event) override;
    void showEvent(QShowEvent *event) override;

private:
    void LoadDepthImage();
    void SetTimerEnabled(bool enabled);
    void BuildMenus();

    QrvImports qrv;
};

} // namespace tovelle
