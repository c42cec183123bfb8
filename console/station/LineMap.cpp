/* Reading and writing the line map. */
#include "LineMap.h"

#include <QFile>

#include <algorithm>
#include <climits>

#include "Gbk.h"
#include "LineText.h"
#include "SaveFile.h"
#include "Words.h"

namespace {

/* A field in quotes from the opening quote at *pos: its bytes, with *pos past
 * the closing quote. The escapes are read byte by byte, as they are written:
 * a GBK trail byte that is a backslash was written doubled. */
std::optional<QByteArray> QuotedField(const QByteArray &text, qsizetype *pos)
{
  QByteArray bytes;
  for (qsizetype i = *pos + 1; i < text.size(); i++) {
    const char c = text[i];
    if (c == '"') {
      if (i + 1 < text.size() && !IsBlank(text[i + 1]))
        return std::nullopt;
      *pos = i + 1;
      return bytes;
    }
    if (c == '\\' && i + 1 < text.size()) {
      const char next = text[++i];
      bytes += next == 'n' ? '\n' : next == 'r' ? '\r' : next;
    } else {
      bytes += c;
    }
  }
  return std::nullopt;
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

}  // namespace

bool NeedsQuotes(const QByteArray &bytes)
{
  return bytes.startsWith('"') || std::any_of(bytes.begin(), bytes.end(), IsBlank);
}

QByteArray FileField(const QByteArray &bytes)
{
  if (!NeedsQuotes(bytes))
    return bytes;
  QByteArray field = "\"";
  for (const char c : bytes) {
    if (c == '\n')
      field += "\\n";
    else if (c == '\r')
      field += "\\r";
    else if (c == '"' || c == '\\')
      field += QByteArray("\\") + c;
    else
      field += c;
  }
  return field + '"';
}

std::optional<QByteArray> NextField(const QByteArray &line, qsizetype *pos, bool quoted)
{
  SkipBlanks(line, pos);
  if (quoted && *pos < line.size() && line[*pos] == '"')
    return QuotedField(line, pos);
  const QByteArray word = NextWord(line, pos);
  if (word.isEmpty())
    return std::nullopt;
  return word;
}

bool IsQuotedFieldsMark(const QByteArray &line)
{
  return line.trimmed() == QUOTED_FIELDS_MARK;
}

bool ParseLineMapLine(const QByteArray &line, LineMapEntry *entry, bool quoted)
{
  qsizetype pos = 0;
  const std::optional<QByteArray> machine = NextField(line, &pos, quoted);
  if (!machine || machine->isEmpty())
    return false;
  int lineId;
  if (!Integer(line, &pos, &lineId))
    return false;
  const std::optional<QByteArray> name = NextField(line, &pos, quoted);
  if (!name || name->isEmpty())
    return false;
  entry->machineId = machine->left(MACHINE_ID_MAX);
  entry->lineId = lineId;
  entry->name = FromGbk(*name).left(LINE_NAME_MAX);
  return true;
}

bool ReadLineMap(const QString &path, QList<LineMapEntry> *entries)
{
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly))
    return false;
  entries->clear();
  // Whole lines, however long: a cut line would read its tail as another row.
  bool quoted = false;
  for (bool first = true; !file.atEnd(); first = false) {
    const QByteArray line = file.readLine();
    LineMapEntry entry;
    if (first && IsQuotedFieldsMark(line))
      quoted = true;
    else if (ParseLineMapLine(line, &entry, quoted))
      entries->append(entry);
  }
  return true;
}

bool WriteLineMap(const QString &path, const QList<LineMapEntry> &entries, QString *reason)
{
  QByteArray text;
  bool quoted = false;
  for (const LineMapEntry &e : entries) {
    std::optional<QByteArray> name = ToGbk(e.name);
    if (!name)
      return RefuseWrite(reason, QStringLiteral("线路名称中有无法保存的字符"));
    quoted = quoted || NeedsQuotes(e.machineId) || NeedsQuotes(*name);
    text += FileField(e.machineId) + ' ' + QByteArray::number(e.lineId) + ' ' + FileField(*name) + '\n';
  }
  // Without a quoted field the file is as earlier releases wrote it.
  return ReplaceFile(path, quoted ? QUOTED_FIELDS_MARK "\n" + text : text, reason);
}
