#include "ShareVerb.h"

#include "TerminalText.h"

#include "ui/MyItemModel.h"
#include "ui/ShareFormModel.h"

#include <QFileInfo>
#include <QUrl>

#include <cstdio>

QString ShareVerb::synopsis() const
{
    return QStringLiteral("PATH... | --off | --list");
}

QString ShareVerb::description() const
{
    return QStringLiteral("Add PATHs to the share list (paths already listed are skipped) and switch sharing on; "
                          "--off switches it off; --list prints the switch and the entries.");
}

void ShareVerb::describe(QCommandLineParser &parser)
{
    parser.addPositionalArgument(QStringLiteral("PATH"), QStringLiteral("A file or folder to share."),
                                 QStringLiteral("[PATH...]"));
    parser.addOption({QStringLiteral("off"), QStringLiteral("Switch sharing off (the list stays).")});
    parser.addOption({QStringLiteral("list"), QStringLiteral("Print the switch and the shared entries.")});
}

bool ShareVerb::take(const QCommandLineParser &parser, QString *error)
{
    m_paths = parser.positionalArguments();
    const bool off = parser.isSet(QStringLiteral("off"));
    const bool list = parser.isSet(QStringLiteral("list"));
    if (int(off) + int(list) + int(!m_paths.isEmpty()) != 1) {
        *error = QStringLiteral("share needs PATHs, --off or --list (one of them)");
        return false;
    }
    m_mode = off ? Mode::Off : list ? Mode::List : Mode::Add;
    for (const QString &path : m_paths) {
        if (!QFileInfo::exists(path)) {
            *error = QStringLiteral("no such file or folder: %1").arg(path);
            return false;
        }
    }
    return true;
}

int ShareVerb::run()
{
    ShareFormModel form;
    switch (m_mode) {
    case Mode::Add: {
        QList<QUrl> urls;
        for (const QString &path : m_paths)
            urls << QUrl::fromLocalFile(QFileInfo(path).absoluteFilePath());
        const int before = form.filesCount();
        form.addFiles(urls);
        form.setShareEnabled(true);
        std::printf("sharing on; %d added, %d entries\n", form.filesCount() - before, form.filesCount());
        return ExitOk;
    }
    case Mode::Off:
        form.setShareEnabled(false);
        std::printf("sharing off\n");
        return ExitOk;
    case Mode::List:
        break;
    }
    std::printf("sharing %s\n", form.shareEnabled() ? "on" : "off");
    MyItemModel *rows = form.model();
    for (int r = 0; r < rows->rowCount(); ++r) {
        const QVariantMap row = rows->data(rows->index(r, 0), MyItemModel::FirstRole).toMap();
        // A file's name may hold anything, control characters included.
        std::printf("%s  %s  %s\n", TerminalText::utf8(row.value(QStringLiteral("uid")).toString()).constData(),
                    row.value(QStringLiteral("folder")).toBool() ? "folder" : "file  ",
                    TerminalText::utf8(row.value(QStringLiteral("uri")).toString()).constData());
    }
    return ExitOk;
}
