#include "ToastContext.h"

#include "AppSingleton.h"

ToastContext::ToastContext(QObject *parent) : QObject(parent)
{
}

ToastContext::~ToastContext()
{
    AppSingleton<ToastContext>::release(this);
}

ToastContext *ToastContext::instance()
{
    return AppSingleton<ToastContext>::instance();
}
