/* The texts of the warning on calls kept only in memory, from the engine's count. */
#include "UnsavedCalls.h"

#include "quenta/quenta.h"

unsigned UnsavedCalls()
{
  return quenta_getUnsavedCalls();
}

QString UnsavedCallsText(unsigned calls)
{
  if (calls == 0)
    return QString();
  return QStringLiteral("有 %1 个通话未能存盘，退出将丢失").arg(calls);
}

QString QuitLosesCallsText(unsigned calls)
{
  if (calls == 0)
    return QString();
  return QStringLiteral("注意：有 %1 个通话既没能存入数据库，也没能写入磁盘，目前只在内存中。\n"
                        "现在退出，这些通话将会丢失！请先检查磁盘空间。")
      .arg(calls);
}
