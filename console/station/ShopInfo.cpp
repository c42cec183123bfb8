/* Reading and rewriting the shop's settings. */
#include "ShopInfo.h"

#include <QFile>

#include <optional>
#include <vector>

#include "Gbk.h"
#include "SaveFile.h"

namespace {

/* A line's key and value, blanks around each taken off; nothing for a line
 * without "=". */
std::optional<std::pair<QByteArray, QByteArray>> KeyValue(const QByteArray &line)
{
  const qsizetype eq = line.indexOf('=');
  if (eq < 0)
    return std::nullopt;
  return std::make_pair(line.left(eq).trimmed(), line.mid(eq + 1).trimmed());
}

bool IsOn(const QByteArray &value)
{
  const QByteArray v = value.toLower();
  return v == "1" || v == "yes" || v == "true" || v == "on";
}

/* One line of a file: line breaks and other control characters would split
 * it or hide in it. */
QString OneLine(const QString &text)
{
  QString line = text;
  for (QChar &c : line) {
    if (c.unicode() < 0x20 || c.unicode() == 0x7f)
      c = QLatin1Char(' ');
  }
  return line.trimmed();
}

}  // namespace

bool ReadShopInfo(const QString &path, ShopInfo *info, QString *reason)
{
  *info = ShopInfo();
  QFile file(path);
  if (!OpenStationFile(&file, reason))
    return false;
  if (!file.isOpen())
    return true;
  QByteArray text = file.readAll();
  if (text.endsWith('\n'))
    text.chop(1);
  if (!text.isEmpty())
    info->lines = text.split('\n');
  for (QByteArray &line : info->lines) {
    if (line.endsWith('\r'))
      line.chop(1);
    const auto kv = KeyValue(line);
    if (!kv)
      continue;
    const auto &[key, value] = *kv;
    if (key == SHOP_NAME_KEY)
      info->name = FromGbk(value);
    else if (key == SHOP_ADDRESS_KEY)
      info->address = FromGbk(value);
    else if (key == SHOP_PHONE_KEY)
      info->phone = FromGbk(value);
    else if (key == SHOP_FOOTER_KEY)
      info->footer = FromGbk(value);
    else if (key == SHOP_DENY_KEY)
      info->denyAfterCheckout = IsOn(value);
  }
  return true;
}

bool WriteShopInfo(const QString &path, const ShopInfo &info, QString *reason)
{
  struct Setting {
    const char *key;
    QByteArray value;
    bool written;
  };
  std::vector<Setting> settings;
  for (const auto &[key, text] : {std::pair{SHOP_NAME_KEY, &info.name}, std::pair{SHOP_ADDRESS_KEY, &info.address},
                                  std::pair{SHOP_PHONE_KEY, &info.phone}, std::pair{SHOP_FOOTER_KEY, &info.footer}}) {
    const std::optional<QByteArray> gbk = ToGbk(OneLine(*text));
    if (!gbk)
      return RefuseWrite(reason, QStringLiteral("店铺信息中有无法保存的字符"));
    settings.push_back({key, *gbk, false});
  }
  settings.push_back({SHOP_DENY_KEY, info.denyAfterCheckout ? "1" : "0", false});

  QByteArray bytes;
  for (const QByteArray &line : info.lines) {
    const auto kv = KeyValue(line);
    Setting *known = nullptr;
    for (Setting &s : settings) {
      if (kv && kv->first == s.key)
        known = &s;
    }
    if (!known) {
      bytes += line + '\n';
    } else if (!known->written) {
      bytes += QByteArray(known->key) + '=' + known->value + '\n';
      known->written = true;
    }
  }
  for (const Setting &s : settings) {
    if (!s.written)
      bytes += QByteArray(s.key) + '=' + s.value + '\n';
  }
  return ReplaceFile(path, bytes, reason);
}
