// A shown message box as a driver without screens sees it (a test, the command
// line): read from the map that MessageBoxContext::msgbox carries, with a way
// to press one of its buttons just as a screen does.
#pragma once

#include "MessageBoxContext.h"

#include <QList>
#include <QString>
#include <QVariantMap>

struct MessageBoxRequest {
    struct Button {
        int role = 0; // a MessageBoxContext::Button value
        QString label;
        MessageBoxContext::CallBack cb;
    };

    QString title;
    QString msg;
    int icon = 0; // a MessageBoxContext::Icon value
    QList<Button> buttons;

    // Lenient: missing keys read as empty; lists of unequal length give as many
    // buttons as the "buttons" list has, with empty labels or callbacks.
    static MessageBoxRequest fromMap(const QVariantMap &e);

    QList<int> roles() const;
    bool hasButton(int role) const;
    // Hands the callback of the first button with this role to ctx->callBack,
    // on the calling thread. False when the box has no such button.
    bool press(int role, MessageBoxContext *ctx) const;
};
