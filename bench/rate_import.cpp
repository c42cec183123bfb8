// The rate editor and a carrier's deck of 50,000 lines: the window thread's
// time for the whole import (reading and decoding the file, checking every
// line as a saved rule is checked, the preview with its list of noted lines,
// drawn once; on confirmation the rate file written and the editor's table
// filled anew), for an editor that holds 25,000 rules of which the deck
// replaces every one and adds as many; and the editor's first opening on the
// 50,000-rule file that leaves. The console's windows run on the offscreen
// platform in a temporary working directory.
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QDialog>
#include <QDir>
#include <QPushButton>
#include <QTemporaryDir>

#include <cstdio>
#include <memory>

#include "Modal.h"
#include "RateFile.h"
#include "RateFrm.h"
#include "RateImport.h"

namespace {

constexpr int kRules = 25000;
constexpr int kDeckLines = 50000;

QByteArray RateFileOf(int rules)
{
  QByteArray text = ".default||0.00|0:00:00-0.30|0:0.00|0|60\n";
  for (int i = 0; i < rules; i++)
    text += "dest" + QByteArray::number(i) + "|00" + QByteArray::number(100000 + i) +
            "|0.00|0:00:00-0.30,8:00:00-0.60|180:1.00|3|60\n";
  return text;
}

/* Every existing prefix with a new price, as many new ones, one line in a
 * hundred refused and one in ten rounded to the cent. */
QByteArray Deck()
{
  QByteArray text = "名称,区号,每分钟价格,手续费,计费间隔\r\n";
  for (int i = 0; i < kDeckLines; i++) {
    const QByteArray price = i % 100 == 99 ? "n/a" : i % 10 == 9 ? "0.395" : "0.60";
    text += "目的地" + QByteArray::number(i) + ",00" + QByteArray::number(100000 + i) + "," + price +
            (i % 2 ? ",0.50,6\r\n" : "\r\n");
  }
  return text;
}

void Write(const QString &path, const QByteArray &bytes)
{
  QFile file(path);
  if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size())
    std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
}

struct Station {
  QTemporaryDir dir;
  QString previous = QDir::currentPath();
  Station() { QDir::setCurrent(dir.path()); }
  ~Station() { QDir::setCurrent(previous); }
};

void BM_ImportDeck50k(benchmark::State &state)
{
  Station station;
  const QString deck = station.dir.filePath(QStringLiteral("deck.csv"));
  Write(deck, Deck());
  const QByteArray rates = RateFileOf(kRules);
  int rules = 0;
  SetMessageAnswer([](const QString &, const QString &) {});
  // The preview is drawn as the operator would see it, then confirmed.
  SetDialogAnswer([](QDialog *dialog) {
    QCoreApplication::processEvents();
    dialog->findChild<QPushButton *>(QStringLiteral("OKBtn"))->click();
  });
  for (auto _ : state) {
    state.PauseTiming();
    Write(station.dir.filePath(QStringLiteral(RATE_FILE)), rates);
    auto form = std::make_unique<TRateForm>();
    form->show();
    QCoreApplication::processEvents();
    state.ResumeTiming();
    benchmark::DoNotOptimize(form->ImportDeck(deck));
    QCoreApplication::processEvents();
    state.PauseTiming();
    rules = form->RuleCount();
    form.reset();
    state.ResumeTiming();
  }
  SetDialogAnswer(nullptr);
  SetMessageAnswer(nullptr);
  state.counters["rules"] = rules;
}
BENCHMARK(BM_ImportDeck50k)->Unit(benchmark::kMillisecond)->Iterations(5);

void BM_OpenEditorWith50kRules(benchmark::State &state)
{
  Station station;
  Write(station.dir.filePath(QStringLiteral(RATE_FILE)), RateFileOf(kDeckLines));
  for (auto _ : state) {
    auto form = std::make_unique<TRateForm>();
    form->show();
    QCoreApplication::processEvents();
    state.PauseTiming();
    form.reset();
    state.ResumeTiming();
  }
}
BENCHMARK(BM_OpenEditorWith50kRules)->Unit(benchmark::kMillisecond)->Iterations(5);

}  // namespace

int main(int argc, char **argv)
{
  QApplication app(argc, argv);
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
