// "lanferry send": offers files and folders to a device as the devices screen
// does, then serves them until the receiver has them all or declines.
#pragma once

#include "Verb.h"

#include <QStringList>

class SendVerb : public Verb {
public:
    bool startsServices() const override { return true; }
    QString synopsis() const override;
    QString description() const override;
    void describe(QCommandLineParser &parser) override;
    bool take(const QCommandLineParser &parser, QString *error) override;
    int run() override;

    // "HOST" or "HOST:PORT" (the default port when none is given); false on a bad port.
    static bool parseHost(const QString &text, QString *host, int *port);

private:
    QString m_host;
    int m_port = 0;
    QString m_password;
    QStringList m_paths;
};
