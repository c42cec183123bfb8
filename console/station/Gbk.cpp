/* GBK conversions between the console's files and its windows. */
#include "Gbk.h"

#include <QStringDecoder>
#include <QStringEncoder>

std::optional<QByteArray> ToGbk(const QString &text)
{
  QStringEncoder encoder("GBK", QStringConverter::Flag::Stateless);
  QByteArray bytes = encoder.encode(text);
  if (!encoder.isValid() || encoder.hasError())
    return std::nullopt;
  return bytes;
}

QString FromGbk(const QByteArray &bytes)
{
  QStringDecoder decoder("GBK", QStringConverter::Flag::Stateless);
  return decoder.decode(bytes);
}
