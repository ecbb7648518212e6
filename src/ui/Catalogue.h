// The English message catalogue compiled into the program: it turns the
// IDS_ keys of the models and screens into their English texts.
#pragma once

class QCoreApplication;

// Loads ":/lanferry_en_US.qm" into a translator owned by app and installs it.
// A missing catalogue leaves the keys as they are; answers whether it loaded.
bool installCatalogue(QCoreApplication *app);
