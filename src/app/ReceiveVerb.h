// "lanferry receive": serves and accepts offered tasks (all, or only those of
// the given devices) into one folder, once or until a signal.
#pragma once

#include "Verb.h"

#include <QStringList>

class ReceiveVerb : public Verb {
public:
    bool startsServices() const override { return true; }
    QString synopsis() const override;
    QString description() const override;
    void describe(QCommandLineParser &parser) override;
    bool take(const QCommandLineParser &parser, QString *error) override;
    int run() override;

private:
    QString m_folder;
    QStringList m_from; // names or ids; empty: everyone
    bool m_once = false;
};
