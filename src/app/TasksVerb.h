// "lanferry tasks": lists the stored tasks, sent and received, newest first.
#pragma once

#include "Verb.h"

class TasksVerb : public Verb {
public:
    bool startsServices() const override { return false; }
    QString synopsis() const override { return QString(); }
    QString description() const override;
    void describe(QCommandLineParser &) override {}
    bool take(const QCommandLineParser &parser, QString *error) override;
    int run() override;
};
