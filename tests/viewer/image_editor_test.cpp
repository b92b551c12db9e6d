// Which program Create image for 3D starts on the template.
#include <QDir>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include "fixtures.h"
#include "image_editor.h"

namespace tovelle {
namespace {

using testing::WriteFile;

class ImageEditorTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(root.isValid());
        dirs.dataDirs = {Data("home"), Data("usr")};
        dirs.configDirs = {Data("config")};
        for (const QString &d : dirs.dataDirs) QDir().mkpath(d + "/applications");
        QDir().mkpath(dirs.configDirs[0]);
    }
    QString Data(const char *name) { return root.filePath(name); }
    void Entry(const QString &dataDir, const QString &id, const QString &body) {
        const QString file = dataDir + "/applications/" + id;
        QDir().mkpath(QFileInfo(file).path());
        ASSERT_TRUE(WriteFile(file, ("[Desktop Entry]\nType=Application\n" + body).toUtf8()));
    }
    void Editor(const QString &dataDir, const QString &id, const QString &exec = "true %U") {
        Entry(dataDir, id, "Name=" + id + "\nExec=" + exec +
                               "\nCategories=Graphics;2DGraphics;RasterGraphics;\nMimeType=image/png;image/bmp;\n");
    }
    void Viewer(const QString &dataDir, const QString &id) {
        Entry(dataDir, id, "Name=viewer\nExec=true %f\nCategories=Graphics;Viewer;\nMimeType=image/bmp;\n");
    }
    void MimeApps(const QString &folder, const QString &text) {
        ASSERT_TRUE(WriteFile(folder + "/mimeapps.list", text.toUtf8()));
    }

    QTemporaryDir root;
    XdgDirs dirs;
    const QString file = QStringLiteral("/pics/cat_.bmp");
};

TEST_F(ImageEditorTest, FallsBackToXdgOpenWithoutAnEditor) {
    Viewer(dirs.dataDirs[1], "eog.desktop");
    const EditorCommand command = EditorCommandFor(file, dirs);
    EXPECT_EQ(command.program, "xdg-open");
    EXPECT_EQ(command.arguments, QStringList{file});
}

TEST_F(ImageEditorTest, TakesTheFirstRasterEditorForBitmaps) {
    Viewer(dirs.dataDirs[1], "a-viewer.desktop");
    Editor(dirs.dataDirs[1], "paint.desktop");
    Editor(dirs.dataDirs[1], "zpaint.desktop");
    Entry(dirs.dataDirs[1], "b-hidden.desktop",
          "Exec=true\nHidden=true\nCategories=RasterGraphics;\nMimeType=image/bmp;\n");
    Entry(dirs.dataDirs[1], "c-missing.desktop",
          "Exec=true\nTryExec=/no/such/program\nCategories=RasterGraphics;\nMimeType=image/bmp;\n");
    Entry(dirs.dataDirs[1], "d-pngonly.desktop", "Exec=true\nCategories=RasterGraphics;\nMimeType=image/png;\n");
    const EditorCommand command = EditorCommandFor(file, dirs);
    EXPECT_EQ(command.desktopId, "paint.desktop");
    EXPECT_EQ(command.program, "true");
    EXPECT_EQ(command.arguments, QStringList{"file:///pics/cat_.bmp"});
}

TEST_F(ImageEditorTest, PrefersTheEditorTheMimeAppsListNames) {
    Editor(dirs.dataDirs[1], "apaint.desktop");
    Editor(dirs.dataDirs[1], "kde/zpaint.desktop", "true %f");
    Viewer(dirs.dataDirs[1], "eog.desktop");
    // The default for bitmaps is a viewer, which cannot edit: the next named editor wins.
    MimeApps(dirs.configDirs[0],
             "[Default Applications]\nimage/bmp=eog.desktop;kde-zpaint.desktop;\n");
    EditorCommand command = EditorCommandFor(file, dirs);
    EXPECT_EQ(command.desktopId, "kde-zpaint.desktop");
    EXPECT_EQ(command.arguments, QStringList{file});

    // A removed association is not used, even as a fallback.
    MimeApps(dirs.configDirs[0], "[Removed Associations]\nimage/bmp=apaint.desktop;\n");
    command = EditorCommandFor(file, dirs);
    EXPECT_EQ(command.desktopId, "kde-zpaint.desktop");
}

TEST_F(ImageEditorTest, AnEntryInTheUsersFolderHidesTheSystemOne) {
    Editor(dirs.dataDirs[1], "paint.desktop", "/no/such/paint %f");
    Editor(dirs.dataDirs[0], "paint.desktop", "sh -c \"exit 0\" %f");
    const EditorCommand command = EditorCommandFor(file, dirs);
    EXPECT_EQ(command.program, "sh");
    EXPECT_EQ(command.arguments, (QStringList{"-c", "exit 0", file}));
}

TEST(ExpandExec, FillsFieldCodesAndKeepsQuotedWords) {
    const QString path = QStringLiteral("/p/a b.bmp");
    const struct {
        const char *exec;
        QStringList want;
    } cases[] = {
        {"paint %f", {"paint", path}},
        {"paint %F --new", {"paint", path, "--new"}},
        {"paint %U", {"paint", "file:///p/a%20b.bmp"}},
        {"paint", {"paint", path}}, // no field code: the file goes last
        {"paint %i %c %%x", {"paint", "--icon", "icon", "Paint", "%x", path}},
        {"paint %d %f", {"paint", path}}, // deprecated codes vanish
        {"\"/opt/my paint/bin\" \"--title=\\\"a\\\"\" %f", {"/opt/my paint/bin", "--title=\"a\"", path}},
        {"paint --file=%f", {"paint", "--file=" + path}},
        {"paint \"unclosed %f", {}},
    };
    for (const auto &c : cases) {
        EXPECT_EQ(ExpandExec(c.exec, path, "icon", "Paint", "/x.desktop"), c.want) << c.exec;
    }
}

} // namespace
} // namespace tovelle
