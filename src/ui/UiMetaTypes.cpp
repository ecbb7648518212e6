#include "UiMetaTypes.h"

#include "InputCallbackModel.h"
#include "MessageBoxContext.h"
#include "MyTreeItemModel.h"

#include <mutex>

void registerUiMetaTypes()
{
    static std::once_flag once;
    std::call_once(once, [] {
        qRegisterMetaType<MessageBoxContext::CallBack>("MessageBoxContext::CallBack");
        qRegisterMetaType<InputCallbackModel::Callback>("InputCallbackModel::Callback");
        qRegisterMetaType<MyTreeItemModel::PNode>("MyTreeItemModel::PNode");
    });
}
