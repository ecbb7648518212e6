// "lanferry devices": listens for the devices on the network for a while and
// prints the table that discovery built.
#pragma once

#include "Verb.h"

class DevicesVerb : public Verb {
public:
    bool startsServices() const override { return true; }
    QString synopsis() const override;
    QString description() const override;
    void describe(QCommandLineParser &parser) override;
    bool take(const QCommandLineParser &parser, QString *error) override;
    int run() override;

private:
    int m_waitMs = 3000;
};
