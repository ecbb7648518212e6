// Device icons, navigation between screens, and opening a local file or folder
// with the desktop's default handler.
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
};
