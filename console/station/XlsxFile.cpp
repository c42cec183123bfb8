/* Writing Excel workbooks through libxlsxwriter. */
#include "XlsxFile.h"

#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <xlsxwriter.h>

#include "SaveFile.h"

namespace {

/* The longest text a cell holds. */
const int kCellTextMax = 32767;
/* Column widths in characters of the default font; a CJK character takes two. */
const int kColumnWidthMin = 8;
const int kColumnWidthMax = 50;

int DisplayWidth(const QString &text)
{
  int width = 0;
  for (const QChar c : text)
    width += c.unicode() >= 0x2E80 ? 2 : 1;
  return width;
}

/* A figure as the console writes it: "12", "-0.30", "1.6". */
bool IsPlainDecimal(const QString &text)
{
  static const QRegularExpression decimal(QStringLiteral("^-?[0-9]{1,15}(\\.[0-9]{1,6})?$"));
  return decimal.match(text).hasMatch();
}

/* Closes the workbook, whatever becomes of it, when the writer leaves. */
struct Workbook {
  lxw_workbook *book;
  ~Workbook()
  {
    if (book)
      workbook_close(book);
  }
  lxw_error close()
  {
    lxw_workbook *b = book;
    book = nullptr;
    return workbook_close(b);
  }
};

lxw_format *NewFormat(lxw_workbook *book, const char *numbers, bool bold = false)
{
  lxw_format *format = workbook_add_format(book);
  format_set_num_format(format, numbers);
  if (bold)
    format_set_bold(format);
  return format;
}

}  // namespace

CellKind CellKindOf(const QString &heading)
{
  for (const char *amount : {"金额", "押金", "话费", "实收", "找零", "退款", "收入"}) {
    if (heading.contains(QString::fromUtf8(amount)))
      return CellKind::Amount;
  }
  if (heading.contains(QStringLiteral("分钟")))
    return CellKind::Minutes;
  if (heading.endsWith(QStringLiteral("次数")) || heading.endsWith(QStringLiteral("笔数")) ||
      heading == QStringLiteral("通话时长"))
    return CellKind::Count;
  return CellKind::Text;
}

bool WriteXlsxFile(const QString &path, const QString &sheet, const QList<QStringList> &rows, QString *reason)
{
  // The library writes a file of its own making; it takes the target's place
  // only when it is complete.
  QTemporaryDir scratch;
  if (!scratch.isValid())
    return RefuseWrite(reason, QStringLiteral("无法创建临时文件"));
  const QByteArray scratchDir = QFile::encodeName(scratch.path());
  const QByteArray made = QFile::encodeName(scratch.filePath(QStringLiteral("export.xlsx")));
  lxw_workbook_options options = {};
  options.tmpdir = const_cast<char *>(scratchDir.constData());
  Workbook wb{workbook_new_opt(made.constData(), &options)};
  if (!wb.book)
    return RefuseWrite(reason, QStringLiteral("无法创建临时文件"));
  lxw_worksheet *ws = workbook_add_worksheet(wb.book, sheet.isEmpty() ? nullptr : sheet.toUtf8().constData());
  if (!ws)
    ws = workbook_add_worksheet(wb.book, nullptr);  // a name Excel refuses
  if (!ws)
    return RefuseWrite(reason, QStringLiteral("无法创建工作表"));

  lxw_format *heading = NewFormat(wb.book, "@", true);
  lxw_format *text = NewFormat(wb.book, "@");
  lxw_format *amount = NewFormat(wb.book, "0.00");
  lxw_format *count = NewFormat(wb.book, "0");
  lxw_format *minutes = NewFormat(wb.book, "0.0");

  QList<CellKind> kinds;
  QList<int> widths;
  if (!rows.isEmpty()) {
    for (const QString &h : rows.first()) {
      kinds.append(CellKindOf(h));
      widths.append(kColumnWidthMin);
    }
  }
  for (qsizetype r = 0; r < rows.size(); r++) {
    const QStringList &row = rows[r];
    for (qsizetype c = 0; c < row.size(); c++) {
      const QString &cell = row[c];
      const CellKind kind = r > 0 && c < kinds.size() ? kinds[c] : CellKind::Text;
      const auto rowNo = static_cast<lxw_row_t>(r);
      const auto colNo = static_cast<lxw_col_t>(c);
      if (c >= widths.size())
        widths.append(kColumnWidthMin);
      widths[c] = qMax(widths[c], DisplayWidth(cell) + 2);
      lxw_error rc = LXW_NO_ERROR;
      if (kind != CellKind::Text && IsPlainDecimal(cell)) {
        lxw_format *format = kind == CellKind::Amount ? amount : kind == CellKind::Minutes ? minutes : count;
        rc = worksheet_write_number(ws, rowNo, colNo, cell.toDouble(), format);
      } else if (cell.isEmpty()) {
        rc = worksheet_write_blank(ws, rowNo, colNo, r == 0 ? heading : text);
      } else {
        rc = worksheet_write_string(ws, rowNo, colNo, cell.left(kCellTextMax).toUtf8().constData(),
                                    r == 0 ? heading : text);
      }
      if (rc != LXW_NO_ERROR)
        return RefuseWrite(reason, QString::fromUtf8(lxw_strerror(rc)));
    }
  }
  for (qsizetype c = 0; c < widths.size(); c++)
    worksheet_set_column(ws, static_cast<lxw_col_t>(c), static_cast<lxw_col_t>(c), qMin(widths[c], kColumnWidthMax),
                         nullptr);
  worksheet_freeze_panes(ws, 1, 0);

  const lxw_error rc = wb.close();
  if (rc != LXW_NO_ERROR)
    return RefuseWrite(reason, QString::fromUtf8(lxw_strerror(rc)));
  QFile file(QFile::decodeName(made));
  if (!file.open(QIODevice::ReadOnly))
    return RefuseWrite(reason, QStringLiteral("无法读取临时文件"));
  return ReplaceFile(path, file.readAll(), reason);
}
