/* The Chinese locale of the console's display. */
#include "DisplayLocale.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QTranslator>

QLocale ChineseLocale()
{
  return QLocale(QLocale::Chinese, QLocale::China);
}

void UseChineseDisplay()
{
  QLocale::setDefault(ChineseLocale());
  static QTranslator *qtTexts = nullptr;
  if (qtTexts || !QCoreApplication::instance())
    return;
  qtTexts = new QTranslator(QCoreApplication::instance());
  // Without the translations package Qt's dialogs stay in English; the
  // console's own texts are Chinese either way.
  if (qtTexts->load(ChineseLocale(), QStringLiteral("qtbase"), QStringLiteral("_"),
                    QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
    QCoreApplication::installTranslator(qtTexts);
}

QString DateTimeText(const QDateTime &time)
{
  return ChineseLocale().toString(time, QStringLiteral("yyyy年M月d日 HH:mm:ss"));
}
