// The console under a comma-decimal locale, as Qt sets it from the
// environment: every amount it shows, takes, keeps or exports has a point.
#include <QAction>
#include <QDateEdit>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include <clocale>
#include <cstdlib>

#include "BillFrm.h"
#include "EngineTest.h"
#include "RateFile.h"
#include "RateFrm.h"
#include "Report.h"
#include "ReportFile.h"
#include "Switch.h"

#define COMMA_LOCALE "de_DE.UTF-8"

/* Where a generated locale lives; gone at exit() (QTest's -functions) as after
 * the suite. */
static std::unique_ptr<QTemporaryDir> g_locales;

/* Sets the environment for the application about to be made to run under the
 * comma locale, generated first when the machine lacks it. */
static bool UseCommaLocale()
{
  if (!std::setlocale(LC_ALL, COMMA_LOCALE)) {
    g_locales = std::make_unique<QTemporaryDir>();
    const QByteArray dir = g_locales->path().toLocal8Bit();
    const QByteArray make = "localedef -i de_DE -f UTF-8 '" + dir + "/" COMMA_LOCALE "' >/dev/null 2>&1";
    if (std::system(make.constData()) == -1 || setenv("LOCPATH", dir.constData(), 1) != 0 ||
        !std::setlocale(LC_ALL, COMMA_LOCALE))
      return false;
  }
  std::setlocale(LC_ALL, "C");
  return setenv("LC_ALL", COMMA_LOCALE, 1) == 0;
}

static bool g_commaLocale;

class TestCommaLocale : public QObject {
  Q_OBJECT

private slots:
  void everyAmountHasAPoint()
  {
    if (!g_commaLocale)
      QSKIP("no comma-decimal locale: localedef could not make " COMMA_LOCALE);
    char text[16];
    std::snprintf(text, sizeof text, "%.2f", 1.5);
    QCOMPARE(QByteArray(text) + QLocale().decimalPoint().toLatin1(), QByteArray("1,50,"));

    StationFixture s;
    s.forms->dir.write(LASTLOG_FILE, "admin 12.50");
    s.forms->dir.write(RATE_FILE, ".default||0.00|0:00:00-0.50|0:0.00|0|60\nA|010|0.20|0:00:00-0.30|180:1.00|0|60\n");
    s.logIn();
    // The dates are shown in Chinese all the same.
    Forms.ReportFrm->show();
    QVERIFY2(Forms.ReportFrm->FromDate->text().contains(QStringLiteral("星期")),
             qPrintable(Forms.ReportFrm->FromDate->text()));
    Forms.ReportFrm->hide();
    const QByteArray m = FreshMachine();
    TestLine a(m, 0);
    QVERIFY(a.discovery() && a.call("0101"));
    s.main->PollLines();
    s.forms->op.then([](QDialog *dlg) {
      auto *bill = static_cast<TBillForm *>(dlg);
      bill->Money->setText(QStringLiteral("5.5"));
      QCOMPARE(bill->BillTable->topLevelItem(0)->text(3) + bill->TotalAmout->text() + bill->Change->text(),
               QStringLiteral("1.20元1.20元4.30元"));
      ScriptedOperator::click("OKBtn")(dlg);
    });
    s.button(m, 0)->click();
    // The bill went into the database with its cents and comes back with them.
    QCOMPARE(s.forms->dir.read(LASTLOG_FILE), QByteArray("admin 13.70"));
    Forms.ReportFrm->RunReport("2000-01-01 00:00:00", "2999-01-01 00:00:00");
    QCOMPARE(Forms.ReportFrm->ReportTable->topLevelItem(0)->text(3) + Forms.ReportFrm->Info->text(),
             QStringLiteral("1.20总计：1.20"));
    s.forms->op.then([](QDialog *dlg) {
      QCOMPARE(static_cast<TSwitchDlg *>(dlg)->Title->text(), QStringLiteral("本班总金额：13.70元"));
      ScriptedOperator::logIn(QStringLiteral("admin"), QString())(dlg);
    });
    Part(s.main, "N6")->trigger();
    QCOMPARE(s.forms->dir.read(LASTLOG_FILE), QByteArray("admin 0.00"));

    TRateForm *rates = Forms.RateForm;
    rates->show();
    rates->RateTable->setCurrentItem(rates->RateTable->topLevelItem(1));
    QCOMPARE(rates->ChargeEdit->text() + rates->RateEdit[0]->text(), QStringLiteral("0.200.30"));
    rates->MinFeeEdit->setText(QStringLiteral("1.5"));
    rates->SaveBtn->click();
    QCOMPARE(s.forms->dir.read(RATE_FILE).split('\n')[1], QByteArray("A|010|0.20|0:00:00-0.30|180:1.50|0|60"));
    Forms.ReportFrm->RunReport("2000-01-01 00:00:00", "2000-01-01 00:00:01");
    report_info info{};
    info.m_bill.m_count = 1.2f;
    QCOMPARE(Forms.ReportFrm->Info->text() + ReportRowOf(info).amount, QStringLiteral("总计：0.001.20"));
    s.forms->verifyScriptDone();
  }
};

int main(int argc, char *argv[])
{
  g_commaLocale = UseCommaLocale();
  return RunConsoleSuite<TestCommaLocale>(argc, argv, [] {
    g_locales.reset();  // the process has loaded the locale already
    return LeaveEngine();
  });
}

#include "test_locale.moc"
