/* The breakdown of a stored call from the price the engine froze for it. */
#include "PriceDetail.h"

#include "quenta/quenta.h"

#include "BillText.h"
#include "Gbk.h"

QString RuleShownName(const QByteArray &rule)
{
  return rule == ".default" ? QStringLiteral("默认费率") : FromGbk(rule);
}

QString CallBreakdown(const QByteArray &callId, const QByteArray &billPeriod, Cents amount)
{
  QByteArray rule(128, '\0'), period(1024, '\0');
  if (quenta_getPriceDetail(callId.constData(), rule.data(), static_cast<int>(rule.size()), period.data(),
                            static_cast<int>(period.size())) == 1)
    return BreakdownText(RuleShownName(QByteArray(rule.constData())), QByteArray(period.constData()), amount);
  return BreakdownText(QString(), billPeriod, amount);
}
