/* Commands to a line through the engine. */
#include "LineCommand.h"

#include "quenta/quenta.h"

bool SendLineCommand(const QByteArray &machineId, int lineId, const QByteArray &command)
{
  return quenta_sendCommand(machineId.constData(), static_cast<unsigned int>(lineId), command.constData()) == 0;
}
