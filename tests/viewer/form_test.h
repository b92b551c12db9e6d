// A TTovelleForm on the real library, with recording imports and recorders in
// place of the dialogs, message boxes and the image editor.
#pragma once

#include <QTemporaryDir>
#include <QTimer>

#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "recording_qrv.h"
#include "tovelle_form.h"

namespace tovelle::testing {

class FormTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir.isValid());
        form = std::make_unique<TTovelleForm>(RecordingImports());
        form->seams.runOpenDialog = [this](QFileDialog &) {
            ++dialogRuns;
            return nextChoice;
        };
        form->seams.showMessage = [this](const QString &caption, const QString &text) {
            messages.push_back({caption, text});
        };
        form->seams.showException = [this](const QString &text) { exceptions.push_back(text); };
        form->seams.openInEditor = [this](const QString &path) { editorOpened.push_back(path); };
        form->seams.programFolder = dir.path();
    }

    void TearDown() override {
        form.reset();
    }

    // Chooses path in the next open dialog and runs Open...
    void Open(const QString &path) {
        nextChoice = path;
        form->Open1->trigger();
    }
    void Tick() { form->Timer1Timer(form->Timer1); }

    QTemporaryDir dir;
    std::unique_ptr<TTovelleForm> form;
    QString nextChoice;
    int dialogRuns = 0;
    struct Message {
        QString caption, text;
    };
    std::vector<Message> messages;
    std::vector<QString> exceptions;
    std::vector<QString> editorOpened;
};

} // namespace tovelle::testing
