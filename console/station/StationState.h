/* What the console's windows share of the station: its working directory
 * (the process's current directory when the windows are made) and the
 * operator on duty. The main window keeps the operator up to date; the other
 * windows read them here. No window. */
#ifndef CONSOLE_STATIONSTATE_H
#define CONSOLE_STATIONSTATE_H

#include <QString>

class StationState {
public:
  explicit StationState(const QString &workDir) : m_workDir(workDir) {}

  const QString &WorkDir() const { return m_workDir; }
  /* A file of the station: the working directory, "/", the name. */
  QString File(const char *name) const { return m_workDir + QLatin1Char('/') + QLatin1String(name); }

  /* Empty until the first login. */
  const QString &OperatorName() const { return m_operator; }
  void SetOperator(const QString &name) { m_operator = name; }

private:
  QString m_workDir;
  QString m_operator;
};

#endif
