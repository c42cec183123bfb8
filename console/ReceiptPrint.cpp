/* Printing a receipt, or keeping it as a PDF file when there is no printer. */
#include "ReceiptPrint.h"

#include <QDir>
#include <QPrintDialog>
#include <QPrinter>
#include <QPrinterInfo>

#include "Modal.h"
#include "SaveFile.h"

bool HavePrinter()
{
  return !QPrinterInfo::availablePrinterNames().isEmpty();
}

bool PrintReceipt(QWidget *parent, const Receipt &receipt, const QString &pdfFolder)
{
  const QString caption = QStringLiteral("打印小票");
  if (!HavePrinter()) {
    const QString path = ReceiptPdfPath(pdfFolder, receipt.time);
    QString reason;
    if (!WriteReceiptPdf(path, receipt, &reason)) {
      ShowMessage(parent, QStringLiteral("没有可用的打印机，小票也无法保存为 PDF 文件：%1").arg(reason),
                  QStringLiteral("错误"), QMessageBox::Critical);
      return false;
    }
    ShowMessage(parent,
                QStringLiteral("没有可用的打印机，小票已保存为 PDF 文件：\n%1").arg(QDir::toNativeSeparators(path)),
                caption, QMessageBox::Information);
    return true;
  }
  QPrinter printer(QPrinter::HighResolution);
  printer.setDocName(QStringLiteral("小票"));
  QPrintDialog dialog(&printer, parent);
  dialog.setObjectName(QStringLiteral("PrintDialog"));
  dialog.setWindowTitle(caption);
  if (ShowModal(&dialog) != QDialog::Accepted)
    return false;
  if (!PaintReceipt(&printer, receipt)) {
    ShowMessage(parent, QStringLiteral("打印机没有接受小票，请检查打印机"), QStringLiteral("错误"));
    return false;
  }
  return true;
}
