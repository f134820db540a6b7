// VpnConfigParser on what a server may hand out as a peer's configuration: any text, any
// JSON document behind a valid encoding, a compressed stream whose length prefix lies, and
// a peer map whose "config" is of any type.

#include "fuzzenvironment.h"
#include "fuzzinput.h"
#include "vpnconfigencoder.h"
#include "vpnconfigparser.h"
#include "vpnserviceprotocol.h"

#include <QJsonDocument>
#include <QVariantMap>

namespace {

enum class Form { Text, Document, LyingLength, Stream, PeerMap, Count };

QString urlBase64(const QByteArray &bytes)
{
    return QStringLiteral("vpn://") +
           QString::fromLatin1(
               bytes.toBase64(QByteArray::Base64UrlEncoding | QByteArray::OmitTrailingEquals));
}

bool sameConfig(const ParsedVpnConfig &a, const ParsedVpnConfig &b)
{
    return VpnServiceProtocol::parsedConfigToJson(a) == VpnServiceProtocol::parsedConfigToJson(b);
}

void checkResult(const VpnConfigParseResult &result)
{
    FuzzEnvironment::require(result.ok == result.error.isEmpty(), "ok exactly when no error",
                             result.error.toUtf8());
    if (!result.ok)
        return;
    const ParsedVpnConfig &config = result.config;
    FuzzEnvironment::require(!config.protocolName.isEmpty() && !config.protocolConfig.isEmpty() &&
                                 !config.lastConfigRaw.isEmpty(),
                             "a parsed configuration names its protocol and client config");
    // What the client sends is what the daemon reads back.
    FuzzEnvironment::require(sameConfig(VpnServiceProtocol::parsedConfigFromJson(
                                            VpnServiceProtocol::parsedConfigToJson(config)),
                                        config),
                             "the wire form of a parsed configuration reads back unchanged");
    // The encoder the vendor API and the fixtures use produces what the parser reads.
    const VpnConfigParseResult again =
        VpnConfigParser::parseConfig(VpnConfigEncoder::encode(result.document));
    FuzzEnvironment::require(again.ok && sameConfig(again.config, config),
                             "encoding a parsed document gives the same configuration",
                             QJsonDocument(result.document).toJson(QJsonDocument::Compact));
}

QVariant peerConfigValue(FuzzInput &input)
{
    switch (input.number(0, 5)) {
    case 0:
        return QString::fromUtf8(input.remainingBytes());
    case 1:
        return input.remainingBytes();
    case 2:
        return input.number(-1000, 1000);
    case 3:
        return QVariantList{QString::fromUtf8(input.remainingBytes())};
    case 4:
        return QVariantMap{{QStringLiteral("config"), QString::fromUtf8(input.remainingBytes())}};
    default:
        return QVariant();
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    FuzzInput input(data, size);
    VpnConfigParseResult result;
    switch (Form(input.number(0, int(Form::Count) - 1))) {
    case Form::Text:
        result = VpnConfigParser::parseConfig(QString::fromUtf8(input.remainingBytes()));
        break;
    case Form::Document:
        result =
            VpnConfigParser::parseConfig(VpnConfigEncoder::encodeBytes(input.remainingBytes()));
        break;
    case Form::LyingLength: {
        // Qt's compressed form starts with the uncompressed size, which the parser may not
        // trust: the four bytes here say anything.
        const QByteArray prefix = input.bytes(4).leftJustified(4, '\0', true);
        const QByteArray stream = qCompress(input.remainingBytes()).mid(4);
        result = VpnConfigParser::parseConfig(urlBase64(prefix + stream));
        break;
    }
    case Form::Stream:
        result = VpnConfigParser::parseConfig(urlBase64(input.remainingBytes()));
        break;
    case Form::PeerMap:
    case Form::Count: {
        QVariantMap peer{{QStringLiteral("name"), QStringLiteral("peer")}};
        if (input.flag())
            peer.insert(QStringLiteral("config"), peerConfigValue(input));
        result = VpnConfigParser::parsePeerConfig(peer);
        break;
    }
    }
    checkResult(result);
    return 0;
}
