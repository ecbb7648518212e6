#include "DevicesVerb.h"

#include "HeadlessSession.h"
#include "TerminalText.h"

#include <QTimer>

#include <cstdio>

QString DevicesVerb::synopsis() const
{
    return QStringLiteral("[--wait SECONDS]");
}

QString DevicesVerb::description() const
{
    return QStringLiteral("Start the services, listen (3 s by default) and print the devices found: name, "
                          "address, type and id.");
}

void DevicesVerb::describe(QCommandLineParser &parser)
{
    parser.addOption(
        {QStringLiteral("wait"), QStringLiteral("Listen for SECONDS (default 3)."), QStringLiteral("SECONDS")});
}

bool DevicesVerb::take(const QCommandLineParser &parser, QString *error)
{
    if (!parser.positionalArguments().isEmpty()) {
        *error = QStringLiteral("devices takes no arguments");
        return false;
    }
    if (parser.isSet(QStringLiteral("wait"))) {
        bool ok = false;
        const double seconds = parser.value(QStringLiteral("wait")).toDouble(&ok);
        if (!ok || seconds < 0 || seconds > 86400) {
            *error = QStringLiteral("--wait needs a number of seconds");
            return false;
        }
        m_waitMs = static_cast<int>(seconds * 1000);
    }
    return true;
}

int DevicesVerb::run()
{
    HeadlessSession session;
    session.startServices();
    QTimer::singleShot(m_waitMs, &session, [&session] {
        const auto devices = session.server()->udpServer().listServers(std::string());
        QStringList rows[4];
        int widths[4] = {4, 7, 4, 3};
        const QString heads[4] = {QStringLiteral("NAME"), QStringLiteral("ADDRESS"), QStringLiteral("TYPE"),
                                  QStringLiteral("UID")};
        for (int c = 0; c < 4; ++c)
            rows[c] << heads[c];
        for (const auto &d : devices) {
            // Announced by the devices themselves: escaped before the columns are measured.
            rows[0] << TerminalText::escaped(QString::fromStdString(d.info.name));
            rows[1] << QStringLiteral("%1:%2").arg(QString::fromStdString(d.ip)).arg(d.port);
            rows[2] << TerminalText::escaped(QString::fromStdString(d.info.type));
            rows[3] << TerminalText::escaped(QString::fromStdString(d.info.uid));
        }
        for (int c = 0; c < 4; ++c) {
            for (const QString &cell : rows[c])
                widths[c] = std::max(widths[c], int(cell.size()));
        }
        for (int r = 0; r < rows[0].size(); ++r) {
            // Names are the peers' own text: joined, never passed through arg().
            const QString line = rows[0][r].leftJustified(widths[0]) + QStringLiteral("  ") +
                                 rows[1][r].leftJustified(widths[1]) + QStringLiteral("  ") +
                                 rows[2][r].leftJustified(widths[2]) + QStringLiteral("  ") + rows[3][r];
            std::printf("%s\n", line.toUtf8().constData());
        }
        std::fflush(stdout);
        session.finish(ExitOk);
    });
    return session.exec();
}
