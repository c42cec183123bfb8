/* The reprint dialog: the preview of the last receipt on the page it will be
 * printed on, the printer's own page when there is a printer and the
 * receipt's PDF page otherwise. */
#include "ReceiptDlg.h"

#include <QHBoxLayout>
#include <QPrintPreviewWidget>
#include <QPrinter>
#include <QPrinterInfo>
#include <QPushButton>
#include <QShowEvent>
#include <QVBoxLayout>

#include "ReceiptPrint.h"

TReceiptDlg::TReceiptDlg(QWidget *parent) : QDialog(parent), m_printer(new QPrinter(QPrinter::HighResolution))
{
  setObjectName(QStringLiteral("ReceiptDlg"));
  setWindowTitle(QStringLiteral("重打小票"));
  resize(460, 640);

  Preview = new QPrintPreviewWidget(m_printer, this);
  Preview->setObjectName(QStringLiteral("Preview"));
  Preview->setZoomMode(QPrintPreviewWidget::FitToWidth);
  OKBtn = new QPushButton(QStringLiteral("打印"), this);
  OKBtn->setObjectName(QStringLiteral("OKBtn"));
  OKBtn->setDefault(true);
  CancelBtn = new QPushButton(QStringLiteral("关闭"), this);
  CancelBtn->setObjectName(QStringLiteral("CancelBtn"));

  auto *buttons = new QHBoxLayout;
  buttons->addStretch();
  buttons->addWidget(OKBtn);
  buttons->addWidget(CancelBtn);
  auto *layout = new QVBoxLayout(this);
  layout->addWidget(Preview, 1);
  layout->addLayout(buttons);

  connect(Preview, &QPrintPreviewWidget::paintRequested, this, &TReceiptDlg::PreviewPaint);
  connect(OKBtn, &QPushButton::clicked, this, &QDialog::accept);
  connect(CancelBtn, &QPushButton::clicked, this, &QDialog::reject);
}

TReceiptDlg::~TReceiptDlg()
{
  // The preview paints on the printer until it goes.
  delete Preview;
  delete m_printer;
}

void TReceiptDlg::Keep(const Receipt &receipt)
{
  m_receipt = receipt;
  m_kept = true;
}

Receipt TReceiptDlg::Reprint() const
{
  Receipt again = m_receipt;
  again.reprint = true;
  return again;
}

void TReceiptDlg::showEvent(QShowEvent *event)
{
  QDialog::showEvent(event);
  if (!event->spontaneous())
    FormShow();
}

void TReceiptDlg::FormShow()
{
  if (HavePrinter()) {
    m_printer->setOutputFormat(QPrinter::NativeFormat);
    m_printer->setPrinterName(QPrinterInfo::defaultPrinter().printerName());
  } else {
    m_printer->setOutputFormat(QPrinter::PdfFormat);
    m_printer->setPageLayout(
        QPageLayout(ReceiptPageSize(Reprint()), QPageLayout::Portrait, ReceiptMargins(), QPageLayout::Millimeter));
  }
  Preview->updatePreview();
}

void TReceiptDlg::PreviewPaint(QPrinter *printer)
{
  PaintReceipt(printer, Reprint());
}
