/* The main window's parts as the console's suites reach them: a menu's
 * action, a field of the status bar or the poll timer by its object name,
 * and what a row of the line monitor shows, through its model. */
#ifndef TESTS_CONSOLE_MONITORTEST_H
#define TESTS_CONSOLE_MONITORTEST_H

#include <QAction>
#include <QBrush>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QStatusBar>
#include <QTimer>
#include <QTreeView>

#include <cstdio>
#include <cstdlib>

#include "LineMonitor.h"
#include "MainFrm.h"

/* The window's child of that object name; a name that is not there ends the
 * suite, as a test that reaches into nothing proves nothing. */
template <class T = QAction>
T *Part(const QObject *window, const char *name)
{
  T *part = window->findChild<T *>(QLatin1String(name));
  if (!part) {
    std::fprintf(stderr, "no %s in %s\n", name, qPrintable(window->objectName()));
    std::abort();
  }
  return part;
}

/* The text the row shows in the column (by logical index), or its colour. */
inline QString LineText(const TMainForm *main, int row, int column)
{
  return main->Lines()->index(row, column).data().toString();
}
inline QColor LineTint(const TMainForm *main, int row, int column, int role = Qt::BackgroundRole)
{
  return main->Lines()->index(row, column).data(role).value<QBrush>().color();
}

#endif
