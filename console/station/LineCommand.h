/* The commands the console sends a line's gateway: calls denied and permitted
 * again (booth control). The gateway answers with the line's new state,
 * "FORBIDDEN" or "IDLE", which the engine's next status report carries. */
#ifndef CONSOLE_LINECOMMAND_H
#define CONSOLE_LINECOMMAND_H

#include <QByteArray>

#define LINE_DENY_COMMAND "call: deny\n"
#define LINE_PERMIT_COMMAND "call: permit\n"

/* Sends the command (attribute lines, each ending in "\n") to the line's last
 * address through the engine. False when it could not be sent. A line the
 * engine has never heard from gets nothing, which is no failure: the engine
 * knows no address to send to. */
bool SendLineCommand(const QByteArray &machineId, int lineId, const QByteArray &command);

#endif
