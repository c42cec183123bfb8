/* Blanks and words of the station's text files. */
#include "Words.h"

bool IsBlank(char c)
{
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

void SkipBlanks(const QByteArray &text, qsizetype *pos)
{
  while (*pos < text.size() && IsBlank(text[*pos]))
    ++*pos;
}

QByteArray NextWord(const QByteArray &text, qsizetype *pos)
{
  SkipBlanks(text, pos);
  const qsizetype start = *pos;
  while (*pos < text.size() && !IsBlank(text[*pos]))
    ++*pos;
  return text.mid(start, *pos - start);
}
