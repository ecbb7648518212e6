// "lanferry config": shows the device's identity, or changes its name, port
// and password as the settings form does.
#pragma once

#include "Verb.h"

#include <optional>

class ConfigVerb : public Verb {
public:
    bool startsServices() const override { return false; }
    QString synopsis() const override;
    QString description() const override;
    void describe(QCommandLineParser &parser) override;
    bool take(const QCommandLineParser &parser, QString *error) override;
    int run() override;

private:
    std::optional<QString> m_name;
    std::optional<int> m_port;
    std::optional<QString> m_password; // empty: no password
};
