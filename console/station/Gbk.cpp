/* GBK conversions between the console's files and its windows. */
#include "Gbk.h"

#include <QStringDecoder>
#include <QStringEncoder>

#include <optional>

#include "utils/text.h"

namespace {

/* Made once per thread: finding a converter by its name costs more than
 * converting a name, and a rate table converts tens of thousands. A stateless
 * converter carries nothing from one text to the next but its error flag, so
 * one that met an error is made anew in place (with Qt 6.4 a converter reset
 * or assigned over refuses every later text). */
QStringEncoder &GbkEncoder()
{
  thread_local std::optional<QStringEncoder> encoder;
  if (!encoder || encoder->hasError())
    encoder.emplace("GBK", QStringConverter::Flag::Stateless);
  return *encoder;
}

QStringDecoder &GbkDecoder()
{
  thread_local std::optional<QStringDecoder> decoder;
  if (!decoder || decoder->hasError())
    decoder.emplace("GBK", QStringConverter::Flag::Stateless);
  return *decoder;
}

}  // namespace

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

QByteArray GbkCut(const QByteArray &bytes, qsizetype max)
{
  if (max <= 0)
    return QByteArray();
  return bytes.left(static_cast<qsizetype>(
      utils::gbk_fit(bytes.constData(), static_cast<size_t>(bytes.size()), static_cast<size_t>(max))));
}
