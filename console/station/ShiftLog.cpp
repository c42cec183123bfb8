/* Reading and writing the shift record, and the locale-free money texts. */
#include "ShiftLog.h"

#include <QFile>

#include <cfloat>
#include <cmath>
#include <cstdio>
#include <locale.h>
#include <stdlib.h>

#include "Gbk.h"
#include "SaveFile.h"

namespace {

bool IsBlank(char c)
{
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

/* The next blank-separated word of text from *pos on; empty at the end. */
QByteArray NextWord(const QByteArray &text, qsizetype *pos)
{
  qsizetype i = *pos;
  while (i < text.size() && IsBlank(text[i]))
    i++;
  qsizetype start = i;
  while (i < text.size() && !IsBlank(text[i]))
    i++;
  *pos = i;
  return text.mid(start, i - start);
}

/* Qt applications run under the user's locale, where the decimal mark may be
 * a comma; money texts always have a point. */
locale_t CLocale()
{
  static const locale_t c = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(0));
  return c;
}

} // namespace

double ParseDecimal(const QByteArray &word)
{
  double value = strtod_l(word.constData(), nullptr, CLocale());
  return std::isfinite(value) ? value : 0.0;
}

QString FormatMoney(float amount)
{
  // The C library's rounding, as the engine's amounts have: Qt's own
  // formatting rounds an exact half up (0.125 to 0.13) where printf gives 0.12.
  char text[64];
  locale_t previous = uselocale(CLocale());
  std::snprintf(text, sizeof text, "%.02f", static_cast<double>(amount));
  uselocale(previous);
  return QString::fromLatin1(text);
}

bool ReadLastLog(const QString &path, const QString &operatorName, float *total)
{
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly))
    return false;
  const QByteArray line = file.readLine();
  qsizetype pos = 0;
  const QByteArray name = NextWord(line, &pos);
  const QByteArray amount = NextWord(line, &pos);
  if (name.isEmpty() || amount.isEmpty())
    return false;
  std::optional<QByteArray> gbkName = ToGbk(operatorName);
  if (!gbkName || name != *gbkName)
    return false;
  // A float holds less than a double: an amount beyond its range would turn
  // into an infinite total, which every later checkout would keep.
  const double value = ParseDecimal(amount);
  *total = std::fabs(value) <= FLT_MAX ? static_cast<float>(value) : 0.0f;
  return true;
}

bool WriteLastLog(const QString &path, const QString &operatorName, float total,
                  QString *reason)
{
  std::optional<QByteArray> gbkName = ToGbk(operatorName);
  if (!gbkName)
    return RefuseWrite(reason, QStringLiteral("操作员名中有无法保存的字符"));
  return ReplaceFile(path, *gbkName + ' ' + FormatMoney(total).toLatin1(), reason);
}
