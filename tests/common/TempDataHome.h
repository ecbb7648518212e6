// Points the data folder (XDG_DATA_HOME) and HOME at a fresh temporary folder
// for the lifetime of the object, so tests never touch the real user's files.
#pragma once

#include <QByteArray>
#include <QTemporaryDir>
#include <QtGlobal>

#include <string>

class TempDataHome {
public:
    TempDataHome()
    {
        m_oldXdg = qgetenv("XDG_DATA_HOME");
        m_oldHome = qgetenv("HOME");
        m_hadXdg = qEnvironmentVariableIsSet("XDG_DATA_HOME");
        qputenv("HOME", m_dir.path().toUtf8() + "/home");
        qputenv("XDG_DATA_HOME", m_dir.path().toUtf8() + "/data");
    }
    ~TempDataHome()
    {
        qputenv("HOME", m_oldHome);
        if (m_hadXdg)
            qputenv("XDG_DATA_HOME", m_oldXdg);
        else
            qunsetenv("XDG_DATA_HOME");
    }
    TempDataHome(const TempDataHome &) = delete;
    TempDataHome &operator=(const TempDataHome &) = delete;

    QString path() const { return m_dir.path(); }
    // The data folder the program will use while this object lives.
    std::string dataFolderPath() const { return (m_dir.path() + "/data/tovantic_lanferry_win").toStdString(); }

private:
    QTemporaryDir m_dir;
    QByteArray m_oldXdg, m_oldHome;
    bool m_hadXdg = false;
};
