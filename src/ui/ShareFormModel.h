// The share screen's model: the sharing switch and the list of shared files and
// folders kept in the share store, with check boxes, adding and removing.
#pragma once

#include "MyItemModel.h"

#include "store/ShareFile.h"

#include <QList>
#include <QObject>
#include <QSet>
#include <QString>
#include <QUrl>

#include <vector>

class ShareFormModel : public QObject {
    Q_OBJECT
    Q_PROPERTY(bool shareEnabled READ shareEnabled WRITE setShareEnabled NOTIFY shareEnabledChanged)
    Q_PROPERTY(MyItemModel *model READ model CONSTANT)
    Q_PROPERTY(int selectionCount READ selectionCount NOTIFY selectionCountChanged)
public:
    explicit ShareFormModel(QObject *parent = nullptr);

    bool shareEnabled() const { return m_shareEnabled; }
    // Peers see the change on their next request: the server reads the store every time.
    void setShareEnabled(bool enabled);
    MyItemModel *model() const { return m_model; }
    int selectionCount() const { return m_selectionCount; }

    Q_INVOKABLE int filesCount() const { return int(m_files.size()); }

signals:
    void shareEnabledChanged();
    void selectionCountChanged();

public slots:
    // Each local file or folder once: a path already shared is skipped. URLs
    // that name no local path are ignored.
    void addFiles(QList<QUrl> urls);
    void check(int index, bool checked);
    void checkAll(bool checked);
    // Asks first; on Yes removes the checked entries from the store and the list.
    void removeChecked();

private:
    QVariantMap row(int r) const;
    void reload();
    void setSelectionCount(int count);
    void removeSelected();

    bool m_shareEnabled = false;
    MyItemModel *m_model = nullptr;
    std::vector<ShareFile> m_files;
    QSet<QString> m_selection;
    int m_selectionCount = 0;
};
