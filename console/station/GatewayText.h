/* The status bar's note on gateways the station refused: the engine drops
 * datagrams from senders its "gateways" file does not list and counts them;
 * the console polls the count and shows it. Plain functions, no window. */
#ifndef CONSOLE_GATEWAYTEXT_H
#define CONSOLE_GATEWAYTEXT_H

#include <QString>

/* "已拒绝未知网关 3 次，最近一次来自 192.168.1.77" (without the address part when
 * lastAddress is empty); empty when nothing was refused, so the status bar
 * shows nothing on a station without the file. */
QString RefusedGatewaysText(unsigned long long refused, const QString &lastAddress);

/* The same text from the engine's count now (quenta_getRefused): for the
 * console's one-second timer. */
QString RefusedGatewaysNote();

#endif
