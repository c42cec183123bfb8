/* GBK conversions between the console's files and its windows. */
#include "Gbk.h"

#include <QStringDecoder>
#include <QStringEncoder>

namespace {


/* Made once per thread: finding a converter by its name costs more than
 * converting a name, and a rate table converts tens of thousands. Each use
 * starts from a clean state, so one text's error is never another's. */
QStringEncoder &GbkEncoder()
{
  thread_local QStringEncoder encoder("GBK", QStringConverter::Flag::Stateless);
  encoder.resetState();
  return encoder;
}

QStringDecoder &GbkDecoder()
{
  thread_local QStringDecoder decoder("GBK", QStringConverter::Flag::Stateless);
  decoder.resetState();
  return decoder;
}

} // namespace

std::optional<QByteArray> ToGbk(const QString &text)
{
  QStringEncoder &encoder = GbkEncoder();
  QByteArray bytes = encoder.encode(text);
  if (!encoder.isValid() || encoder.hasError())
    return std::nullopt;
  return bytes;
}

QString FromGbk(const QByteArray &bytes)
{
  return GbkDecoder().decode(bytes);
}
