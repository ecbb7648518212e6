// Modal message boxes for the models: a model asks for a box with buttons that
// each carry a callback; the screen (or a headless driver) shows it and hands
// the chosen button's callback back through callBack().
#pragma once

#include <QList>
#include <QMetaType>
#include <QObject>
#include <QVariantMap>

#include <functional>

class MessageBoxContext : public QObject {
    Q_OBJECT
public:
    enum Button { OK = 1, Cancel = 2, Yes = 4, No = 8 };
    Q_ENUM(Button)
    enum Icon { Alert = 1, Warning = 2, Question = 3, Error = 4, Suc = 5 };
    Q_ENUM(Icon)

    // A button's action; may be empty. Copied into the request and back.
    struct CallBack {
        CallBack() = default;
        CallBack(std::function<void()> f) : fn(std::move(f)) {}
        explicit operator bool() const { return bool(fn); }
        std::function<void()> fn;
    };

    // One button of a box as a model describes it.
    struct ButtonDesc {
        Button button = OK;
        QString label;
        CallBack cb;
    };

    explicit MessageBoxContext(QObject *parent = nullptr);
    ~MessageBoxContext() override;

    // The application-wide object; null without an application object.
    static MessageBoxContext *instance();

    // Runs cb's callable, if any, on the calling thread.
    Q_INVOKABLE void callBack(MessageBoxContext::CallBack cb);

signals:
    // "title", "msg", "icon" (an Icon), and the parallel lists "buttons"
    // (Button values), "buttonNames" (labels) and "cbs" (CallBack values);
    // "id" when the box may be closed from the model's side.
    void msgbox(QVariantMap e);
    // The box whose request carries this "id" is to close without an answer
    // (the question was answered elsewhere).
    void closeMsgbox(QString id);
};

Q_DECLARE_METATYPE(MessageBoxContext::CallBack)

// The helpers below accept a null context (the application is going away) and
// then show nothing. An empty label stands for the usual translated "OK", "Yes"
// or "No". A box given an id can be closed by closeMessageBox().
void showMessageBox(MessageBoxContext *ctx, const QString &title, const QString &msg, MessageBoxContext::Icon icon,
                    const QList<MessageBoxContext::ButtonDesc> &buttons, const QString &id = QString());
void closeMessageBox(MessageBoxContext *ctx, const QString &id);
void showOkBox(MessageBoxContext *ctx, const QString &title, const QString &msg,
               const MessageBoxContext::CallBack &cb = {}, MessageBoxContext::Icon icon = MessageBoxContext::Alert,
               const QString &label = QString());
void showWarningBox(MessageBoxContext *ctx, const QString &title, const QString &msg,
                    const MessageBoxContext::CallBack &cb = {}, const QString &label = QString());
void showErrorBox(MessageBoxContext *ctx, const QString &title, const QString &msg,
                  const MessageBoxContext::CallBack &cb = {}, const QString &label = QString());
void showYesNoBox(MessageBoxContext *ctx, const QString &title, const QString &msg,
                  const MessageBoxContext::CallBack &yes, const MessageBoxContext::CallBack &no,
                  MessageBoxContext::Icon icon = MessageBoxContext::Question, const QString &yesLabel = QString(),
                  const QString &noLabel = QString());
