/* The receipt's text, its layout over the pages of a device, and the PDF file
 * a receipt is kept in when there is no printer. */
#include "Receipt.h"

#include <QAbstractTextDocumentLayout>
#include <QBuffer>
#include <QDir>
#include <QFileInfo>
#include <QPagedPaintDevice>
#include <QPainter>
#include <QStringList>
#include <QPdfWriter>
#include <QTextDocument>

#include <algorithm>
#include <cmath>
#include <memory>

#include "BillText.h"
#include "DisplayLocale.h"
#include "SaveFile.h"

namespace {

constexpr qreal kPaperMm = 80; /* the common receipt roll; 58 mm paper takes it narrower */
constexpr qreal kTextMm = 72;  /* the text on 80 mm paper, and its width on wider pages */
constexpr qreal kMarginMm = 4;
constexpr qreal kFontPoints = 9; /* what receipt printers print, readable on A4 */
constexpr int kPdfResolution = 300;

qreal Pixels(qreal mm, int dpi)
{
  return mm * dpi / 25.4;
}

QString Escaped(const QString &text)
{
  return text.toHtmlEscaped();
}

/* A table row: text on the left, an amount on the right. */
QString Row(const QString &left, const QString &right, bool bold = false)
{
  const QString row = QStringLiteral("<tr><td>%1</td><td align=\"right\">%2</td></tr>");
  if (bold)
    return row.arg(QStringLiteral("<b>%1</b>").arg(left), QStringLiteral("<b>%1</b>").arg(right));
  return row.arg(left, right);
}

/* The receipt laid out width pixels wide, in the device's measure. */
std::unique_ptr<QTextDocument> Layout(const Receipt &receipt, QPaintDevice *device, qreal width)
{
  auto doc = std::make_unique<QTextDocument>();
  doc->documentLayout()->setPaintDevice(device);
  QFont font = doc->defaultFont();
  font.setPointSizeF(kFontPoints);
  doc->setDefaultFont(font);
  doc->setDocumentMargin(0);
  doc->setHtml(ReceiptHtml(receipt));
  doc->setTextWidth(width);
  return doc;
}

}  // namespace

QString ReceiptHtml(const Receipt &r)
{
  QStringList head;
  if (!r.shopName.isEmpty())
    head << QStringLiteral("<b><font size=\"+2\">%1</font></b>").arg(Escaped(r.shopName));
  if (!r.address.isEmpty())
    head << Escaped(r.address);
  if (!r.phone.isEmpty())
    head << QStringLiteral("电话：") + Escaped(r.phone);
  if (r.reprint)
    head << QStringLiteral("（补打小票）");

  QString html;
  if (!head.isEmpty())
    html += QStringLiteral("<p align=\"center\">%1</p><hr>").arg(head.join(QStringLiteral("<br>")));
  const QString number =
      r.number > 0 ? QStringLiteral("单号：%1<br>").arg(r.number, 6, 10, QLatin1Char('0')) : QString();
  html += QStringLiteral("<p>%4线路：%1<br>操作员：%2<br>时间：%3</p><hr>")
              .arg(Escaped(r.lineName), Escaped(r.operatorName), DateTimeText(r.time), number);
  html += QStringLiteral("<table width=\"100%\" cellspacing=\"0\" cellpadding=\"0\">");
  html += Row(QStringLiteral("号码"), QStringLiteral("金额"), true);
  for (const ReceiptCall &call : r.calls) {
    html += Row(Escaped(call.number), AmountText(call.amount));
    // Begin and duration go below the number: a narrow roll has no room beside it.
    html += QStringLiteral("<tr><td colspan=\"2\"><font size=\"-1\">%1　%2</font></td></tr>")
                .arg(Escaped(call.start), DurationText(call.seconds));
    if (!call.breakdown.isEmpty())
      html += QStringLiteral("<tr><td colspan=\"2\"><font size=\"-1\">%1</font></td></tr>")
                  .arg(Escaped(call.breakdown).replace(QLatin1Char('\n'), QStringLiteral("<br>")));
  }
  html += QStringLiteral("</table><hr>");
  html += QStringLiteral("<table width=\"100%\" cellspacing=\"0\" cellpadding=\"0\">");
  html += Row(QStringLiteral("合计（%1次通话）").arg(r.calls.size()), AmountText(r.total), true);
  if (r.deposit > 0) {
    // As the checkout showed it: the deposit paid, then what was paid on top.
    const Settlement settled = SettlementOf(r.total, r.deposit, r.paid);
    html += Row(QStringLiteral("押金"), AmountText(r.deposit));
    if (r.paid > 0)
      html += Row(QStringLiteral("补交"), AmountText(r.paid));
    html += Row(settled.caption, AmountText(settled.amount));
  } else {
    html += Row(QStringLiteral("已付"), AmountText(r.paid));
    // Settled for less than was due: the rest is owed, not a negative change.
    if (r.change < 0)
      html += Row(QStringLiteral("欠款"), AmountText(-r.change));
    else
      html += Row(QStringLiteral("找零"), AmountText(r.change));
  }
  if (r.refunded > 0)
    html += Row(QStringLiteral("已退款"), AmountText(r.refunded));
  html += QStringLiteral("</table>");
  if (!r.footer.isEmpty())
    html += QStringLiteral("<hr><p align=\"center\">%1</p>").arg(Escaped(r.footer));
  return html;
}

bool PaintReceipt(QPagedPaintDevice *device, const Receipt &receipt)
{
  const int dpi = device->logicalDpiX();
  const QRectF area = device->pageLayout().paintRectPixels(dpi);
  const qreal width = std::min(area.width(), Pixels(kTextMm, dpi));
  const qreal height = area.height();
  std::unique_ptr<QTextDocument> doc = Layout(receipt, device, width);
  doc->setPageSize(QSizeF(width, height));

  QPainter painter;
  if (!painter.begin(device))
    return false;
  const qreal left = (area.width() - width) / 2;
  for (int page = 0; page < doc->pageCount(); page++) {
    if (page > 0 && !device->newPage())
      return false;
    painter.save();
    painter.translate(left, -page * height);
    doc->drawContents(&painter, QRectF(0, page * height, width, height));
    painter.restore();
  }
  return painter.end();
}

QPageSize ReceiptPageSize(const Receipt &receipt)
{
  // Measured as the PDF writer will measure it.
  QBuffer sink;
  sink.open(QIODevice::WriteOnly);
  QPdfWriter probe(&sink);
  probe.setResolution(kPdfResolution);
  const std::unique_ptr<QTextDocument> doc = Layout(receipt, &probe, Pixels(kTextMm, kPdfResolution));
  const qreal textMm = doc->size().height() * 25.4 / kPdfResolution;
  return QPageSize(QSizeF(kPaperMm, std::ceil(textMm + 2 * kMarginMm + 1)), QPageSize::Millimeter,
                   QStringLiteral("小票"), QPageSize::ExactMatch);
}

QMarginsF ReceiptMargins()
{
  return QMarginsF(kMarginMm, kMarginMm, kMarginMm, kMarginMm);
}

bool WriteReceiptPdf(const QString &path, const Receipt &receipt, QString *reason)
{
  QBuffer buffer;
  buffer.open(QIODevice::WriteOnly);
  {
    QPdfWriter writer(&buffer);
    writer.setResolution(kPdfResolution);
    writer.setTitle(QStringLiteral("小票"));
    writer.setCreator(QStringLiteral("Mirolt"));
    writer.setPageLayout(
        QPageLayout(ReceiptPageSize(receipt), QPageLayout::Portrait, ReceiptMargins(), QPageLayout::Millimeter));
    if (!PaintReceipt(&writer, receipt))
      return RefuseWrite(reason, QStringLiteral("无法生成 PDF 文件"));
  }
  const QString folder = QFileInfo(path).absolutePath();
  if (!QDir().mkpath(folder))
    return RefuseWrite(reason, QStringLiteral("无法建立文件夹 %1").arg(folder));
  return ReplaceFile(path, buffer.data(), reason);
}

QString ReceiptPdfPath(const QString &folder, const QDateTime &time)
{
  const QString stem = QStringLiteral("小票-") + time.toString(QStringLiteral("yyyyMMdd-HHmmss"));
  const QDir dir(folder);
  QString name = stem + QStringLiteral(".pdf");
  for (int n = 2; QFileInfo::exists(dir.filePath(name)); n++)
    name = stem + QStringLiteral("-%1.pdf").arg(n);
  return dir.filePath(name);
}
