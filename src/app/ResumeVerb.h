// "lanferry resume": starts received tasks that have not finished (all, or
// the given ones) and waits until they end.
#pragma once

#include "Verb.h"

#include <QStringList>

class ResumeVerb : public Verb {
public:
    bool startsServices() const override { return true; }
    QString synopsis() const override;
    QString description() const override;
    void describe(QCommandLineParser &parser) override;
    bool take(const QCommandLineParser &parser, QString *error) override;
    int run() override;

private:
    QStringList m_ids;
};
