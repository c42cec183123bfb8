/* One rate rule, as the engine's rate loader and the console's rate editor both
 * hold it, and the parser of its text line:
 *
 *   prefix|charge|start-price[,start-price...]|seconds:price|freelimit|unit
 *   e.g. 010|0.50|00:00:00-0.30,08:00:00-0.60|180:1.00|3|60
 *
 * The record must be zero-filled before parsing. C-compatible layout. */
#ifndef QUENTA_RATEINFO_H
#define QUENTA_RATEINFO_H

#include "quenta/records.h"

#ifdef __cplusplus
extern "C" {
#endif

#define MAX_PERIODS 4

typedef struct period_price {
  char m_time[16]; /* start time of day as written ("8:00:00" or "08:00:00") */
  int m_timelen;
  char m_buf[64]; /* price text while it is read */
  int m_buflen;
  float m_price; /* price per charging unit */
} period_price;

typedef struct tao_price {
  int m_category; /* package length in seconds */
  char m_buf[64]; /* package price text */
  int m_buflen;
  float m_price; /* package price */
} tao_price;

typedef struct RateInfo {
  char m_prefix[128]; /* dialled-number prefix */
  int m_prefixlen;
  char m_name[128]; /* display name; filled by the console only */
  int m_namelen;
  char m_hcbuf[64]; /* handling charge text */
  int m_hcbuflen;
  float m_handling_charge;
  period_price m_period_price[MAX_PERIODS];
  int m_ppcount;            /* index of the last period: periods - 1 */
  tao_price m_tao_price;    /* the package */
  int m_tpcount;            /* reserved */
  int m_invalid_timeval;    /* free limit, seconds */
  int m_min_bill_time;      /* charging unit, seconds */
  char m_period_count[256]; /* reserved */
  int m_pclen;              /* reserved */
  float m_count;            /* reserved */
  int m_calltime;           /* reserved */
  char m_callid[33];        /* reserved */
  int curs;                 /* parser state */
} RateInfo;

/* Parses a whole rate-info line into a zero-filled record: 0 when the line is
 * complete, else prints "test parsing error\n" and returns -1. */
QUENTA_API int parser_getRateInfo(const char *text, RateInfo *info);

#ifdef __cplusplus
}
#endif

#endif
