/* Writing CSV files. */
#include "CsvFile.h"

#include "SaveFile.h"

namespace {

bool LooksLikeFormula(const QByteArray &b)
{
  if (b.isEmpty())
    return false;
  if (b[0] == '=' || b[0] == '@')
    return true;
  const bool sign = b[0] == '+' || b[0] == '-';
  return sign && (b.size() == 1 || !((b[1] >= '0' && b[1] <= '9') || b[1] == '.'));
}

}  // namespace

QByteArray CsvField(const QString &text)
{
  QByteArray bytes = text.toUtf8();
  if (LooksLikeFormula(bytes))
    bytes.prepend('\'');
  const bool quoted = bytes.contains(',') || bytes.contains('"') || bytes.contains('\r') || bytes.contains('\n');
  if (!quoted)
    return bytes;
  return '"' + bytes.replace('"', "\"\"") + '"';
}

QByteArray CsvText(const QList<QStringList> &rows)
{
  QByteArray text("\xEF\xBB\xBF");
  for (const QStringList &row : rows) {
    for (qsizetype i = 0; i < row.size(); i++) {
      if (i)
        text += ',';
      text += CsvField(row[i]);
    }
    text += "\r\n";
  }
  return text;
}

bool WriteCsvFile(const QString &path, const QList<QStringList> &rows, QString *reason)
{
  return ReplaceFile(path, CsvText(rows), reason);
}
