// Device icons, navigation between screens, opening a local file or folder
// with the desktop's default handler, and showing one in its folder.
#pragma once

#include <QObject>
#include <QString>
#include <QUrl>
#include <QVariantMap>

class GlobalModel : public QObject {
    Q_OBJECT
public:
    explicit GlobalModel(QObject *parent = nullptr);
    ~GlobalModel() override;

    // The application-wide object; null without an application object.
    static GlobalModel *instance();

    // The bus connection (by name) where the file manager is asked; the
    // session bus unless set. Tests point it at a private bus.
    void setFileManagerBus(const QString &connectionName) { m_fileManagerBus = connectionName; }

signals:
    // Asks the main screen to show the screen document qml with these initial properties.
    void nav(QString qml, QVariantMap props);

public slots:
    // Case-sensitive: "mac", "android", "ios"; anything else gets the Windows icon.
    QString deviceIcon(QString type);
    QString serverIcon();
    void navTo(QString qml, QVariantMap props);
    void navTo(QString qml);
    // A missing path shows a warning box. An existing file opens in its
    // associated program, a folder in the file manager (xdg-open on Linux); the
    // outcome of that start is not examined.
    void open(QString path);
    // A local-file URL opens its path; any other URL is taken as a path as it
    // is written, which names no file.
    void openUrl(QUrl url);
    // Opens the file manager at a local file's folder with the file selected
    // (org.freedesktop.FileManager1 ShowItems); where no file manager answers
    // there, opens the containing folder. A missing file warns as open() does.
    void showInFolder(QUrl url);

private:
    QString m_fileManagerBus;
};
