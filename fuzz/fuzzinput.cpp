#include "fuzzinput.h"

#include <QJsonArray>

FuzzInput::FuzzInput(const uint8_t *data, size_t size)
    : provider(data, size)
{}

bool FuzzInput::exhausted()
{
    return provider.remaining_bytes() == 0;
}

bool FuzzInput::flag()
{
    return provider.ConsumeBool();
}

int FuzzInput::number(int min, int max)
{
    return provider.ConsumeIntegralInRange<int>(min, max);
}

QByteArray FuzzInput::bytes(int maxLength)
{
    return QByteArray::fromStdString(provider.ConsumeRandomLengthString(size_t(maxLength)));
}

QByteArray FuzzInput::remainingBytes()
{
    return QByteArray::fromStdString(provider.ConsumeRemainingBytesAsString());
}

QString FuzzInput::text(const QStringList &words, int maxLength)
{
    if (!words.isEmpty() && number(0, 3) != 0)
        return words.at(number(0, int(words.size()) - 1));
    return QString::fromUtf8(bytes(maxLength));
}

QJsonValue FuzzInput::value(const QStringList &words, int depth)
{
    switch (number(0, depth > 0 ? 7 : 5)) {
    case 0:
        return QJsonValue::Null;
    case 1:
        return flag();
    case 2:
        return number(-70000, 70000);
    case 3:
        return provider.ConsumeFloatingPoint<double>();
    case 4:
    case 5:
        return text(words);
    case 6: {
        QJsonArray array;
        for (int i = number(0, 4); i > 0; --i)
            array.append(value(words, depth - 1));
        return array;
    }
    default:
        return object(words, words, depth - 1);
    }
}

QJsonObject FuzzInput::object(const QStringList &keys, const QStringList &words, int depth)
{
    QJsonObject result;
    for (int i = number(0, int(keys.size()) + 1); i > 0 && !exhausted(); --i)
        result.insert(text(keys, 12), value(words, depth));
    return result;
}
