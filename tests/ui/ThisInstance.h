// This test process as a whole instance named "me" beside model_peer
// processes: its own data folder, an identity on a free port, the catalogue,
// the share store, the services running and the application-wide models made.
#pragma once

#include "ModelPeerProcess.h"
#include "TempDataHome.h"

#include "core/ServerInfo.h"
#include "store/ShareFilesDb.h"
#include "ui/Catalogue.h"
#include "ui/DevicesModel.h"
#include "ui/ServerModel.h"
#include "ui/TaskMgrModel.h"

#include <QtTest>

#include <memory>

// Fills home. A failure is a test failure: check QTest::currentTestFailed() after it.
inline void startThisInstance(std::unique_ptr<TempDataHome> &home)
{
    home = std::make_unique<TempDataHome>();
    ServerInfo me = loadServerInfo();
    me.name = "me";
    me.port = freePort();
    QVERIFY(saveServerInfo(me));
    QVERIFY(installCatalogue(QCoreApplication::instance()));
    QVERIFY(ShareFilesDb::instance().open());
    ServerModel::instance()->start();
    QVERIFY(QTest::qWaitFor([] { return ServerModel::instance()->httpServer().isListening(); }, 10000));
    QVERIFY(TaskMgrModel::instance());
    QVERIFY(DevicesModel::instance());
}
