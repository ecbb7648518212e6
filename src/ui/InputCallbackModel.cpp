#include "InputCallbackModel.h"

#include "AppSingleton.h"
#include "UiMetaTypes.h"

InputCallbackModel::InputCallbackModel(QObject *parent) : QObject(parent)
{
    registerUiMetaTypes();
}

InputCallbackModel::~InputCallbackModel()
{
    AppSingleton<InputCallbackModel>::release(this);
}

InputCallbackModel *InputCallbackModel::instance()
{
    return AppSingleton<InputCallbackModel>::instance();
}

void InputCallbackModel::callback(InputCallbackModel::Callback cb, QVariantList params)
{
    if (cb.fn)
        cb.fn(params);
}
