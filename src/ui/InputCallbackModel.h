// Brings a user's input back to the model that asked for it: a model emits a
// signal carrying a Callback, and the screen (or a headless driver) hands the
// callback back through callback() with the values entered (a password, a
// chosen folder; an empty list when the user cancelled).
#pragma once

#include <QMetaType>
#include <QObject>
#include <QVariantList>

#include <functional>

class InputCallbackModel : public QObject {
    Q_OBJECT
public:
    // May be empty. The callable must cope with any list, including an empty one.
    struct Callback {
        Callback() = default;
        Callback(std::function<void(const QVariantList &)> f) : fn(std::move(f)) {}
        explicit operator bool() const { return bool(fn); }
        std::function<void(const QVariantList &)> fn;
    };

    explicit InputCallbackModel(QObject *parent = nullptr);
    ~InputCallbackModel() override;

    // The application-wide object; null without an application object.
    static InputCallbackModel *instance();

    // Runs cb's callable, if any, with params on the calling thread.
    Q_INVOKABLE void callback(InputCallbackModel::Callback cb, QVariantList params);
};

Q_DECLARE_METATYPE(InputCallbackModel::Callback)
