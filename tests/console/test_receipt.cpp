// Receipts and the shop settings: the "shopinfo" file read and rewritten, the
// receipt's text on the pages it is printed on, printing from the checkout
// and the reprint, the settings dialog, and the line denied after checkout.
#include <QAction>
#include <QBuffer>
#include <QCheckBox>
#include <QLineEdit>
#include <QPdfWriter>
#include <QProcess>
#include <QPushButton>
#include <QStandardPaths>

#include "BillFrm.h"
#include "EngineTest.h"
#include "Gbk.h"
#include "ReceiptPrint.h"
#include "ShopDlg.h"

namespace {

QByteArray gbk(const QString &text)
{
  return ToGbk(text).value();
}

/* The text of a PDF (its bytes, or its file's path) as pdftotext reads it,
 * laid out as on the page: a table's row on one line, a form feed after a page. */
QString pdfText(const QByteArray &pdf)
{
  const bool bytes = pdf.startsWith("%PDF");
  QProcess p;
  p.start(QStringLiteral("pdftotext"), {"-layout", bytes ? "-" : QString::fromUtf8(pdf), "-"});
  if (bytes)
    p.write(pdf);
  p.closeWriteChannel();
  p.waitForFinished(10000);
  return QString::fromUtf8(p.readAllStandardOutput());
}

/* The first of parts that text does not hold after the ones before it; empty
 * when it holds them all in this order. */
QString missingInOrder(const QString &text, const QStringList &parts)
{
  qsizetype at = 0;
  for (const QString &part : parts) {
    if ((at = text.indexOf(part, at)) < 0)
      return part;
    at += part.size();
  }
  return QString();
}

/* The receipts folder's PDF files. */
QStringList receiptFiles(const StationDir &dir)
{
  QStringList files;
  for (const QFileInfo &f : QDir(dir.file(RECEIPT_DIR)).entryInfoList({"*.pdf"}, QDir::Files))
    files << f.filePath();
  return files;
}

}  // namespace

class TestReceipt : public QObject {
  Q_OBJECT

  std::unique_ptr<StationFixture> s;

  /* The station logged in with the settings, and a line of it with calls. */
  QByteArray station(const QByteArray &shopinfo, TestLine *line, std::initializer_list<const char *> numbers)
  {
    s = std::make_unique<StationFixture>();
    if (!shopinfo.isEmpty())
      s->forms->dir.write(SHOPINFO_FILE, shopinfo);
    s->logIn();
    bool called = line->discovery();
    for (const char *n : numbers)
      called = called && line->call(n);
    s->main->PollLines();
    return called ? "" : "the line's calls were not stored";
  }

private slots:
  void cleanup()
  {
    if (s)
      s->forms->verifyScriptDone();
    s.reset();
  }

  void shopInfoFileIsReadAndRewritten_data()
  {
    QTest::addColumn<QByteArray>("before");  // null: no file
    QTest::addColumn<QString>("read");       // name|address|phone|footer|deny
    QTest::addColumn<QByteArray>("after");   // once the name is 小店 and the denial on
    const QByteArray shop = "name=" + gbk("小店") + "\n";
    QTest::newRow("no file") << QByteArray() << "||||0" << shop + "address=\nphone=\nfooter=\ndeny_after_checkout=1\n";
    QTest::newRow("every key")
        << gbk("name=张记\naddress=中山路1号\nphone=0571-1\nfooter=谢谢\ndeny_after_checkout=0\n")
        << "张记|中山路1号|0571-1|谢谢|0"
        << shop + gbk("address=中山路1号\nphone=0571-1\nfooter=谢谢\ndeny_after_checkout=1\n");
    QTest::newRow("other lines stay where they are")
        << gbk("# 打印机\nprinter=58\nname=A\n\nlogo=a.png\n") << "A||||0"
        << gbk("# 打印机\nprinter=58\n") + shop + "\nlogo=a.png\naddress=\nphone=\nfooter=\ndeny_after_checkout=1\n";
    QTest::newRow("blanks, CRLF, a key twice")
        << QByteArray(" name = A \r\nname=B\r\ndeny_after_checkout = Yes\r\nphone=1=2\r\n") << "B||1=2||1"
        << shop + "deny_after_checkout=1\nphone=1=2\naddress=\nfooter=\n";
  }
  void shopInfoFileIsReadAndRewritten()
  {
    QFETCH(QByteArray, before);
    QFETCH(QString, read);
    QFETCH(QByteArray, after);
    StationDir dir;
    if (!before.isNull())
      dir.write(SHOPINFO_FILE, before);
    ShopInfo info;
    QVERIFY(ReadShopInfo(dir.file(SHOPINFO_FILE), &info));
    QCOMPARE(QStringList({info.name, info.address, info.phone, info.footer, QString::number(info.denyAfterCheckout)})
                 .join(QLatin1Char('|')),
             read);
    info.name = QStringLiteral("小店\n");
    info.denyAfterCheckout = true;
    QVERIFY(WriteShopInfo(dir.file(SHOPINFO_FILE), info));
    QCOMPARE(dir.read(SHOPINFO_FILE), after);
    // A text without a GBK form leaves the file alone.
    info.footer = QStringLiteral("😀");
    QString reason;
    QVERIFY(!WriteShopInfo(dir.file(SHOPINFO_FILE), info, &reason));
    QCOMPARE(reason, QStringLiteral("店铺信息中有无法保存的字符"));
    QCOMPARE(dir.read(SHOPINFO_FILE), after);
  }

  void receiptReadsOnEveryPage_data()
  {
    QTest::addColumn<QSizeF>("page");  // millimetres; empty: the receipt's own PDF page
    QTest::addColumn<bool>("withShop");
    QTest::newRow("80 mm roll") << QSizeF() << true;
    QTest::newRow("58 mm roll") << QSizeF(58, 300) << true;
    QTest::newRow("A4") << QSizeF(210, 297) << true;
    QTest::newRow("no shop settings") << QSizeF() << false;
  }
  void receiptReadsOnEveryPage()
  {
    if (QStandardPaths::findExecutable(QStringLiteral("pdftotext")).isEmpty())
      QSKIP("pdftotext is missing (tools/bootstrap.sh installs poppler-utils)");
    QFETCH(QSizeF, page);
    QFETCH(bool, withShop);
    Receipt r;
    if (withShop) {
      r.shopName = QStringLiteral("海天话吧");
      r.address = QStringLiteral("中山路88号");
      r.phone = QStringLiteral("0571-88886666");
      r.footer = QStringLiteral("谢谢惠顾，欢迎再来");
    }
    r.lineName = QStringLiteral("终端01线路#1");
    r.operatorName = QStringLiteral("张三");
    r.time = QDateTime(QDate(2026, 12, 9), QTime(14, 5, 7));
    r.calls = {{"0105550001", "2026-12-09 14:03:05", 65, 120, {}}, {"0205550002", "2026-12-09 14:04:00", 3725, 60, {}}};
    r.total = 180;
    r.paid = 180;
    r.change = 180 - r.total;

    QByteArray pdf;
    QBuffer buffer(&pdf);
    buffer.open(QIODevice::WriteOnly);
    if (page.isEmpty()) {
      StationDir dir;
      QVERIFY(WriteReceiptPdf(dir.file("r.pdf"), r));
      pdf = dir.read("r.pdf");
    } else {
      QPdfWriter writer(&buffer);
      writer.setPageLayout(QPageLayout(QPageSize(page, QPageSize::Millimeter), QPageLayout::Portrait,
                                       QMarginsF(3, 3, 3, 3), QPageLayout::Millimeter));
      QVERIFY(PaintReceipt(&writer, r));
    }
    const QString text = pdfText(pdf);
    QCOMPARE(text.count(QLatin1Char('\f')), 1);
    QCOMPARE(text.contains(QStringLiteral("电话")), withShop);
    QStringList lines = {"线路：终端01线路#1",
                         "操作员：张三",
                         "时间：2026年12月9日 14:05:07",
                         "0105550001",
                         "1.20元",
                         "2026-12-09 14:03:05",
                         "1分5秒",
                         "0205550002",
                         "0.60元",
                         "1小时2分5秒",
                         "合计（2次通话）",
                         "1.80元",
                         "已付",
                         "1.80元",
                         "找零",
                         "0.00元"};
    if (withShop)
      lines = QStringList{"海天话吧", "中山路88号", "电话：0571-88886666"} + lines + QStringList{"谢谢惠顾"};
    QCOMPARE(missingInOrder(text, lines), QString());
  }

  void checkoutPrintsAndTheMenuReprints()
  {
    if (HavePrinter())
      QSKIP("this machine has a printer: receipts go to its print dialog, not to files");
    const QByteArray m = FreshMachine();
    TestLine line(m, 0);
    QCOMPARE(station(gbk("name=海天话吧\nfooter=欢迎再来\n"), &line, {"0105550001", "0205550002"}), QByteArray());
    Part(s->main, "Reprint")->trigger();
    QCOMPARE(s->forms->op.messages.last().text, QStringLiteral("还没有打印过小票"));

    // Too little paid, and the operator thinks better of it: nothing is
    // settled, and no receipt says otherwise.
    s->forms->op
        .then([](QDialog *dlg) {
          static_cast<TBillForm *>(dlg)->Money->setText(QStringLiteral("1"));
          ScriptedOperator::click("PrintBtn")(dlg);
          ScriptedOperator::click("CancelBtn")(dlg);
        })
        .then(ScriptedOperator::click("CancelBtn"));
    s->button(m, 0)->click();
    QVERIFY(receiptFiles(s->forms->dir).isEmpty());

    s->forms->op.then([](QDialog *dlg) {
      static_cast<TBillForm *>(dlg)->Money->setText(QStringLiteral("5"));
      static_cast<TBillForm *>(dlg)->BreakdownOnReceipt->setChecked(true);
      ScriptedOperator::click("PrintBtn")(dlg);
    });
    s->button(m, 0)->click();
    const QStringList files = receiptFiles(s->forms->dir);
    QCOMPARE(files.size(), 1);
    QCOMPARE(s->forms->op.messages.last().caption, QStringLiteral("打印小票"));
    QVERIFY(s->forms->op.messages.last().text.endsWith(files[0]));
    const QString first = pdfText(files[0].toUtf8());
    long long number = 0;
    quenta_selectCheckouts(
        "0000", "9999", nullptr,
        [](void *r, void *p) { *static_cast<long long *>(p) = static_cast<const checkout_info *>(r)->m_number; },
        &number);
    QVERIFY(number > 0);
    QCOMPARE(
        missingInOrder(first, {"海天话吧", QStringLiteral("单号：%1").arg(number, 6, 10, QLatin1Char('0')),
                               "操作员：admin", "0105550001", "1.20元", "费率：A", "手续费：0.20元", "合计：1.20元",
                               "0205550002", "0.60元", "合计（2次通话）", "1.80元", "5.00元", "3.20元", "欢迎再来"}),
        QString());
    QVERIFY(!first.contains(QStringLiteral("补打")));
    Receipt shortPaid;  // settled for less: what is owed, never a negative change
    shortPaid.total = 120, shortPaid.paid = 100, shortPaid.change = -20;
    QVERIFY(ReceiptHtml(shortPaid).contains(QStringLiteral("欠款</td><td align=\"right\">0.20元")));

    // The reprint shows the receipt, then prints it marked as printed again.
    s->forms->op.then(ScriptedOperator::click("OKBtn"));
    Part(s->main, "Reprint")->trigger();
    QCOMPARE(s->forms->op.dialogs.last(), QStringLiteral("ReceiptDlg"));
    QStringList again = receiptFiles(s->forms->dir);
    again.removeAll(files[0]);
    QCOMPARE(again.size(), 1);
    QVERIFY2(s->forms->op.messages.last().text.endsWith(again[0]), qPrintable(s->forms->op.messages.last().text));
    QCOMPARE(missingInOrder(pdfText(again[0].toUtf8()), {"海天话吧", "补打小票", "0105550001", "3.20元"}), QString());
  }

  void shopSettingsDialogKeepsTheFile()
  {
    TestLine line(FreshMachine(), 0);
    QCOMPARE(station(gbk("printer=58\nname=旧店名\n"), &line, {}), QByteArray());
    s->forms->op.then([](QDialog *dlg) {
      auto *shop = static_cast<TShopDlg *>(dlg);
      QCOMPARE(shop->ShopName->text(), QStringLiteral("旧店名"));
      QVERIFY(!shop->DenyAfterCheckout->isChecked());
      shop->ShopName->setText(QStringLiteral("新店名"));
      shop->Phone->setText(QStringLiteral("110"));
      shop->DenyAfterCheckout->setChecked(true);
      ScriptedOperator::click("OKBtn")(dlg);
    });
    Part(s->main, "ShopSet")->trigger();
    QCOMPARE(s->forms->dir.read(SHOPINFO_FILE),
             gbk("printer=58\nname=新店名\naddress=\nphone=110\nfooter=\ndeny_after_checkout=1\n"));

    // Cancel writes nothing; a file that cannot be read is not written over.
    s->forms->op.then(ScriptedOperator::click("CancelBtn"));
    Part(s->main, "ShopSet")->trigger();
    QVERIFY(QFile::remove(s->forms->dir.file(SHOPINFO_FILE)));
    QVERIFY(QDir(s->forms->dir.path()).mkdir(QStringLiteral(SHOPINFO_FILE)));
    Part(s->main, "ShopSet")->trigger();
    QCOMPARE(s->forms->op.dialogs.count(QStringLiteral("ShopDlg")), 2);
    QCOMPARE(s->forms->op.messages.last().text, QStringLiteral("无法读取文件 shopinfo：已有同名的文件夹"));
  }

  void confirmedCheckoutDeniesTheLine_data()
  {
    QTest::addColumn<QByteArray>("shopinfo");
    QTest::addColumn<bool>("denied");
    QTest::newRow("denial on") << QByteArray("deny_after_checkout=1\n") << true;
    QTest::newRow("denial off") << QByteArray("deny_after_checkout=0\n") << false;
    QTest::newRow("no settings") << QByteArray() << false;
  }
  void confirmedCheckoutDeniesTheLine()
  {
    QFETCH(QByteArray, shopinfo);
    QFETCH(bool, denied);
    const QByteArray m = FreshMachine();
    TestLine line(m, 0);
    QCOMPARE(station(shopinfo, &line, {"0101"}), QByteArray());
    // Cancelled: the customer has not paid, the line stays open.
    s->forms->op.then(ScriptedOperator::click("CancelBtn")).then([](QDialog *dlg) {
      static_cast<TBillForm *>(dlg)->Money->setText(QStringLiteral("1.20"));
      ScriptedOperator::click("OKBtn")(dlg);
    });
    s->main->Checkout(s->main->Lines()->FindLine(m, 0));
    QVERIFY(!line.command(200));
    s->main->Checkout(s->main->Lines()->FindLine(m, 0));
    const std::optional<std::string> command = line.command(denied ? 2000 : 200);
    QCOMPARE(command.has_value(), denied);
    if (denied)
      QVERIFY2(command->rfind("Action", 0) == 0 && command->find("\ncall: deny\n") != std::string::npos,
               command->c_str());
    QVERIFY(s->forms->op.messages.isEmpty());
  }
};

ENGINE_TEST_MAIN(TestReceipt)
#include "test_receipt.moc"
