#include "tarvexlogging.h"

Q_LOGGING_CATEGORY(lcTarvexProtocol, "tarvex.protocol", QtInfoMsg)
Q_LOGGING_CATEGORY(lcTarvexParser, "tarvex.parser", QtInfoMsg)
Q_LOGGING_CATEGORY(lcTarvexBackend, "tarvex.backend", QtInfoMsg)
Q_LOGGING_CATEGORY(lcTarvexService, "tarvex.service", QtInfoMsg)
Q_LOGGING_CATEGORY(lcTarvexClient, "tarvex.client", QtInfoMsg)
Q_LOGGING_CATEGORY(lcTarvexVendorApi, "tarvex.vendorapi", QtInfoMsg)
