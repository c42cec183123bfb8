/* Reading and writing the line map. */
#include "LineMap.h"

#include <QFile>

#include <climits>

#include "Gbk.h"
#include "LineText.h"
#include "SaveFile.h"

namespace {

/* The C library's white space; GBK trail bytes are never among these. */
bool IsBlank(char c)
{
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

void SkipBlanks(const QByteArray &text, qsizetype *pos)
{
  while (*pos < text.size() && IsBlank(text[*pos]))
    ++*pos;
}

QByteArray Word(const QByteArray &text, qsizetype *pos)
{
  SkipBlanks(text, pos);
  const qsizetype start = *pos;
  while (*pos < text.size() && !IsBlank(text[*pos]))
    ++*pos;
  return text.mid(start, *pos - start);
}

/* A decimal integer as the C library's "%d" reads it: blanks, a sign, digits;
 * whatever follows the digits belongs to the next field. */
bool Integer(const QByteArray &text, qsizetype *pos, int *value)
{
  SkipBlanks(text, pos);
  qsizetype i = *pos;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-'))
    negative = text[i++] == '-';
  const qsizetype digits = i;
  long long v = 0;
  while (i < text.size() && text[i] >= '0' && text[i] <= '9') {
    v = v * 10 + (text[i++] - '0');
    if (v > static_cast<long long>(INT_MAX) + 1)
      return false;
  }
  if (i == digits)
    return false;
  if (negative)
    v = -v;
  if (v > INT_MAX || v < INT_MIN)
    return false;
  *value = static_cast<int>(v);
  *pos = i;
  return true;
}

} // namespace

bool ParseLineMapLine(const QByteArray &line, LineMapEntry *entry)
{
  qsizetype pos = 0;
  const QByteArray machine = Word(line, &pos);
  if (machine.isEmpty())
    return false;
  int lineId;
  if (!Integer(line, &pos, &lineId))
    return false;
  const QByteArray name = Word(line, &pos);
  if (name.isEmpty())
    return false;
  entry->machineId = machine.left(MACHINE_ID_MAX);
  entry->lineId = lineId;
  entry->name = FromGbk(name).left(LINE_NAME_MAX);
  return true;
}

bool ReadLineMap(const QString &path, QList<LineMapEntry> *entries)
{
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly))
    return false;
  entries->clear();
  // Whole lines, however long: a cut line would read its tail as another row.
  while (!file.atEnd()) {
    LineMapEntry entry;
    if (ParseLineMapLine(file.readLine(), &entry))
      entries->append(entry);
  }
  return true;
}

bool WriteLineMap(const QString &path, const QList<LineMapEntry> &entries, QString *reason)
{
  QByteArray text;
  for (const LineMapEntry &e : entries) {
    std::optional<QByteArray> name = ToGbk(e.name);
    if (!name)
      return RefuseWrite(reason, QStringLiteral("线路名称中有无法保存的字符"));
    text += e.machineId + ' ' + QByteArray::number(e.lineId) + ' ' + *name + '\n';
  }
  return ReplaceFile(path, text, reason);
}
