/* The rate-info line parser: the state machine, its messages on standard output
 * and standard error, and the debug dump. Every text buffer keeps one byte for
 * its terminator, so a record stays printable however long the line was. */
#include "quenta/parser.h"

#include <limits.h>
#include <stdio.h>
#include <string.h>

#include "utils/decimal.h"

const int RateInfo_start = RI_START;

namespace {

bool is_digit(char c)
{
  return c >= '0' && c <= '9';
}

/* Stores c when the buffer has room for it and its terminator; otherwise the
 * character is dropped with the buffer's message. */
void append(char *buf, int *len, size_t size, char c, const char *overflow, FILE *stream)
{
  if (*len < 0 || (size_t)*len >= size - 1) {
    fputs(overflow, stream);
    return;
  }
  buf[(*len)++] = c;
  buf[*len] = '\0';
}

/* value x 10 + digit; false when that would not fit an int. */
bool accumulate(int *value, char c)
{
  int d = c - '0';
  if (*value < 0 || *value > (INT_MAX - d) / 10)
    return false;
  *value = *value * 10 + d;
  return true;
}

/* An amount text to single precision, rounded to the cent on its digits (a
 * price written "2.095" is 2.10), read with a point whatever locale the host
 * program (the console) has set. An amount beyond money keeps its size, so
 * that the rate loader can refuse the rule. */
float decimal_value(const char *text)
{
  long long cents;
  if (utils::parse_cents(text, &cents))
    return utils::cents_float(cents);
  return (float)utils::parse_decimal(text);
}

void start_record(RateInfo *info)
{
  fputs("fsm initiate...\n", stdout);
  memset(info->m_prefix, 0, sizeof info->m_prefix);
  info->m_prefixlen = 0;
  memset(info->m_name, 0, sizeof info->m_name);
  info->m_namelen = 0;
  info->m_handling_charge = 0.0f;
  memset(info->m_period_price, 0, sizeof info->m_period_price);
  memset(&info->m_tao_price, 0, sizeof info->m_tao_price);
  memset(info->m_hcbuf, 0, sizeof info->m_hcbuf);
  info->m_hcbuflen = 0;
  info->m_ppcount = -1;
}

/* The period the machine is reading, or null when m_ppcount is out of range. */
period_price *current_period(RateInfo *info)
{
  if (info->m_ppcount < 0 || info->m_ppcount >= MAX_PERIODS)
    return nullptr;
  return &info->m_period_price[info->m_ppcount];
}

void append_prefix(RateInfo *info, char c)
{
  append(info->m_prefix, &info->m_prefixlen, sizeof info->m_prefix, c, "prefix buffer is not enough\n", stderr);
}

void append_charge(RateInfo *info, char c)
{
  append(info->m_hcbuf, &info->m_hcbuflen, sizeof info->m_hcbuf, c, "handling charge buffer is not enough\n", stderr);
}

void append_time(period_price *pp, char c)
{
  append(pp->m_time, &pp->m_timelen, sizeof pp->m_time, c, "startTime buffer is not enough\n", stderr);
}

void append_price(period_price *pp, char c)
{
  append(pp->m_buf, &pp->m_buflen, sizeof pp->m_buf, c, "price buffer is not enough\n", stderr);
}

void append_tao(RateInfo *info, char c)
{
  tao_price *tp = &info->m_tao_price;
  append(tp->m_buf, &tp->m_buflen, sizeof tp->m_buf, c, "tao price buffer is not enough\n", stdout);
}

/* One character: the state that follows it. */
int step(RateInfo *info, int state, char c)
{
  period_price *pp;

  switch (state) {
  case RI_START:
    if (!is_digit(c))
      return RI_ERROR;
    start_record(info);
    append_prefix(info, c);
    return RI_PREFIX;

  case RI_PREFIX:
    if (is_digit(c)) {
      append_prefix(info, c);
      return RI_PREFIX;
    }
    return c == '|' ? RI_CHARGE_FIRST : RI_ERROR;

  case RI_CHARGE_FIRST:
    if (!is_digit(c))
      return RI_ERROR;
    append_charge(info, c);
    return RI_CHARGE;

  case RI_CHARGE:
  case RI_CHARGE_DEC:
    if (is_digit(c)) {
      append_charge(info, c);
      return state;
    }
    if (c == '.' && state == RI_CHARGE) {
      append_charge(info, c);
      return RI_CHARGE_DEC_FIRST;
    }
    if (c == '|') {
      info->m_handling_charge = decimal_value(info->m_hcbuf);
      return RI_PERIOD_FIRST;
    }
    return RI_ERROR;

  case RI_CHARGE_DEC_FIRST:
    if (!is_digit(c))
      return RI_ERROR;
    append_charge(info, c);
    return RI_CHARGE_DEC;

  case RI_PERIOD_FIRST:
    if (!is_digit(c) && c != ':')
      return RI_ERROR;
    /* the record holds MAX_PERIODS periods: a further one refuses the line */
    if (info->m_ppcount < -1 || info->m_ppcount + 1 >= MAX_PERIODS)
      return RI_ERROR;
    info->m_ppcount++;
    append_time(current_period(info), c);
    return RI_PERIOD_TIME;

  case RI_PERIOD_TIME:
    if (!(pp = current_period(info)))
      return RI_ERROR;
    if (is_digit(c) || c == ':') {
      append_time(pp, c);
      return RI_PERIOD_TIME;
    }
    return c == '-' ? RI_PRICE_FIRST : RI_ERROR;

  case RI_PRICE_FIRST:
  case RI_PRICE_DEC_FIRST:
    if (!(pp = current_period(info)) || !is_digit(c))
      return RI_ERROR;
    append_price(pp, c);
    return state == RI_PRICE_FIRST ? RI_PRICE : RI_PRICE_DEC;

  case RI_PRICE:
  case RI_PRICE_DEC:
    if (!(pp = current_period(info)))
      return RI_ERROR;
    if (is_digit(c)) {
      append_price(pp, c);
      return state;
    }
    if (c == '.' && state == RI_PRICE) {
      append_price(pp, c);
      return RI_PRICE_DEC_FIRST;
    }
    if (c == ',' || c == '|') {
      pp->m_price = decimal_value(pp->m_buf);
      return c == ',' ? RI_PERIOD_FIRST : RI_TAO_SECS_FIRST;
    }
    return RI_ERROR;

  case RI_TAO_SECS_FIRST:
  case RI_TAO_SECS:
    if (is_digit(c))
      return accumulate(&info->m_tao_price.m_category, c) ? RI_TAO_SECS : RI_ERROR;
    return (c == ':' && state == RI_TAO_SECS) ? RI_TAO_PRICE_FIRST : RI_ERROR;

  case RI_TAO_PRICE_FIRST:
  case RI_TAO_DEC_FIRST:
    if (!is_digit(c))
      return RI_ERROR;
    append_tao(info, c);
    return state == RI_TAO_PRICE_FIRST ? RI_TAO_PRICE : RI_TAO_DEC;

  case RI_TAO_PRICE:
  case RI_TAO_DEC:
    if (is_digit(c)) {
      append_tao(info, c);
      return state;
    }
    if (c == '.' && state == RI_TAO_PRICE) {
      append_tao(info, c);
      return RI_TAO_DEC_FIRST;
    }
    if (c == '|') {
      info->m_tao_price.m_price = decimal_value(info->m_tao_price.m_buf);
      return RI_FREE_FIRST;
    }
    return RI_ERROR;

  case RI_FREE_FIRST:
  case RI_FREE:
    if (is_digit(c))
      return accumulate(&info->m_invalid_timeval, c) ? RI_FREE : RI_ERROR;
    return (c == '|' && state == RI_FREE) ? RI_UNIT_FIRST : RI_ERROR;

  case RI_UNIT_FIRST:
  case RI_FINAL:
    if (!is_digit(c) || !accumulate(&info->m_min_bill_time, c))
      return RI_ERROR;
    RateInfo_dump(info);
    return RI_FINAL;

  default:
    return RI_ERROR;
  }
}

int state_result(int state)
{
  if (state == RI_FINAL)
    return 1;
  if (state < RI_START || state > RI_FINAL || state == RI_ERROR)
    return -1;
  return 0;
}

} /* namespace */

int RateInfo_init(RateInfo *info)
{
  info->curs = RateInfo_start;
  return 0;
}

int RateInfo_execute(RateInfo *info, const char *data, size_t len)
{
  int state = info->curs;
  for (size_t i = 0; i < len && state != RI_ERROR; i++)
    state = step(info, state, data[i]);
  info->curs = state;
  return state_result(state);
}

int RateInfo_finish(const RateInfo *info)
{
  return state_result(info->curs);
}

void RateInfo_dump(const RateInfo *info)
{
  printf("fsm struct {\n");
  printf("\tprefix: %.*s\n", (int)sizeof info->m_prefix, info->m_prefix);
  printf("\tname: %.*s\n", (int)sizeof info->m_name, info->m_name);
  printf("\thandling charge: %s\n", utils::decimal_text(info->m_handling_charge, 6).s);
  for (int i = 0; i < MAX_PERIODS; i++) {
    const period_price *pp = &info->m_period_price[i];
    printf("\tperiod %d: start: %.*s, price text: %.*s, price: %s\n", i, (int)sizeof pp->m_time, pp->m_time,
           (int)sizeof pp->m_buf, pp->m_buf, utils::decimal_text(pp->m_price, 6).s);
  }
  printf("\ttao price: %d seconds, %s\n", info->m_tao_price.m_category,
         utils::decimal_text(info->m_tao_price.m_price, 6).s);
  printf("\tfree limit: %d\n", info->m_invalid_timeval);
  printf("\tunit: %d\n", info->m_min_bill_time);
  printf("\tcount: %s\n", utils::decimal_text(info->m_count, 6).s);
  printf("}\n");
}

int parser_getRateInfo(const char *text, RateInfo *info)
{
  if (!info)
    return -1;
  RateInfo_init(info);
  if (text)
    RateInfo_execute(info, text, strlen(text));
  if (RateInfo_finish(info) != 1) {
    fputs("test parsing error\n", stdout);
    return -1;
  }
  return 0;
}
