#include "MessageBoxRequest.h"

#include <QVariantList>

MessageBoxRequest MessageBoxRequest::fromMap(const QVariantMap &e)
{
    MessageBoxRequest r;
    r.title = e.value("title").toString();
    r.msg = e.value("msg").toString();
    r.icon = e.value("icon").toInt();
    const QVariantList roles = e.value("buttons").toList();
    const QVariantList names = e.value("buttonNames").toList();
    const QVariantList cbs = e.value("cbs").toList();
    for (int i = 0; i < roles.size(); ++i) {
        Button b;
        b.role = roles[i].toInt();
        b.label = names.value(i).toString();
        b.cb = cbs.value(i).value<MessageBoxContext::CallBack>();
        r.buttons.append(b);
    }
    return r;
}

QList<int> MessageBoxRequest::roles() const
{
    QList<int> out;
    for (const Button &b : buttons)
        out.append(b.role);
    return out;
}

bool MessageBoxRequest::hasButton(int role) const
{
    return roles().contains(role);
}

bool MessageBoxRequest::press(int role, MessageBoxContext *ctx) const
{
    for (const Button &b : buttons) {
        if (b.role == role) {
            if (ctx)
                ctx->callBack(b.cb);
            return true;
        }
    }
    return false;
}
