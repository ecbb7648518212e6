// Short, self-dismissing notices: a model emits toast() and the screen shows
// the text for the given time.
#pragma once

#include <QObject>
#include <QString>

class ToastContext : public QObject {
    Q_OBJECT
public:
    explicit ToastContext(QObject *parent = nullptr);
    ~ToastContext() override;

    // The application-wide object; null without an application object.
    static ToastContext *instance();

signals:
    // Any thread. Show text for msl milliseconds (the models use 2000).
    void toast(QString text, int msl);
};
