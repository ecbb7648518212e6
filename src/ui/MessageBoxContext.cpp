#include "MessageBoxContext.h"

#include "AppSingleton.h"
#include "UiMetaTypes.h"

#include <QVariantList>

MessageBoxContext::MessageBoxContext(QObject *parent) : QObject(parent)
{
    registerUiMetaTypes();
}

MessageBoxContext::~MessageBoxContext()
{
    AppSingleton<MessageBoxContext>::release(this);
}

MessageBoxContext *MessageBoxContext::instance()
{
    return AppSingleton<MessageBoxContext>::instance();
}

void MessageBoxContext::callBack(MessageBoxContext::CallBack cb)
{
    if (cb.fn)
        cb.fn();
}

void showMessageBox(MessageBoxContext *ctx, const QString &title, const QString &msg, MessageBoxContext::Icon icon,
                    const QList<MessageBoxContext::ButtonDesc> &buttons, const QString &id)
{
    if (!ctx)
        return;
    QVariantList values, names, cbs;
    for (const MessageBoxContext::ButtonDesc &b : buttons) {
        values.append(int(b.button));
        names.append(b.label);
        cbs.append(QVariant::fromValue(b.cb));
    }
    QVariantMap e;
    e.insert("title", title);
    e.insert("msg", msg);
    e.insert("icon", int(icon));
    e.insert("buttons", values);
    e.insert("buttonNames", names);
    e.insert("cbs", cbs);
    if (!id.isEmpty())
        e.insert("id", id);
    emit ctx->msgbox(e);
}

void closeMessageBox(MessageBoxContext *ctx, const QString &id)
{
    if (ctx && !id.isEmpty())
        emit ctx->closeMsgbox(id);
}

void showOkBox(MessageBoxContext *ctx, const QString &title, const QString &msg, const MessageBoxContext::CallBack &cb,
               MessageBoxContext::Icon icon, const QString &label)
{
    const QString text = label.isEmpty() ? MessageBoxContext::tr("OK") : label;
    showMessageBox(ctx, title, msg, icon, {{MessageBoxContext::OK, text, cb}});
}

void showWarningBox(MessageBoxContext *ctx, const QString &title, const QString &msg,
                    const MessageBoxContext::CallBack &cb, const QString &label)
{
    showOkBox(ctx, title, msg, cb, MessageBoxContext::Warning, label);
}

void showErrorBox(MessageBoxContext *ctx, const QString &title, const QString &msg,
                  const MessageBoxContext::CallBack &cb, const QString &label)
{
    showOkBox(ctx, title, msg, cb, MessageBoxContext::Error, label);
}

void showYesNoBox(MessageBoxContext *ctx, const QString &title, const QString &msg,
                  const MessageBoxContext::CallBack &yes, const MessageBoxContext::CallBack &no,
                  MessageBoxContext::Icon icon, const QString &yesLabel, const QString &noLabel)
{
    const QString yesText = yesLabel.isEmpty() ? MessageBoxContext::tr("Yes") : yesLabel;
    const QString noText = noLabel.isEmpty() ? MessageBoxContext::tr("No") : noLabel;
    showMessageBox(ctx, title, msg, icon,
                   {{MessageBoxContext::Yes, yesText, yes}, {MessageBoxContext::No, noText, no}});
}
