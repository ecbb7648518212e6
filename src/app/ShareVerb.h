// "lanferry share": adds files and folders to the share list and switches
// sharing on, switches it off, or lists it, as the share screen does.
#pragma once

#include "Verb.h"

#include <QStringList>

class ShareVerb : public Verb {
public:
    bool startsServices() const override { return false; }
    QString synopsis() const override;
    QString description() const override;
    void describe(QCommandLineParser &parser) override;
    bool take(const QCommandLineParser &parser, QString *error) override;
    int run() override;

private:
    enum class Mode { Add, Off, List } m_mode = Mode::Add;
    QStringList m_paths;
};
