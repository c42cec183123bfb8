/* The note on refused gateways, from the engine's count. */
#include "GatewayText.h"

#include "quenta/quenta.h"

QString RefusedGatewaysText(unsigned long long refused, const QString &lastAddress)
{
  if (refused == 0)
    return QString();
  QString text = QStringLiteral("已拒绝未知网关 %1 次").arg(refused);
  if (!lastAddress.isEmpty())
    text += QStringLiteral("，最近一次来自 %1").arg(lastAddress);
  return text;
}

QString RefusedGatewaysNote()
{
  char last[32] = {};
  unsigned long long refused = quenta_getRefused(last, sizeof last);
  return RefusedGatewaysText(refused, QString::fromLatin1(last));
}
