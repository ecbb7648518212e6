#include "ConfigVerb.h"

#include "TerminalText.h"

#include "ui/ServerModel.h"

#include <cstdio>

QString ConfigVerb::synopsis() const
{
    return QStringLiteral("[--name NAME] [--port PORT] [--password PWD | --no-password]");
}

QString ConfigVerb::description() const
{
    return QStringLiteral("Show the identity of this device, or change it as the settings form does.");
}

void ConfigVerb::describe(QCommandLineParser &parser)
{
    parser.addOption({QStringLiteral("name"), QStringLiteral("The name other devices see."), QStringLiteral("NAME")});
    parser.addOption(
        {QStringLiteral("port"), QStringLiteral("The HTTPS and discovery port (1-65535)."), QStringLiteral("PORT")});
    parser.addOption(
        {QStringLiteral("password"), QStringLiteral("The password other devices must give."), QStringLiteral("PWD")});
    parser.addOption({QStringLiteral("no-password"), QStringLiteral("Let any device connect.")});
}

bool ConfigVerb::take(const QCommandLineParser &parser, QString *error)
{
    if (!parser.positionalArguments().isEmpty()) {
        *error = QStringLiteral("config takes no arguments besides its options");
        return false;
    }
    if (parser.isSet(QStringLiteral("name")))
        m_name = parser.value(QStringLiteral("name"));
    if (parser.isSet(QStringLiteral("port"))) {
        bool ok = false;
        const int port = parser.value(QStringLiteral("port")).toInt(&ok);
        if (!ok || port < 1 || port > 65535) {
            *error = QStringLiteral("--port needs a number from 1 to 65535");
            return false;
        }
        m_port = port;
    }
    const bool password = parser.isSet(QStringLiteral("password"));
    const bool noPassword = parser.isSet(QStringLiteral("no-password"));
    if (password && noPassword) {
        *error = QStringLiteral("--password and --no-password exclude each other");
        return false;
    }
    if (password) {
        m_password = parser.value(QStringLiteral("password"));
        if (m_password->isEmpty()) {
            *error = QStringLiteral("--password needs a password; --no-password removes it");
            return false;
        }
    } else if (noPassword) {
        m_password = QString();
    }
    return true;
}

int ConfigVerb::run()
{
    ServerModel *server = ServerModel::instance();
    if (m_name || m_port || m_password) {
        // The form always saves all three fields; the ones not given keep their values.
        server->saveMe(m_name.value_or(server->name()), m_port.value_or(server->port()),
                       m_password.value_or(server->passcode()));
    }
    std::printf("name: %s\nuid: %s\nport: %d\npassword: %s\naddresses: %s\n",
                TerminalText::utf8(server->name()).constData(), server->uid().toUtf8().constData(), server->port(),
                server->passcode().isEmpty() ? "none" : "set", server->ip().toUtf8().constData());
    return 0;
}
