#include "image_editor.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QProcess>
#include <QStandardPaths>
#include <QTextStream>
#include <QUrl>

#include <map>
#include <optional>
#include <vector>

namespace tovelle {

namespace {

constexpr auto kBmpType = "image/bmp";

// One group of a key file: key -> raw value.
using Group = QHash<QString, QString>;

// Reads the groups of an INI-like XDG key file (desktop entries, mimeapps.list).
std::map<QString, Group> ReadKeyFile(const QString &fileName) {
    std::map<QString, Group> groups;
    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text)) return groups;
    QTextStream in(&file);
    in.setEncoding(QStringConverter::Utf8);
    Group *current = nullptr;
    while (!in.atEnd()) {
        const QString line = in.readLine().trimmed();
        if (line.isEmpty() || line.startsWith('#')) continue;
        if (line.startsWith('[') && line.endsWith(']')) {
            current = &groups[line.mid(1, line.size() - 2)];
            continue;
        }
        const qsizetype equals = line.indexOf('=');
        if (!current || equals <= 0) continue;
        const QString key = line.left(equals).trimmed();
        if (!current->contains(key)) current->insert(key, line.mid(equals + 1).trimmed());
    }
    return groups;
}

// A string value with the key file escapes \s \n \t \r \\ resolved.
QString Unescape(const QString &value) {
    QString out;
    for (qsizetype i = 0; i < value.size(); ++i) {
        if (value[i] != '\\' || i + 1 == value.size()) {
            out += value[i];
            continue;
        }
        const QChar next = value[++i];
        if (next == 's') out += ' ';
        else if (next == 'n') out += '\n';
        else if (next == 't') out += '\t';
        else if (next == 'r') out += '\r';
        else if (next == '\\') out += '\\';
        else {
            out += '\\';
            out += next;
        }
    }
    return out;
}

// A list value: items separated by ';' (a "\;" belongs to the item).
QStringList SplitList(const QString &value) {
    QStringList items;
    QString item;
    for (qsizetype i = 0; i < value.size(); ++i) {
        if (value[i] == '\\' && i + 1 < value.size() && value[i + 1] == ';') {
            item += ';';
            ++i;
        } else if (value[i] == ';') {
            if (!item.isEmpty()) items << item;
            item.clear();
        } else {
            item += value[i];
        }
    }
    if (!item.isEmpty()) items << item;
    return items;
}

bool IsExecutable(const QString &program) {
    if (program.isEmpty()) return false;
    if (program.contains('/')) {
        const QFileInfo info(program);
        return info.isFile() && info.isExecutable();
    }
    return !QStandardPaths::findExecutable(program).isEmpty();
}

struct DesktopEntry {
    QString id;
    QString file;
    QString exec;
    QString icon;
    QString name;
    bool editor = false; // an application of category RasterGraphics that takes image/bmp
};

// Every desktop entry under the data folders by desktop-file ID; an ID found in an
// earlier (more important) folder hides the same ID further down.
std::map<QString, DesktopEntry> CollectEntries(const XdgDirs &dirs) {
    std::map<QString, DesktopEntry> entries;
    for (const QString &dataDir : dirs.dataDirs) {
        const QString root = QDir(dataDir).filePath(QStringLiteral("applications"));
        QDirIterator it(root, {QStringLiteral("*.desktop")}, QDir::Files, QDirIterator::Subdirectories);
        while (it.hasNext()) {
            const QString file = it.next();
            // applications/kde/foo.desktop has the ID kde-foo.desktop.
            const QString id = QDir(root).relativeFilePath(file).replace('/', '-');
            if (entries.count(id)) continue;
            DesktopEntry entry;
            entry.id = id;
            entry.file = file;
            const auto groups = ReadKeyFile(file);
            const auto group = groups.find(QStringLiteral("Desktop Entry"));
            if (group != groups.end()) {
                const Group &keys = group->second;
                entry.exec = Unescape(keys.value(QStringLiteral("Exec")));
                entry.icon = Unescape(keys.value(QStringLiteral("Icon")));
                entry.name = Unescape(keys.value(QStringLiteral("Name")));
                const QString tryExec = Unescape(keys.value(QStringLiteral("TryExec")));
                entry.editor =
                    keys.value(QStringLiteral("Type")) == QLatin1String("Application") &&
                    keys.value(QStringLiteral("Hidden")) != QLatin1String("true") &&
                    SplitList(keys.value(QStringLiteral("Categories"))).contains(QStringLiteral("RasterGraphics")) &&
                    SplitList(keys.value(QStringLiteral("MimeType"))).contains(QLatin1String(kBmpType)) &&
                    (tryExec.isEmpty() || IsExecutable(tryExec));
            }
            entries.emplace(id, entry); // a hidden or broken entry still hides lower ones
        }
    }
    return entries;
}

// The mimeapps.list files in the order they are consulted.
QStringList MimeAppsLists(const XdgDirs &dirs) {
    QStringList lists;
    auto addFolder = [&](const QString &folder) {
        for (const QString &desktop : dirs.desktops) {
            lists << QDir(folder).filePath(desktop + QStringLiteral("-mimeapps.list"));
        }
        lists << QDir(folder).filePath(QStringLiteral("mimeapps.list"));
    };
    for (const QString &dir : dirs.configDirs) addFolder(dir);
    for (const QString &dir : dirs.dataDirs) addFolder(QDir(dir).filePath(QStringLiteral("applications")));
    return lists;
}

std::optional<EditorCommand> CommandOf(const DesktopEntry &entry, const QString &path) {
    if (!entry.editor) return std::nullopt;
    QStringList words = ExpandExec(entry.exec, path, entry.icon, entry.name, entry.file);
    if (words.isEmpty() || !IsExecutable(words.first())) return std::nullopt;
    EditorCommand command;
    command.program = words.takeFirst();
    command.arguments = words;
    command.desktopId = entry.id;
    return command;
}

QStringList EnvList(const char *name, const QStringList &fallback) {
    const QString value = qEnvironmentVariable(name);
    QStringList items = value.split(':', Qt::SkipEmptyParts);
    return items.isEmpty() ? fallback : items;
}

} // namespace

XdgDirs XdgDirs::FromEnvironment() {
    XdgDirs dirs;
    const QString home = QDir::homePath();
    dirs.dataDirs = EnvList("XDG_DATA_HOME", {home + QStringLiteral("/.local/share")});
    dirs.dataDirs += EnvList("XDG_DATA_DIRS", {QStringLiteral("/usr/local/share"), QStringLiteral("/usr/share")});
    dirs.configDirs = EnvList("XDG_CONFIG_HOME", {home + QStringLiteral("/.config")});
    dirs.configDirs += EnvList("XDG_CONFIG_DIRS", {QStringLiteral("/etc/xdg")});
    for (const QString &desktop : EnvList("XDG_CURRENT_DESKTOP", {})) dirs.desktops << desktop.toLower();
    return dirs;
}

QStringList ExpandExec(const QString &exec, const QString &path, const QString &icon,
                       const QString &name, const QString &entryFile) {
    // Split into words: double quotes group, and inside them a backslash escapes
    // one of " ` $ \ .
    QStringList words;
    QString word;
    bool inWord = false;
    bool quoted = false;
    for (qsizetype i = 0; i < exec.size(); ++i) {
        const QChar c = exec[i];
        if (quoted) {
            if (c == '"') {
                quoted = false;
            } else if (c == '\\' && i + 1 < exec.size()) {
                word += exec[++i];
            } else {
                word += c;
            }
        } else if (c == '"') {
            quoted = inWord = true;
        } else if (c == ' ' || c == '\t') {
            if (inWord) words << word;
            word.clear();
            inWord = false;
        } else {
            word += c;
            inWord = true;
        }
    }
    if (quoted) return {};
    if (inWord) words << word;

    // Field codes: a word that is only a code may expand to several words or none.
    QStringList out;
    bool fileGiven = false;
    const QString url = QUrl::fromLocalFile(path).toString(QUrl::FullyEncoded);
    for (const QString &w : words) {
        if (w == QLatin1String("%f") || w == QLatin1String("%F")) {
            out << path;
            fileGiven = true;
            continue;
        }
        if (w == QLatin1String("%u") || w == QLatin1String("%U")) {
            out << url;
            fileGiven = true;
            continue;
        }
        if (w == QLatin1String("%i")) {
            if (!icon.isEmpty()) out << QStringLiteral("--icon") << icon;
            continue;
        }
        QString expanded;
        bool dropped = false;
        for (qsizetype i = 0; i < w.size(); ++i) {
            if (w[i] != '%' || i + 1 == w.size()) {
                expanded += w[i];
                continue;
            }
            const QChar code = w[++i];
            if (code == '%') expanded += '%';
            else if (code == 'c') expanded += name;
            else if (code == 'k') expanded += entryFile;
            else if (code == 'f' || code == 'F') {
                expanded += path;
                fileGiven = true;
            } else if (code == 'u' || code == 'U') {
                expanded += url;
                fileGiven = true;
            } else {
                dropped = true; // %d %D %n %N %v %m and unknown codes are removed
            }
        }
        if (!expanded.isEmpty() || !dropped) out << expanded;
    }
    if (!out.isEmpty() && !fileGiven) out << path;
    return out;
}

EditorCommand EditorCommandFor(const QString &path, const XdgDirs &dirs) {
    const std::map<QString, DesktopEntry> entries = CollectEntries(dirs);
    auto byId = [&](const QString &id) -> std::optional<EditorCommand> {
        const auto it = entries.find(id);
        if (it == entries.end()) return std::nullopt;
        return CommandOf(it->second, path);
    };

    // The user's and the system's stated choices come first.
    std::vector<std::map<QString, Group>> lists;
    for (const QString &list : MimeAppsLists(dirs)) lists.push_back(ReadKeyFile(list));
    QStringList removed;
    for (const char *groupName : {"Default Applications", "Added Associations"}) {
        for (const auto &groups : lists) {
            const auto removedGroup = groups.find(QStringLiteral("Removed Associations"));
            if (removedGroup != groups.end()) removed += SplitList(removedGroup->second.value(kBmpType));
            const auto group = groups.find(QLatin1String(groupName));
            if (group == groups.end()) continue;
            for (const QString &id : SplitList(group->second.value(kBmpType))) {
                if (removed.contains(id)) continue;
                if (auto command = byId(id)) return *command;
            }
        }
    }
    for (const auto &[id, entry] : entries) {
        if (removed.contains(id)) continue;
        if (auto command = CommandOf(entry, path)) return *command;
    }
    return EditorCommand{QStringLiteral("xdg-open"), {path}, {}};
}

void OpenInImageEditor(const QString &path) {
    const EditorCommand command = EditorCommandFor(path, XdgDirs::FromEnvironment());
    QProcess::startDetached(command.program, command.arguments);
}

} // namespace tovelle
