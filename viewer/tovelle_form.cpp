#include "tovelle_form.h"

#include <QAction>
#include <QApplication>
#include <QDialog>
#include <QDialogButtonBox>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QKeyEvent>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QScreen>
#include <QTimer>
#include <QVBoxLayout>

#include <stdexcept>

#include "depth_file.h"
#include "image_editor.h"
#include "relief_pane.h"
#include "virtual_keys.h"

namespace tovelle {

namespace {

constexpr int kClientWidth = 426;
constexpr int kClientHeight = 426;
constexpr int kTimerInterval = 100; // ms

QString Title() { return QString::fromUtf8(kApplicationTitle); }

// A message box with an OK button. A text too long for a screen (the manual) is
// shown in a scrolling view instead of a box taller than the screen.
void ShowMessageBox(QWidget *parent, const QString &caption, const QString &text) {
    if (text.count('\n') < 24) {
        QMessageBox box(QMessageBox::NoIcon, caption, text, QMessageBox::Ok, parent);
        box.exec();
        return;
    }
    QDialog dialog(parent);
    dialog.setWindowTitle(caption);
    auto *layout = new QVBoxLayout(&dialog);
    auto *view = new QPlainTextEdit(text, &dialog);
    view->setReadOnly(true);
    view->setLineWrapMode(QPlainTextEdit::WidgetWidth);
    layout->addWidget(view);
    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Ok, &dialog);
    QObject::connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
    layout->addWidget(buttons);
    const QFontMetrics metrics(view->font());
    QSize size(metrics.horizontalAdvance(QLatin1Char('M')) * 70, metrics.lineSpacing() * 30);
    if (const QScreen *screen = parent ? parent->screen() : QGuiApplication::primaryScreen()) {
        size = size.boundedTo(screen->availableSize() * 9 / 10);
    }
    dialog.resize(size);
    dialog.exec();
}

} // namespace

TTovelleForm::TTovelleForm(const QrvImports &imports, QWidget *parent)
    : QMainWindow(parent), qrv(imports) {
    seams.runOpenDialog = [](QFileDialog &dialog) {
        if (dialog.exec() != QDialog::Accepted) return QString();
        return dialog.selectedFiles().value(0);
    };
    seams.showMessage = [this](const QString &caption, const QString &text) {
        ShowMessageBox(this, caption, text);
    };
    seams.showException = [this](const QString &text) {
        QMessageBox::critical(this, Title(), text);
    };
    seams.openInEditor = &OpenInImageEditor;
    seams.programFolder = QCoreApplication::applicationDirPath();

    // Form settings.
    setObjectName(QStringLiteral("TovelleForm"));
    setWindowTitle(QStringLiteral("Tovelle"));
    move(0, 0);
    setFocusPolicy(Qt::StrongFocus);
    QFont formFont(QStringLiteral("Tahoma"));
    formFont.setPixelSize(11);
    setFont(formFont);

    ClientArea = new ReliefPane(this);
    ClientArea->setObjectName(QStringLiteral("ClientArea"));
    setCentralWidget(ClientArea);

    // Hidden components.
    Image1 = new PictureHolder(this);
    Image1->setObjectName(QStringLiteral("Image1"));
    Image1->setGeometry(144, 152, 105, 105);
    Image1->setVisible(false);
    Memo1 = new QPlainTextEdit(QStringLiteral("Memo1"), this);
    Memo1->setObjectName(QStringLiteral("Memo1"));
    Memo1->setGeometry(312, 48, 185, 89);
    Memo1->setVisible(false);

    OpenPictureDialog1 = new QFileDialog(this);
    OpenPictureDialog1->setObjectName(QStringLiteral("OpenPictureDialog1"));
    OpenPictureDialog1->setWindowTitle(QStringLiteral("ビットマップファイルの選択"));
    OpenPictureDialog1->setAcceptMode(QFileDialog::AcceptOpen);
    OpenPictureDialog1->setFileMode(QFileDialog::ExistingFile);
    // One entry, shown as "ビットマップ"; file names are case-sensitive here, so the
    // upper-case extensions are listed too.
    OpenPictureDialog1->setOption(QFileDialog::HideNameFilterDetails);
    OpenPictureDialog1->setNameFilter(QStringLiteral("ビットマップ (*.bmp *.jpg *.BMP *.JPG)"));
    OpenPictureDialog1->setDefaultSuffix(QStringLiteral("bmp"));

    Timer1 = new QTimer(this);
    Timer1->setObjectName(QStringLiteral("Timer1"));
    Timer1->setInterval(kTimerInterval);
    connect(Timer1, &QTimer::timeout, this, [this] { RunHandler([&] { Timer1Timer(Timer1); }); });

    BuildMenus();
    // The menus keep the desktop's font, as a window's menu bar does.
    MainMenu1->setFont(QApplication::font(MainMenu1));

    // The client area is 426 x 426 below the menu bar before the view is made,
    // since the view's frames keep the size it had then.
    resize(kClientWidth, kClientHeight + MainMenu1->sizeHint().height());
    if (layout()) layout()->activate();
    ClientArea->resize(kClientWidth, kClientHeight);
    connect(ClientArea, &ReliefPane::resized, this, [this] { RunHandler([&] { FormPaint(this); }); });

    RunHandler([&] { FormCreate(this); });
}

TTovelleForm::~TTovelleForm() {
    Timer1->stop();
    RunHandler([&] { FormDestroy(this); });
}

void TTovelleForm::BuildMenus() {
    MainMenu1 = menuBar();
    MainMenu1->setObjectName(QStringLiteral("MainMenu1"));
    // Never the desktop's global menu: the menu belongs to this window.
    MainMenu1->setNativeMenuBar(false);

    auto item = [this](QMenu *menu, const char *name, const QString &caption, int tag,
                       void (TTovelleForm::*handler)(QObject *)) {
        QAction *action = menu->addAction(caption);
        action->setObjectName(QLatin1String(name));
        SetTag(action, tag);
        if (handler) {
            connect(action, &QAction::triggered, this,
                    [this, action, handler] { RunHandler([&] { (this->*handler)(action); }); });
        }
        return action;
    };
    auto menu = [this](const char *name, const QString &caption) {
        QMenu *m = MainMenu1->addMenu(caption);
        m->setObjectName(QLatin1String(name));
        m->menuAction()->setObjectName(QLatin1String(name));
        SetTag(m->menuAction(), 0);
        return m;
    };

    File1 = menu("File1", QStringLiteral("ファイル(&F)"));
    Open1 = item(File1, "Open1", QStringLiteral("開く(&O)..."), 0, &TTovelleForm::Open1Click);
    P1 = item(File1, "P1", QStringLiteral("飛び出す絵本(&P)..."), 1, &TTovelleForm::P1Click);
    N3DS1 = item(File1, "N3DS1", QStringLiteral("3D用画像の作成(&S)"), 0, &TTovelleForm::N3DS1Click);
    N3DS1->setEnabled(false);
    Exit1 = item(File1, "Exit1", QStringLiteral("おしまい(&E)"), 0, &TTovelleForm::Exit1Click);

    Edit1 = menu("Edit1", QStringLiteral("編集(&E)"));
    Edit1->menuAction()->setEnabled(false);
    Close1 = item(Edit1, "Close1", QStringLiteral("近づく(&A)"), 'A', &TTovelleForm::Edit1Click);
    Z1 = item(Edit1, "Z1", QStringLiteral("離れる(&Z)"), 'Z', &TTovelleForm::Edit1Click);
    U1 = item(Edit1, "U1", QStringLiteral("↑(&U)"), VK_UP, &TTovelleForm::Edit1Click);
    D1 = item(Edit1, "D1", QStringLiteral("↓(&D)"), VK_DOWN, &TTovelleForm::Edit1Click);
    L1 = item(Edit1, "L1", QStringLiteral("←(&L)"), VK_LEFT, &TTovelleForm::Edit1Click);
    R1 = item(Edit1, "R1", QStringLiteral("→(&R)"), VK_RIGHT, &TTovelleForm::Edit1Click);
    N1 = Edit1->addSeparator();
    N1->setObjectName(QStringLiteral("N1"));
    SetTag(N1, 0);
    T1 = item(Edit1, "T1", QStringLiteral("フレーム(&T)"), 'T', &TTovelleForm::Edit1Click);
    K1 = item(Edit1, "K1", QStringLiteral("回転(&K)"), 'R', &TTovelleForm::Edit1Click);

    H1 = menu("H1", QStringLiteral("ヘルプ(&H)"));
    M1 = item(H1, "M1", QStringLiteral("説明書(&M)"), 0, &TTovelleForm::M1Click);
    V1 = item(H1, "V1", QStringLiteral("バージョン情報(&V)..."), 0, &TTovelleForm::V1Click);
}

int TTovelleForm::TagOf(const QObject *item) {
    const auto *action = qobject_cast<const QAction *>(item);
    return action ? action->data().toInt() : 0;
}

void TTovelleForm::SetTag(QAction *item, int tag) { item->setData(tag); }

void TTovelleForm::ShowException(const QString &text) {
    if (seams.showException) seams.showException(text);
}

void TTovelleForm::SetTimerEnabled(bool enabled) {
    // Enabling a running timer leaves its rhythm alone.
    if (enabled && !Timer1->isActive()) Timer1->start();
    if (!enabled) Timer1->stop();
}

// ---- Handlers ------------------------------------------------------------------

void TTovelleForm::FormCreate(QObject *) {
    viewHandle = qrv._QRV3DInit(ClientArea->qrvWindow(), nullptr, nullptr);
}

void TTovelleForm::FormDestroy(QObject *) {
    if (viewHandle != 0) qrv._QRV3DTerm(viewHandle);
    viewHandle = 0;
}

void TTovelleForm::FormPaint(QObject *) {
    if (viewHandle != 0 && Tag == 1) (void)qrv._QRV3DRender(viewHandle);
}

void TTovelleForm::FormKeyDown(QObject *Sender, uint16_t &Key, Qt::KeyboardModifiers) {
    switch (Key) {
    case VK_LEFT: qrv._QRV3DMoveEye(viewHandle, 0.1f, 0.0f, 0.0f); break;
    case VK_UP: qrv._QRV3DMoveEye(viewHandle, 0.0f, -0.1f, 0.0f); break;
    case VK_RIGHT: qrv._QRV3DMoveEye(viewHandle, -0.1f, 0.0f, 0.0f); break;
    case VK_DOWN: qrv._QRV3DMoveEye(viewHandle, 0.0f, 0.1f, 0.0f); break;
    case 'A': qrv._QRV3DMoveEye(viewHandle, 0.0f, 0.0f, 0.1f); break;
    case 'Z': qrv._QRV3DMoveEye(viewHandle, 0.0f, 0.0f, -0.1f); break;
    case 'F': qrv._QRV3DShadeMode(viewHandle, 1); break;
    case 'G': qrv._QRV3DShadeMode(viewHandle, 2); break;
    case 'R':
        if (Timer1->isActive()) {
            qrv._QRV3DEffect(viewHandle, 1, 0);
            SetTimerEnabled(false);
        } else {
            qrv._QRV3DEffect(viewHandle, 1, 1);
            SetTimerEnabled(true);
        }
        break;
    case 'T': qrv._QRV3DFillMode(viewHandle); break;
    default: break;
    }
    FormPaint(Sender);
}

void TTovelleForm::Edit1Click(QObject *Sender) {
    uint16_t key = static_cast<uint16_t>(TagOf(Sender));
    if (key != 0) FormKeyDown(Sender, key, Qt::NoModifier);
}

void TTovelleForm::Open1Click(QObject *Sender) {
    const QString chosen = seams.runOpenDialog(*OpenPictureDialog1);
    if (chosen.isEmpty()) return;
    PhotoChosen(Sender, chosen);
}

void TTovelleForm::PhotoChosen(QObject *Sender, const QString &fileName) {
    photoPath = QFile::encodeName(QFileInfo(fileName).absoluteFilePath()).toStdString();
    depthPath = DepthPathFor(photoPath);
    if (viewHandle == 0) return;
    qrv._QRV3DMoveEye(viewHandle, 0.0f, 0.0f, -0.8f);
    if (TagOf(Sender) != 0) {
        // The pop-up command: the first tick loads the relief.
        SetTimerEnabled(true);
    } else {
        LoadDepthImage();
        FormPaint(Sender);
    }
    N3DS1->setEnabled(true);
    Edit1->menuAction()->setEnabled(true);
}

void TTovelleForm::P1Click(QObject *Sender) {
    if (auto *action = qobject_cast<QAction *>(Sender)) SetTag(action, 100);
    Open1Click(Sender);
}

void TTovelleForm::Timer1Timer(QObject *Sender) {
    int n = TagOf(P1);
    if (n != 0) {
        // 100, 98, 94, 86, 70, 38, 0: the relief rises to 2, 6, 14, 30, 62, 100 %.
        n = 2 * n - 102;
        if (n <= 0) n = 0;
        SetTag(P1, n);
        qrv._QRV3DEffect(viewHandle, 2, n);
        LoadDepthImage();
        if (n == 0) SetTimerEnabled(false);
    }
    FormPaint(Sender);
}

void TTovelleForm::LoadDepthImage() {
    HGLOBAL block = ReadPackedDib(depthPath);
    // Without a view there is nothing to hand the image to.
    if (viewHandle != 0) (void)qrv._QRV3DGet3DImage(viewHandle, block, nullptr, photoPath.c_str());
    Tag = 1;
    if (block) GlobalFree(block);
}

void TTovelleForm::N3DS1Click(QObject *) {
    Image1->Picture = LoadPhoto(photoPath);
    Image1->Picture = ConvertTo8Bit(Image1->Picture);
    WriteDepthTemplate(Image1->Picture, depthPath);
    seams.openInEditor(QFile::decodeName(QByteArray::fromStdString(depthPath)));
}

void TTovelleForm::M1Click(QObject *) {
    QString folder = seams.programFolder;
    if (!folder.endsWith('/')) folder += '/';
    const QString fileName = folder + QStringLiteral("readme.txt");
    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly)) {
        throw std::runtime_error("Cannot open file \"" + fileName.toStdString() + "\". " +
                                 file.errorString().toStdString());
    }
    Memo1->setPlainText(QString::fromUtf8(file.readAll()));
    seams.showMessage(Title(), Memo1->toPlainText());
}

void TTovelleForm::V1Click(QObject *) {
    seams.showMessage(QStringLiteral("バージョン情報"),
                      QStringLiteral("Tovelle\n"
                                     "バージョン %1 (version %1)\n"
                                     "\n"
                                     "写真を飛び出す立体にして眺めるビューア\n"
                                     "A viewer that turns photos into reliefs\n"
                                     "\n"
                                     "Copyright (C) Tovelle developers. All rights reserved.")
                          .arg(QString::fromUtf8(kVersion)));
}

void TTovelleForm::Exit1Click(QObject *) { close(); }

// ---- Events ---------------------------------------------------------------------

void TTovelleForm::keyPressEvent(QKeyEvent *event) {
    uint16_t key = VirtualKeyFromQt(event->key());
    RunHandler([&] { FormKeyDown(this, key, event->modifiers()); });
}

void TTovelleForm::showEvent(QShowEvent *event) {
    QMainWindow::showEvent(event);
    RunHandler([&] { FormPaint(this); });
}

} // namespace tovelle
