// Opening a file in the user's image editor, as a desktop's "edit" action does.
#pragma once

#include <QString>
#include <QStringList>

namespace tovelle {

// The folders of the XDG base directory rules, most important first.
struct XdgDirs {
    QStringList dataDirs;   // $XDG_DATA_HOME, then $XDG_DATA_DIRS
    QStringList configDirs; // $XDG_CONFIG_HOME, then $XDG_CONFIG_DIRS
    QStringList desktops;   // $XDG_CURRENT_DESKTOP, lower case
    static XdgDirs FromEnvironment();
};

struct EditorCommand {
    QString program;
    QStringList arguments;
    QString desktopId; // the desktop entry chosen, empty for the xdg-open fallback
};

// The command that opens path for editing: the application that the mimeapps.list
// files name for image/bmp when it is a raster-graphics editor, else the first
// installed one (desktop entries of category RasterGraphics that take image/bmp,
// by desktop-file ID), else `xdg-open path`.
EditorCommand EditorCommandFor(const QString &path, const XdgDirs &dirs);

// The arguments of a desktop entry's Exec value (quoting and escapes as the
// desktop entry rules have them) with its field codes filled in for one file.
// Empty when the value cannot be parsed.
QStringList ExpandExec(const QString &exec, const QString &path, const QString &icon,
                       const QString &name, const QString &entryFile);

// Starts the editor on path without waiting for it; failures are ignored.
void OpenInImageEditor(const QString &path);

} // namespace tovelle
