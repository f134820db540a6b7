#pragma once

#include <fuzzer/FuzzedDataProvider.h>

#include <QByteArray>
#include <QJsonObject>
#include <QJsonValue>
#include <QString>
#include <QStringList>

// The fuzzer's bytes read as decisions: numbers, texts, and JSON values of every type, so
// that a target reaches every command and field with every kind of value.
class FuzzInput
{
public:
    FuzzInput(const uint8_t *data, size_t size);

    bool exhausted();
    bool flag();
    int number(int min, int max);
    QByteArray bytes(int maxLength);
    QByteArray remainingBytes();
    // Mostly one of the words, sometimes arbitrary text (control characters included).
    QString text(const QStringList &words = {}, int maxLength = 24);
    // Any JSON value, nested at most depth levels, with keys and strings from words.
    QJsonValue value(const QStringList &words = {}, int depth = 2);
    // An object holding a fuzzer-chosen selection of the keys (or other texts), each with a
    // value of any type.
    QJsonObject object(const QStringList &keys, const QStringList &words = {}, int depth = 2);

private:
    FuzzedDataProvider provider;
};
