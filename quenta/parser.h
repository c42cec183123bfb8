/* The rate-info line parser: a character-driven state machine that fills a
 * RateInfo record from one line "prefix|charge|periods|package|free|unit".
 * The line may arrive in pieces; curs in the record keeps the state between
 * them. parser_getRateInfo (quenta/rateinfo.h) runs it over a whole line. */
#ifndef QUENTA_PARSER_H
#define QUENTA_PARSER_H

#include <stddef.h>

#include "quenta/rateinfo.h"

/* Parser states kept in RateInfo::curs. */
enum rateinfo_state {
  RI_START = 0,
  RI_ERROR = 1, /* absorbing: the rest of the input is skipped */
  RI_PREFIX = 2,
  RI_CHARGE_FIRST = 3,
  RI_CHARGE = 4,
  RI_CHARGE_DEC_FIRST = 5,
  RI_CHARGE_DEC = 6,
  RI_PERIOD_FIRST = 7, /* first character of a period's start time */
  RI_PERIOD_TIME = 8,
  RI_PRICE_FIRST = 9,
  RI_PRICE = 10,
  RI_PRICE_DEC_FIRST = 11,
  RI_PRICE_DEC = 12,
  RI_TAO_SECS_FIRST = 13,
  RI_TAO_SECS = 14,
  RI_TAO_PRICE_FIRST = 15,
  RI_TAO_PRICE = 16,
  RI_TAO_DEC_FIRST = 17,
  RI_TAO_DEC = 18,
  RI_FREE_FIRST = 19,
  RI_FREE = 20,
  RI_UNIT_FIRST = 21,
  RI_FINAL = 22 /* inside the unit: the line may end here */
};

/* The state a record starts in. */
extern const int RateInfo_start;

/* Sets curs to RateInfo_start; 0. */
int RateInfo_init(RateInfo *info);

/* Runs the machine over len bytes from curs on: -1 in the error state, 1 in the
 * final state, 0 otherwise. A line with more than MAX_PERIODS periods, or an
 * integer field that would not fit an int, puts the machine in the error state. */
int RateInfo_execute(RateInfo *info, const char *data, size_t len);

/* -1 in the error state, 1 in the final state, 0 when the line is incomplete. */
int RateInfo_finish(const RateInfo *info);

/* Prints the record to standard output ("fsm struct {" ... "}"). */
void RateInfo_dump(const RateInfo *info);

#endif
