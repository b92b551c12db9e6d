// The main window: its menus, keys, timer and the road of a photo to the screen.
#include <QAction>
#include <QApplication>
#include <QKeyEvent>
#include <QFileDialog>
#include <QMenu>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QTest>
#include <QTimer>

#include <cmath>

#include "depth_file.h"
#include "fixtures.h"
#include "form_test.h"
#include "relief_pane.h"

namespace tovelle::testing {
namespace {

constexpr QRgb kBlue = qRgb(0, 0, 255); // the engine's clear colour

// Effect(2, n) values of the recorded calls.
std::vector<int> PopUpSteps() {
    std::vector<int> steps;
    for (const EngineCall &call : CallsNamed("Effect")) {
        if (call.args[0] == 2) steps.push_back(static_cast<int>(call.args[1]));
    }
    return steps;
}

std::vector<std::string> CallNames() {
    std::vector<std::string> names;
    for (const EngineCall &call : RecordedCalls()) names.push_back(call.name);
    return names;
}

// Pixels of a frame that are not the engine's background.
int ReliefPixels(const QImage &frame) {
    int count = 0;
    for (int y = 0; y < frame.height(); ++y) {
        for (int x = 0; x < frame.width(); ++x) count += (frame.pixel(x, y) & 0xFFFFFF) != (kBlue & 0xFFFFFF);
    }
    return count;
}

class ViewerForm : public FormTest {
protected:
    // A 64 x 48 JPEG photo in the test folder, without a depth image.
    QString Photo(const QString &name = QStringLiteral("photo.jpg")) {
        const QString path = dir.filePath(name);
        EXPECT_TRUE(MakePhoto(64, 48).save(path, "JPEG", 95));
        return path;
    }
    // Writes a depth image for photo by the companion rule.
    void Depth(const QString &photo, int (*depthAt)(int, int), int width = 64, int height = 48) {
        const std::string depth = DepthPathFor(photo.toStdString());
        ASSERT_TRUE(WriteFile(QString::fromStdString(depth), EncodeBmp8(MakeDepth(width, height, depthAt))));
    }
};

TEST_F(ViewerForm, StartsWithTheMenuTreeTagsAndEnabledStates) {
    EXPECT_EQ(form->windowTitle(), "Tovelle");
    EXPECT_EQ(form->ClientArea->size(), QSize(426, 426));
    EXPECT_NE(form->viewHandle, 0);
    EXPECT_EQ(form->Tag, 0);
    EXPECT_FALSE(form->Timer1->isActive());
    EXPECT_EQ(form->Timer1->interval(), 100);
    EXPECT_FALSE(form->Image1->isVisible());
    EXPECT_FALSE(form->Memo1->isVisible());
    EXPECT_EQ(form->Memo1->toPlainText(), "Memo1");
    EXPECT_TRUE(form->photoPath.empty());
    EXPECT_TRUE(form->depthPath.empty());

    const struct {
        QAction *item;
        QMenu *parent; // null: on the menu bar
        const char *caption;
        int tag;
        bool enabled;
    } rows[] = {
        {form->File1->menuAction(), nullptr, "ファイル(&F)", 0, true},
        {form->Open1, form->File1, "開く(&O)...", 0, true},
        {form->P1, form->File1, "飛び出す絵本(&P)...", 1, true},
        {form->N3DS1, form->File1, "3D用画像の作成(&S)", 0, false},
        {form->Exit1, form->File1, "おしまい(&E)", 0, true},
        {form->Edit1->menuAction(), nullptr, "編集(&E)", 0, false},
        {form->Close1, form->Edit1, "近づく(&A)", 65, true},
        {form->Z1, form->Edit1, "離れる(&Z)", 90, true},
        {form->U1, form->Edit1, "↑(&U)", 38, true},
        {form->D1, form->Edit1, "↓(&D)", 40, true},
        {form->L1, form->Edit1, "←(&L)", 37, true},
        {form->R1, form->Edit1, "→(&R)", 39, true},
        {form->N1, form->Edit1, "", 0, true},
        {form->T1, form->Edit1, "フレーム(&T)", 84, true},
        {form->K1, form->Edit1, "回転(&K)", 82, true},
        {form->H1->menuAction(), nullptr, "ヘルプ(&H)", 0, true},
        {form->M1, form->H1, "説明書(&M)", 0, true},
        {form->V1, form->H1, "バージョン情報(&V)...", 0, true},
    };
    // The whole tree, in order: nothing more, nothing less.
    QList<QAction *> expected;
    for (const auto &row : rows) {
        SCOPED_TRACE(row.caption);
        EXPECT_EQ(row.item->text(), QString::fromUtf8(row.caption));
        EXPECT_EQ(TTovelleForm::TagOf(row.item), row.tag);
        EXPECT_EQ(row.item->isEnabled(), row.enabled);
        if (!row.parent) expected << row.item;
    }
    EXPECT_EQ(form->MainMenu1->actions(), expected);
    for (QMenu *menu : {form->File1, form->Edit1, form->H1}) {
        QList<QAction *> items;
        for (const auto &row : rows) {
            if (row.parent == menu) items << row.item;
        }
        EXPECT_EQ(menu->actions(), items) << menu->objectName().toStdString();
    }
    EXPECT_TRUE(form->N1->isSeparator());
}

TEST_F(ViewerForm, OpenDialogChoosesBitmapsAndJpegsInEitherCase) {
    QFileDialog &dialog = *form->OpenPictureDialog1;
    EXPECT_EQ(dialog.windowTitle(), "ビットマップファイルの選択");
    EXPECT_EQ(dialog.nameFilters(), QStringList{"ビットマップ (*.bmp *.jpg *.BMP *.JPG)"});
    EXPECT_TRUE(dialog.testOption(QFileDialog::HideNameFilterDetails)); // shown as "ビットマップ"
    EXPECT_EQ(dialog.defaultSuffix(), "bmp");
    EXPECT_EQ(dialog.acceptMode(), QFileDialog::AcceptOpen);
}

TEST_F(ViewerForm, KeysActOnTheViewAndEveryKeyRepaints) {
    Open(Photo());
    ASSERT_EQ(form->Tag, 1);
    const struct {
        Qt::Key key;
        Qt::KeyboardModifiers modifiers;
        const char *call; // "" for a key that does nothing but repaint
        std::vector<double> args;
    } keys[] = {
        {Qt::Key_Left, Qt::NoModifier, "MoveEye", {0.1, 0, 0}},
        {Qt::Key_Up, Qt::NoModifier, "MoveEye", {0, -0.1, 0}},
        {Qt::Key_Right, Qt::NoModifier, "MoveEye", {-0.1, 0, 0}},
        {Qt::Key_Down, Qt::NoModifier, "MoveEye", {0, 0.1, 0}},
        {Qt::Key_A, Qt::NoModifier, "MoveEye", {0, 0, 0.1}},
        {Qt::Key_A, Qt::ShiftModifier, "MoveEye", {0, 0, 0.1}}, // the shift state is ignored
        {Qt::Key_Z, Qt::NoModifier, "MoveEye", {0, 0, -0.1}},
        {Qt::Key_F, Qt::NoModifier, "ShadeMode", {1}},
        {Qt::Key_G, Qt::NoModifier, "ShadeMode", {2}},
        {Qt::Key_T, Qt::NoModifier, "FillMode", {}},
        {Qt::Key_T, Qt::NoModifier, "FillMode", {}},
        {Qt::Key_R, Qt::NoModifier, "Effect", {1, 1}}, // timer off: start turning
        {Qt::Key_R, Qt::NoModifier, "Effect", {1, 0}}, // timer on: stop turning
        {Qt::Key_Q, Qt::NoModifier, "", {}},
        {Qt::Key_Space, Qt::NoModifier, "", {}},
        {Qt::Key_F5, Qt::NoModifier, "", {}},
        {Qt::Key_Shift, Qt::NoModifier, "", {}},
    };
    for (const auto &k : keys) {
        SCOPED_TRACE(QKeySequence(k.key).toString().toStdString());
        RecordedCalls().clear();
        // One key press, as the window system delivers it (with the shift state
        // already down rather than pressed as a key of its own).
        QKeyEvent press(QEvent::KeyPress, k.key, k.modifiers);
        QApplication::sendEvent(form.get(), &press);
        std::vector<std::string> want;
        if (*k.call) want.push_back(k.call);
        want.push_back("Render");
        ASSERT_EQ(CallNames(), want);
        const std::vector<double> &got = RecordedCalls().front().args;
        ASSERT_EQ(got.size(), k.args.size());
        for (size_t i = 0; i < got.size(); ++i) EXPECT_FLOAT_EQ(got[i], k.args[i]);
    }
    EXPECT_FALSE(form->Timer1->isActive());
}

TEST_F(ViewerForm, EditItemsActAsTheKeysOfTheirTags) {
    Open(Photo());
    const struct {
        QAction *item;
        Qt::Key key;
    } items[] = {
        {form->Close1, Qt::Key_A}, {form->Z1, Qt::Key_Z}, {form->U1, Qt::Key_Up},   {form->D1, Qt::Key_Down},
        {form->L1, Qt::Key_Left},  {form->R1, Qt::Key_Right}, {form->T1, Qt::Key_T}, {form->K1, Qt::Key_R},
    };
    for (const auto &i : items) {
        SCOPED_TRACE(i.item->objectName().toStdString());
        RecordedCalls().clear();
        QTest::keyClick(form.get(), i.key);
        const std::vector<EngineCall> byKey = RecordedCalls();
        RecordedCalls().clear();
        i.item->trigger();
        ASSERT_EQ(RecordedCalls().size(), byKey.size());
        EXPECT_EQ(RecordedCalls()[0].name, byKey[0].name);
        EXPECT_EQ(RecordedCalls().back().name, "Render");
        if (i.key != Qt::Key_R) {
            EXPECT_EQ(RecordedCalls()[0].args, byKey[0].args);
        }
    }
    // The separator and the Edit menu's own title do nothing.
    RecordedCalls().clear();
    form->Edit1Click(form->N1);
    form->Edit1Click(form->Edit1->menuAction());
    EXPECT_TRUE(RecordedCalls().empty());
}

TEST_F(ViewerForm, KeysBeforeAnyPhotoChangeTheViewButDrawNothing) {
    RecordedCalls().clear();
    QTest::keyClick(form.get(), Qt::Key_Left);
    QTest::keyClick(form.get(), Qt::Key_T);
    EXPECT_EQ(CallNames(), (std::vector<std::string>{"MoveEye", "FillMode"}));
    EXPECT_EQ(form->ClientArea->framesPresented(), 0);
}

TEST_F(ViewerForm, OpenBuildsTheReliefFromTheDepthImageBesideThePhoto) {
    const QString photo = Photo();
    Depth(photo, [](int x, int) { return x < 32 ? 255 : 0; });
    RecordedCalls().clear();
    Open(photo);
    EXPECT_EQ(form->photoPath, photo.toStdString());
    EXPECT_EQ(form->depthPath, DepthPathFor(photo.toStdString()));
    EXPECT_EQ(CallNames(), (std::vector<std::string>{"MoveEye", "Get3DImage", "Render"}));
    const EngineCall build = CallsNamed("Get3DImage").at(0);
    EXPECT_EQ(build.depthBytes, 40u + 1024u + 64u * 48u); // bfSize - 14
    EXPECT_EQ(build.photoPath, photo.toStdString());
    EXPECT_EQ(form->Tag, 1);
    EXPECT_TRUE(form->N3DS1->isEnabled());
    EXPECT_TRUE(form->Edit1->menuAction()->isEnabled());
    EXPECT_FALSE(form->Timer1->isActive());

    // Cancelling the dialog changes nothing.
    RecordedCalls().clear();
    Open(QString());
    EXPECT_TRUE(RecordedCalls().empty());
    EXPECT_EQ(form->photoPath, photo.toStdString());
}

TEST_F(ViewerForm, FramesReachTheWindowAfterOpen) {
    const QString photo = Photo();
    Depth(photo, [](int x, int y) { return (x / 8 + y / 8) % 2 ? 200 : 40; });
    form->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(form.get()));
    EXPECT_EQ(form->ClientArea->framesPresented(), 0);
    Open(photo);
    ASSERT_GT(form->ClientArea->framesPresented(), 0);
    const QImage frame = form->ClientArea->frame();
    EXPECT_EQ(frame.size(), QSize(426, 426));
    EXPECT_EQ(frame.pixel(0, 0), kBlue);
    EXPECT_GT(ReliefPixels(frame), 426 * 426 / 20);
    // The client area shows that frame.
    QTest::qWait(50);
    const QImage shown = form->ClientArea->grab().toImage().convertToFormat(QImage::Format_RGB32);
    EXPECT_EQ(shown.size(), frame.size());
    EXPECT_EQ(shown.pixel(213, 213), frame.pixel(213, 213));
}

TEST_F(ViewerForm, BeforeTheFirstReliefTheClientAreaShowsTheBackground) {
    form->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(form.get()));
    const QImage shown = form->ClientArea->grab().toImage().convertToFormat(QImage::Format_RGB32);
    const QRgb background = form->palette().color(QPalette::Window).rgb();
    for (int y = 0; y < shown.height(); y += 25) {
        for (int x = 0; x < shown.width(); x += 25) ASSERT_EQ(shown.pixel(x, y), background) << x << "," << y;
    }
}

TEST_F(ViewerForm, AResizedWindowRedrawsAndScalesTheFrame) {
    const QString photo = Photo();
    form->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(form.get()));
    Open(photo);
    const QImage frame = form->ClientArea->frame();
    const int framesBefore = form->ClientArea->framesPresented();
    RecordedCalls().clear();
    form->resize(form->width() / 2, form->height() / 2);
    QTest::qWait(50);
    EXPECT_GT(form->ClientArea->framesPresented(), framesBefore);
    EXPECT_FALSE(CallsNamed("Render").empty());
    // The view keeps the size it was made with; the window scales it.
    EXPECT_EQ(form->ClientArea->frame().size(), frame.size());
    const QImage shown = form->ClientArea->grab().toImage().convertToFormat(QImage::Format_RGB32);
    const QImage scaled = frame.scaled(shown.size(), Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    EXPECT_EQ(shown.pixel(0, 0), kBlue);
    const QPoint centre(shown.width() / 2, shown.height() / 2);
    EXPECT_NEAR(qRed(shown.pixel(centre)), qRed(scaled.pixel(centre)), 40);
    EXPECT_NEAR(qGreen(shown.pixel(centre)), qGreen(scaled.pixel(centre)), 40);
}

TEST_F(ViewerForm, APhotoWithoutDepthImageIsShownFlat) {
    // Each case in a form of its own, so every frame is seen from the same eye.
    const QString photo = Photo();
    auto frameOfFreshForm = [&] {
        TTovelleForm other(RecordingImports());
        other.seams.runOpenDialog = [&](QFileDialog &) { return photo; };
        other.Open1->trigger();
        return other.ClientArea->frame();
    };
    auto differing = [](const QImage &a, const QImage &b) {
        int count = 0;
        for (int y = 0; y < a.height(); ++y) {
            for (int x = 0; x < a.width(); ++x) count += a.pixel(x, y) != b.pixel(x, y);
        }
        return count;
    };
    const QImage none = frameOfFreshForm();
    ASSERT_EQ(none.size(), QSize(426, 426));
    EXPECT_GT(ReliefPixels(none), 426 * 426 / 20);
    // A white depth image puts every point on the nearest plane too: the same picture.
    Depth(photo, [](int, int) { return 255; });
    const QImage white = frameOfFreshForm();
    EXPECT_LT(differing(none, white), 426 * 426 / 100);
    // Half of it pushed back makes a different one.
    Depth(photo, [](int x, int) { return x < 32 ? 255 : 0; });
    const QImage stepped = frameOfFreshForm();
    EXPECT_GT(differing(none, stepped), 426 * 426 / 20);
}

TEST_F(ViewerForm, OpeningAPhotoAgainStepsTheEyeBackEachTime) {
    const QString photo = Photo();
    std::vector<int> sizes;
    for (int i = 0; i < 3; ++i) {
        RecordedCalls().clear();
        Open(photo);
        const std::vector<EngineCall> moves = CallsNamed("MoveEye");
        ASSERT_EQ(moves.size(), 1u);
        EXPECT_FLOAT_EQ(moves[0].args[0], 0.0f);
        EXPECT_FLOAT_EQ(moves[0].args[1], 0.0f);
        EXPECT_FLOAT_EQ(moves[0].args[2], -0.8f);
        sizes.push_back(ReliefPixels(form->ClientArea->frame()));
    }
    // Farther away, the relief covers less of the window.
    EXPECT_GT(sizes[0], sizes[1]);
    EXPECT_GT(sizes[1], sizes[2]);
}

TEST_F(ViewerForm, PopUpRaisesTheReliefInSixTicks) {
    const QString photo = Photo();
    Depth(photo, [](int x, int) { return x < 32 ? 255 : 0; });
    RecordedCalls().clear();
    nextChoice = photo;
    form->P1->trigger();
    EXPECT_EQ(TTovelleForm::TagOf(form->P1), 100);
    EXPECT_TRUE(form->Timer1->isActive());
    EXPECT_EQ(CallNames(), (std::vector<std::string>{"MoveEye"})); // nothing is built yet
    EXPECT_EQ(form->Tag, 0);
    EXPECT_TRUE(form->N3DS1->isEnabled());

    const int steps[] = {98, 94, 86, 70, 38, 0};
    for (int n : steps) {
        RecordedCalls().clear();
        Tick();
        EXPECT_EQ(CallNames(), (std::vector<std::string>{"Effect", "Get3DImage", "Render"}));
        EXPECT_EQ(PopUpSteps(), std::vector<int>{n});
        EXPECT_EQ(TTovelleForm::TagOf(form->P1), n);
        EXPECT_EQ(form->Timer1->isActive(), n != 0);
    }
    EXPECT_EQ(form->Tag, 1);
    // A tick after the animation only redraws.
    RecordedCalls().clear();
    Tick();
    EXPECT_EQ(CallNames(), (std::vector<std::string>{"Render"}));
}

TEST_F(ViewerForm, PopUpRunsOnTheFormsTimer) {
    nextChoice = Photo();
    form->P1->trigger();
    RecordedCalls().clear();
    QTRY_VERIFY_WITH_TIMEOUT(!form->Timer1->isActive(), 10000);
    EXPECT_EQ(PopUpSteps(), (std::vector<int>{98, 94, 86, 70, 38, 0}));
}

TEST_F(ViewerForm, TurnKeyPausesAndResumesThePopUp) {
    nextChoice = Photo();
    form->P1->trigger();
    RecordedCalls().clear();
    Tick();
    Tick();
    QTest::keyClick(form.get(), Qt::Key_R);
    EXPECT_FALSE(form->Timer1->isActive());
    EXPECT_EQ(TTovelleForm::TagOf(form->P1), 94);
    QTest::keyClick(form.get(), Qt::Key_R);
    EXPECT_TRUE(form->Timer1->isActive());
    while (form->Timer1->isActive()) Tick();
    EXPECT_EQ(PopUpSteps(), (std::vector<int>{98, 94, 86, 70, 38, 0}));
    std::vector<std::vector<double>> turns;
    for (const EngineCall &call : CallsNamed("Effect")) {
        if (call.args[0] == 1) turns.push_back(call.args);
    }
    EXPECT_EQ(turns, (std::vector<std::vector<double>>{{1, 0}, {1, 1}}));
}

TEST_F(ViewerForm, CancelledPopUpLeavesTheCounterForTheNextTurn) {
    nextChoice.clear();
    RecordedCalls().clear();
    form->P1->trigger();
    EXPECT_EQ(dialogRuns, 1);
    EXPECT_EQ(TTovelleForm::TagOf(form->P1), 100);
    EXPECT_FALSE(form->Timer1->isActive());
    EXPECT_TRUE(RecordedCalls().empty());

    QTest::keyClick(form.get(), Qt::Key_R);
    ASSERT_TRUE(form->Timer1->isActive());
    int ticks = 0;
    while (form->Timer1->isActive() && ticks < 20) {
        Tick();
        ++ticks;
    }
    EXPECT_EQ(ticks, 6);
    EXPECT_EQ(PopUpSteps(), (std::vector<int>{98, 94, 86, 70, 38, 0}));
}

TEST_F(ViewerForm, TurnBeforeAnyPopUpTakesOneStepAndStops) {
    RecordedCalls().clear();
    QTest::keyClick(form.get(), Qt::Key_R);
    EXPECT_TRUE(form->Timer1->isActive());
    Tick(); // P1's Tag is 1: 2 - 102 gives 0 at once
    EXPECT_EQ(PopUpSteps(), std::vector<int>{0});
    EXPECT_EQ(CallsNamed("Get3DImage").size(), 1u);
    EXPECT_FALSE(form->Timer1->isActive());
    EXPECT_EQ(form->Tag, 1);
    // The next R starts the timer again, and from then on ticks only redraw.
    QTest::keyClick(form.get(), Qt::Key_R);
    EXPECT_TRUE(form->Timer1->isActive());
    RecordedCalls().clear();
    Tick();
    Tick();
    EXPECT_EQ(CallNames(), (std::vector<std::string>{"Render", "Render"}));
}

TEST_F(ViewerForm, ManualIsReadmeBesideTheProgram) {
    const QString text = QStringLiteral("説明書\nManual line two\n");
    ASSERT_TRUE(WriteFile(dir.filePath("readme.txt"), text.toUtf8()));
    form->M1->trigger();
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].caption, "Tovelle V1.0");
    EXPECT_EQ(messages[0].text, text);
    EXPECT_EQ(form->Memo1->toPlainText(), text);
    EXPECT_TRUE(exceptions.empty());
}

TEST_F(ViewerForm, MissingManualIsReportedAndTheProgramCarriesOn) {
    form->M1->trigger();
    EXPECT_TRUE(messages.empty());
    ASSERT_EQ(exceptions.size(), 1u);
    EXPECT_TRUE(exceptions[0].contains("readme.txt")) << exceptions[0].toStdString();
    // Still working: a photo opens and draws.
    Open(Photo());
    EXPECT_EQ(form->Tag, 1);
    EXPECT_GT(form->ClientArea->framesPresented(), 0);
}

TEST_F(ViewerForm, VersionBoxNamesTheProgramAndItsVersion) {
    form->V1->trigger();
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_TRUE(messages[0].text.contains("Tovelle"));
    EXPECT_TRUE(messages[0].text.contains("1.0.0.0"));
    EXPECT_TRUE(messages[0].text.contains("Copyright"));
}

TEST_F(ViewerForm, ExitClosesTheFormAndTheViewEnds) {
    form->show();
    form->Exit1->trigger();
    EXPECT_FALSE(form->isVisible());
    RecordedCalls().clear();
    form.reset();
    EXPECT_EQ(CallNames(), (std::vector<std::string>{"Term"}));
}

// An engine whose _QRV3DInit fails: the form must never call it with handle 0
// where the library gives that handle no meaning.
ViewHandle FailingInit(HWND, const char *, const char *) { return 0; }

TEST_F(ViewerForm, WithoutAViewOpenOnlySetsThePaths) {
    form.reset();
    QrvImports imports = RecordingImports();
    imports._QRV3DInit = &FailingInit;
    form = std::make_unique<TTovelleForm>(imports);
    form->seams.runOpenDialog = [this](QFileDialog &) { return nextChoice; };
    const QString photo = Photo();
    Open(photo);
    EXPECT_EQ(form->photoPath, photo.toStdString());
    EXPECT_EQ(form->depthPath, DepthPathFor(photo.toStdString()));
    EXPECT_FALSE(form->N3DS1->isEnabled());
    EXPECT_TRUE(CallsNamed("MoveEye").empty());
    // A turn's tick reaches LoadDepthImage, which has no view to build for.
    QTest::keyClick(form.get(), Qt::Key_R);
    Tick();
    EXPECT_TRUE(CallsNamed("Get3DImage").empty());
    EXPECT_TRUE(CallsNamed("Render").empty());
    form.reset();
    EXPECT_TRUE(CallsNamed("Term").empty());
}

} // namespace
} // namespace tovelle::testing
