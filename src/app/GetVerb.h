// "lanferry get": browses what a device shares and downloads all of it, or
// the chosen entries, as the device screen does.
#pragma once

#include "Verb.h"

#include <QStringList>

class GetVerb : public Verb {
public:
    bool startsServices() const override { return true; }
    QString synopsis() const override;
    QString description() const override;
    void describe(QCommandLineParser &parser) override;
    bool take(const QCommandLineParser &parser, QString *error) override;
    int run() override;

private:
    QString m_host;
    int m_port = 0;
    QString m_password;
    QString m_folder;
    QStringList m_ids; // empty: every entry
};
