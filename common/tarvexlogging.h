#pragma once

#include <QLoggingCategory>

// One category per area, so a user can filter with QT_LOGGING_RULES
// ("tarvex.backend.info=false") without the log text changing.
Q_DECLARE_LOGGING_CATEGORY(lcTarvexProtocol)
Q_DECLARE_LOGGING_CATEGORY(lcTarvexParser)
Q_DECLARE_LOGGING_CATEGORY(lcTarvexBackend)
Q_DECLARE_LOGGING_CATEGORY(lcTarvexService)
Q_DECLARE_LOGGING_CATEGORY(lcTarvexClient)
Q_DECLARE_LOGGING_CATEGORY(lcTarvexVendorApi)
